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

namespace {

using platform::EventHandle;
using std::chrono::seconds;

// Generous bound for things that happen at once; a miss means a hang, not slowness.
constexpr seconds kPatience(10);

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
    std::vector<EventHandle> Released() {
        std::lock_guard<std::mutex> guard(mutex_);
        return released_;
    }

    std::function<void(size_t runNumber)> onRun;

private:
    int32_t releaseResult_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<intptr_t, EventHandle>> runs_;
    std::vector<EventHandle> released_;
};

bool WaitForExitCode(const CListenerThread& thread, uint32_t* code) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!thread.GetExitCode(code)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(ListenerThread, ShutdownAndDestructionEndTheThreadAndHandBackItsHandles) {
    RecordingListener listener;
    EventHandle handle = platform::NewEvent(false, false);
    {
        CListenerThread thread;
        ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
        EXPECT_TRUE(thread.IsRunning());
        EXPECT_EQ(thread.Initialize(), ErrorKind::kState);
        EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
        EXPECT_FALSE(thread.IsRunning());
        uint32_t code = 99;
        ASSERT_TRUE(thread.GetExitCode(&code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);  // nothing left to release
    }
    {
        CListenerThread thread;
        ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
        ASSERT_EQ(thread.AddHandle(handle, &listener, 0), ErrorKind::kNone);
    }
    EXPECT_EQ(listener.Released(), std::vector<EventHandle>{handle});
    platform::CloseEvent(handle);
}

TEST(ListenerThread, WithoutInitializeNothingIsRegistered) {
    CListenerThread thread;
    EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
    EXPECT_FALSE(thread.IsRunning());
    uint32_t code = 0;
    EXPECT_FALSE(thread.GetExitCode(&code));

    RecordingListener listener;
    EventHandle handle = platform::NewEvent(false, false);
    EXPECT_EQ(thread.AddHandle(handle, &listener, 1), ErrorKind::kState);
    EXPECT_EQ(thread.RemoveHandle(handle), ErrorKind::kState);
    EXPECT_EQ(thread.HandleCount(), 0u);
    EXPECT_TRUE(listener.Released().empty());
    platform::CloseEvent(handle);  // still the caller's
}

TEST(ListenerThread, HandleThatStaysSignalledIsRunAgain) {
    RecordingListener listener;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
    EventHandle handle = platform::NewEvent(true, false);
    listener.onRun = [handle](size_t runNumber) {
        if (runNumber == 5) {
            platform::ClearEvent(handle);
        }
    };
    ASSERT_EQ(thread.AddHandle(handle, &listener, 0), ErrorKind::kNone);
    ASSERT_TRUE(platform::SignalEvent(handle));
    ASSERT_TRUE(listener.WaitForRuns(5));
    // RemoveHandle returns only once the thread is back at its wait, so no sixth
    // call can still be on its way.
    EXPECT_EQ(thread.RemoveHandle(handle), ErrorKind::kNone);
    EXPECT_EQ(listener.Runs().size(), 5u);
    EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
    platform::CloseEvent(handle);
}

TEST(ListenerThread, AddHandleWaitsUntilTheThreadHasTheNewSet) {
    Gate gate;
    RecordingListener busy;
    busy.onRun = [&gate](size_t) { gate.Wait(); };
    RecordingListener added;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
    EventHandle busyHandle = platform::NewEvent(false, false);
    EventHandle addedHandle = platform::NewEvent(false, false);
    ASSERT_EQ(thread.AddHandle(busyHandle, &busy, 1), ErrorKind::kNone);
    ASSERT_TRUE(platform::SignalEvent(busyHandle));
    ASSERT_TRUE(busy.WaitForRuns(1));  // the thread is inside Run now

    std::future<ErrorKind> adding =
        std::async(std::launch::async, [&] { return thread.AddHandle(addedHandle, &added, 2); });
    EXPECT_EQ(adding.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "AddHandle returned while the thread was still inside Run";
    ASSERT_TRUE(platform::SignalEvent(addedHandle));  // waits until the set is re-copied
    gate.Open();
    EXPECT_EQ(adding.get(), ErrorKind::kNone);
    ASSERT_TRUE(added.WaitForRuns(1));
    EXPECT_EQ(added.Runs()[0].first, 2);
    EXPECT_EQ(added.Runs()[0].second, addedHandle);

    EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
    platform::CloseEvent(busyHandle);
    platform::CloseEvent(addedHandle);
}

TEST(ListenerThread, SixtyFourHandlesAtMost) {
    RecordingListener keeps(0);
    RecordingListener gives(-1);  // the thread object closes these
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
    std::vector<EventHandle> handles;
    for (intptr_t i = 0; i < 62; ++i) {
        handles.push_back(platform::NewEvent(false, false));
        ASSERT_EQ(thread.AddHandle(handles.back(), i % 2 == 0 ? &keeps : &gives, i),
                  ErrorKind::kNone);
    }
    EXPECT_EQ(thread.HandleCount(), 64u);

    EventHandle extra = platform::NewEvent(false, false);
    EXPECT_EQ(thread.AddHandle(extra, &keeps, 99), ErrorKind::kState);
    EXPECT_EQ(thread.HandleCount(), 64u);
    EXPECT_EQ(thread.AddHandle(handles[0], &keeps, 0), ErrorKind::kState);  // twice
    EXPECT_EQ(thread.AddHandle(nullptr, &keeps, 0), ErrorKind::kState);

    // The last slot is watched too.
    ASSERT_TRUE(platform::SignalEvent(handles.back()));
    ASSERT_TRUE(gives.WaitForRuns(1));
    EXPECT_EQ(gives.Runs()[0].first, 61);

    // Removing one makes room again.
    EXPECT_EQ(thread.RemoveHandle(handles[0]), ErrorKind::kNone);
    EXPECT_EQ(thread.AddHandle(extra, &keeps, 99), ErrorKind::kNone);
    ASSERT_TRUE(platform::SignalEvent(extra));
    ASSERT_TRUE(keeps.WaitForRuns(1));
    EXPECT_EQ(keeps.Runs()[0].first, 99);

    EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
    // Handed back in slot order: handles 1..61, then extra.
    std::vector<EventHandle> expectKept{handles[0]};
    std::vector<EventHandle> expectGiven;
    for (size_t i = 1; i < handles.size(); ++i) {
        (i % 2 == 0 ? expectKept : expectGiven).push_back(handles[i]);
    }
    expectKept.push_back(extra);
    EXPECT_EQ(keeps.Released(), expectKept);
    EXPECT_EQ(gives.Released(), expectGiven);
    for (EventHandle handle : expectKept) {
        platform::CloseEvent(handle);
    }
}

TEST(ListenerThread, RemoveHandleHandsTheHandleBack) {
    RecordingListener keeps(0);
    RecordingListener gives(-1);
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
    EventHandle kept = platform::NewEvent(true, false);
    EventHandle given = platform::NewEvent(false, false);
    EventHandle bare = platform::NewEvent(false, false);
    ASSERT_EQ(thread.AddHandle(kept, &keeps, 1), ErrorKind::kNone);
    ASSERT_EQ(thread.AddHandle(given, &gives, 2), ErrorKind::kNone);
    ASSERT_EQ(thread.AddHandle(bare, nullptr, 3), ErrorKind::kNone);

    EXPECT_EQ(thread.RemoveHandle(kept), ErrorKind::kNone);
    EXPECT_EQ(keeps.Released(), std::vector<EventHandle>{kept});
    EXPECT_EQ(thread.RemoveHandle(kept), ErrorKind::kState);
    EXPECT_EQ(thread.HandleCount(), 4u);
    // Still open and no longer watched: setting it calls nothing.
    ASSERT_TRUE(platform::SignalEvent(kept));
    EXPECT_EQ(thread.RemoveHandle(given), ErrorKind::kNone);  // a handshake with the thread
    EXPECT_EQ(platform::WaitForEvent(kept, 0), 0);
    EXPECT_TRUE(keeps.Runs().empty());
    EXPECT_EQ(gives.Released(),
              std::vector<EventHandle>{given});  // and closed by the thread object

    EXPECT_EQ(thread.RemoveHandle(bare), ErrorKind::kNone);  // no listener: closed
    EXPECT_EQ(thread.HandleCount(), 2u);
    EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
    EXPECT_EQ(keeps.Released().size(), 1u);
    platform::CloseEvent(kept);
}

TEST(ListenerThread, ExceptionFromRunEndsTheThreadAndNothingWaitsForIt) {
    RecordingListener thrower;
    thrower.onRun = [](size_t) { throw std::runtime_error("listener failed"); };
    RecordingListener other;
    CListenerThread thread;
    ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
    EventHandle handle = platform::NewEvent(false, false);
    EventHandle late = platform::NewEvent(false, false);
    ASSERT_EQ(thread.AddHandle(handle, &thrower, 0), ErrorKind::kNone);
    ASSERT_TRUE(platform::SignalEvent(handle));
    uint32_t code = 0;
    ASSERT_TRUE(WaitForExitCode(thread, &code));
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(thread.IsRunning());

    EXPECT_EQ(thread.AddHandle(late, &other, 0), ErrorKind::kClosed);
    EXPECT_EQ(thread.HandleCount(), 3u);
    EXPECT_TRUE(other.Released().empty());
    EXPECT_EQ(thread.RemoveHandle(handle), ErrorKind::kNone);
    EXPECT_EQ(thrower.Released(), std::vector<EventHandle>{handle});
    EXPECT_EQ(thread.Shutdown(10000), ErrorKind::kNone);
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
        ASSERT_EQ(thread.Initialize(), ErrorKind::kNone);
        ASSERT_EQ(thread.AddHandle(handle, stuck, 0), ErrorKind::kNone);
        ASSERT_TRUE(platform::SignalEvent(handle));
        ASSERT_TRUE(stuck->WaitForRuns(1));
        EXPECT_EQ(thread.Shutdown(50), ErrorKind::kTimeout);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(thread.HandleCount(), 0u);
        EXPECT_EQ(stuck->Released(), std::vector<EventHandle>{handle});
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
