#pragma once
// How a connection is made and kept, beside its host, database, user and password:
// the login, the limit on every exchange after it, and whether a lost connection is
// made again by itself.

#include <cstdint>

#include "wire/handshake.h"

// The defaults of timeout= and reconnect=.
constexpr uint32_t kDefaultTimeoutMs = 30000;
constexpr uint32_t kDefaultReconnectCeilingMs = 30000;

struct ConnectionOptions {
    ConnectionOptions() = default;
    ConnectionOptions(const LoginOptions& loginOptions)  // NOLINT: a login alone is enough
        : login(loginOptions) {}

    LoginOptions login;
    // The longest wait for the server's answer to any request after the connect
    // (subscribe, unsubscribe, the listener's queue again, disconnect): a server that
    // stays silent that long is taken for lost.
    uint32_t timeoutMs = kDefaultTimeoutMs;
    // The longest pause between two tries to make a lost connection again; 0: no tries
    // (the connection stays lost until it is disconnected).
    uint32_t reconnectCeilingMs = kDefaultReconnectCeilingMs;
};
