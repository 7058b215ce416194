#pragma once
// Where a connection hands the firings that its listener finds: the host implements
// it, so that nothing in the connection knows how the host's main thread is reached.

#include <cstdint>

#include "common/ansi_string.h"

class IEventSink {
public:
    // Called on a listener thread, with the connection's lock held, for each report
    // that brought `count` (> 0) new occurrences of eventName. Must not block or call
    // back into the connection.
    virtual void EventFired(const AnsiString& eventName, int32_t count) = 0;

protected:
    ~IEventSink() = default;
};
