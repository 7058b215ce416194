// Events on POSIX. One process-wide mutex guards the state of every event and one
// condition variable announces every change, so that a wait on several events sees
// a consistent picture and can take the lowest set slot atomically. The library has
// a handful of events, so the shared lock costs nothing noticeable.

#include "platform/event.h"

#include "platform/system_calls.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace platform {
namespace {

struct EventObject {
    bool manualReset;
    bool set;
};

// Both live for the whole process and are never destroyed: a thread that was left
// running (a listener that did not stop in time, a worker that could not be ended)
// may still signal or wait while the process runs its exit-time destructors.
// The shared lock and condition variable are built once in static storage and never
// destroyed: a thread left running at process exit may still use them. Static
// storage rather than the heap, so that unloading the library frees them with it.
template <typename T>
T& Immortal() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* object = new (storage) T();
    return *object;
}
std::mutex& StateMutex() {
    return Immortal<std::mutex>();
}
std::condition_variable& StateChanged() {
    return Immortal<std::condition_variable>();
}

// With the state mutex held: the lowest set slot (consumed if auto-reset), or -1.
int TakeLowestSet(const EventHandle* events, int count) {
    for (int i = 0; i < count; ++i) {
        auto* event = static_cast<EventObject*>(events[i]);
        if (event->set) {
            if (!event->manualReset) {
                event->set = false;
            }
            return i;
        }
    }
    return -1;
}

}  // namespace

EventHandle NewEvent(bool manualReset, bool initiallySet) {
    if (SystemCallFails(SystemCall::kEvent)) {
        return nullptr;
    }
    return new (std::nothrow) EventObject{manualReset, initiallySet};
}

bool SignalEvent(EventHandle event) {
    if (event == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(StateMutex());
        static_cast<EventObject*>(event)->set = true;
    }
    StateChanged().notify_all();
    return true;
}

bool ClearEvent(EventHandle event) {
    if (event == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> guard(StateMutex());
    static_cast<EventObject*>(event)->set = false;
    return true;
}

void CloseEvent(EventHandle event) {
    delete static_cast<EventObject*>(event);
}

int WaitForEvent(EventHandle event, uint32_t timeoutMs) {
    return WaitForAnyEvent(&event, 1, timeoutMs);
}

int WaitForAnyEvent(const EventHandle* events, int count, uint32_t timeoutMs) {
    if (events == nullptr || count < 1 || count > kMaxWaitHandles) {
        return kWaitFailed;
    }
    for (int i = 0; i < count; ++i) {
        if (events[i] == nullptr) {
            return kWaitFailed;
        }
    }
    std::unique_lock<std::mutex> lock(StateMutex());
    int slot = TakeLowestSet(events, count);
    if (slot >= 0 || timeoutMs == 0) {
        return slot >= 0 ? slot : kWaitTimeout;
    }
    if (timeoutMs == kInfinite) {
        StateChanged().wait(lock, [&] { return (slot = TakeLowestSet(events, count)) >= 0; });
        return slot;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool got = StateChanged().wait_until(
        lock, deadline, [&] { return (slot = TakeLowestSet(events, count)) >= 0; });
    return got ? slot : kWaitTimeout;
}

}  // namespace platform
