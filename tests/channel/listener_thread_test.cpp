#include "channel/listener_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include "platform/system_calls.h"

namespace {

using platform::EventHandle;
constexpr ErrorKind kOk = ErrorKind::kNone;

EventHandle NewEvent() {
    return platform::NewEvent(false, false);
}

template <class Condition>
bool Eventually(Condition condition) {  // within ten seconds
    for (int i = 0; i < 10000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

// Counts its runs and the handles given back, keeping the last of each; `onRun` (set
// before registering) runs inside Run.
struct RecordingListener : EventListener {
    int32_t Run(intptr_t parameter, EventHandle) override {
        lastRun = parameter;
        ++runs;
        if (onRun) {
            onRun();
        }
        return 0;
    }
    int32_t ReleaseHandle(EventHandle handle) override {
        released = handle;
        ++releases;
        return 0;
    }
    std::atomic<intptr_t> lastRun{-1};
    std::atomic<int> runs{0}, releases{0};
    std::atomic<EventHandle> released{nullptr};
    std::function<void()> onRun;
};

// Registration needs a running thread; an event or the thread that cannot be made
// leaves nothing behind and a later Initialize works; a handle is registered once and
// run when set; destruction waits for a run under way and hands the handles back. (The
// connection registers one handle: the set's limit of 64 is the platform's.)
TEST(ListenerThread, Lifecycle) {
    static std::atomic<bool> ran{false};
    RecordingListener listener;
    listener.onRun = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ran = true;
    };
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
        EXPECT_TRUE(thread.GetExitCode(&code) && code == 0);
        ASSERT_EQ(thread.Initialize(), kOk);
        ASSERT_EQ(thread.AddHandle(handle, &listener, 5), kOk);
        EXPECT_EQ(thread.AddHandle(handle, &listener, 0), ErrorKind::kState);  // once only
        EXPECT_EQ(thread.AddHandle(nullptr, &listener, 0), ErrorKind::kState);
        ASSERT_TRUE(platform::SignalEvent(handle));
        EXPECT_TRUE(Eventually([&] { return listener.runs == 1; }) && listener.lastRun == 5);
    }
    EXPECT_TRUE(ran);
    EXPECT_TRUE(listener.releases == 1 && listener.released == handle);
    platform::CloseEvent(handle);
}

// An exception from Run ends the thread with code 1, and nothing waits for it;
// removing a handle hands it back.
TEST(ListenerThread, ExceptionFromRunEndsTheThread) {
    RecordingListener thrower, other;
    thrower.onRun = [] { throw std::runtime_error("listener failed"); };
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), kOk);
    EventHandle handle = NewEvent(), late = NewEvent();
    ASSERT_EQ(thread.AddHandle(handle, &thrower, 0), kOk);
    ASSERT_TRUE(platform::SignalEvent(handle));
    uint32_t code = 0;
    EXPECT_TRUE(Eventually([&] { return thread.GetExitCode(&code); }) && code == 1);
    EXPECT_EQ(thread.AddHandle(late, &other, 0), ErrorKind::kClosed);
    EXPECT_EQ(thread.HandleCount(), 3u);
    EXPECT_EQ(thread.RemoveHandle(handle), kOk);
    EXPECT_TRUE(thrower.releases == 1 && thrower.released == handle);
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    EXPECT_EQ(other.releases, 0);
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
    stuck->onRun = [] {
        gate->get_future().wait();
        left->set_value();
    };
    EventHandle handle = NewEvent();
    {
        CListenerThread thread;
        ASSERT_EQ(thread.Initialize(), kOk);
        ASSERT_EQ(thread.AddHandle(handle, stuck, 0), kOk);
        ASSERT_TRUE(platform::SignalEvent(handle));
        ASSERT_TRUE(Eventually([] { return stuck->runs == 1; }));
        EXPECT_EQ(thread.Shutdown(50), ErrorKind::kTimeout);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(thread.HandleCount(), 0u);
        EXPECT_TRUE(stuck->releases == 1 && stuck->released == handle);
    }
    platform::CloseEvent(handle);
    gate->set_value();
    left->get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(stuck->runs, 1);
}

}  // namespace
