#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/socket.h"
#include "platform/system_error_text_posix.h"

namespace p50x::platform {

namespace {
int fd(SocketHandle socket) {
  return static_cast<int>(socket);
}

bool fillAddress(const char* address, int port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
  std::uint32_t ip = 0;
  if (!parseIpv4(address, ip)) return false;
  out.sin_addr.s_addr = ip;
  return true;
}
// The outcome of a connect under way: 0 connected, -1 with errno set. A
// refused connect ends with ECONNREFUSED, never ECONNRESET.
int awaitConnect(SocketHandle socket) {
  pollfd p{fd(socket), POLLOUT, 0};
  while (::poll(&p, 1, -1) < 0) {
    if (errno != EINTR) return -1;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
  // A connection that was made and has ended since (the peer reset it, or it
  // was shut down here) is connected as far as the connect goes, as with a
  // blocking connect: the end is the news of the first receive or send.
  if (error == 0 || error == ECONNRESET || error == EPIPE) return 0;
  errno = error;
  return -1;
}
}  // namespace

int startSocketLibrary() {
  return 0;
}

void releaseSocketLibrary() {}

int lastSocketError() {
  return errno;
}

std::string socketErrorText(int error) {
  return systemErrorText(error);
}

SocketHandle createStreamSocket() {
  // Close-on-exec: a program the bridge might start must not keep the host's
  // connections open.
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return s < 0 ? kInvalidSocket : s;
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
    errno = EINVAL;
    return -1;
  }
  // Started without blocking and then waited for in poll(): a shutdownSocket
  // from another thread ends that wait at once, also when it came before the
  // connect was started (the socket then reports a hang-up straight away),
  // where a blocking connect could sit out the system's time-out. The caller
  // that shut the socket down knows it did; the result here says connected.
  const int flags = ::fcntl(fd(socket), F_GETFL);
  if (flags < 0 || ::fcntl(fd(socket), F_SETFL, flags | O_NONBLOCK) != 0) return -1;
  int result = 0;
  if (::connect(fd(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    result = -1;
    if (errno == EINPROGRESS || errno == EINTR) result = awaitConnect(socket);
  }
  const int error = errno;
  ::fcntl(fd(socket), F_SETFL, flags);
  errno = error;
  return result;
}

long sendAll(SocketHandle socket, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t sent = 0;
  while (sent < length) {
    // MSG_NOSIGNAL: a host that has gone away is an error code, not SIGPIPE.
    const ssize_t n = ::send(fd(socket), bytes + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    sent += static_cast<std::size_t>(n);
  }
  return static_cast<long>(sent);
}

long receive(SocketHandle socket, void* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::recv(fd(socket), buffer, capacity, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

int waitReadable(SocketHandle socket, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd p{fd(socket), POLLIN, 0};
    const int n = ::poll(&p, 1, wait);
    if (n > 0) return 1;  // POLLIN, POLLHUP or POLLERR: a receive will not block
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

void shutdownSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::shutdown(fd(socket), SHUT_RDWR);
}

void shutdownReceive(SocketHandle socket) {
  if (socket != kInvalidSocket) ::shutdown(fd(socket), SHUT_RD);
}

void closeSocket(SocketHandle socket) {
  // No retry on EINTR: on Linux the descriptor is released regardless, and a
  // second close could hit a descriptor another thread has just been given.
  if (socket != kInvalidSocket) ::close(fd(socket));
}

void setAbortOnClose(SocketHandle socket) {
  const linger option{1, 0};
  ::setsockopt(fd(socket), SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

SocketHandle listenIpv4(const char* address, int port, int backlog) {
  sockaddr_in local{};
  if (!fillAddress(address, port, local)) {
    errno = EINVAL;
    return kInvalidSocket;
  }
  const SocketHandle s = createStreamSocket();
  if (s == kInvalidSocket) return kInvalidSocket;
  // A restarted simulator must get its port back while old connections linger.
  const int on = 1;
  ::setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(fd(s), backlog) != 0) {
    const int error = errno;
    ::close(fd(s));
    errno = error;
    return kInvalidSocket;
  }
  return s;
}

int localPort(SocketHandle socket) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (::getsockname(fd(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return -1;
  return ntohs(local.sin_port);
}

SocketHandle acceptConnection(SocketHandle listener) {
  for (;;) {
    const int s = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (s >= 0) return s;
    // A connection that was reset while it waited in the queue is not our
    // failure: take the next one.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return kInvalidSocket;
  }
}

}  // namespace p50x::platform
