// Events on POSIX. One process-wide mutex guards the state of every event, so that a
// wait on several events sees a consistent picture and takes the lowest set slot
// atomically; the critical sections are a few stores. Each waiting thread has a
// condition variable of its own and hangs a link of it on every event it waits for,
// so that setting an event wakes only the threads that wait for that event.

#include "platform/event.h"

#include "platform/system_calls.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace platform {
namespace {

struct Waiter;

// One waiter's link on one event's list.
struct Link {
    Waiter* waiter = nullptr;
    Link* previous = nullptr;
    Link* next = nullptr;
};

struct Waiter {
    std::condition_variable woken;
    Link links[kMaxWaitHandles];
};

struct EventObject {
    bool manualReset;
    bool set;
    Link* waiters = nullptr;  // the threads waiting for this event
};

// Lives for the whole process and is never destroyed: a thread that was left running
// (a listener that did not stop in time, a worker that could not be ended) may still
// signal or wait while the process runs its exit-time destructors. Static storage
// rather than the heap, so that unloading the library frees it with it.
std::mutex& StateMutex() {
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    static std::mutex* mutex = new (storage) std::mutex();
    return *mutex;
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

// With the state mutex held: hangs the waiter's links on the events, or takes them off.
void Attach(Waiter& waiter, const EventHandle* events, int count) {
    for (int i = 0; i < count; ++i) {
        auto* event = static_cast<EventObject*>(events[i]);
        Link& link = waiter.links[i];
        link.waiter = &waiter;
        link.previous = nullptr;
        link.next = event->waiters;
        if (event->waiters != nullptr) {
            event->waiters->previous = &link;
        }
        event->waiters = &link;
    }
}

void Detach(Waiter& waiter, const EventHandle* events, int count) {
    for (int i = 0; i < count; ++i) {
        auto* event = static_cast<EventObject*>(events[i]);
        Link& link = waiter.links[i];
        (link.previous != nullptr ? link.previous->next : event->waiters) = link.next;
        if (link.next != nullptr) {
            link.next->previous = link.previous;
        }
    }
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
    std::lock_guard<std::mutex> guard(StateMutex());
    auto* object = static_cast<EventObject*>(event);
    object->set = true;
    // Every waiter of this event looks again; of an auto-reset event's waiters the
    // first to look takes it, and the others wait on.
    for (Link* link = object->waiters; link != nullptr; link = link->next) {
        link->waiter->woken.notify_one();
    }
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
    Waiter waiter;
    Attach(waiter, events, count);
    const auto taken = [&] { return (slot = TakeLowestSet(events, count)) >= 0; };
    if (timeoutMs == kInfinite) {
        waiter.woken.wait(lock, taken);
    } else {
        waiter.woken.wait_until(
            lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs), taken);
    }
    Detach(waiter, events, count);
    return slot >= 0 ? slot : kWaitTimeout;
}

}  // namespace platform
