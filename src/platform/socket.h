// A small TCP layer of our own: IPv4 stream sockets for the host links and the
// host simulator. Every call is a thin, blocking wrapper; error numbers are the
// platform's own (errno here, WSAGetLastError on Windows) and are read with
// lastSocketError() right after the failing call, on the same thread.
//
// Threads: the functions keep no state of their own; a handle may be used from
// several threads at once in the ways the system's sockets allow (one thread
// receiving while another sends or shuts the socket down).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace p50x::platform {

// Wide enough for a descriptor and for a Windows SOCKET.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Start-up and release of the socket library, counted by the caller: one
// release for every successful start. Returns 0 or the platform's error code.
// (With BSD sockets there is nothing to start and this never fails.)
int startSocketLibrary();
void releaseSocketLibrary();

// The platform's error number of the last failed call on this thread.
int lastSocketError();

// The operating system's own words for a socket error number ("Connection
// refused"), for the line that tells a user why a link failed.
std::string socketErrorText(int error);

// A new IPv4 stream socket, or kInvalidSocket (see lastSocketError()).
SocketHandle createStreamSocket();

// Converts strict dotted IPv4 text ("127.0.0.1") to an address in network byte
// order. No name lookup ever happens: any other text is refused.
bool parseIpv4(const char* text, std::uint32_t& address);

// Connects to a dotted IPv4 address; only the low 16 bits of port are used.
// Returns 0, or -1 when the address is not dotted IPv4 or the connect fails.
// A shutdownSocket from another thread ends a connect still under way at
// once (POSIX; on Windows a connect already waiting sits out its time-out);
// the caller then knows by itself that the socket is of no use.
int connectIpv4(SocketHandle socket, const char* address, int port);

// Sends every byte, across as many calls as the system needs. A peer that has
// gone away yields -1, never a signal. Returns length or -1.
long sendAll(SocketHandle socket, const void* data, std::size_t length);

// One receive of at most capacity bytes: the count (> 0), 0 when the peer has
// closed (or the socket has been shut down), -1 on error.
long receive(SocketHandle socket, void* buffer, std::size_t capacity);

// Waits until a receive would not block: 1 readable (data, end of stream or an
// error to collect), 0 after timeoutMs, -1 on error. timeoutMs < 0 waits
// without limit.
int waitReadable(SocketHandle socket, int timeoutMs);

// Ends both directions and wakes every receive, wait and accept blocked on the
// socket, which stays a valid handle until closeSocket. Safe while other
// threads use the socket; harmless on a socket already shut down.
void shutdownSocket(SocketHandle socket);

// Only the receive direction: wakes a blocked receive without telling the peer.
void shutdownReceive(SocketHandle socket);

// Releases the handle. Call only when no other thread can still use it.
void closeSocket(SocketHandle socket);

// Makes the next closeSocket abort the connection (the peer's receive fails
// with a reset) instead of ending it in order.
void setAbortOnClose(SocketHandle socket);

// A socket listening on a dotted IPv4 address; port 0 picks a free port.
// backlog is passed through as the system takes it. kInvalidSocket on failure.
SocketHandle listenIpv4(const char* address, int port, int backlog);

// The local port of a bound socket, or -1.
int localPort(SocketHandle socket);

// The next connection on a listening socket, or kInvalidSocket (also once the
// listener has been shut down).
SocketHandle acceptConnection(SocketHandle listener);

}  // namespace p50x::platform
