// What both systems share of the sockets: the addresses of a name, taken from
// getaddrinfo's list. The system's headers and its own part of the look-up come from
// the system's folder (posix/ or win32/ system_sockets.h, on the include path).

#include "platform/socket.h"

#include "system_sockets.h"

#include <cstring>

namespace platform {

int ResolveAddresses(const char* host, uint16_t port, SocketAddress* addresses, int max,
                     SocketError* error) {
    // getaddrinfo rather than gethostbyname: it knows both families and may run on
    // several threads at once (Windows has it from XP on).
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (!LookUpName(host, hints, &found, error)) {
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
    if (count == 0 && error != nullptr) {
        *error = SocketError{SocketFault::kNameNotFound, 0};  // no address of either family
    }
    return count;
}

}  // namespace platform
