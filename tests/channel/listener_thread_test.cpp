#include "channel/listener_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/system_calls.h"

namespace {

using platform::EventHandle;
using Handles = std::vector<EventHandle>;
constexpr ErrorKind kOk = ErrorKind::kNone;

// Generous bound for things that happen at once; a miss means a hang, not slowness.
constexpr std::chrono::seconds kPatience(10);

// Opened once; Wait returns once it is open.
struct Gate {
    std::promise<void> opened;
    std::shared_future<void> open = opened.get_future().share();
    void Open() { opened.set_value(); }
    void Wait() { open.wait(); }
};

// Records every call. `onRun` (set before registering) runs inside Run.
class RecordingListener : public EventListener {
public:
    explicit RecordingListener(int32_t releaseResult = 0) : releaseResult_(releaseResult) {}

    int32_t Run(intptr_t parameter, EventHandle handle) override {
        size_t runNumber;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            runs_.emplace_back(parameter, handle);
            runNumber = runs_.size();
        }
        changed_.notify_all();
        if (onRun) {
            onRun(runNumber);
        }
        return 0;
    }
    int32_t ReleaseHandle(EventHandle handle) override {
        std::lock_guard<std::mutex> guard(mutex_);
        released_.push_back(handle);
        return releaseResult_;
    }
    bool WaitForRuns(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return runs_.size() >= count; });
    }
    std::vector<std::pair<intptr_t, EventHandle>> Runs() {
        std::lock_guard<std::mutex> guard(mutex_);
        return runs_;
    }
    Handles Released() {
        std::lock_guard<std::mutex> guard(mutex_);
        return released_;
    }

    std::function<void(size_t runNumber)> onRun;

private:
    int32_t releaseResult_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<intptr_t, EventHandle>> runs_;
    Handles released_;
};

TEST(ListenerThread, LifecycleAndHandingBack) {
    RecordingListener listener;
    EventHandle handle = platform::NewEvent(false, false);
    {
        CListenerThread thread;  // never started: nothing can be registered
        EXPECT_EQ(thread.AddHandle(handle, &listener, 1), ErrorKind::kState);
        EXPECT_EQ(thread.RemoveHandle(handle), ErrorKind::kState);
        EXPECT_EQ(thread.Shutdown(10000), kOk);
        ASSERT_EQ(thread.Initialize(), kOk);
        EXPECT_TRUE(thread.IsRunning());
        EXPECT_EQ(thread.Initialize(), ErrorKind::kState);
        EXPECT_EQ(thread.Shutdown(10000), kOk);
        EXPECT_FALSE(thread.IsRunning());
        uint32_t code = 99;
        ASSERT_TRUE(thread.GetExitCode(&code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(listener.Released().empty());
    }
    {
        // Destruction shuts down and hands the handle back.
        CListenerThread thread;
        ASSERT_EQ(thread.Initialize(), kOk);
        ASSERT_EQ(thread.AddHandle(handle, &listener, 0), kOk);
    }
    EXPECT_EQ(listener.Released(), Handles{handle});
    platform::CloseEvent(handle);
}

// An event or the thread cannot be made: Initialize undoes what it made, and a later
// one works.
TEST(ListenerThread, InitializeFailures) {
    const struct {
        platform::SystemCall call;
        int nth;
    } cases[] = {{platform::SystemCall::kEvent, 1},
                 {platform::SystemCall::kEvent, 2},
                 {platform::SystemCall::kEvent, 3},
                 {platform::SystemCall::kEvent, 4},
                 {platform::SystemCall::kThread, 1}};
    CListenerThread thread;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nth);
        platform::FailSystemCall(c.call, c.nth);
        EXPECT_EQ(thread.Initialize(), ErrorKind::kSystem);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(thread.HandleCount(), 0u);
        platform::ResetSystemCalls();
    }
    EXPECT_EQ(thread.Initialize(), kOk);
}

TEST(ListenerThread, HandleThatStaysSignalledIsRunAgain) {
    RecordingListener listener;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle handle = platform::NewEvent(true, false);
    listener.onRun = [handle](size_t runNumber) {
        if (runNumber == 5) {
            platform::ClearEvent(handle);
        }
    };
    ASSERT_EQ(thread.AddHandle(handle, &listener, 0), kOk);
    ASSERT_TRUE(platform::SignalEvent(handle));
    ASSERT_TRUE(listener.WaitForRuns(5));
    // RemoveHandle returns only once the thread is back at its wait, so no sixth
    // call can still be on its way.
    EXPECT_EQ(thread.RemoveHandle(handle), kOk);
    EXPECT_EQ(listener.Runs().size(), 5u);
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    platform::CloseEvent(handle);
}

TEST(ListenerThread, AddHandleWaitsUntilTheThreadHasTheNewSet) {
    Gate gate;
    RecordingListener busy;
    busy.onRun = [&gate](size_t) { gate.Wait(); };
    RecordingListener added;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle busyHandle = platform::NewEvent(false, false);
    EventHandle addedHandle = platform::NewEvent(false, false);
    ASSERT_EQ(thread.AddHandle(busyHandle, &busy, 1), kOk);
    ASSERT_TRUE(platform::SignalEvent(busyHandle));
    ASSERT_TRUE(busy.WaitForRuns(1));  // the thread is inside Run now
    std::future<ErrorKind> adding =
        std::async(std::launch::async, [&] { return thread.AddHandle(addedHandle, &added, 2); });
    EXPECT_EQ(adding.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "AddHandle returned while the thread was still inside Run";
    ASSERT_TRUE(platform::SignalEvent(addedHandle));  // waits until the set is re-copied
    gate.Open();
    EXPECT_EQ(adding.get(), kOk);
    ASSERT_TRUE(added.WaitForRuns(1));
    EXPECT_EQ(added.Runs()[0], std::make_pair(intptr_t{2}, addedHandle));
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    platform::CloseEvent(busyHandle);
    platform::CloseEvent(addedHandle);
}

// 64 handles at most, each once; removing hands a handle back to its listener, or
// closes it when the listener does not take it or there is none; shutting down hands
// the rest back in slot order.
TEST(ListenerThread, RegistrationsAndTheirRelease) {
    RecordingListener keeps(0);
    RecordingListener gives(-1);  // the thread object closes these
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    Handles handles;
    for (intptr_t i = 0; i < 62; ++i) {
        handles.push_back(platform::NewEvent(false, false));
        ASSERT_EQ(thread.AddHandle(handles.back(), i % 2 == 0 ? &keeps : &gives, i), kOk);
    }
    EXPECT_EQ(thread.HandleCount(), 64u);
    EventHandle extra = platform::NewEvent(false, false);
    EXPECT_EQ(thread.AddHandle(extra, &keeps, 99), ErrorKind::kState);      // full
    EXPECT_EQ(thread.AddHandle(handles[0], &keeps, 0), ErrorKind::kState);  // twice
    EXPECT_EQ(thread.AddHandle(nullptr, &keeps, 0), ErrorKind::kState);
    EXPECT_EQ(thread.HandleCount(), 64u);
    // The last slot is watched too.
    ASSERT_TRUE(platform::SignalEvent(handles.back()));
    ASSERT_TRUE(gives.WaitForRuns(1));
    EXPECT_EQ(gives.Runs()[0].first, 61);

    // A removed handle is no longer watched: setting it calls nothing.
    EXPECT_EQ(thread.RemoveHandle(handles[0]), kOk);
    EXPECT_EQ(thread.RemoveHandle(handles[0]), ErrorKind::kState);
    EXPECT_EQ(keeps.Released(), Handles{handles[0]});
    ASSERT_TRUE(platform::SignalEvent(handles[0]));
    EXPECT_EQ(thread.RemoveHandle(handles[1]), kOk);  // a handshake with the thread
    EXPECT_EQ(gives.Released(), Handles{handles[1]});
    EXPECT_TRUE(keeps.Runs().empty());
    EXPECT_EQ(platform::WaitForEvent(handles[0], 0), 0);
    EventHandle bare = platform::NewEvent(false, false);
    ASSERT_EQ(thread.AddHandle(bare, nullptr, 0), kOk);
    EXPECT_EQ(thread.RemoveHandle(bare), kOk);  // no listener: closed
    ASSERT_EQ(thread.AddHandle(extra, &keeps, 99), kOk);
    ASSERT_TRUE(platform::SignalEvent(extra));
    ASSERT_TRUE(keeps.WaitForRuns(1));
    EXPECT_EQ(keeps.Runs()[0].first, 99);

    EXPECT_EQ(thread.Shutdown(10000), kOk);
    Handles expectKept{handles[0]};
    Handles expectGiven{handles[1]};
    for (size_t i = 2; i < handles.size(); ++i) {
        (i % 2 == 0 ? expectKept : expectGiven).push_back(handles[i]);
    }
    expectKept.push_back(extra);
    EXPECT_EQ(keeps.Released(), expectKept);
    EXPECT_EQ(gives.Released(), expectGiven);
    for (EventHandle handle : expectKept) {
        platform::CloseEvent(handle);
    }
}

TEST(ListenerThread, ExceptionFromRunEndsTheThreadAndNothingWaitsForIt) {
    RecordingListener thrower;
    thrower.onRun = [](size_t) { throw std::runtime_error("listener failed"); };
    RecordingListener other;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle handle = platform::NewEvent(false, false);
    EventHandle late = platform::NewEvent(false, false);
    ASSERT_EQ(thread.AddHandle(handle, &thrower, 0), kOk);
    ASSERT_TRUE(platform::SignalEvent(handle));
    uint32_t code = 0;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!thread.GetExitCode(&code) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_EQ(thread.AddHandle(late, &other, 0), ErrorKind::kClosed);
    EXPECT_EQ(thread.HandleCount(), 3u);
    EXPECT_TRUE(other.Released().empty());
    EXPECT_EQ(thread.RemoveHandle(handle), kOk);
    EXPECT_EQ(thrower.Released(), Handles{handle});
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    EXPECT_FALSE(thread.IsRunning());
    platform::CloseEvent(handle);
    platform::CloseEvent(late);
}

TEST(ListenerThread, ShutdownTimeOutLeavesTheThreadItsOwnState) {
    // The listener and its gates outlive the thread object on purpose, and are
    // never destroyed: the thread is still inside Run when the object is gone.
    static Gate* gate = new Gate;
    static Gate* left = new Gate;
    static RecordingListener* stuck = new RecordingListener;
    stuck->onRun = [](size_t) {
        gate->Wait();
        left->Open();
    };
    EventHandle handle = platform::NewEvent(false, false);
    {
        CListenerThread thread;
        ASSERT_EQ(thread.Initialize(), kOk);
        ASSERT_EQ(thread.AddHandle(handle, stuck, 0), kOk);
        ASSERT_TRUE(platform::SignalEvent(handle));
        ASSERT_TRUE(stuck->WaitForRuns(1));
        EXPECT_EQ(thread.Shutdown(50), ErrorKind::kTimeout);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(thread.HandleCount(), 0u);
        EXPECT_EQ(stuck->Released(), Handles{handle});
    }
    // The object is destroyed; let Run return. The thread must end on its own
    // without waiting on (or touching) anything it was given back.
    platform::CloseEvent(handle);
    gate->Open();
    left->Wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it finish
    EXPECT_EQ(stuck->Runs().size(), 1u);
}

}  // namespace
