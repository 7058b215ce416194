#pragma once
// For the shared socket source (platform/socket.cpp): the system's socket headers and
// its own part of looking a name up.

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <ws2tcpip.h>

#include "platform/socket.h"

namespace platform {

// getaddrinfo for host: true with the list in *found (freeaddrinfo releases it),
// false with the resolver's reason in *error.
bool LookUpName(const char* host, const addrinfo& hints, addrinfo** found, SocketError* error);

}  // namespace platform
