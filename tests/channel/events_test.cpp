// Subscriptions and the event listener of a connection against a scripted Firebird
// server: the auxiliary connection, the reports and the firings handed to the sink,
// cancelling, and what the server may do on the auxiliary connection that a real one
// will not do on demand.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "channel/connection_fixture.h"
#include "support/byte_transport.h"

namespace varnel_test {
namespace {

using Ids = std::vector<int32_t>;

TEST_F(ConnectionTest, FirstSubscriptionOpensTheAuxiliaryConnectionAndQueuesIdOne) {
    fake.SetDatabaseHandle(5);
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(db->auxStream.IsOpen());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
    EXPECT_TRUE(ListenerEventSet());
    EXPECT_EQ(TableIds(), Ids{1});
    EXPECT_EQ(fake.Operations(),
              (Ids{op_connect, op_attach, op_info_database, op_connect_request, op_que_events}));
    const FirebirdRequest request = fake.RequestsOf(op_connect_request).at(0);
    EXPECT_EQ(request.bytes, Words({53, 1, 5, 0}));
    const FirebirdRequest queue = fake.RequestsOf(op_que_events).at(0);
    EXPECT_EQ(
        queue.bytes,
        Join({Words({48, 5, 12}), {1, 6}, FromText("ORDERS"), {0, 0, 0, 0}, Words({0, 0, 1})}))
        << Hex(queue.bytes);
    EXPECT_EQ(request.receives + queue.receives, 2);
}

// What the server sends on the auxiliary connection between two reports: consumed
// whole, nothing delivered for it (not the report before once more either), and the
// next report goes through.
struct BetweenReports {
    const char* name;
    Bytes bytes;
    size_t requeues;  // op_que_events that these bytes cause themselves
};

class AuxiliaryTraffic : public ConnectionTest,
                         public ::testing::WithParamInterface<BetweenReports> {};

TEST_P(AuxiliaryTraffic, IsConsumedAndTheNextReportIsDelivered) {
    SCOPED_TRACE(GetParam().name);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    ASSERT_TRUE(Report(1, "ORDERS", 4, 3));
    ASSERT_TRUE(fake.SendAuxiliary(GetParam().bytes));
    ASSERT_TRUE(Report(1, "ORDERS", 8, 4 + GetParam().requeues));
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Firings(), (std::vector<Firing>{{"ORDERS", 3}, {"ORDERS", 4}}));
    const std::vector<FirebirdRequest> queued = fake.RequestsOf(op_que_events);
    EXPECT_EQ(EventIds(queued), Ids(queued.size(), 1));
    EXPECT_EQ(queued.back().opaques.at(0), EventBlock({{"ORDERS", 8}}));
    EXPECT_TRUE(ListenerEventSet());
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Listener, AuxiliaryTraffic,
    ::testing::Values(
        BetweenReports{"op_dummy words", Words({op_dummy, op_dummy, op_dummy}), 0},
        BetweenReports{"op_response with data and a refusal with strings",
                       ResponsePacket(3, FromText("abcde"),
                                      Join({Words({isc_arg_gds, isc_io_error, isc_arg_string, 1}),
                                            {'x', 0, 0, 0},
                                            Words({isc_arg_number, 0}),
                                            Words({isc_arg_end})})),
                       0},
        BetweenReports{"op_event for an id not in the table",
                       EventPacket(99, EventBlock({{"ORDERS", 50}})), 0},
        BetweenReports{"op_event for another name", EventPacket(1, EventBlock({{"OTHER", 50}})), 1},
        BetweenReports{"op_event with only the version byte", EventPacket(1, {1}), 1},
        BetweenReports{"an operation the listener does not know", Words({1234}), 0}));

// A second subscription reuses the auxiliary connection. Names go as their bytes: the
// longest name the host may give, and bytes of the host's code page above 127.
TEST_F(ConnectionTest, ASecondSubscriptionReusesTheAuxiliaryConnection) {
    const std::string longest(64, 'N');
    const std::string ansi = "\xC4nderung\xE9";
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent(longest.c_str()));
    ASSERT_TRUE(db->SubscribeEvent(ansi.c_str()));
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 1u);
    EXPECT_EQ(fake.AuxiliaryConnections(), 1);
    const std::vector<FirebirdRequest> queued = fake.RequestsOf(op_que_events);
    ASSERT_EQ(EventIds(queued), (Ids{1, 2}));
    EXPECT_EQ(queued[0].opaques.at(0), EventBlock({{longest, 0}}));
    EXPECT_EQ(queued[1].opaques.at(0), EventBlock({{ansi, 0}}));

    ASSERT_TRUE(Report(2, ansi, 1, 3));
    ASSERT_TRUE(Report(1, longest, 1, 4));
    ASSERT_TRUE(Report(1, longest, 3, 5));
    ASSERT_TRUE(Report(2, ansi, 6, 6));
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Firings(), (std::vector<Firing>{{longest, 2}, {ansi, 5}}));
}

// One request per name and connection: a second subscription of a name sends
// nothing. Unsubscribing cancels it; a name with no request fails with a reason.
TEST_F(ConnectionTest, OneRequestPerName) {
    fake.SetDatabaseHandle(3);
    ASSERT_TRUE(Connect());
    for (const char* name : {"ORDERS", "ORDERS", "PAYMENTS"}) {
        ASSERT_TRUE(db->SubscribeEvent(name));
    }
    EXPECT_EQ(TableIds(), (Ids{1, 2}));
    EXPECT_EQ(EventIds(fake.RequestsOf(op_que_events)), (Ids{1, 2}));
    // Names compare case-sensitively; nothing is sent for a name with no request.
    const size_t sent = fake.Requests().size();
    for (const char* name : {"NOPE", "orders"}) {
        EXPECT_FALSE(db->UnsubscribeEvent(name));
        EXPECT_EQ(db->ErrorText().Bytes(), "The event is not subscribed on this connection.");
    }
    EXPECT_EQ(fake.Requests().size(), sent);
    EXPECT_TRUE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(fake.RequestsOf(op_cancel_events).at(0).bytes, Words({49, 3, 1}));
    EXPECT_EQ(TableIds(), Ids{2});
    // A report for the cancelled id is neither queued again nor delivered.
    ASSERT_TRUE(fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", 1}}))));
    ASSERT_TRUE(Report(2, "PAYMENTS", 1, 3));
    ASSERT_TRUE(Report(2, "PAYMENTS", 2, 4));
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Firings(), (std::vector<Firing>{{"PAYMENTS", 1}}));
    EXPECT_EQ(EventIds(fake.RequestsOf(op_que_events)), (Ids{1, 2, 2, 2}));
}

// Refusals: a refused cancellation keeps the request; a refused queue request is not
// kept, and the next subscription takes the next id on the same auxiliary
// connection; cancelling all tries every request and empties the table.
TEST_F(ConnectionTest, RefusedRequests) {
    ASSERT_TRUE(Connect());
    fake.FailNext(op_que_events, StatusError(isc_login));
    EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_TRUE(TableIds().empty());
    EXPECT_FALSE(ListenerEventSet());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 1u);
    EXPECT_TRUE(Report(2, "ORDERS", 1, 3));

    fake.FailNext(op_cancel_events, StatusError(isc_login));
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_EQ(TableIds(), Ids{2});

    ASSERT_TRUE(db->SubscribeEvent("B"));
    fake.FailNext(op_cancel_events, StatusError(isc_login));
    {
        platform::LockGuard guard(db->lock);
        db->CancelAllEvents();
    }
    EXPECT_TRUE(TableIds().empty());
    EXPECT_EQ(EventIds(fake.RequestsOf(op_cancel_events)), (Ids{2, 2, 3}));
}

// The replies to op_connect_request, and what the first subscription makes of them.
struct AuxiliaryReplyCase {
    const char* name;
    ConnectRequestReply reply;
    const char* message;  // the reason reported; empty: it opens
};

ConnectRequestReply Reply(ConnectRequestReply::Layout layout, Bytes data = {}, Bytes status = {},
                          uint8_t lastOctet = 1) {
    ConnectRequestReply reply;
    reply.layout = layout;
    reply.data = std::move(data);
    reply.status = std::move(status);
    reply.address[3] = lastOctet;
    return reply;
}

class AuxiliaryReply : public ConnectionTest,
                       public ::testing::WithParamInterface<AuxiliaryReplyCase> {};

TEST_P(AuxiliaryReply, FirstSubscription) {
    const AuxiliaryReplyCase& c = GetParam();
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Connect());
    fake.SetConnectRequestReply(c.reply);
    if (c.message[0] == '\0') {
        ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
        EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
        return;
    }
    EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), c.message);
    EXPECT_FALSE(db->auxStream.IsOpen());
    EXPECT_TRUE(TableIds().empty());
    EXPECT_FALSE(ListenerEventSet());
    EXPECT_TRUE(fake.RequestsOf(op_que_events).empty());
    // The reply was read whole: the main connection is still in step, and the next
    // subscription takes id 1.
    fake.SetConnectRequestReply(ConnectRequestReply());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
    EXPECT_EQ(TableIds(), Ids{1});
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

using L = ConnectRequestReply::Layout;
INSTANTIATE_TEST_SUITE_P(
    Subscribe, AuxiliaryReply,
    ::testing::Values(
        // Nothing listens at the address named: the client goes where the main
        // connection goes.
        AuxiliaryReplyCase{"IPv4 naming another address", Reply(L::kIPv4, {}, {}, 2), ""},
        AuxiliaryReplyCase{"IPv6 socket address", Reply(L::kIPv6), ""},
        AuxiliaryReplyCase{"five bytes of garbage", Reply(L::kData, {1, 2, 3, 4, 5}),
                           "The server gave no usable address for events."},
        AuxiliaryReplyCase{"a port where nothing listens", Reply(L::kUnreachablePort),
                           "Unable to connect."},
        AuxiliaryReplyCase{"refused", Reply(L::kIPv4, {}, StatusError(isc_login)), kLoginMessage}));

// The auxiliary connection ends: without any call, the listener opens a new one and
// queues every request again with its last count, so what fired meanwhile arrives as
// one count; later subscriptions use the new connection.
class AuxiliaryEnds : public ConnectionTest, public ::testing::WithParamInterface<Bytes> {};

TEST_P(AuxiliaryEnds, TheListenerRepairsTheEventConnection) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    if (GetParam().empty()) {
        fake.CloseAuxiliary();
    } else {
        ASSERT_TRUE(fake.SendAuxiliary(GetParam()));
    }
    ASSERT_TRUE(fake.WaitAuxiliaryConnected(2, kWaitMs));
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 3, kWaitMs));
    const std::vector<FirebirdRequest> queued = fake.RequestsOf(op_que_events);
    EXPECT_EQ(EventIds(queued), (Ids{1, 1, 1}));
    EXPECT_EQ(queued[2].opaques.at(0), EventBlock({{"ORDERS", 1}}));
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 2u);
    ASSERT_TRUE(Report(1, "ORDERS", 4, 4));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    ASSERT_TRUE(Report(2, "PAYMENTS", 1, 6));
    ASSERT_TRUE(Report(2, "PAYMENTS", 3, 7));
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Firings(), (std::vector<Firing>{{"ORDERS", 3}, {"PAYMENTS", 2}}));
    EXPECT_EQ(fake.AuxiliaryConnections(), 2);
}

// The server closes; op_exit; a report whose block is too long; a report cut off
// with the connection left open.
INSTANTIATE_TEST_SUITE_P(Listener, AuxiliaryEnds,
                         ::testing::Values(Bytes{}, Words({op_exit}),
                                           Words({op_event, 0, 0x7FFFFFF0u}),
                                           Words({op_event, 0})));

// When the event connection cannot be made again, the sink hears why, once, and the
// next subscription tries again.
TEST_F(ConnectionTest, AnEventConnectionThatCannotBeRepairedIsReported) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    for (int i = 0; i < kRepairAttempts; ++i) {
        fake.FailNext(op_connect_request, StatusError(isc_login));
    }
    fake.CloseAuxiliary();
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Firings(),
              (std::vector<Firing>{{std::string("lost 7: The event connection was lost and could "
                                                "not be made again: ") +
                                        kLoginMessage,
                                    0}}));
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 1u + kRepairAttempts);
    EXPECT_TRUE(Eventually([&] { return !ListenerEventSet(); }));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS")) << db->ErrorText().CStr();
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(2, kWaitMs));
    // The request of before is queued again on the new connection.
    EXPECT_EQ(EventIds(fake.RequestsOf(op_que_events)), (Ids{1, 1, 1, 2}));
}

// Disconnect while the listener waits for the server, between reports or inside one:
// it cancels every request, detaches, and the listener's read ends at once.
class DisconnectListening : public ConnectionTest, public ::testing::WithParamInterface<Bytes> {};

TEST_P(DisconnectListening, CancelsEveryRequestDetachesAndStopsTheListener) {
    fake.SetDatabaseHandle(9);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 3));
    if (!GetParam().empty()) {
        ASSERT_TRUE(fake.SendAuxiliary(GetParam()));
    }
    const size_t before = fake.Requests().size();
    ASSERT_TRUE(RunInTime([this] { db->Disconnect(); })) << "Disconnect did not return";
    EXPECT_FALSE(db->IsConnected());
    EXPECT_FALSE(db->listenerThread.IsRunning());
    EXPECT_FALSE(ListenerEventSet());
    EXPECT_TRUE(TableIds().empty());
    uint32_t exitCode = 1;
    EXPECT_TRUE(db->listenerThread.GetExitCode(&exitCode)) << "the listener did not end in time";
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(fake.WaitAuxiliaryClosedByClient(kWaitMs));
    EXPECT_TRUE(fake.WaitMainClosed(1, kWaitMs));
    const std::vector<FirebirdRequest> all = fake.Requests();
    ASSERT_EQ(all.size(), before + 3);
    EXPECT_EQ(all[before].bytes, Words({49, 9, 1}));
    EXPECT_EQ(all[before + 1].bytes, Words({49, 9, 2}));
    EXPECT_EQ(all[before + 2].bytes, Words({21, 9}));
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Disconnect, DisconnectListening,
                         ::testing::Values(Bytes{}, Words({op_event, 0, 12})));

// The server stops: both connections end. The listener finds the main connection
// lost and says so; the requests that follow fail with the reason, and disconnecting
// returns at once.
TEST_F(ConnectionTest, TheServerStops) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    fake.DropConnections();
    ASSERT_TRUE(sink.WaitFor(1));
    const std::string lost = sink.Firings().at(0).name;
    EXPECT_EQ(lost.rfind("lost 7: The connection to the server was lost: ", 0), 0u) << lost;
    EXPECT_TRUE(Eventually([&] { return !db->auxStream.IsOpen() && !ListenerEventSet(); }));
    EXPECT_FALSE(db->SubscribeEvent("PAYMENTS"));
    EXPECT_FALSE(db->ErrorText().IsEmpty());
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_TRUE(RunInTime([this] { db->Disconnect(); }));
    EXPECT_TRUE(TableIds().empty());
    EXPECT_TRUE(fake.RequestsOf(op_cancel_events).empty());
    EXPECT_EQ(sink.Firings().size(), 1u);
}

// Disconnect while reports are still arriving: the listener may handle a report
// before the cancellation or find its request gone after it, but it never queues a
// request again once it has been cancelled, and op_detach is the last request.
TEST_F(ConnectionTest, DisconnectWhileReportsArrive) {
    constexpr int kRounds = 10;
    constexpr uint32_t kReports = 5;
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE(round);
        db = CDatabase::Create();
        db->AttachEventSink(&sink);
        ASSERT_TRUE(Connect());
        ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
        ASSERT_TRUE(fake.WaitAuxiliaryConnected(round, kWaitMs));
        for (uint32_t count = 1; count <= kReports; ++count) {
            fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", count}})));
        }
        ASSERT_TRUE(RunInTime([this] { db->Disconnect(); }));
        ASSERT_TRUE(fake.WaitMainClosed(round, kWaitMs));
    }
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE(round);
        Ids operations;
        for (const FirebirdRequest& request : fake.Requests()) {
            if (request.connection == round) {
                operations.push_back(request.operation);
                EXPECT_FALSE(request.operation == op_que_events &&
                             std::count(operations.begin(), operations.end(), op_cancel_events))
                    << "queued again after the cancellation";
            }
        }
        ASSERT_GE(operations.size(), 3u);
        EXPECT_EQ(operations[operations.size() - 2], op_cancel_events);
        EXPECT_EQ(operations.back(), op_detach);
    }
    const std::vector<Firing> firings = sink.Firings();
    EXPECT_EQ(firings, std::vector<Firing>(firings.size(), Firing{"ORDERS", 1}));
    EXPECT_LE(firings.size(), static_cast<size_t>(kRounds) * (kReports - 1));
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

// Reports arrive while the worker subscribes and cancels on the same connection: the
// two threads share the main connection and the table under the connection's lock.
TEST_F(ConnectionTest, ReportsWhileTheWorkerSubscribesAndCancels) {
    constexpr int kReports = 30;
    constexpr int kRounds = 10;
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    std::thread server([&] {
        for (int i = 1; i <= kReports; ++i) {
            fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", 1u + i}})));
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        const std::string name = "X" + std::to_string(round);
        EXPECT_TRUE(db->SubscribeEvent(name.c_str()));
        EXPECT_TRUE(db->UnsubscribeEvent(name.c_str()));
    }
    server.join();
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 2 + kReports + kRounds, kWaitMs));
    ASSERT_TRUE(sink.WaitFor(kReports));
    EXPECT_EQ(sink.Firings(), std::vector<Firing>(kReports, Firing{"ORDERS", 1}));
    EXPECT_EQ(TableIds(), Ids{1});
    Bytes lastBlock;
    for (const FirebirdRequest& request : fake.RequestsOf(op_que_events)) {
        lastBlock = request.eventId == 1 ? request.opaques.at(0) : lastBlock;
    }
    EXPECT_EQ(lastBlock, EventBlock({{"ORDERS", 1u + kReports}}));
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

}  // namespace
}  // namespace varnel_test
