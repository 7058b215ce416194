#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <mstcpip.h>
#include <windows.h>

#include <cstring>

namespace platform {
namespace {

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

SocketHandle CreateTcpSocket() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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
    return static_cast<SocketHandle>(s);
}

bool ResolveIPv4(const char* host, uint32_t* address) {
    unsigned long literal = ::inet_addr(host);
    if (literal != INADDR_NONE) {
        *address = static_cast<uint32_t>(literal);
        return true;
    }
    // gethostbyname keeps its result per thread in Winsock, so it is safe here.
    hostent* entry = ::gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(address, entry->h_addr_list[0], sizeof *address);
    return true;
}

bool ConnectSocket(SocketHandle socket, const SocketAddressV4& address, uint32_t timeoutMs) {
    sockaddr_in target;
    std::memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = address.port;
    target.sin_addr.s_addr = address.address;
    const SOCKET s = ToSocket(socket);
    u_long nonBlocking = timeoutMs != kInfinite ? 1 : 0;
    if (nonBlocking != 0) {
        ::ioctlsocket(s, FIONBIO, &nonBlocking);
    }
    int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (rc != 0 && nonBlocking != 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        // Completes in the background: writable on success, in the except set on failure.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval limit;
        limit.tv_sec = static_cast<long>(timeoutMs / 1000);
        limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
        const int ready = ::select(0, nullptr, &writable, &failed, &limit);
        rc = ready > 0 && FD_ISSET(s, &writable) ? 0 : -1;
    }
    SetBlocking(socket);
    return rc == 0;
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
