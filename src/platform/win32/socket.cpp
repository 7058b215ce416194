#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include "platform/win32/system_sockets.h"

#include <mstcpip.h>
#include <windows.h>

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

SocketError ErrorOf(int code) {
    switch (code) {
        case WSAECONNREFUSED:
            return SocketError{SocketFault::kRefused, code};
        case WSAETIMEDOUT:
            return SocketError{SocketFault::kTimedOut, code};
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
        case WSAENETDOWN:
        case WSAEHOSTDOWN:
            return SocketError{SocketFault::kUnreachable, code};
        case WSAECONNRESET:
        case WSAECONNABORTED:  // also when data went unacknowledged past TCP_MAXRT
        case WSAENETRESET:
            return SocketError{SocketFault::kReset, code};
        default:
            return SocketError{SocketFault::kOther, code};
    }
}

// Reports the Winsock error `code` as the reason of a failed call; -1.
int Failed(SocketError* error, int code = ::WSAGetLastError()) {
    if (error != nullptr) {
        *error = ErrorOf(code);
    }
    return -1;
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

SocketHandle CreateTcpSocket(const SocketAddress& address, SocketError* error) {
    SOCKET s = ::socket(IsIPv6(address) ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        Failed(error);
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

bool LookUpName(const char* host, const addrinfo& hints, addrinfo** found, SocketError* error) {
    const int result = ::getaddrinfo(host, nullptr, &hints, found);
    if (result == 0) {
        return true;
    }
    if (error != nullptr) {
        // getaddrinfo returns the Winsock error itself.
        *error = result == WSAHOST_NOT_FOUND || result == WSANO_DATA
                     ? SocketError{SocketFault::kNameNotFound, result}
                     : SocketError{SocketFault::kLookupFailed, result};
    }
    return false;
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

int StartConnect(SocketHandle socket, const SocketAddress& address, SocketError* error) {
    if (address.length == 0) {
        ::WSASetLastError(WSAEDESTADDRREQ);
        return Failed(error);
    }
    const SOCKET s = ToSocket(socket);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        return Failed(error);
    }
    if (::connect(s, reinterpret_cast<const sockaddr*>(address.bytes),
                  static_cast<int>(address.length)) == 0) {
        SetBlocking(socket);
        return 1;
    }
    if (::WSAGetLastError() == WSAEWOULDBLOCK) {
        return 0;  // completes in the background
    }
    const int code = ::WSAGetLastError();
    SetBlocking(socket);
    ::WSASetLastError(code);
    return Failed(error, code);
}

int WaitConnected(SocketHandle socket, uint32_t timeoutMs, SocketError* error) {
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
    const bool connected = ready > 0 && FD_ISSET(s, &writable);
    int code = ready == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    if (ready > 0 && !connected) {
        // SO_ERROR says why the connect failed.
        int size = sizeof code;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0) {
            code = ::WSAGetLastError();
        }
    }
    SetBlocking(socket);
    return connected ? 1 : Failed(error, code);
}

int SendBytes(SocketHandle socket, const void* data, int length, SocketError* error) {
    const int sent = ::send(ToSocket(socket), static_cast<const char*>(data), length, 0);
    return sent == SOCKET_ERROR ? Failed(error) : sent;
}

int ReceiveBytes(SocketHandle socket, void* target, int length, SocketError* error) {
    const int received = ::recv(ToSocket(socket), static_cast<char*>(target), length, 0);
    return received == SOCKET_ERROR ? Failed(error) : received;
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
