#pragma once
// Blocking IPv4 TCP sockets: the service start-up, creation, name resolution,
// connect, send, receive, shutdown and close.
//
// Windows: Winsock 2 (WSAStartup/WSACleanup, inet_addr then gethostbyname, send,
// recv, shutdown, ioctlsocket FIONBIO, closesocket).
// POSIX: BSD sockets; the service start-up has no counterpart, name resolution uses
// getaddrinfo, and sends never raise SIGPIPE (MSG_NOSIGNAL).
//
// Every socket is created with TCP_NODELAY: the protocol layer sends each request in
// one piece and waits for its reply, so Nagle's algorithm would only add the peer's
// delayed-ACK time to every request. And with TCP keepalive, probing after 30 s of
// silence every 5 s, so that a server host that vanished (power, cable) is noticed
// within about a minute even by a connection that only waits.

#include <cstdint>

#include "platform/event.h"  // kInfinite

namespace platform {

// A socket handle, or kInvalidSocket. Windows' SOCKET fits (it is a pointer-sized
// unsigned value whose INVALID_SOCKET is all ones, which reads as -1 here).
using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 socket address laid out as sockaddr_in (16 bytes): family 2 (AF_INET),
// port and address in network byte order, eight zero bytes.
struct SocketAddressV4 {
    uint16_t family;
    uint16_t port;     // network byte order
    uint32_t address;  // network byte order
    uint8_t zero[8];
};
static_assert(sizeof(SocketAddressV4) == 16, "laid out as sockaddr_in");

constexpr uint16_t kAddressFamilyInet = 2;

// Starts the socket service for one socket object (WSAStartup asking for 2.0); every
// successful start is matched by one StopSocketService. POSIX: always true.
bool StartSocketService();
void StopSocketService();

// A TCP stream socket over IPv4 with TCP_NODELAY set; kInvalidSocket on failure.
SocketHandle CreateTcpSocket();

// The IPv4 address of host in network byte order. A dotted literal that inet_addr
// accepts is taken without a lookup; anything else (255.255.255.255 included, since
// it reads as INADDR_NONE) goes to the name resolver, whose first IPv4 address is
// taken. False when the name does not resolve.
bool ResolveIPv4(const char* host, uint32_t* address);

// True when the connect succeeded within timeoutMs (kInfinite: as long as the system
// tries). The socket is back in blocking mode afterwards.
bool ConnectSocket(SocketHandle socket, const SocketAddressV4& address, uint32_t timeoutMs);

// One send or receive call: the number of bytes moved, 0 when the peer has closed
// (receive), a negative value on error. Calls interrupted by a signal are repeated.
int SendBytes(SocketHandle socket, const void* data, int length);
int ReceiveBytes(SocketHandle socket, void* target, int length);

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
