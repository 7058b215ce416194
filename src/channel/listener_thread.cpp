#include "channel/listener_thread.h"

#include <atomic>
#include <new>

#include "common/grow_array.h"

namespace {

constexpr int kStopSlot = 0;
constexpr int kRefreshSlot = 1;
constexpr int kFirstClientSlot = 2;

struct ClientEntry {
    EventListener* listener = nullptr;
    intptr_t parameter = 0;
};

// The thread's private copy of the set: fixed arrays, so that waking up allocates
// nothing.
struct SetCopy {
    platform::EventHandle handles[platform::kMaxWaitHandles];
    ClientEntry clients[platform::kMaxWaitHandles];
    int count;
};

}  // namespace

// Everything the listener thread touches besides the listeners themselves. The
// owner and the thread each hold a reference; the last one to let go closes the
// events. The arrays are written only by the owner while it holds its setLock_ and
// read by the thread only while that owner waits in the refresh handshake.
struct CListenerThread::SharedState {
    GrowArray<platform::EventHandle> waitHandles;
    GrowArray<ClientEntry> clients;
    platform::EventHandle stopEvent = nullptr;     // slot 0, auto-reset
    platform::EventHandle refreshEvent = nullptr;  // slot 1, auto-reset
    platform::EventHandle refreshDone = nullptr;   // auto-reset: a copy was taken
    platform::EventHandle threadEnded = nullptr;   // manual-reset: the loop is over
    // Set by Shutdown before it signals stopEvent. A thread that comes back from a
    // Run after its owner gave up waiting ends on it without waiting on its set
    // again, since the handles in that set may have been handed back meanwhile.
    std::atomic<bool> stopping{false};
    // The set as Initialize made it, before the thread existed: its first copy.
    SetCopy initial{};

    SharedState() = default;
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;
    ~SharedState() {
        platform::CloseEvent(stopEvent);
        platform::CloseEvent(refreshEvent);
        platform::CloseEvent(refreshDone);
        platform::CloseEvent(threadEnded);
    }
};

namespace {

using SharedState = CListenerThread::SharedState;

void TakeCopy(const SharedState& state, SetCopy& copy) {
    const size_t size = state.waitHandles.Size();
    copy.count = 0;
    for (int i = 0; i < platform::kMaxWaitHandles; ++i) {
        const bool used = static_cast<size_t>(i) < size;
        copy.handles[i] = used ? state.waitHandles[i] : nullptr;
        copy.clients[i] = used ? state.clients[i] : ClientEntry{};
        if (used) {
            copy.count = i + 1;
        }
    }
}

// The thread's loop; the result is its exit code.
uint32_t ListenLoop(SharedState& state) {
    SetCopy copy = state.initial;
    for (;;) {
        if (state.stopping.load(std::memory_order_acquire)) {
            return 0;
        }
        const int slot = platform::WaitForAnyEvent(copy.handles, copy.count, platform::kInfinite);
        if (slot == kStopSlot) {
            return 0;
        }
        if (slot == kRefreshSlot) {
            TakeCopy(state, copy);
            if (!platform::SignalEvent(state.refreshDone)) {
                return 1;
            }
            continue;
        }
        if (slot < kFirstClientSlot || slot >= copy.count) {
            return 1;  // a failed wait
        }
        const ClientEntry& client = copy.clients[slot];
        if (client.listener != nullptr) {
            try {
                client.listener->Run(client.parameter, copy.handles[slot]);
            } catch (...) {
                return 1;
            }
        }
    }
}

// The thread procedure. `argument` is a heap-allocated reference to the shared
// state, which the thread owns from here on. Nothing escapes it.
uint32_t ListenerThreadProc(void* argument) {
    auto* state = static_cast<std::shared_ptr<SharedState>*>(argument);
    uint32_t code = 1;
    try {
        code = ListenLoop(**state);
    } catch (...) {
        code = 1;
    }
    platform::SignalEvent((*state)->threadEnded);
    // The last use of the state on this thread: when the owner has let go already
    // (a Shutdown that timed out), this closes the events.
    delete state;
    return code;
}

}  // namespace

CListenerThread::CListenerThread() = default;

CListenerThread::~CListenerThread() {
    Shutdown(kListenerShutdownLimitMs);
}

ErrorKind CListenerThread::Initialize(platform::EventHandle handle, EventListener* listener,
                                      intptr_t parameter) {
    if (shared_) {
        return ErrorKind::kState;  // started already and not shut down
    }
    std::shared_ptr<SharedState> state;
    try {
        state = std::make_shared<SharedState>();
    } catch (const std::bad_alloc&) {
        return ErrorKind::kMemory;
    }
    state->refreshDone = platform::NewEvent(false, false);
    state->threadEnded = platform::NewEvent(true, false);
    state->stopEvent = platform::NewEvent(false, false);
    state->refreshEvent = platform::NewEvent(false, false);
    if (state->refreshDone == nullptr || state->threadEnded == nullptr ||
        state->stopEvent == nullptr || state->refreshEvent == nullptr) {
        return ErrorKind::kSystem;  // the state closes what was made
    }
    {
        // The thread does not exist yet: the set is made and copied for it here, and
        // it starts waiting on the copy without a handshake.
        platform::LockGuard guard(setLock_);
        const platform::EventHandle handles[3] = {state->stopEvent, state->refreshEvent, handle};
        const ClientEntry clients[3] = {{}, {}, {listener, parameter}};
        for (int i = 0; i < (handle != nullptr ? 3 : 2); ++i) {
            if (!state->waitHandles.Append(handles[i]) || !state->clients.Append(clients[i])) {
                return ErrorKind::kMemory;
            }
        }
        TakeCopy(*state, state->initial);
    }
    auto* threadReference = new (std::nothrow) std::shared_ptr<SharedState>(state);
    if (threadReference == nullptr) {
        return ErrorKind::kMemory;
    }
    uint32_t threadId = 0;
    platform::ThreadHandle thread =
        platform::StartThread(ListenerThreadProc, threadReference, &threadId);
    if (thread == nullptr) {
        delete threadReference;
        return ErrorKind::kSystem;
    }
    shared_ = state;
    thread_ = thread;
    threadId_ = threadId;
    exitCodeKnown_ = false;
    return ErrorKind::kNone;
}

ErrorKind CListenerThread::AddHandle(platform::EventHandle handle, EventListener* listener,
                                     intptr_t parameter) {
    if (handle == nullptr) {
        return ErrorKind::kState;
    }
    platform::LockGuard guard(setLock_);
    if (thread_ == nullptr || !shared_) {
        return ErrorKind::kState;
    }
    // A handle may sit in the set once only: a wait on the same handle twice fails
    // on Windows, and that would end the thread.
    for (platform::EventHandle registered : shared_->waitHandles) {
        if (registered == handle) {
            return ErrorKind::kState;
        }
    }
    return AppendRegistration(handle, listener, parameter);
}

ErrorKind CListenerThread::AppendRegistration(platform::EventHandle handle, EventListener* listener,
                                              intptr_t parameter) {
    SharedState& state = *shared_;
    if (state.waitHandles.Size() >= static_cast<size_t>(platform::kMaxWaitHandles)) {
        return ErrorKind::kState;
    }
    if (!state.waitHandles.Append(handle)) {
        return ErrorKind::kMemory;
    }
    if (!state.clients.Append(ClientEntry{listener, parameter})) {
        state.waitHandles.RemoveLast();
        return ErrorKind::kMemory;
    }
    if (state.waitHandles.Size() <= static_cast<size_t>(kFirstClientSlot)) {
        return ErrorKind::kNone;
    }
    const ErrorKind result = Refresh();
    if (result != ErrorKind::kNone) {
        // Nobody watches the new handle: leave the set as it was, and the handle
        // with the caller.
        state.waitHandles.RemoveLast();
        state.clients.RemoveLast();
    }
    return result;
}

ErrorKind CListenerThread::Refresh() {
    SharedState& state = *shared_;
    if (!platform::SignalEvent(state.refreshEvent)) {
        return ErrorKind::kSystem;
    }
    // The thread answers once it is back at its wait with the new copy. A thread that
    // has ended answers nothing, and its end event says so instead.
    const platform::EventHandle answers[2] = {state.refreshDone, state.threadEnded};
    switch (platform::WaitForAnyEvent(answers, 2, platform::kInfinite)) {
        case 0:
            return ErrorKind::kNone;
        case 1:
            return ErrorKind::kClosed;
        default:
            return ErrorKind::kSystem;
    }
}

ErrorKind CListenerThread::RemoveHandle(platform::EventHandle handle) {
    platform::LockGuard guard(setLock_);
    if (!shared_ || handle == nullptr) {
        return ErrorKind::kState;
    }
    SharedState& state = *shared_;
    // The stop and refresh events cannot be unregistered.
    size_t slot = kFirstClientSlot;
    while (slot < state.waitHandles.Size() && state.waitHandles[slot] != handle) {
        ++slot;
    }
    if (slot >= state.waitHandles.Size()) {
        return ErrorKind::kState;
    }
    const ClientEntry client = state.clients[slot];
    state.waitHandles.RemoveAt(slot);
    state.clients.RemoveAt(slot);

    ErrorKind result = thread_ != nullptr ? Refresh() : ErrorKind::kNone;
    if (result == ErrorKind::kClosed) {
        result = ErrorKind::kNone;  // no thread waits on the handle any more
    }
    if (result != ErrorKind::kNone) {
        // The thread may still wait on the handle: it stays registered (at the end
        // of the set; the arrays have room, as one slot was just freed) and is handed
        // back by Shutdown once the thread has ended.
        state.waitHandles.Append(handle);
        state.clients.Append(client);
        return result;
    }
    ReleaseRegistration(handle, client.listener);
    return ErrorKind::kNone;
}

void CListenerThread::ReleaseRegistration(platform::EventHandle handle, EventListener* listener) {
    if (listener == nullptr || listener->ReleaseHandle(handle) < 0) {
        platform::CloseEvent(handle);
    }
}

ErrorKind CListenerThread::Shutdown(uint32_t limitMs) {
    if (!shared_) {
        return ErrorKind::kNone;  // never initialised, or shut down already
    }
    std::shared_ptr<SharedState> state = std::move(shared_);
    ErrorKind result = ErrorKind::kNone;
    if (thread_ != nullptr) {
        state->stopping.store(true, std::memory_order_release);
        platform::SignalEvent(state->stopEvent);
        const int ended = platform::WaitForThread(thread_, limitMs);
        if (ended == 0) {
            exitCodeKnown_ = platform::GetThreadExitCode(thread_, &exitCode_);
        } else {
            result = ended == platform::kWaitTimeout ? ErrorKind::kTimeout : ErrorKind::kSystem;
        }
    }
    {
        platform::LockGuard guard(setLock_);
        // Hand back every registration in slot order. The stop and refresh events
        // belong to the shared state, which closes them once the thread is done too.
        for (size_t i = 0; i < state->waitHandles.Size(); ++i) {
            const platform::EventHandle handle = state->waitHandles[i];
            if (handle != state->stopEvent && handle != state->refreshEvent) {
                ReleaseRegistration(handle, state->clients[i].listener);
            }
        }
        state->waitHandles.Clear();
        state->clients.Clear();
    }
    if (thread_ != nullptr) {
        // A thread still running goes on detached, holding its own reference.
        platform::CloseThread(thread_);
        thread_ = nullptr;
        threadId_ = 0;
    }
    return result;
}

bool CListenerThread::IsRunning() const {
    return thread_ != nullptr;
}

size_t CListenerThread::HandleCount() {
    platform::LockGuard guard(setLock_);
    return shared_ ? shared_->waitHandles.Size() : 0;
}

bool CListenerThread::GetExitCode(uint32_t* exitCode) const {
    if (thread_ != nullptr) {
        return platform::GetThreadExitCode(thread_, exitCode);
    }
    if (exitCodeKnown_ && exitCode != nullptr) {
        *exitCode = exitCode_;
    }
    return exitCodeKnown_;
}
