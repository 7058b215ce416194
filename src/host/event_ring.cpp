#include "host/event_ring.h"

#include <cstring>

int32_t EventRing::Put(const AnsiString& eventName, int32_t count) {
    platform::LockGuard guard(lock_);
    const int32_t index = writeIndex_;
    EventSlot& slot = slots_[index];
    size_t length = std::strlen(eventName.CStr());
    if (length > sizeof slot.eventName - 1) {
        length = sizeof slot.eventName - 1;
    }
    std::memcpy(slot.eventName, eventName.CStr(), length);
    slot.eventName[length] = '\0';
    slot.count = count;
    writeIndex_ = index + 1 == kSlots ? 0 : index + 1;
    return index;
}

bool EventRing::Read(int32_t index, EventSlot* slot) {
    if (index < 0 || index >= kSlots) {
        return false;
    }
    platform::LockGuard guard(lock_);
    *slot = slots_[index];
    return true;
}

int32_t EventRing::WriteIndex() {
    platform::LockGuard guard(lock_);
    return writeIndex_;
}
