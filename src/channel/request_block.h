#pragma once
// RequestBlock: the one request area of the library. The host's main thread writes a
// request into it, sets the request event and waits for the reply event; the worker
// thread reads it, carries the request out and writes the result back. The two
// auto-reset events make the threads alternate strictly, so the block has no lock.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "channel/connection_options.h"

enum RequestCode : uint8_t {
    REQ_SUBSCRIBE = 1,
    REQ_UNSUBSCRIBE = 2,
    REQ_CONNECT = 3,
    REQ_DISCONNECT = 4,
    REQ_CHECK = 5,  // is the handle a connection? (1 or -1 with the reason)
    REQ_QUIT = 32,
};

constexpr int32_t kDefaultPort = 3050;

struct RequestBlock {
    uint8_t command = 0;
    // In: a connection handle. Out: 1 for success, -1 for failure, or the new handle.
    int32_t handle = 0;
    // The front end's own copy of the handle it sent (the worker overwrites `handle`).
    int32_t handleArgument = 0;
    // In: the host name or the event name. Out: the failure message.
    char text[512] = {};
    char user[65] = {};
    char password[65] = {};
    char database[257] = {};
    int32_t port = kDefaultPort;
    // How REQ_CONNECT logs in and keeps the connection.
    ConnectionOptions options;
};

// Copies a NUL-terminated text into a fixed field, cut to the field's capacity less
// one, always terminated.
template <size_t N>
void CopyToField(char (&field)[N], const char* text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length > N - 1) {
        length = N - 1;
    }
    if (length > 0) {
        std::memmove(field, text, length);
    }
    field[length] = '\0';
}
