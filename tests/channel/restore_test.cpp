// A connection that breaks and mends, and a silent peer that holds no call or
// disconnect longer than its time-out.

#include <chrono>
#include <future>

#include "channel/connection_fixture.h"

namespace varnel_test {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const char kBeingRestored[] =
    "The connection to the server is being made again; try again when it is back.";

// The server stops under two subscriptions: the loss is reported at once; the
// connection comes back with both requests (their ids, counts unknown) while calls
// fail at once; the server's first reports set the counts without a delivery, then
// the restore is reported, and the next firing is delivered with its count.
TEST_F(ConnectionTest, ALostConnectionComesBackWithEverySubscription) {
    ASSERT_TRUE(Connect(*db, Limits(20)));
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    ASSERT_TRUE(Report(1, "ORDERS", 4, 3));
    ASSERT_TRUE(Report(2, "PAYMENTS", 9, 4));
    fake.DropConnections();
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 6));
    EXPECT_FALSE(db->SubscribeEvent("LATER"));
    EXPECT_EQ(db->ErrorText().Bytes(), kBeingRestored);
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kBeingRestored);
    EXPECT_EQ(fake.Operations(2), (Ids{op_connect, op_attach, op_info_database, op_connect_request,
                                       op_que_events, op_que_events}));
    const std::vector<FirebirdRequest> queued = fake.Requests(op_que_events);
    EXPECT_EQ(queued[4].opaques.at(0), EventBlock({{"ORDERS", 0}}));
    EXPECT_EQ(queued[5].opaques.at(0), EventBlock({{"PAYMENTS", 0}}));
    EXPECT_EQ(EventIds(queued), (Ids{1, 2, 1, 2, 1, 2}));
    ASSERT_TRUE(Report(2, "PAYMENTS", 1, 7));  // the new server counts from 1
    ASSERT_TRUE(Report(1, "ORDERS", 1, 8));
    ASSERT_TRUE(sink.WaitFor(2));
    ASSERT_TRUE(Report(1, "ORDERS", 3, 9));
    ASSERT_TRUE(sink.WaitFor(3));
    EXPECT_EQ(sink.Firings(), (Texts{"lost 7: The connection to the server was lost: Connection "
                                     "closed by the server. Connecting again.",
                                     "restored 7", "ORDERS 2"}));
    EXPECT_TRUE(db->SubscribeEvent("LATER")) << db->ErrorText().CStr();
}

// A fault at any reply of a restore (the login, the attach, the version, the event
// connection's request, the queue, the first report's queue again): the next try
// makes the connection, and the restore is reported once.
TEST_F(ConnectionTest, ARestoreThatFailsAtAnyStepTriesAgain) {
    fake.firstReports = true;
    for (int step = 1; step <= 6; ++step) {
        SCOPED_TRACE(step);
        RecordingSink notices;
        std::unique_ptr<CDatabase> database = NewDatabase(&notices);
        ASSERT_TRUE(Connect(*database, Limits(20)));
        const size_t queued = fake.Requests(op_que_events).size();
        ASSERT_TRUE(database->SubscribeEvent("ORDERS"));
        ASSERT_TRUE(fake.WaitForRequests(op_que_events, queued + 2));  // and after the report
        const int connections = fake.mainConnections;
        fake.FaultAtReply(step, Fault::kClose);
        fake.DropConnections();
        ASSERT_TRUE(notices.WaitFor(2));
        EXPECT_EQ(notices.Firings().back(), "restored 7");
        EXPECT_EQ(fake.mainConnections, connections + 2);
        EXPECT_TRUE(RunInTime([&] { database.reset(); }));
        EXPECT_EQ(notices.Firings().size(), 2u);
    }
}

// A server that stops answering part-way through a reply: the call returns the
// time-out's error within the time-out and a second, and the connection comes back.
TEST_F(ConnectionTest, ASilentServerCostsACallItsTimeOut) {
    fake.firstReports = true;
    ASSERT_TRUE(Connect(*db, Limits(20, 1000)));
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 2));
    fake.FaultAtReply(1, Fault::kStall);
    const Clock::time_point start = Clock::now();
    bool subscribed = true;
    EXPECT_TRUE(RunInTime([&] { subscribed = db->SubscribeEvent("PAYMENTS"); }));
    EXPECT_FALSE(subscribed);
    EXPECT_GE(MsSince(start), 900);  // the tick count is coarser than the clock
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(db->ErrorText().Bytes(), "The server did not answer in time (time-out: 1 s).");
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Firings().back(), "restored 7");
    EXPECT_TRUE(db->SubscribeEvent("PAYMENTS")) << db->ErrorText().CStr();
}

// Disconnect while the tries go on returns at once, and leaves no thread.
TEST_F(ConnectionTest, DisconnectEndsTheTries) {
    ASSERT_TRUE(Connect(*db, Limits(20)));
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    for (int i = 0; i < 1000; ++i) {
        fake.FailNext(op_connect, {});
    }
    const int connections = fake.mainConnections;
    fake.DropConnections();
    ASSERT_TRUE(Eventually([&] { return fake.mainConnections >= connections + 3; }));
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(db->Disconnect());
    EXPECT_LT(MsSince(start), 500);
    EXPECT_FALSE(db->IsConnected() || db->listenerThread.IsRunning());
    EXPECT_EQ(sink.Firings().size(), 1u);  // the loss only
}

// A subscription returns once the server's first report has set its counts, also
// when the event connection ends before that report (the repair queues the request
// again), so that a firing after the call returned is never taken for the first
// report.
TEST_F(ConnectionTest, ASubscriptionWaitsForItsFirstReport) {
    db->firstReportWaitMs = 5000;
    ASSERT_TRUE(Connect());
    std::future<bool> subscribed =
        std::async(std::launch::async, [&] { return db->SubscribeEvent("ORDERS"); });
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 1));
    EXPECT_EQ(subscribed.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    fake.CloseAuxiliary();
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 2));
    EXPECT_EQ(subscribed.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ASSERT_TRUE(fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", 5}}))));
    EXPECT_TRUE(subscribed.get());
    ASSERT_TRUE(Report(1, "ORDERS", 6, 4));
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Firings(), Texts{"ORDERS 1"});
}

// The event port drops every connect: the repair waits without the lock, so a
// subscription meanwhile fails at once; the repair gives up within its time, and (from
// protocol 13 on) tells the server not to wait for the connection.
TEST_F(ConnectionTest, ASilentEventPortHoldsNoCall) {
    db->repairBudgetMs = 600;
    ASSERT_TRUE(Connect(*db, Limits(0, 2000)));
    db->protocolVersion = 13;
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    AuxiliaryReply silent;
    silent.silent = true;
    fake.SetAuxiliaryReply(silent);
    const Clock::time_point start = Clock::now();
    fake.CloseAuxiliary();
    ASSERT_TRUE(fake.WaitForRequests(op_connect_request, 2));
    const Clock::time_point call = Clock::now();
    EXPECT_FALSE(db->SubscribeEvent("PAYMENTS"));
    EXPECT_LT(MsSince(call), 100);
    EXPECT_EQ(db->ErrorText().Bytes(), kBeingRestored);
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_LT(MsSince(start), 1200);
    EXPECT_EQ(sink.Firings()[0],
              "lost 7: The event connection was lost and could not be made again: Unable to "
              "connect (timed out).");
    EXPECT_TRUE(fake.WaitForRequests(op_abort_aux_connection, 1));
}

// Unloading while the listener waits for the answer to its queue again: the
// disconnect keeps to its grace.
TEST_F(ConnectionTest, AnUnloadDoesNotWaitForAReQueue) {
    ASSERT_TRUE(Connect(*db, Limits(0, 2000)));
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    fake.FaultAtReply(1, Fault::kStall);
    ASSERT_TRUE(Report(1, "ORDERS", 2, 3));
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(db->Disconnect(300));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(db->listenerThread.IsRunning());
}

}  // namespace
}  // namespace varnel_test
