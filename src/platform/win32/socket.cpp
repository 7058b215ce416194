#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

// TCP_MAXRT of ws2ipdef.h, which the cross compiler's headers lack: the longest time,
// in seconds, that unacknowledged data is sent again before the connection ends.
constexpr int kTcpMaxRetransmitTime = 5;

SOCKET ToSocket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// CancelIoEx exists from Windows Vista on; looked up at run time so that the library
// still loads where it is missing (there only closing the socket wakes a blocked
// receive, see ShutdownBoth).
using CancelIoExProc = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

CancelIoExProc FindCancelIoEx() {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<CancelIoExProc>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "CancelIoEx")));
}

}  // namespace

bool StartSocketService() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void StopSocketService() {
    ::WSACleanup();
}

SocketHandle CreateTcpSocket(const SocketAddress& address) {
    SOCKET s = ::socket(IsIPv6(address) ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return kInvalidSocket;
    }
    BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    // Windows probes ten times at the interval: 30 s, then 10 probes 3 s apart.
    tcp_keepalive values = {1, 30000, 3000};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
               nullptr);
    // Data the peer does not acknowledge ends the connection after a minute, as the
    // keepalive does (Windows Vista and later; older systems ignore it).
    DWORD retransmitSeconds = 60;
    ::setsockopt(s, IPPROTO_TCP, kTcpMaxRetransmitTime,
                 reinterpret_cast<const char*>(&retransmitSeconds), sizeof retransmitSeconds);
    return static_cast<SocketHandle>(s);
}

int ResolveAddresses(const char* host, uint16_t port, SocketAddress* addresses, int max) {
    // getaddrinfo (Windows XP and later) knows both families and is thread-safe.
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0) {
        return 0;
    }
    int count = 0;
    for (addrinfo* entry = found; entry != nullptr && count < max; entry = entry->ai_next) {
        const bool usable =
            entry->ai_addr != nullptr &&
            ((entry->ai_family == AF_INET && entry->ai_addrlen == sizeof(sockaddr_in)) ||
             (entry->ai_family == AF_INET6 && entry->ai_addrlen == sizeof(sockaddr_in6)));
        if (usable) {
            SocketAddress& address = addresses[count++];
            std::memset(&address, 0, sizeof address);
            address.length = static_cast<uint32_t>(entry->ai_addrlen);
            std::memcpy(address.bytes, entry->ai_addr, entry->ai_addrlen);
            SetAddressPort(&address, port);
        }
    }
    ::freeaddrinfo(found);
    return count;
}

bool IsIPv6(const SocketAddress& address) {
    ADDRESS_FAMILY family;
    std::memcpy(&family, address.bytes, sizeof family);
    return address.length == sizeof(sockaddr_in6) && family == AF_INET6;
}

void AddressText(const SocketAddress& address, char* text, uint32_t size) {
    if (size == 0) {
        return;
    }
    text[0] = '\0';
    if (address.length == 0) {
        return;
    }
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(address.bytes),
                      static_cast<int>(address.length), host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) == 0) {
        std::snprintf(text, size, "%s", host);
    }
}

uint16_t AddressPort(const SocketAddress& address) {
    // sin_port and sin6_port sit at the same place, in network byte order.
    u_short port;
    std::memcpy(&port, address.bytes + offsetof(sockaddr_in, sin_port), sizeof port);
    return ntohs(port);
}

void SetAddressPort(SocketAddress* address, uint16_t port) {
    static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port),
                  "one place for the port");
    const u_short value = htons(port);
    std::memcpy(address->bytes + offsetof(sockaddr_in, sin_port), &value, sizeof value);
}

int StartConnect(SocketHandle socket, const SocketAddress& address) {
    if (address.length == 0) {
        ::WSASetLastError(WSAEDESTADDRREQ);
        return -1;
    }
    const SOCKET s = ToSocket(socket);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        return -1;
    }
    if (::connect(s, reinterpret_cast<const sockaddr*>(address.bytes),
                  static_cast<int>(address.length)) == 0) {
        SetBlocking(socket);
        return 1;
    }
    if (::WSAGetLastError() == WSAEWOULDBLOCK) {
        return 0;  // completes in the background
    }
    const int error = ::WSAGetLastError();
    SetBlocking(socket);
    ::WSASetLastError(error);
    return -1;
}

int WaitConnected(SocketHandle socket, uint32_t timeoutMs) {
    // Writable on success, in the except set on failure.
    const SOCKET s = ToSocket(socket);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit;
    limit.tv_sec = static_cast<long>(timeoutMs / 1000);
    limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    const int ready = ::select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0) {
        return 0;
    }
    SetBlocking(socket);
    return ready > 0 && FD_ISSET(s, &writable) ? 1 : -1;
}

int SendBytes(SocketHandle socket, const void* data, int length) {
    return ::send(ToSocket(socket), static_cast<const char*>(data), length, 0);
}

int ReceiveBytes(SocketHandle socket, void* target, int length) {
    return ::recv(ToSocket(socket), static_cast<char*>(target), length, 0);
}

int WaitReadable(SocketHandle socket, uint32_t timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(ToSocket(socket), &readable);
    timeval limit;
    limit.tv_sec = static_cast<long>(timeoutMs / 1000);
    limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int rc = ::select(0, &readable, nullptr, nullptr, &limit);
    if (rc == SOCKET_ERROR) {
        return -1;
    }
    return rc > 0 ? 1 : 0;
}

void ShutdownSend(SocketHandle socket) {
    ::shutdown(ToSocket(socket), SD_SEND);
}

bool ShutdownBoth(SocketHandle socket) {
    ::shutdown(ToSocket(socket), SD_BOTH);
    // A shutdown does not end a receive that is already waiting; cancelling the
    // socket's pending I/O does, and the receive returns an error.
    static const CancelIoExProc cancelIoEx = FindCancelIoEx();
    if (cancelIoEx == nullptr) {
        return false;
    }
    cancelIoEx(reinterpret_cast<HANDLE>(ToSocket(socket)), nullptr);
    return true;
}

void SetBlocking(SocketHandle socket) {
    u_long off = 0;
    ::ioctlsocket(ToSocket(socket), FIONBIO, &off);
}

void CloseSocket(SocketHandle socket) {
    ::closesocket(ToSocket(socket));
}

}  // namespace platform
