#pragma once
// One report that the server sends on the auxiliary connection, as the listener's
// receive loop reads it: the reading apart from what the loop then does with it.

#include <cstdint>

#include "common/ansi_string.h"
#include "platform/event.h"
#include "wire/wire_stream.h"

struct EventReport {
    enum class Kind {
        kEvent,     // op_event: items and eventId are read
        kResponse,  // op_response: read whole and dropped
        kEnd,       // op_exit, op_disconnect, op_void (also what a closed stream reads)
        kUnknown,   // any other operation: nothing more is read
    };
    Kind kind = Kind::kUnknown;
    uint32_t operation = 0;
    AnsiString items;  // p_event_items
    int32_t eventId = 0;
};

// Reads the next report off `aux`: an operation (op_dummy words skipped) and what
// belongs to it, which must come within limitMs of the operation (between reports the
// server may be silent for ever). When the connection ends, sends something out of
// bounds or stops part-way, the stream is broken and the report must not be used.
EventReport ReadEventReport(CWireStream& aux, uint32_t limitMs = platform::kInfinite);
