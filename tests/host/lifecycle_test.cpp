// The binary interface as a host sees it, loading and unloading: the worker, the
// events and the window procedure, and loads that cannot have them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>

#include "common/version.h"
#include "host/event_delivery.h"
#include "host/host_abi.h"
#include "linked_host.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "platform/system_calls.h"
#include "support/fake_firebird.h"

namespace {

using platform::SystemCall;

void ExpectNothingOpen() {
    EXPECT_EQ(Library().workerThread, nullptr);
    EXPECT_EQ(Library().requestEvent, nullptr);
    EXPECT_EQ(Library().replyEvent, nullptr);
    EXPECT_EQ(Library().previousWindowProc, nullptr);
}

// The records' layout, the ten entries in order, and calls outside the table refused,
// through the shared library as a host loads it (with its real worker). Unloading
// while a server stops answering the disconnect returns within its grace.
TEST(SharedLibrary, TheBinaryInterfaceAndAnUnloadThatAServerStalls) {
    EXPECT_EQ(offsetof(hostabi::Value, length), 4u);
    EXPECT_EQ(offsetof(hostabi::Value, intValue), 8u);
    EXPECT_EQ(offsetof(hostabi::Value, realValue), 12u);
    EXPECT_EQ(offsetof(hostabi::Value, handle), 28u);
    EXPECT_EQ(offsetof(hostabi::ParamBlock, values), 2u);
    EXPECT_EQ(sizeof(hostabi::FunctionEntry), 3 * sizeof(void*) + 2);  // packed
    EXPECT_EQ(sizeof(hostabi::FunctionTable), 2 * sizeof(void*) + 2);
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    const hostabi::FunctionTable* table = host.Table();
    ASSERT_EQ(table->next, nullptr);
    ASSERT_EQ(table->entryCount, 11);
    const char* expected[][3] = {
        {"VARNEL_INIT", "-2", ""},     {"VARNEL_EXIT", "-3", ""},
        {"VN_LIST_SUBSCR", "0", ""},   {"VN_SUBSCRIBE", "3", "ICC"},
        {"VN_UNSUBSCRIBE", "2", "IC"}, {"VN_STRINGCONNECT", "1", "C"},
        {"VN_CONNECT", "5", "CCCC.I"}, {"VN_DISCONNECT", "1", "I"},
        {"VN_ONLOST", "2", "IC"},      {"VN_ONRESTORED", "2", "IC"},
        {"VN_VERSION", "0", ""},
    };
    for (int i = 0; i < 11; ++i) {
        const hostabi::FunctionEntry entry = table->entries[i];  // a copy: packed fields
        EXPECT_STREQ(entry.name, expected[i][0]);
        EXPECT_EQ(std::to_string(entry.parameterCount), expected[i][1]) << expected[i][0];
        EXPECT_STREQ(entry.parameterTypes, expected[i][2]);
        EXPECT_NE(entry.function, nullptr);
    }
    // The version as a character result: a handle of the host's holding the text.
    const SimHost::Result version = host.Call("VN_VERSION");
    EXPECT_TRUE(version.hasValue && version.value.type == 'H' && !version.raised);
    EXPECT_EQ(version.text, varnel::kVersion);
    EXPECT_EQ(version.textHandleSize, sizeof varnel::kVersion);
    EXPECT_EQ(host.Call("VN_NOT_THERE").status, hostabi::kStatusBadRequest);
    EXPECT_EQ(host.Call("VN_SUBSCRIBE", {A::Int(1)}).status, hostabi::kStatusBadRequest);
    EXPECT_EQ(host.Call("VN_CONNECT", std::vector<A>(6, A::Text("x"))).status,
              hostabi::kStatusBadRequest);
    varnel_test::FakeFirebird fake;
    const SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text("127.0.0.1"), A::Text("db"), A::Text("SYSDBA"),
                                 A::Text("key"), A::Int(fake.Port())});
    ASSERT_FALSE(r.raised) << r.error;
    ASSERT_FALSE(
        host.Call("VN_SUBSCRIBE", {A::Int(r.value.intValue), A::Text("E"), A::Text("<Msg>")})
            .raised);
    fake.FaultAtReply(1, varnel_test::Fault::kStall);  // the cancellation's answer stops
    const auto start = std::chrono::steady_clock::now();
    host.Unload();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

class LifecycleTest : public LinkedHostTest {};

// Messages that are not the library's pass to the window's own procedure unchanged.
// Unloading quits the worker and closes everything; a firing still queued then
// reaches the window's own procedure.
TEST_F(LifecycleTest, MessagesAndUnload) {
    const SimHost::OwnMessage cases[] = {{0x0201, 5, 9},
                                         {WM_EVENT_FIRED, 200, 1},  // a slot outside the ring
                                         {WM_EVENT_FIRED, UINTPTR_MAX, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(platform::SendWindowMessage(host.Window(), c.message, c.wParam, c.lParam),
                  SimHost::OwnResult(c.message, c.wParam, c.lParam));
        ASSERT_FALSE(host.ownMessages.empty());
        const SimHost::OwnMessage own = host.ownMessages.back();
        EXPECT_TRUE(own.message == c.message && own.wParam == c.wParam && own.lParam == c.lParam);
    }
    EXPECT_EQ(host.ownMessages.size(), 3u);
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
    ASSERT_EQ(host.ownMessages.size(), 4u);
    EXPECT_EQ(host.ownMessages.back().wParam, static_cast<uintptr_t>(queued));
}

// A load without its window, events, worker or window procedure: every function
// raises, nothing is left open, and the next load works.
TEST(FailedLoad, EveryFunctionRaisesAndNothingIsLeftOpenUntilALoadWorks) {
    SetWorkerProcForTesting(&RecordingWorker::Proc);
    const struct {
        SystemCall fails;  // kCount: no main window
        int nth;
    } cases[] = {{SystemCall::kCount, 0},
                 {SystemCall::kEvent, 1},
                 {SystemCall::kEvent, 2},
                 {SystemCall::kThread, 1},
                 {SystemCall::kWindowProc, 1}};
    const std::vector<std::pair<const char*, std::vector<A>>> calls = {
        {"VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")}},
        {"VN_STRINGCONNECT", {A::Text("server=h;database=d;uid=u")}},
        {"VN_SUBSCRIBE", {A::Int(1), A::Text("E"), A::Text("<Msg>")}},
        {"VN_UNSUBSCRIBE", {A::Int(1), A::Text("E")}},
        {"VN_DISCONNECT", {A::Int(1)}},
    };
    for (const auto& c : cases) {
        RecordingWorker::Instance().Reset();
        SimHost host;
        host.withoutWindow = c.fails == SystemCall::kCount;
        if (c.fails != SystemCall::kCount) {
            platform::FailSystemCall(c.fails, c.nth);
        }
        ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
        platform::ResetSystemCalls();
        EXPECT_FALSE(Library().ready);
        ExpectNothingOpen();
        for (const auto& call : calls) {
            EXPECT_EQ(host.Call(call.first, call.second).error, msg::kNotInitialized) << call.first;
        }
        // Only a worker that was started is stopped again.
        const std::vector<RequestBlock> sent = RecordingWorker::Instance().Requests();
        EXPECT_EQ(sent.size(), c.fails == SystemCall::kWindowProc ? 1u : 0u);
        host.Unload();
        host.withoutWindow = false;
        ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
        EXPECT_TRUE(Library().ready);
        EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(1)}).raised);
        host.Unload();
    }
    SetWorkerProcForTesting(nullptr);
}

// A worker that answers REQ_QUIT and goes on running: unloading ends it after its
// time limit and returns.
std::atomic<bool> g_release{false}, g_ended{false};
uint32_t StubbornWorker(void* argument) {
    auto& context = *static_cast<WorkerContext*>(argument);
    platform::WaitForEvent(context.requestEvent, platform::kInfinite);
    platform::SignalEvent(context.replyEvent);
    while (!g_release.load()) {
        platform::SleepMs(10);
    }
    g_ended = true;
    return 0;
}

TEST(FailedLoad, AWorkerStillRunningAfterItsReplyIsEndedAndExitReturns) {
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
    g_release = true;  // on POSIX the thread was left running: let it end
    for (int i = 0; i < 500 && !g_ended.load(); ++i) {
        platform::SleepMs(10);
    }
}

}  // namespace
