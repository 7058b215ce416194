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
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace platform {

bool StartSocketService() {
    return true;
}

void StopSocketService() {}

SocketHandle CreateTcpSocket(const SocketAddress& address) {
    if (SystemCallFails(SystemCall::kSocket)) {
        errno = EMFILE;
        return kInvalidSocket;
    }
    const int family = IsIPv6(address) ? AF_INET6 : AF_INET;
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
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
    // Data the peer does not acknowledge ends the connection after as long as the
    // keepalive takes, instead of the quarter of an hour of the system's retries.
    const unsigned int unacknowledged = (idle + interval * probes) * 1000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged);
    return fd;
}

int ResolveAddresses(const char* host, uint16_t port, SocketAddress* addresses, int max) {
    // getaddrinfo rather than gethostbyname: it knows both families and may run on
    // several threads at once.
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    struct addrinfo* found = nullptr;
    if (SystemCallFails(SystemCall::kResolve)) {
        return 0;
    }
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0) {
        return 0;
    }
    int count = 0;
    for (struct addrinfo* entry = found; entry != nullptr && count < max; entry = entry->ai_next) {
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
    sa_family_t family;
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
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(address.bytes), address.length, host,
                      sizeof host, nullptr, 0, NI_NUMERICHOST) == 0) {
        std::snprintf(text, size, "%s", host);
    }
}

uint16_t AddressPort(const SocketAddress& address) {
    // sin_port and sin6_port sit at the same place, in network byte order.
    in_port_t port;
    std::memcpy(&port, address.bytes + offsetof(sockaddr_in, sin_port), sizeof port);
    return ntohs(port);
}

void SetAddressPort(SocketAddress* address, uint16_t port) {
    static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port),
                  "one place for the port");
    const in_port_t value = htons(port);
    std::memcpy(address->bytes + offsetof(sockaddr_in, sin_port), &value, sizeof value);
}

int StartConnect(SocketHandle socket, const SocketAddress& address) {
    if (SystemCallFails(SystemCall::kConnect)) {
        errno = ECONNREFUSED;
        return -1;
    }
    if (address.length == 0) {
        errno = EDESTADDRREQ;
        return -1;
    }
    const int fd = static_cast<int>(socket);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address.bytes), address.length) == 0) {
        SetBlocking(socket);
        return 1;
    }
    if (errno == EINPROGRESS || errno == EINTR) {
        return 0;  // completes in the background
    }
    const int error = errno;
    SetBlocking(socket);
    errno = error;
    return -1;
}

int WaitConnected(SocketHandle socket, uint32_t timeoutMs) {
    // Writable once the connect has ended; SO_ERROR then says how.
    struct pollfd entry {};
    entry.fd = static_cast<int>(socket);
    entry.events = POLLOUT;
    const int limit = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    int ready;
    do {
        ready = ::poll(&entry, 1, limit);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        return 0;
    }
    int error = ready > 0 ? 0 : errno;
    socklen_t size = sizeof error;
    if (ready > 0) {
        ::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &size);
    }
    SetBlocking(socket);
    errno = error;
    return error == 0 ? 1 : -1;
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
