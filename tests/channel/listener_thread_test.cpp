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

EventHandle NewEvent() {
    return platform::NewEvent(false, false);
}

// Records every call; `onRun` (set before registering) runs inside Run.
class RecordingListener : public EventListener {
public:
    explicit RecordingListener(int32_t releaseResult = 0) : releaseResult_(releaseResult) {}
    int32_t Run(intptr_t parameter, EventHandle handle) override {
        size_t n;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            runs_.emplace_back(parameter, handle);
            n = runs_.size();
        }
        changed_.notify_all();
        if (onRun) {
            onRun(n);
        }
        return 0;
    }
    int32_t ReleaseHandle(EventHandle handle) override {
        std::lock_guard<std::mutex> guard(mutex_);
        released_.push_back(handle);
        return releaseResult_;
    }
    bool WaitForRuns(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return runs_.size() >= n; });
    }
    std::vector<std::pair<intptr_t, EventHandle>> Runs() {
        std::lock_guard<std::mutex> guard(mutex_);
        return runs_;
    }
    Handles Released() {
        std::lock_guard<std::mutex> guard(mutex_);
        return released_;
    }
    std::function<void(size_t)> onRun;

private:
    int32_t releaseResult_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<intptr_t, EventHandle>> runs_;
    Handles released_;
};

// Registration needs a running thread; an event or the thread that cannot be made
// leaves nothing behind and a later Initialize works; destruction shuts down and
// hands the handles back.
TEST(ListenerThread, Lifecycle) {
    RecordingListener listener;
    EventHandle handle = NewEvent();
    {
        CListenerThread thread;
        EXPECT_EQ(thread.AddHandle(handle, &listener, 1), ErrorKind::kState);
        EXPECT_EQ(thread.RemoveHandle(handle), ErrorKind::kState);
        EXPECT_EQ(thread.Shutdown(10000), kOk);
        for (int nth = 1; nth <= 5; ++nth) {  // each of the four events, then the thread
            platform::FailSystemCall(
                nth < 5 ? platform::SystemCall::kEvent : platform::SystemCall::kThread,
                nth < 5 ? nth : 1);
            EXPECT_EQ(thread.Initialize(), ErrorKind::kSystem);
            platform::ResetSystemCalls();
            EXPECT_FALSE(thread.IsRunning());
            EXPECT_EQ(thread.HandleCount(), 0u);
        }
        ASSERT_EQ(thread.Initialize(), kOk);
        EXPECT_TRUE(thread.IsRunning());
        EXPECT_EQ(thread.Initialize(), ErrorKind::kState);
        EXPECT_EQ(thread.Shutdown(10000), kOk);
        EXPECT_FALSE(thread.IsRunning());
        uint32_t code = 99;
        ASSERT_TRUE(thread.GetExitCode(&code));
        EXPECT_EQ(code, 0u);
        ASSERT_EQ(thread.Initialize(), kOk);
        ASSERT_EQ(thread.AddHandle(handle, &listener, 0), kOk);
    }
    EXPECT_EQ(listener.Released(), Handles{handle});
    platform::CloseEvent(handle);
}

// A handle that stays set is run again; RemoveHandle returns once the thread is back
// at its wait, so no further run can be on its way.
TEST(ListenerThread, HandleThatStaysSignalledIsRunAgain) {
    RecordingListener listener;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle handle = platform::NewEvent(true, false);
    listener.onRun = [handle](size_t n) {
        if (n == 5) {
            platform::ClearEvent(handle);
        }
    };
    ASSERT_EQ(thread.AddHandle(handle, &listener, 0), kOk);
    ASSERT_TRUE(platform::SignalEvent(handle));
    ASSERT_TRUE(listener.WaitForRuns(5));
    EXPECT_EQ(thread.RemoveHandle(handle), kOk);
    EXPECT_EQ(listener.Runs().size(), 5u);
    platform::CloseEvent(handle);
}

TEST(ListenerThread, AddHandleWaitsUntilTheThreadHasTheNewSet) {
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    RecordingListener busy, added;
    busy.onRun = [open](size_t) { open.wait(); };
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle busyHandle = NewEvent(), addedHandle = NewEvent();
    ASSERT_EQ(thread.AddHandle(busyHandle, &busy, 1), kOk);
    ASSERT_TRUE(platform::SignalEvent(busyHandle));
    ASSERT_TRUE(busy.WaitForRuns(1));  // the thread is inside Run
    std::future<ErrorKind> adding =
        std::async(std::launch::async, [&] { return thread.AddHandle(addedHandle, &added, 2); });
    EXPECT_EQ(adding.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    ASSERT_TRUE(platform::SignalEvent(addedHandle));
    gate.set_value();
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
    RecordingListener keeps(0), gives(-1);  // the thread object closes what `gives` refuses
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    Handles handles;
    for (intptr_t i = 0; i < 62; ++i) {
        handles.push_back(NewEvent());
        ASSERT_EQ(thread.AddHandle(handles.back(), i % 2 == 0 ? &keeps : &gives, i), kOk);
    }
    EXPECT_EQ(thread.HandleCount(), 64u);
    EventHandle extra = NewEvent();
    EXPECT_EQ(thread.AddHandle(extra, &keeps, 99), ErrorKind::kState);      // full
    EXPECT_EQ(thread.AddHandle(handles[0], &keeps, 0), ErrorKind::kState);  // twice
    EXPECT_EQ(thread.AddHandle(nullptr, &keeps, 0), ErrorKind::kState);
    ASSERT_TRUE(platform::SignalEvent(handles.back()));  // the last slot is watched too
    ASSERT_TRUE(gives.WaitForRuns(1));
    EXPECT_EQ(gives.Runs()[0].first, 61);
    EXPECT_EQ(thread.RemoveHandle(handles[0]), kOk);
    EXPECT_EQ(thread.RemoveHandle(handles[0]), ErrorKind::kState);
    ASSERT_TRUE(platform::SignalEvent(handles[0]));   // no longer watched
    EXPECT_EQ(thread.RemoveHandle(handles[1]), kOk);  // a handshake with the thread
    EXPECT_TRUE(keeps.Runs().empty());
    EXPECT_EQ(platform::WaitForEvent(handles[0], 0), 0);
    EventHandle bare = NewEvent();
    ASSERT_EQ(thread.AddHandle(bare, nullptr, 0), kOk);
    EXPECT_EQ(thread.RemoveHandle(bare), kOk);  // no listener: closed
    ASSERT_EQ(thread.AddHandle(extra, &keeps, 99), kOk);
    ASSERT_TRUE(platform::SignalEvent(extra));
    ASSERT_TRUE(keeps.WaitForRuns(1));
    EXPECT_EQ(keeps.Runs()[0].first, 99);
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    Handles kept{handles[0]}, given{handles[1]};
    for (size_t i = 2; i < handles.size(); ++i) {
        (i % 2 == 0 ? kept : given).push_back(handles[i]);
    }
    kept.push_back(extra);
    EXPECT_EQ(keeps.Released(), kept);
    EXPECT_EQ(gives.Released(), given);
    for (EventHandle handle : kept) {
        platform::CloseEvent(handle);
    }
}

// An exception from Run ends the thread with code 1, and nothing waits for it.
TEST(ListenerThread, ExceptionFromRunEndsTheThread) {
    RecordingListener thrower, other;
    thrower.onRun = [](size_t) { throw std::runtime_error("listener failed"); };
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle handle = NewEvent(), late = NewEvent();
    ASSERT_EQ(thread.AddHandle(handle, &thrower, 0), kOk);
    ASSERT_TRUE(platform::SignalEvent(handle));
    uint32_t code = 0;
    for (int i = 0; i < 10000 && !thread.GetExitCode(&code); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(thread.AddHandle(late, &other, 0), ErrorKind::kClosed);
    EXPECT_EQ(thread.HandleCount(), 3u);
    EXPECT_TRUE(other.Released().empty());
    EXPECT_EQ(thread.RemoveHandle(handle), kOk);
    EXPECT_EQ(thrower.Released(), Handles{handle});
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    platform::CloseEvent(handle);
    platform::CloseEvent(late);
}

// A shutdown that times out hands everything back at once; the thread, still inside
// Run, ends on its own later without touching what it was given back.
TEST(ListenerThread, ShutdownTimeOutLeavesTheThreadItsOwnState) {
    // Never destroyed: the thread outlives the object.
    static auto* gate = new std::promise<void>;
    static auto* left = new std::promise<void>;
    static auto* stuck = new RecordingListener;
    stuck->onRun = [](size_t) {
        gate->get_future().wait();
        left->set_value();
    };
    EventHandle handle = NewEvent();
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
    platform::CloseEvent(handle);
    gate->set_value();
    left->get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(stuck->Runs().size(), 1u);
}

}  // namespace
