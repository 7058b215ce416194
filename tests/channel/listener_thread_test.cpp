#include "channel/listener_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include "channel/connection_fixture.h"

namespace {

using platform::EventHandle;
using varnel_test::Eventually;
constexpr ErrorKind kOk = ErrorKind::kNone;

EventHandle NewEvent() {
    return platform::NewEvent(false, false);
}

// Counts its runs and the handles given back, keeping the last of each; `onRun` (set
// before the thread starts) runs inside Run.
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

// The thread runs the listener each time its handle is set; a thread cannot be started
// twice; destruction waits for a run under way and hands the handle back. (A thread or
// an event that cannot be made: SystemRefusals in fault_test.cpp.)
TEST(ListenerThread, RunsTheListenerAndHandsItsHandleBack) {
    static std::atomic<bool> ran{false};
    RecordingListener listener;
    listener.onRun = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ran = true;
    };
    EventHandle handle = NewEvent();
    {
        CListenerThread thread;
        ASSERT_EQ(thread.Initialize(handle, &listener, 5), kOk);
        EXPECT_EQ(thread.Initialize(), ErrorKind::kState);
        ASSERT_TRUE(platform::SignalEvent(handle));
        EXPECT_TRUE(Eventually([&] { return listener.runs == 1; }) && listener.lastRun == 5);
    }
    EXPECT_TRUE(ran);
    EXPECT_TRUE(listener.releases == 1 && listener.released == handle);
    platform::CloseEvent(handle);
}

// An exception from Run ends the thread with code 1, and nothing waits for it.
TEST(ListenerThread, ExceptionFromRunEndsTheThread) {
    RecordingListener thrower;
    thrower.onRun = [] { throw std::runtime_error("listener failed"); };
    EventHandle handle = NewEvent();
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(handle, &thrower, 0), kOk);
    ASSERT_TRUE(platform::SignalEvent(handle));
    uint32_t code = 0;
    EXPECT_TRUE(Eventually([&] { return thread.GetExitCode(&code); }) && code == 1);
    EXPECT_EQ(thread.Shutdown(10000), kOk);
    EXPECT_TRUE(thrower.releases == 1 && thrower.released == handle);
    platform::CloseEvent(handle);
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
        ASSERT_EQ(thread.Initialize(handle, stuck, 0), kOk);
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
