// Winsock 2 behind the socket seam. Two habits of Winsock shape this file:
// the library has to be started and released (counted by the caller), and a
// local shutdown alone does not reliably wake a call that is already blocked
// in another thread, so shutdownSocket also cancels what is in flight.
// Winsock first: windows.h would otherwise bring in the old Winsock 1.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>

#include "platform/socket.h"
#include "platform/system_error_text_win32.h"

namespace p50x::platform {

namespace {
SOCKET native(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

// The seam's handle is signed and wide enough; INVALID_SOCKET (all ones)
// becomes kInvalidSocket (-1) on the way through.
SocketHandle wrap(SOCKET s) {
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool fillAddress(const char* address, int port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
  std::uint32_t ip = 0;
  if (!parseIpv4(address, ip)) return false;
  out.sin_addr.s_addr = ip;
  return true;
}

// A blocked call that shutdownSocket cancelled, or a call made after it, ends
// with one of these: that is the local end of the connection, not a failure.
bool endedByLocalShutdown(int error) {
  return error == WSAESHUTDOWN || error == WSAEINTR || error == WSA_OPERATION_ABORTED ||
         error == WSAEWOULDBLOCK;
}

// Cancels every request in flight on the socket, from whichever thread it
// came. A call entered after this finds the socket shut down or non-blocking
// and returns at once, so no waiter is left behind.
void stopEveryWaiter(SOCKET s) {
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  ::CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
}
}  // namespace

int startSocketLibrary() {
  WSADATA data{};
  // WSAStartup returns its error instead of setting the last error.
  return ::WSAStartup(MAKEWORD(2, 2), &data);
}

void releaseSocketLibrary() {
  ::WSACleanup();
}

int lastSocketError() {
  return ::WSAGetLastError();
}

// The system's message in its own language; Winsock numbers are system error
// numbers, so FormatMessage knows them.
std::string socketErrorText(int error) {
  return systemErrorText(static_cast<DWORD>(error));
}

SocketHandle createStreamSocket() {
  // Not inheritable: a program the bridge might start must not keep the
  // host's connections open. Windows before 7 SP1 knows no such flag; there
  // the handle is made private after the fact.
  SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
    s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET) {
      ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
  }
  return wrap(s);
}

bool parseIpv4(const char* text, std::uint32_t& address) {
  if (text == nullptr) return false;
  in_addr parsed{};
  if (::inet_pton(AF_INET, text, &parsed) != 1) return false;
  address = parsed.s_addr;
  return true;
}

int connectIpv4(SocketHandle socket, const char* address, int port) {
  sockaddr_in target{};
  if (!fillAddress(address, port, target)) {
    ::WSASetLastError(WSAEINVAL);
    return -1;
  }
  if (::connect(native(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    return -1;
  }
  return 0;
}

long sendAll(SocketHandle socket, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t sent = 0;
  while (sent < length) {
    const std::size_t left = length - sent;
    const int chunk = left > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
    const int n = ::send(native(socket), bytes + sent, chunk, 0);
    if (n == SOCKET_ERROR) return -1;
    sent += static_cast<std::size_t>(n);
  }
  return static_cast<long>(sent);
}

long receive(SocketHandle socket, void* buffer, std::size_t capacity) {
  const int size =
      capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
  const int n = ::recv(native(socket), static_cast<char*>(buffer), size, 0);
  if (n >= 0) return n;
  const int error = ::WSAGetLastError();
  if (endedByLocalShutdown(error)) return 0;
  return -1;
}

int waitReadable(SocketHandle socket, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(socket), &readable);
    timeval wait{};
    timeval* limit = nullptr;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now());
      const long long micros = left.count() > 0 ? left.count() : 0;
      wait.tv_sec = static_cast<long>(micros / 1000000);
      wait.tv_usec = static_cast<long>(micros % 1000000);
      limit = &wait;
    }
    // The first argument is ignored by Winsock.
    const int n = ::select(0, &readable, nullptr, nullptr, limit);
    if (n > 0) return 1;  // data, end of stream or an error to collect
    if (n == 0) return 0;
    const int error = ::WSAGetLastError();
    if (error == WSAEINTR) continue;
    // A wait cancelled by shutdownSocket: the receive that follows sees the end.
    if (endedByLocalShutdown(error)) return 1;
    return -1;
  }
}

void shutdownSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  ::shutdown(native(socket), SD_BOTH);
  stopEveryWaiter(native(socket));
}

// Winsock cancels per socket, not per direction: a send in flight at this
// moment is cancelled too. Nothing in the bridge sends while it is used.
void shutdownReceive(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  ::shutdown(native(socket), SD_RECEIVE);
  ::CancelIoEx(reinterpret_cast<HANDLE>(native(socket)), nullptr);
}

void closeSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::closesocket(native(socket));
}

void setAbortOnClose(SocketHandle socket) {
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  ::setsockopt(native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
               sizeof option);
}

SocketHandle listenIpv4(const char* address, int port, int backlog) {
  sockaddr_in local{};
  if (!fillAddress(address, port, local)) {
    ::WSASetLastError(WSAEINVAL);
    return kInvalidSocket;
  }
  const SocketHandle s = createStreamSocket();
  if (s == kInvalidSocket) return kInvalidSocket;
  // On Windows SO_REUSEADDR would let another program take the port over; a
  // restarted simulator gets its port back without it.
  const BOOL exclusive = TRUE;
  ::setsockopt(native(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  if (::bind(native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(native(s), backlog) != 0) {
    const int error = ::WSAGetLastError();
    ::closesocket(native(s));
    ::WSASetLastError(error);
    return kInvalidSocket;
  }
  return s;
}

int localPort(SocketHandle socket) {
  sockaddr_in local{};
  int size = sizeof local;
  if (::getsockname(native(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return -1;
  return ntohs(local.sin_port);
}

SocketHandle acceptConnection(SocketHandle listener) {
  for (;;) {
    const SOCKET s = ::accept(native(listener), nullptr, nullptr);
    if (s != INVALID_SOCKET) {
      ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      return wrap(s);
    }
    // A connection that was reset while it waited in the queue is not our
    // failure: take the next one.
    if (::WSAGetLastError() == WSAECONNRESET) continue;
    return kInvalidSocket;
  }
}

}  // namespace p50x::platform
