#include "platform/socket.h"

#include "platform/posix/system_sockets.h"
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
namespace {

SocketError ErrorOf(int code) {
    switch (code) {
        case ECONNREFUSED:
            return SocketError{SocketFault::kRefused, code};
        case ETIMEDOUT:
            return SocketError{SocketFault::kTimedOut, code};
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
            return SocketError{SocketFault::kUnreachable, code};
        case ECONNRESET:
        case ECONNABORTED:
        case ENETRESET:
        case EPIPE:  // sending after the peer's reset
            return SocketError{SocketFault::kReset, code};
        default:
            return SocketError{SocketFault::kOther, code};
    }
}

// Reports errno as the reason of a failed call; -1.
int Failed(SocketError* error) {
    if (error != nullptr) {
        *error = ErrorOf(errno);
    }
    return -1;
}

}  // namespace

bool StartSocketService() {
    return true;
}

void StopSocketService() {}

SocketHandle CreateTcpSocket(const SocketAddress& address, SocketError* error) {
    if (SystemCallFails(SystemCall::kSocket)) {
        errno = EMFILE;
        Failed(error);
        return kInvalidSocket;
    }
    const int family = IsIPv6(address) ? AF_INET6 : AF_INET;
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        Failed(error);
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

bool LookUpName(const char* host, const addrinfo& hints, addrinfo** found, SocketError* error) {
    const int result = SystemCallFails(SystemCall::kResolve)
                           ? EAI_NONAME
                           : ::getaddrinfo(host, nullptr, &hints, found);
    if (result == 0) {
        return true;
    }
    if (error != nullptr) {
        switch (result) {
            case EAI_NONAME:
#ifdef EAI_NODATA
            case EAI_NODATA:  // the name is known, but without an address
#endif
                *error = SocketError{SocketFault::kNameNotFound, result};
                break;
            case EAI_SYSTEM:
                *error = ErrorOf(errno);
                break;
            default:
                *error = SocketError{SocketFault::kLookupFailed, result};
                break;
        }
    }
    return false;
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

int StartConnect(SocketHandle socket, const SocketAddress& address, SocketError* error) {
    if (SystemCallFails(SystemCall::kConnect)) {
        errno = ECONNREFUSED;
        return Failed(error);
    }
    if (address.length == 0) {
        errno = EDESTADDRREQ;
        return Failed(error);
    }
    const int fd = static_cast<int>(socket);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return Failed(error);
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address.bytes), address.length) == 0) {
        SetBlocking(socket);
        return 1;
    }
    if (errno == EINPROGRESS || errno == EINTR) {
        return 0;  // completes in the background
    }
    const int code = errno;
    SetBlocking(socket);
    errno = code;
    return Failed(error);
}

int WaitConnected(SocketHandle socket, uint32_t timeoutMs, SocketError* error) {
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
    int code = ready > 0 ? 0 : errno;
    socklen_t size = sizeof code;
    if (ready > 0) {
        ::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &code, &size);
    }
    SetBlocking(socket);
    errno = code;
    return code == 0 ? 1 : Failed(error);
}

int SendBytes(SocketHandle socket, const void* data, int length, SocketError* error) {
    if (SystemCallFails(SystemCall::kSend)) {
        errno = EPIPE;
        return Failed(error);
    }
    ssize_t sent;
    do {
        sent = ::send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? Failed(error) : static_cast<int>(sent);
}

int ReceiveBytes(SocketHandle socket, void* target, int length, SocketError* error) {
    if (SystemCallFails(SystemCall::kReceive)) {
        errno = ECONNRESET;
        return Failed(error);
    }
    ssize_t received;
    do {
        received = ::recv(static_cast<int>(socket), target, static_cast<size_t>(length), 0);
    } while (received < 0 && errno == EINTR);
    return received < 0 ? Failed(error) : static_cast<int>(received);
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
