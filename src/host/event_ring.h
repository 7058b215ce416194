#pragma once
// EventRing: the path of fired events into the host's main thread. Listener threads
// put firings in; the window procedure takes them out, one WM_EVENT_FIRED message per
// delivery.
//
// Nothing is lost or delivered twice, however long the main thread is busy: firings
// of one event name on one connection that wait for the main thread are merged into
// one pending delivery holding the sum of their counts, and only a new delivery asks
// for a message. A message takes out exactly the delivery it was posted for. The
// store grows as deliveries wait (at most one per connection and name, and one loss
// per connection). One lock covers it.

#include <cstdint>

#include "common/ansi_string.h"
#include "common/grow_array.h"
#include "platform/lock.h"
#include "platform/window.h"

// Window message posted to the host's main window for each delivery; wParam is its
// slot, lParam 0.
constexpr uint32_t WM_EVENT_FIRED = platform::kWmUser + 1;

// What a delivery is: firings of an event, or a notice about its connection.
enum class DeliveryKind : uint8_t { kFiring, kLoss, kRestore };

// One delivery: the firings of an event on a connection, or the connection's loss or
// restore.
struct EventSlot {
    int32_t connection = 0;
    DeliveryKind kind = DeliveryKind::kFiring;
    AnsiString eventName;  // firings
    int32_t count = 0;
    AnsiString text;  // a notice's: why the events are lost, or after how long they are back
};

class EventRing {
public:
    // Adds count firings of eventName on connection. True when they made a new
    // delivery, whose slot is then in *slot and needs a message; false when they
    // joined one that waits already (or memory ran out).
    bool Put(int32_t connection, const AnsiString& eventName, int32_t count, int32_t* slot);
    // Records a notice (kLoss, kRestore) about connection; true with the new
    // delivery's slot.
    bool PutNotice(DeliveryKind kind, int32_t connection, const AnsiString& text, int32_t* slot);
    // Takes the delivery out of a slot; false when the slot holds none.
    bool Take(int32_t slot, EventSlot* delivery);
    // Takes out the oldest delivery of the kind; false when none waits.
    bool TakeOldest(DeliveryKind kind, EventSlot* delivery);
    // Drops every delivery of a connection that has ended, so that none reaches
    // the next connection given the same handle.
    void Forget(int32_t connection);
    // Drops a delivery whose message could not be posted.
    void Drop(int32_t slot) {
        EventSlot unused;
        Take(slot, &unused);
    }
    // Deliveries waiting.
    size_t Pending();
    // Forgets every delivery (a new load of the library).
    void Clear() {
        platform::LockGuard guard(lock_);
        entries_.Clear();
    }

private:
    struct Entry {
        bool inUse = false;
        uint32_t sequence = 0;  // order of arrival
        EventSlot delivery;
    };
    bool Place(const EventSlot& delivery, int32_t* slot);

    platform::Lock lock_;
    GrowArray<Entry> entries_;
    uint32_t nextSequence_ = 0;
};
