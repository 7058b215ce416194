#pragma once
// The connection-side records of subscribed events, the event parameter block that
// is sent with op_que_events, and the rule by which the counts that the server
// reports back with op_event become a number of new occurrences.
//
// Event parameter block: a version byte (1), then per event a length byte, the name
// bytes without terminator, and the count as four bytes, least significant first.
//
// None of these types locks anything: the connection's lock guards a table and the
// records in it.

#include <cstddef>
#include <cstdint>

#include "common/ansi_string.h"
#include "common/grow_array.h"
#include "common/keyed_array.h"
#include "wire/param_block.h"

// The capacity of the buffer in which an event parameter block is built.
constexpr int32_t kEventBlockCapacity = 512;
// The version byte at the start of every event parameter block (EPB_version1).
constexpr uint8_t kEventBlockVersion = 1;

// True when two event names are the same event: a case-sensitive comparison of the
// whole byte strings, with no case folding and no code page conversion.
bool EventNamesEqual(const AnsiString& a, const AnsiString& b);

// One event name and its counts.
struct EventEntry {
    AnsiString name;
    // The count that the server reported last, minus one; -1 while no report has
    // been received since the entry was created (or since a report of 0).
    int32_t lastCount = -1;
    // The number of new occurrences found by the most recent report.
    int32_t firedCount = 0;
};

// One subscription: its event names (a subscription is created with exactly one)
// and its local event id.
struct EventRequest {
    GrowArray<EventEntry> events;
    // Sent as p_event_rid; -1 until the connection assigns one.
    int32_t eventId = -1;
    // True once a report for it has come (the connection sets it).
    bool reported = false;

    // Appends an entry {name, -1, 0} unless an entry with an equal name exists.
    // A null name is taken as the empty name. False only when memory ran out, in
    // which case the list keeps its old contents.
    bool AddEventName(const char* name);

    // Appends the event parameter block to `block` (normally an empty block over a
    // buffer of kEventBlockCapacity bytes) and returns the block's length. Each
    // entry carries lastCount + 1. An entry is written whole or not at all: one that
    // would not fit with a byte to spare, or whose name is longer than a length
    // byte can express (255), is left out rather than written half.
    int32_t BuildEventBlock(CParamBlock& block) const;

    // Applies the p_event_items of an op_event. For every reported event, each entry
    // with an equal name gets firedCount = 0 when it had no report yet, otherwise the
    // reported count minus the previous one; then lastCount = reported count - 1.
    // Blocks shorter than 2 bytes change nothing; the version byte is not checked.
    // Decoding stops at the first event whose name or count does not lie wholly
    // within the block; nothing beyond the block's end is read.
    void ApplyEventBlock(const AnsiString& items);
    void ApplyEventBlock(const uint8_t* items, size_t length);
};

// The event requests of one connection, keyed by eventId, in subscription order.
using EventRequestTable = KeyedArray<int32_t, EventRequest>;

// The index of the first request whose first entry's name equals `name`, or -1.
// A request without entries matches nothing.
int FindEventRequestByName(const EventRequestTable& table, const AnsiString& name);

// The index of the first request stored under `eventId`, or -1.
int FindEventRequestById(const EventRequestTable& table, int32_t eventId);
