#include "host/event_ring.h"

#include <climits>

bool EventRing::Place(const EventSlot& delivery, int32_t* slot) {
    for (size_t i = 0; i < entries_.Size(); ++i) {
        if (!entries_[i].inUse) {
            entries_[i].inUse = true;
            entries_[i].sequence = nextSequence_++;
            entries_[i].delivery = delivery;
            *slot = static_cast<int32_t>(i);
            return true;
        }
    }
    Entry entry;
    entry.inUse = true;
    entry.sequence = nextSequence_++;
    entry.delivery = delivery;
    if (!entries_.Append(entry)) {
        return false;
    }
    *slot = static_cast<int32_t>(entries_.Size() - 1);
    return true;
}

bool EventRing::Put(int32_t connection, const AnsiString& eventName, int32_t count, int32_t* slot) {
    platform::LockGuard guard(lock_);
    for (Entry& entry : entries_) {
        EventSlot& waiting = entry.delivery;
        if (entry.inUse && waiting.kind == DeliveryKind::kFiring &&
            waiting.connection == connection && waiting.eventName == eventName) {
            // Saturates rather than wraps: a count is never negative.
            waiting.count = waiting.count > INT32_MAX - count ? INT32_MAX : waiting.count + count;
            return false;
        }
    }
    EventSlot delivery;
    delivery.connection = connection;
    delivery.eventName = eventName;
    delivery.count = count;
    return Place(delivery, slot);
}

bool EventRing::PutNotice(DeliveryKind kind, int32_t connection, const AnsiString& text,
                          int32_t* slot) {
    platform::LockGuard guard(lock_);
    EventSlot delivery;
    delivery.connection = connection;
    delivery.kind = kind;
    delivery.text = text;
    return Place(delivery, slot);
}

void EventRing::Forget(int32_t connection) {
    platform::LockGuard guard(lock_);
    for (Entry& entry : entries_) {
        if (entry.inUse && entry.delivery.connection == connection) {
            entry.inUse = false;
            entry.delivery = EventSlot();
        }
    }
}

bool EventRing::Take(int32_t slot, EventSlot* delivery) {
    platform::LockGuard guard(lock_);
    if (slot < 0 || static_cast<size_t>(slot) >= entries_.Size() ||
        !entries_[static_cast<size_t>(slot)].inUse) {
        return false;
    }
    Entry& entry = entries_[static_cast<size_t>(slot)];
    *delivery = entry.delivery;
    entry.inUse = false;
    entry.delivery = EventSlot();
    return true;
}

bool EventRing::TakeOldest(DeliveryKind kind, EventSlot* delivery) {
    platform::LockGuard guard(lock_);
    Entry* oldest = nullptr;
    for (Entry& entry : entries_) {
        // Unsigned difference: the sequence's wrap does no harm.
        if (entry.inUse && entry.delivery.kind == kind &&
            (oldest == nullptr || static_cast<int32_t>(entry.sequence - oldest->sequence) < 0)) {
            oldest = &entry;
        }
    }
    if (oldest == nullptr) {
        return false;
    }
    *delivery = oldest->delivery;
    oldest->inUse = false;
    oldest->delivery = EventSlot();
    return true;
}

size_t EventRing::Pending() {
    platform::LockGuard guard(lock_);
    size_t pending = 0;
    for (const Entry& entry : entries_) {
        pending += entry.inUse ? 1 : 0;
    }
    return pending;
}
