#include "platform/socket.h"

#include "platform/system_calls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool StartSocketService() {
    return true;
}

void StopSocketService() {}

SocketHandle CreateTcpSocket() {
    if (SystemCallFails(SystemCall::kSocket)) {
        errno = EMFILE;
        return kInvalidSocket;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return kInvalidSocket;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    const int idle = 30, interval = 5, probes = 6;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    return fd;
}

bool ResolveIPv4(const char* host, uint32_t* address) {
    in_addr_t literal = ::inet_addr(host);
    if (literal != INADDR_NONE) {
        *address = literal;
        return true;
    }
    // getaddrinfo rather than gethostbyname: the resolver may run on several threads.
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    if (SystemCallFails(SystemCall::kResolve)) {
        return false;
    }
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    bool ok = false;
    for (struct addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

bool ConnectSocket(SocketHandle socket, const SocketAddressV4& address, uint32_t timeoutMs) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = address.port;
    target.sin_addr.s_addr = address.address;
    if (SystemCallFails(SystemCall::kConnect)) {
        errno = ECONNREFUSED;
        return false;
    }
    const int fd = static_cast<int>(socket);
    const int flags = ::fcntl(fd, F_GETFL);
    const bool bounded =
        timeoutMs != kInfinite && flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (rc != 0 && (errno == EINPROGRESS || errno == EINTR)) {
        // Completes in the background: wait until it is writable, then ask how it went.
        struct pollfd entry {};
        entry.fd = fd;
        entry.events = POLLOUT;
        const int limit = !bounded                  ? -1
                          : timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF
                                                    : static_cast<int>(timeoutMs);
        int ready;
        do {
            ready = ::poll(&entry, 1, limit);
        } while (ready < 0 && errno == EINTR);
        int error = ready > 0 ? 0 : ETIMEDOUT;
        socklen_t size = sizeof error;
        if (ready > 0) {
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
        rc = error == 0 ? 0 : -1;
    }
    if (bounded) {
        ::fcntl(fd, F_SETFL, flags);
    }
    return rc == 0;
}

int SendBytes(SocketHandle socket, const void* data, int length) {
    if (SystemCallFails(SystemCall::kSend)) {
        errno = EPIPE;
        return -1;
    }
    ssize_t sent;
    do {
        sent = ::send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

int ReceiveBytes(SocketHandle socket, void* target, int length) {
    if (SystemCallFails(SystemCall::kReceive)) {
        errno = ECONNRESET;
        return -1;
    }
    ssize_t received;
    do {
        received = ::recv(static_cast<int>(socket), target, static_cast<size_t>(length), 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<int>(received);
}

int WaitReadable(SocketHandle socket, uint32_t timeoutMs) {
    struct pollfd entry {};
    entry.fd = static_cast<int>(socket);
    entry.events = POLLIN;
    int timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    int rc;
    do {
        rc = ::poll(&entry, 1, timeout);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        return -1;
    }
    return rc > 0 ? 1 : 0;
}

void ShutdownSend(SocketHandle socket) {
    if (SystemCallFails(SystemCall::kShutdown)) {
        return;
    }
    ::shutdown(static_cast<int>(socket), SHUT_WR);
}

bool ShutdownBoth(SocketHandle socket) {
    // On Linux the read side's shutdown wakes a thread blocked in recv with
    // end-of-stream; close() alone would not. A failed shutdown leaves nobody
    // blocked who could be woken, except where the socket was never connected.
    if (SystemCallFails(SystemCall::kShutdown)) {
        return true;
    }
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
    return true;
}

void SetBlocking(SocketHandle socket) {
    int off = 0;
    ::ioctl(static_cast<int>(socket), FIONBIO, &off);
}

void CloseSocket(SocketHandle socket) {
    ::close(static_cast<int>(socket));
}

}  // namespace platform
