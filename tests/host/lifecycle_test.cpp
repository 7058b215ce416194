// Loading and unloading: the worker, the events and the window procedure, and loads
// that cannot have them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "host/event_delivery.h"
#include "linked_host.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "platform/system_calls.h"

namespace {

using platform::SystemCall;

class LifecycleTest : public LinkedHostTest {};

void ExpectNothingOpen() {
    EXPECT_EQ(Library().workerThread, nullptr);
    EXPECT_EQ(Library().requestEvent, nullptr);
    EXPECT_EQ(Library().replyEvent, nullptr);
    EXPECT_EQ(Library().previousWindowProc, nullptr);
}

TEST_F(LifecycleTest, OtherMessagesPassThroughUnchanged) {
    // 1025 with a slot outside the ring is not the library's.
    const SimHost::OwnMessage cases[] = {{0x0201, 5, 9},
                                         {0x0010, 0, -3},
                                         {WM_EVENT_FIRED, 200, 1},
                                         {WM_EVENT_FIRED, UINTPTR_MAX, 0}};
    for (const auto& c : cases) {
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

TEST_F(LifecycleTest, UnloadQuitsTheWorkerClosesAndAQueuedFiringReachesTheWindowsOwnProcedure) {
    ASSERT_FALSE(
        host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("ORDERS"), A::Text("? <Msg>")}).raised);
    int32_t queued = -1;
    ASSERT_TRUE(Library().eventRing.Put(1, "ORDERS", 5, &queued));
    ASSERT_TRUE(platform::PostWindowMessage(host.Window(), WM_EVENT_FIRED, queued, 0));
    host.Unload();
    EXPECT_EQ(Sent().back().command, REQ_QUIT);
    ExpectNothingOpen();
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_TRUE(host.executed.empty());
    ASSERT_EQ(host.ownMessages.size(), 1u);
    EXPECT_EQ(host.ownMessages[0].wParam, static_cast<uintptr_t>(queued));
}

class FailedLoad : public ::testing::Test {
protected:
    void SetUp() override { SetWorkerProcForTesting(&RecordingWorker::Proc); }
    void TearDown() override {
        platform::ResetSystemCalls();
        SetWorkerProcForTesting(nullptr);
    }
};

TEST_F(FailedLoad, EveryFunctionRaisesAndNothingIsLeftOpenUntilALoadWorks) {
    const struct {
        const char* name;
        SystemCall fails;  // kCount: none
        int nth;
        bool workerQuits;  // the worker was started and is stopped again
    } cases[] = {
        {"no main window", SystemCall::kCount, 0, false},
        {"request event", SystemCall::kEvent, 1, false},
        {"reply event", SystemCall::kEvent, 2, false},
        {"worker thread", SystemCall::kThread, 1, false},
        {"window procedure", SystemCall::kWindowProc, 1, true},
    };
    const std::vector<std::pair<const char*, std::vector<A>>> calls = {
        {"VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")}},
        {"VN_STRINGCONNECT", {A::Text("server=h;database=d;uid=u")}},
        {"VN_SUBSCRIBE", {A::Int(1), A::Text("E"), A::Text("<Msg>")}},
        {"VN_UNSUBSCRIBE", {A::Int(1), A::Text("E")}},
        {"VN_DISCONNECT", {A::Int(1)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingWorker::Instance().Reset();
        SimHost host;
        host.withoutWindow = c.fails == SystemCall::kCount;
        if (c.fails != SystemCall::kCount) {
            platform::FailSystemCall(c.fails, c.nth);
        }
        ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
        EXPECT_FALSE(Library().ready);
        ExpectNothingOpen();
        for (const auto& call : calls) {
            EXPECT_EQ(host.Call(call.first, call.second).error, msg::kNotInitialized) << call.first;
        }
        const std::vector<RequestBlock> sent = RecordingWorker::Instance().Requests();
        EXPECT_EQ(sent.size() == 1 && sent[0].command == REQ_QUIT, c.workerQuits);
        EXPECT_LE(sent.size(), 1u);
        host.Unload();

        platform::ResetSystemCalls();
        host.withoutWindow = false;
        ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
        EXPECT_TRUE(Library().ready);
        EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(1)}).raised);
        host.Unload();
    }
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

TEST(LifecycleLimits, AWorkerStillRunningAfterItsReplyIsEndedAndExitReturns) {
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
    }
    SetWorkerProcForTesting(nullptr);
    // On POSIX the thread was left to run on its own; let it finish so that the
    // test program ends cleanly.
    g_release = true;
    for (int i = 0; i < 500 && !g_stubbornEnded.load(); ++i) {
        platform::SleepMs(10);
    }
}

}  // namespace
