#pragma once
// EventRing: the path of fired events into the host's main thread. Listener threads
// put (event name, count) into the next of 200 slots and post WM_EVENT_FIRED with
// the slot's index; the window procedure reads the slot on the main thread.
//
// The writer never waits and never checks whether a slot was read: the 200th put
// after a slot overwrites it. One lock covers the write index and the slot writes.

#include <cstdint>

#include "common/ansi_string.h"
#include "platform/lock.h"
#include "platform/window.h"

// Window message posted to the host's main window for each delivered firing;
// wParam is the ring slot, lParam 0.
constexpr uint32_t WM_EVENT_FIRED = platform::kWmUser + 1;

struct EventSlot {
    char eventName[65] = {};
    int32_t count = 0;
};

class EventRing {
public:
    static constexpr int32_t kSlots = 200;

    // Stores the firing in the slot at the write index and returns that index.
    int32_t Put(const AnsiString& eventName, int32_t count);
    // Copies a slot under the ring's lock; false for an index outside the ring.
    bool Read(int32_t index, EventSlot* slot);
    int32_t WriteIndex();

private:
    platform::Lock lock_;
    int32_t writeIndex_ = 0;
    EventSlot slots_[kSlots];
};
