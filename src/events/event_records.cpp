#include "events/event_records.h"

#include <cstring>
#include <new>

namespace {

// The length byte of an event can say at most this many name bytes.
constexpr size_t kMaxNameInBlock = 255;

// Signed 32-bit subtraction that wraps instead of overflowing, as the counts on the
// wire are plain 32-bit words.
int32_t WrappingSubtract(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

bool EventNamesEqual(const AnsiString& a, const AnsiString& b) {
    return a.Length() == b.Length() && std::memcmp(a.Data(), b.Data(), a.Length()) == 0;
}

bool EventRequest::AddEventName(const char* name) {
    try {
        EventEntry entry;
        entry.name = AnsiString(name);
        for (const EventEntry& existing : events) {
            if (EventNamesEqual(existing.name, entry.name)) {
                return true;
            }
        }
        return events.Append(std::move(entry));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int32_t EventRequest::BuildEventBlock(CParamBlock& block) const {
    block.AppendByte(kEventBlockVersion);
    for (const EventEntry& entry : events) {
        const size_t n = entry.name.Length();
        // Length byte, name and count together, with one byte left free as the
        // block's own rule for runs of bytes demands.
        if (n > kMaxNameInBlock ||
            static_cast<int64_t>(block.Length()) + 1 + static_cast<int64_t>(n) + 4 >=
                block.Capacity()) {
            continue;
        }
        const uint32_t count = static_cast<uint32_t>(entry.lastCount) + 1u;
        const uint8_t countBytes[4] = {
            static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24)};
        block.AppendByte(static_cast<uint8_t>(n));
        block.AppendBytes(entry.name.Data(), 0, static_cast<uint32_t>(n));
        block.AppendBytes(countBytes, 0, 4);
    }
    return block.Length();
}

void EventRequest::ApplyEventBlock(const AnsiString& items) {
    ApplyEventBlock(reinterpret_cast<const uint8_t*>(items.Data()), items.Length());
}

void EventRequest::ApplyEventBlock(const uint8_t* items, size_t length) {
    if (items == nullptr || length < 2) {
        return;
    }
    // items[0] is the version byte; it is skipped unchecked.
    size_t i = 1;
    while (i < length) {
        const size_t n = items[i];
        const size_t nameAt = i + 1;
        const size_t countAt = nameAt + n;
        // countAt + 4 <= length, written so that it cannot wrap.
        if (countAt > length || length - countAt < 4) {
            return;
        }
        const AnsiString name(reinterpret_cast<const char*>(items + nameAt), n);
        const int32_t reported = static_cast<int32_t>(DecodeInteger(items + countAt, 0, 4));
        const int32_t newLast = WrappingSubtract(reported, 1);
        for (EventEntry& entry : events) {
            if (!EventNamesEqual(entry.name, name)) {
                continue;
            }
            entry.firedCount = entry.lastCount < 0 ? 0 : WrappingSubtract(newLast, entry.lastCount);
            entry.lastCount = newLast;
        }
        i = countAt + 4;
    }
}

int FindEventRequestByName(const EventRequestTable& table, const AnsiString& name) {
    for (size_t i = 0; i < table.Size(); ++i) {
        const EventRequest& request = table.ValueAt(i);
        if (!request.events.IsEmpty() && EventNamesEqual(request.events[0].name, name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int FindEventRequestById(const EventRequestTable& table, int32_t eventId) {
    return table.FindKey(eventId);
}
