#pragma once
// CListenerThread: a thread that sleeps in one wait on a set of up to 64 events and
// calls the EventListener registered with whichever event is signalled.
//
// Slot 0 holds the event that stops the thread, slot 1 the event that makes it take
// a fresh copy of the set, and slots 2 and up the registered handles. When several
// are signalled the lowest slot wins, so stopping goes before refreshing, which goes
// before any listener. A registered manual-reset event that stays signalled makes
// the thread call its listener's Run again each time Run returns.
//
// AddHandle and RemoveHandle return only when the thread has taken the changed set
// (the refresh handshake), so after RemoveHandle the thread no longer waits on the
// handle and the handle can be handed back. Both wait while the thread is inside a
// Run; they must never be called from a Run on the listener thread itself.
//
// The thread's state lives in a reference-counted block that the thread holds too.
// A thread that does not end within the Shutdown limit keeps that block (its events
// and its copy of the set) alive until it really ends, and once Run returns it ends
// without touching its set again, so the CListenerThread can be destroyed at once.
// What Run itself touches is its listener's business.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "messages/error.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"

// The CListenerThread operations report kNone on success, otherwise:
//   kState    no thread, Initialize a second time, the set is full (64 handles), or a
//             null, unknown or already registered handle
//   kClosed   the thread ended early (Run threw, or its wait failed)
//   kMemory   the set could not grow
//   kSystem   an event or the thread could not be made, or a wait failed
//   kTimeout  the thread did not end within the limit

// The limit that the library gives a listener thread to end.
constexpr uint32_t kListenerShutdownLimitMs = 10000;

// What a registered handle is for. Both operations run with the registration lock
// of the CListenerThread held or on its thread, so neither may call back into it.
class EventListener {
public:
    virtual ~EventListener() = default;
    // Called on the listener thread when `handle` is signalled; `parameter` is the
    // value given at registration. The result is not examined. An exception that
    // leaves Run ends the listener thread (exit code 1).
    virtual int32_t Run(intptr_t parameter, platform::EventHandle handle) = 0;
    // Called when the handle is unregistered or the thread shut down. A negative
    // result means that the listener did not take the handle over, and the
    // CListenerThread closes it. Must not throw.
    virtual int32_t ReleaseHandle(platform::EventHandle handle) = 0;
};

class CListenerThread {
public:
    CListenerThread();
    // Shuts down with kListenerShutdownLimitMs when still running.
    ~CListenerThread();
    CListenerThread(const CListenerThread&) = delete;
    CListenerThread& operator=(const CListenerThread&) = delete;

    // Creates the stop and refresh events and starts the thread, waiting on its set
    // (with `handle` registered as AddHandle would, when given) from its first
    // moment: nothing waits for the thread. On failure everything made so far is
    // released again and the object stays unusable for AddHandle. kState when a
    // thread was started already and not shut down.
    ErrorKind Initialize(platform::EventHandle handle = nullptr, EventListener* listener = nullptr,
                         intptr_t parameter = 0);

    // Registers `handle` with `listener` (may be null) and `parameter`. Fails and
    // changes nothing when no thread runs, the set is full, memory runs out, the
    // handle is null or already registered, or the thread has ended.
    ErrorKind AddHandle(platform::EventHandle handle, EventListener* listener, intptr_t parameter);

    // Unregisters `handle` and hands it back: ReleaseHandle of its listener, and the
    // handle is closed when there is none or ReleaseHandle returns a negative code.
    // When the thread has ended already the handle is unregistered and handed back
    // all the same, with success.
    ErrorKind RemoveHandle(platform::EventHandle handle);

    // Stops the thread, waiting up to `limitMs`, then hands back every registration
    // and releases the thread handle. Never ends the thread forcibly: one that is
    // still inside Run at the limit is left to end by itself (kTimeout).
    // Success when the thread ended within the limit or none was started.
    ErrorKind Shutdown(uint32_t limitMs);

    // True while a thread handle is held: from a successful Initialize to Shutdown,
    // including after the thread ended early.
    bool IsRunning() const;

    // The number of registered handles, the stop and refresh events included.
    size_t HandleCount();

    uint32_t ThreadId() const { return threadId_; }

    // The exit code of the thread once it has ended: 0 after a stop, 1 after an
    // exception from Run or a failed wait. False while it runs or if it never ran.
    // After Shutdown it reports the code that Shutdown saw.
    bool GetExitCode(uint32_t* exitCode) const;

    struct SharedState;

private:
    ErrorKind AppendRegistration(platform::EventHandle handle, EventListener* listener,
                                 intptr_t parameter);
    ErrorKind Refresh();
    void ReleaseRegistration(platform::EventHandle handle, EventListener* listener);

    platform::ThreadHandle thread_ = nullptr;
    uint32_t threadId_ = 0;
    std::shared_ptr<SharedState> shared_;
    // Serialises the registrations and covers each one's refresh handshake. Only the
    // owner's thread takes it; the listener thread never does.
    platform::Lock setLock_;
    bool exitCodeKnown_ = false;
    uint32_t exitCode_ = 0;
};
