#pragma once
// Where a connection hands the firings that its listener finds: the host implements
// it, so that nothing in the connection knows how the host's main thread is reached.

#include <cstdint>

#include "common/ansi_string.h"

class IEventSink {
public:
    // Called on a listener thread, with the connection's lock held, for each report
    // that brought `count` (> 0) new occurrences of eventName on the connection
    // `connection` (its handle). Must not block or call back into the connection.
    virtual void EventFired(int32_t connection, const AnsiString& eventName, int32_t count) = 0;
    // Called once per loss, on a listener thread or the worker, with the connection's
    // lock held, when the connection's events are lost: the event connection could
    // not be made again, or the connection to the server is gone. `reason` says why,
    // and whether the connection is being made again.
    virtual void ConnectionLost(int32_t connection, const AnsiString& reason) = 0;
    // Called on a listener thread, without the connection's lock, when a lost
    // connection is back with every subscription; `text` says after how long.
    virtual void ConnectionRestored(int32_t connection, const AnsiString& text) = 0;

protected:
    ~IEventSink() = default;
};
