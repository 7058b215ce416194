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

    // A system call on the connection failed for a reason the user acts on (kIo: for
    // another reason). kTimedOut is the system's, or the connect's, time-out; kTimeout
    // an exchange's own limit.
    kRefused,       // the server's system refused the connect: nothing listens at the port
    kTimedOut,      // the connect went unanswered, or sent data was never acknowledged
    kUnreachable,   // no route to the server's network or host
    kReset,         // the connection was reset (by the server, or on the way)
    kNameNotFound,  // the server's name has no address
};
