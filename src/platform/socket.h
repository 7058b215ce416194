#pragma once
// Blocking TCP sockets over IPv4 and IPv6: the service start-up, creation, name
// resolution, connect, send, receive, shutdown and close.
//
// Windows: Winsock 2 (WSAStartup/WSACleanup, getaddrinfo, send, recv, shutdown,
// ioctlsocket FIONBIO, closesocket).
// POSIX: BSD sockets; the service start-up has no counterpart, and sends never raise
// SIGPIPE (MSG_NOSIGNAL).
//
// Every socket is created with TCP_NODELAY: the protocol layer sends each request in
// one piece and waits for its reply, so Nagle's algorithm would only add the peer's
// delayed-ACK time to every request. And with TCP keepalive, probing after 30 s of
// silence every 5 s, so that a server host that vanished (power, cable) is noticed
// within about a minute even by a connection that only waits.
//
// A call that fails says why in a SocketError, the same on every system: the system's
// number, and the few failures a user acts on by name.

#include <cstdint>

#include "platform/event.h"  // kInfinite

namespace platform {

// A socket handle, or kInvalidSocket. Windows' SOCKET fits (it is a pointer-sized
// unsigned value whose INVALID_SOCKET is all ones, which reads as -1 here).
using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// A socket address of either family as the system lays it out (sockaddr_in or
// sockaddr_in6), with its length in bytes; length 0: no address.
struct SocketAddress {
    uint32_t length;
    alignas(8) uint8_t bytes[28];
};

// Why a socket call failed.
enum class SocketFault : uint8_t {
    kNone,
    kRefused,       // the peer's system refused the connect (nothing listens at the port)
    kTimedOut,      // nothing answered in time: a connect, or data never acknowledged
    kUnreachable,   // no route to the peer's network or host
    kReset,         // the peer (or something on the way) reset the connection
    kNameNotFound,  // the name has no address
    kLookupFailed,  // the resolver failed otherwise (the name server did not answer ...)
    kOther,         // another failure of the system
};

struct SocketError {
    SocketFault fault = SocketFault::kNone;
    // The system's own number: errno, the Winsock error or getaddrinfo's result.
    int32_t code = 0;
};

// Every call below that takes a SocketError* sets it when it fails (null: not wanted).

// Starts the socket service for one socket object (WSAStartup asking for 2.0); every
// successful start is matched by one StopSocketService. POSIX: always true.
bool StartSocketService();
void StopSocketService();

// A TCP stream socket for the family of address, with TCP_NODELAY and keepalive
// set; kInvalidSocket on failure.
SocketHandle CreateTcpSocket(const SocketAddress& address, SocketError* error);

// The addresses of host for a TCP connection to port, at most max of them, in the
// order the system's resolver gives them (IPv4 and IPv6 alike); a numeric address of
// either family is taken as it is. The count, 0 when the name does not resolve.
int ResolveAddresses(const char* host, uint16_t port, SocketAddress* addresses, int max,
                     SocketError* error);

// The address as numeric text without the port ("192.0.2.7", "2001:db8::7"), cut to
// fit size (terminated); "" when there is no address.
void AddressText(const SocketAddress& address, char* text, uint32_t size);
bool IsIPv6(const SocketAddress& address);
// The port, and the same address with another port (both in host byte order).
uint16_t AddressPort(const SocketAddress& address);
void SetAddressPort(SocketAddress* address, uint16_t port);

// Starts connecting without blocking: 1 connected at once, 0 under way (WaitConnected
// follows it), -1 failed. Unless it is under way, the socket is back in blocking mode.
int StartConnect(SocketHandle socket, const SocketAddress& address, SocketError* error);
// Waits up to timeoutMs for a connect under way: 1 connected, 0 still under way, -1
// failed. Unless it is still under way, the socket is back in blocking mode.
int WaitConnected(SocketHandle socket, uint32_t timeoutMs, SocketError* error);

// One send or receive call: the number of bytes moved, 0 when the peer has closed
// (receive), a negative value on error. Calls interrupted by a signal are repeated.
int SendBytes(SocketHandle socket, const void* data, int length, SocketError* error);
int ReceiveBytes(SocketHandle socket, void* target, int length, SocketError* error);

// Waits until the socket has something to read (data, end-of-stream or an error).
// 1 when readable, 0 when timeoutMs passed, -1 on error.
int WaitReadable(SocketHandle socket, uint32_t timeoutMs);

// Half-closes the sending side (SD_SEND).
void ShutdownSend(SocketHandle socket);
// Shuts down both directions and wakes a thread blocked in a receive on the socket,
// which then sees end-of-stream (or an error). The handle stays valid until closed.
// False where the system cannot wake such a receive short of closing the handle
// (Windows before Vista, without CancelIoEx).
bool ShutdownBoth(SocketHandle socket);
// Switches the socket back to blocking mode (ioctlsocket FIONBIO 0).
void SetBlocking(SocketHandle socket);
void CloseSocket(SocketHandle socket);

}  // namespace platform
