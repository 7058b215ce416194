// Loading and unloading: the worker, the events and the window procedure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "host/event_delivery.h"
#include "linked_host.h"
#include "platform/clock.h"

namespace {

class LifecycleTest : public LinkedHostTest {};

TEST_F(LifecycleTest, UnloadWithoutCallsQuitsRestoresAndCloses) {
    EXPECT_NE(Library().workerThread, nullptr);
    EXPECT_NE(Library().requestEvent, nullptr);
    EXPECT_NE(Library().previousWindowProc, nullptr);
    host.Unload();
    const std::vector<RequestBlock> sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].command, REQ_QUIT);
    EXPECT_EQ(Library().workerThread, nullptr);
    EXPECT_EQ(Library().requestEvent, nullptr);
    EXPECT_EQ(Library().replyEvent, nullptr);
    EXPECT_EQ(Library().previousWindowProc, nullptr);
    // The window's own procedure has every message again.
    EXPECT_EQ(platform::SendWindowMessage(host.Window(), WM_EVENT_FIRED, 0, 0),
              SimHost::OwnResult(WM_EVENT_FIRED, 0, 0));
    ASSERT_EQ(host.ownMessages.size(), 1u);
    EXPECT_EQ(host.ownMessages[0].message, WM_EVENT_FIRED);
}

TEST_F(LifecycleTest, OtherMessagesPassThroughUnchanged) {
    struct Case {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
    };
    // 0x0201 is any other message; 1025 with a slot outside the ring is not ours.
    const Case cases[] = {{0x0201, 5, 9},
                          {0x0010, 0, -3},
                          {WM_EVENT_FIRED, 200, 1},
                          {WM_EVENT_FIRED, static_cast<uintptr_t>(-1), 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(platform::SendWindowMessage(host.Window(), c.message, c.wParam, c.lParam),
                  SimHost::OwnResult(c.message, c.wParam, c.lParam));
        ASSERT_FALSE(host.ownMessages.empty());
        EXPECT_EQ(host.ownMessages.back().message, c.message);
        EXPECT_EQ(host.ownMessages.back().wParam, c.wParam);
        EXPECT_EQ(host.ownMessages.back().lParam, c.lParam);
    }
    EXPECT_EQ(host.ownMessages.size(), 4u);
    EXPECT_TRUE(host.executed.empty());
}

TEST_F(LifecycleTest, FiringQueuedAtUnloadReachesTheHostsOwnProcedure) {
    ASSERT_FALSE(
        host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("ORDERS"), A::Text("? <Msg>")}).raised);
    const int32_t delivered = Library().eventRing.Put("ORDERS", 2);
    ASSERT_TRUE(platform::PostWindowMessage(host.Window(), WM_EVENT_FIRED, delivered, 0));
    EXPECT_EQ(host.Pump(0), 1);
    ASSERT_EQ(host.executed.size(), 1u);
    EXPECT_EQ(host.executed[0], "? \"ORDERS: 2\"");

    const int32_t queued = Library().eventRing.Put("ORDERS", 5);
    ASSERT_TRUE(platform::PostWindowMessage(host.Window(), WM_EVENT_FIRED, queued, 0));
    host.Unload();
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 1u);  // nothing more ran
    ASSERT_EQ(host.ownMessages.size(), 1u);
    EXPECT_EQ(host.ownMessages[0].message, WM_EVENT_FIRED);
    EXPECT_EQ(host.ownMessages[0].wParam, static_cast<uintptr_t>(queued));
}

// A worker that answers REQ_QUIT and then keeps running until released.
std::atomic<bool> g_release{false};
std::atomic<bool> g_stubbornEnded{false};
uint32_t StubbornWorker(void* argument) {
    auto& context = *static_cast<WorkerContext*>(argument);
    platform::WaitForEvent(context.requestEvent, platform::kInfinite);
    platform::SignalEvent(context.replyEvent);
    while (!g_release.load()) {
        platform::SleepMs(10);
    }
    g_stubbornEnded = true;
    return 0;
}

TEST(LifecycleLimits, WorkerStillRunningAfterItsReplyIsEndedAndExitReturns) {
    SetWorkerProcForTesting(&StubbornWorker);
    {
        SimHost host;
        ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
        const auto start = std::chrono::steady_clock::now();
        host.Unload();
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(kWorkerEndLimitMs - 50));
        EXPECT_LT(waited, std::chrono::milliseconds(kWorkerEndLimitMs + 3000));
        EXPECT_EQ(Library().workerThread, nullptr);
        EXPECT_EQ(Library().replyEvent, nullptr);
    }
    SetWorkerProcForTesting(nullptr);
    // On POSIX the thread was left to run on its own; let it finish so that the
    // test program ends cleanly.
    g_release = true;
    for (int i = 0; i < 500 && !g_stubbornEnded.load(); ++i) {
        platform::SleepMs(10);
    }
}

TEST(LifecycleLimits, WithoutAMainWindowEveryFunctionRaisesInsteadOfHanging) {
    SimHost host;
    host.withoutWindow = true;
    ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
    EXPECT_FALSE(Library().ready);
    EXPECT_EQ(Library().workerThread, nullptr);
    SimHost::Result r = host.Call("VN_DISCONNECT", {A::Int(1)});
    EXPECT_TRUE(r.raised);
    EXPECT_EQ(r.error, msg::kNotInitialized);
    r = host.Call("VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")});
    EXPECT_EQ(r.error, msg::kNotInitialized);
    host.Unload();
}

}  // namespace
