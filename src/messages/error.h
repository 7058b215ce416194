#pragma once
// What kind of failure a text in errorText reports. The user sees only the text;
// the kind lets the code below the host decide what to do about a failure without
// reading its words.

#include <cstdint>

enum class ErrorKind : uint8_t {
    kNone,
    kClosed,    // the peer ended the connection
    kIo,        // a system call on the connection failed (resolve, connect, send, receive)
    kProtocol,  // the peer sent something the protocol does not allow here
    kServer,    // the server refused the request (its status vector)
    kMemory,    // memory ran out
    kState,     // the object is not in a state that allows the operation
    kSystem,    // the system refused a resource (thread, event, socket service)
    kTimeout,   // a wait passed its limit
};
