// Subscriptions and the event listener of a connection against a scripted Firebird
// server: the auxiliary connection, the reports and their deliveries to the host
// window, cancelling, and what the server may do on the auxiliary connection that a
// real one will not do on demand.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "connection/connection_fixture.h"
#include "support/byte_transport.h"
#include "support/fake_server.h"

namespace varnel_test {
namespace {

// A parameterized case's name made of its description: its words in CamelCase.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name;
    bool upper = true;
    for (const char* c = info.param.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

std::vector<int32_t> EventIds(const std::vector<FirebirdRequest>& requests) {
    std::vector<int32_t> ids;
    for (const FirebirdRequest& request : requests) {
        ids.push_back(request.eventId);
    }
    return ids;
}

TEST_F(ConnectionTest, FirstSubscriptionOpensTheAuxiliaryConnectionAndQueuesIdOne) {
    fake.SetDatabaseHandle(5);
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(ListenerEventSet());
    EXPECT_FALSE(db->auxStream.IsOpen());

    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
    EXPECT_TRUE(db->auxStream.IsOpen());
    EXPECT_TRUE(db->listenerThread.IsRunning());
    EXPECT_TRUE(ListenerEventSet());
    EXPECT_EQ(TableIds(), std::vector<int32_t>{1});

    EXPECT_EQ(fake.Operations(), (std::vector<int32_t>{op_connect, op_attach, op_info_database,
                                                       op_connect_request, op_que_events}));
    const FirebirdRequest request = fake.RequestsOf(op_connect_request).at(0);
    EXPECT_EQ(request.bytes, Words({53, 1, 5, 0})) << Hex(request.bytes);
    EXPECT_EQ(request.receives, 1);
    const FirebirdRequest queue = fake.RequestsOf(op_que_events).at(0);
    EXPECT_EQ(
        queue.bytes,
        Join({Words({48, 5, 12}), {1, 6}, FromText("ORDERS"), {0, 0, 0, 0}, Words({0, 0, 1})}))
        << Hex(queue.bytes);
    EXPECT_EQ(queue.receives, 1);
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

// What the server sends on the auxiliary connection between two reports of a
// request: the listener must consume it whole, deliver nothing for it (in particular
// not the occurrences of the report before once more), and go on with the next
// report.
struct BetweenReports {
    const char* name;
    Bytes bytes;
    size_t requeues;  // op_que_events that these bytes cause themselves
    friend void PrintTo(const BetweenReports& c, std::ostream* out) { *out << c.name; }
};

class AuxiliaryTraffic : public ConnectionTest,
                         public ::testing::WithParamInterface<BetweenReports> {};

TEST_P(AuxiliaryTraffic, IsConsumedAndTheNextReportIsDelivered) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    ASSERT_TRUE(Report(1, "ORDERS", 4, 3));

    ASSERT_TRUE(fake.SendAuxiliary(GetParam().bytes));
    ASSERT_TRUE(Report(1, "ORDERS", 8, 4 + GetParam().requeues));
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(Firings(), (std::vector<Firing>{{"ORDERS", 3}, {"ORDERS", 4}}));

    const std::vector<FirebirdRequest> queued = fake.RequestsOf(op_que_events);
    EXPECT_EQ(EventIds(queued), std::vector<int32_t>(queued.size(), 1));
    EXPECT_EQ(queued.back().opaques.at(0), EventBlock({{"ORDERS", 8}}));
    EXPECT_TRUE(db->auxStream.IsOpen());
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
        BetweenReports{"op_event for an id that is not in the table",
                       EventPacket(99, EventBlock({{"ORDERS", 50}})), 0},
        BetweenReports{"op_event for another name", EventPacket(1, EventBlock({{"OTHER", 50}})), 1},
        BetweenReports{"op_event with only the version byte", EventPacket(1, {1}), 1},
        BetweenReports{"an operation the listener does not know", Words({1234}), 0}),
    CaseName<BetweenReports>);

// A second subscription reuses the auxiliary connection. Names go as their bytes: the
// longest name the host may give, and bytes of the host's code page above 127, reach
// the server and the ring slot unchanged.
TEST_F(ConnectionTest, ASecondSubscriptionReusesTheAuxiliaryConnection) {
    const std::string longest(64, 'N');
    const std::string ansi = "\xC4nderung\xE9";
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent(AnsiString(longest.c_str())));
    ASSERT_TRUE(db->SubscribeEvent(AnsiString(ansi.c_str())));
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 1u);
    EXPECT_EQ(fake.AuxiliaryConnections(), 1);
    EXPECT_EQ(TableIds(), (std::vector<int32_t>{1, 2}));
    const std::vector<FirebirdRequest> queued = fake.RequestsOf(op_que_events);
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].opaques.at(0), EventBlock({{longest, 0}}));
    EXPECT_EQ(queued[0].bytes.size(), 4 * 3 + 72 + 4 * 3u);  // a 70-byte block, 2 of padding
    EXPECT_EQ(queued[1].eventId, 2);
    EXPECT_EQ(queued[1].opaques.at(0), EventBlock({{ansi, 0}}));

    ASSERT_TRUE(Report(2, ansi, 1, 3));
    ASSERT_TRUE(Report(1, longest, 1, 4));
    ASSERT_TRUE(Report(1, longest, 3, 5));
    ASSERT_TRUE(Report(2, ansi, 6, 6));
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(Firings(), (std::vector<Firing>{{longest, 2}, {ansi, 5}}));
}

TEST_F(ConnectionTest, UnsubscribeCancelsTheFirstRequestOfTheName) {
    fake.SetDatabaseHandle(3);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    EXPECT_EQ(TableIds(), (std::vector<int32_t>{1, 2, 3}));

    // No request of the name: false, and nothing is sent.
    const size_t sent = fake.Requests().size();
    EXPECT_FALSE(db->UnsubscribeEvent("NOPE"));
    EXPECT_FALSE(db->UnsubscribeEvent("orders"));
    EXPECT_EQ(fake.Requests().size(), sent);

    EXPECT_TRUE(db->UnsubscribeEvent("ORDERS"));
    ASSERT_EQ(fake.RequestsOf(op_cancel_events).size(), 1u);
    const FirebirdRequest cancel = fake.RequestsOf(op_cancel_events).at(0);
    EXPECT_EQ(cancel.bytes, Words({49, 3, 1})) << Hex(cancel.bytes);
    EXPECT_EQ(cancel.receives, 1);
    EXPECT_EQ(TableIds(), (std::vector<int32_t>{2, 3}));

    // A report for the cancelled id is neither queued again nor delivered; the
    // second request of the name still is.
    ASSERT_TRUE(fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", 1}}))));
    ASSERT_TRUE(Report(2, "ORDERS", 1, 4));
    ASSERT_TRUE(Report(2, "ORDERS", 2, 5));
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(Firings(), (std::vector<Firing>{{"ORDERS", 1}}));
    EXPECT_EQ(EventIds(fake.RequestsOf(op_que_events)), (std::vector<int32_t>{1, 2, 3, 2, 2}));

    EXPECT_TRUE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(TableIds(), std::vector<int32_t>{3});
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(EventIds(fake.RequestsOf(op_cancel_events)), (std::vector<int32_t>{1, 2}));
}

TEST_F(ConnectionTest, ARefusedCancellationKeepsTheRequest) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    fake.FailNext(op_cancel_events, StatusError(isc_login));
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_EQ(TableIds(), std::vector<int32_t>{1});
    EXPECT_TRUE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_TRUE(TableIds().empty());
    EXPECT_EQ(EventIds(fake.RequestsOf(op_cancel_events)), (std::vector<int32_t>{1, 1}));
}

// Disconnect cancels every request (see DisconnectListening), even after one
// cancellation was refused, and empties the table.
TEST_F(ConnectionTest, CancelAllEventsTriesEveryRequest) {
    ASSERT_TRUE(Connect());
    {
        platform::LockGuard guard(db->lock);
        db->CancelAllEvents();
    }
    EXPECT_TRUE(fake.RequestsOf(op_cancel_events).empty());

    ASSERT_TRUE(db->SubscribeEvent("A"));
    ASSERT_TRUE(db->SubscribeEvent("B"));
    fake.FailNext(op_cancel_events, StatusError(isc_login));
    {
        platform::LockGuard guard(db->lock);
        db->CancelAllEvents();
    }
    EXPECT_TRUE(TableIds().empty());
    EXPECT_EQ(EventIds(fake.RequestsOf(op_cancel_events)), (std::vector<int32_t>{1, 2}));
}

TEST_F(ConnectionTest, ARefusedQueueRequestIsNotKept) {
    ASSERT_TRUE(Connect());
    fake.FailNext(op_que_events, StatusError(isc_login));
    EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_TRUE(TableIds().empty());
    EXPECT_FALSE(ListenerEventSet());

    // The auxiliary connection stays for the next subscription, which takes the next
    // id and starts the listener.
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 1u);
    EXPECT_EQ(TableIds(), std::vector<int32_t>{2});
    EXPECT_TRUE(db->listenerThread.IsRunning());
    EXPECT_TRUE(Report(2, "ORDERS", 1, 3));
}

// The replies to op_connect_request, and what the first subscription makes of them.
struct AuxiliaryReplyCase {
    const char* name;
    ConnectRequestReply reply;
    bool opens;
    const char* message;  // the reason reported when it does not open
    friend void PrintTo(const AuxiliaryReplyCase& c, std::ostream* out) { *out << c.name; }
};

ConnectRequestReply Layout(ConnectRequestReply::Layout layout) {
    ConnectRequestReply reply;
    reply.layout = layout;
    return reply;
}

ConnectRequestReply WithData(const Bytes& data) {
    ConnectRequestReply reply = Layout(ConnectRequestReply::Layout::kData);
    reply.data = data;
    return reply;
}

std::vector<AuxiliaryReplyCase> AuxiliaryReplies() {
    using L = ConnectRequestReply::Layout;
    std::vector<AuxiliaryReplyCase> cases;
    ConnectRequestReply elsewhere = Layout(L::kIPv4);
    // Nothing listens there: the client must go where the main connection goes.
    elsewhere.address[3] = 2;
    cases.push_back({"IPv4 naming another address", elsewhere, true, ""});
    cases.push_back({"IPv6 socket address", Layout(L::kIPv6), true, ""});
    cases.push_back({"five bytes of garbage", WithData({1, 2, 3, 4, 5}), false,
                     "The server gave no usable address for events."});
    cases.push_back(
        {"a port where nothing listens", Layout(L::kUnreachablePort), false, "Unable to connect."});
    ConnectRequestReply refused;
    refused.status = StatusError(isc_login);
    cases.push_back({"op_connect_request refused", refused, false, kLoginMessage});
    return cases;
}

class AuxiliaryReply : public ConnectionTest,
                       public ::testing::WithParamInterface<AuxiliaryReplyCase> {};

TEST_P(AuxiliaryReply, FirstSubscription) {
    const AuxiliaryReplyCase& c = GetParam();
    ASSERT_TRUE(Connect());
    fake.SetConnectRequestReply(c.reply);
    if (c.opens) {
        ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
        EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
        EXPECT_EQ(TableIds(), std::vector<int32_t>{1});
        return;
    }

    EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), c.message);
    EXPECT_FALSE(db->auxStream.IsOpen());
    EXPECT_TRUE(TableIds().empty());
    EXPECT_FALSE(ListenerEventSet());
    EXPECT_EQ(fake.AuxiliaryConnections(), 0);
    EXPECT_TRUE(fake.RequestsOf(op_que_events).empty());

    // The reply was read whole: the main connection is still in step, and the next
    // subscription takes id 1.
    fake.SetConnectRequestReply(ConnectRequestReply());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 2u);
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
    EXPECT_EQ(TableIds(), std::vector<int32_t>{1});
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Subscribe, AuxiliaryReply, ::testing::ValuesIn(AuxiliaryReplies()),
                         CaseName<AuxiliaryReplyCase>);

// The reply that the real server sent, byte for byte: the auxiliary port 0x8BA5 in
// the IPv4 socket address in p_resp_data.
TEST_F(ConnectionTest, TheRecordedConnectRequestReplyOpensTheAuxiliaryConnection) {
    const Bytes recorded = Join({Words({op_response, 0}),
                                 Bytes(8, 0),
                                 Words({16}),
                                 {0x02, 0x00, 0x8B, 0xA5},
                                 {0x7F, 0x00, 0x00, 0x01},
                                 Bytes(8, 0),
                                 Words({1, 0, 0})});
    ASSERT_EQ(
        ResponsePacket(0, Join({{0x02, 0x00, 0x8B, 0xA5, 0x7F, 0, 0, 1}, Bytes(8, 0)}), StatusOk()),
        recorded);
    uint16_t port = 0x8BA5;
    const int probe = ListenOnLoopback(&port);
    if (probe < 0) {
        GTEST_SKIP() << "port 35749 is in use";
    }
    ::close(probe);
    ConnectRequestReply reply;
    reply.listenPort = 0x8BA5;
    fake.SetConnectRequestReply(reply);

    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(1, kWaitMs));
    EXPECT_EQ(db->auxStream.socket.Address().port, htons(0x8BA5));
    EXPECT_EQ(db->auxStream.socket.Address().address, htonl(INADDR_LOOPBACK));
    // The next request on the main connection reads its own reply.
    EXPECT_TRUE(db->SubscribeEvent("PAYMENTS")) << db->ErrorText().CStr();
    EXPECT_EQ(TableIds(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

// The server ends the auxiliary connection: the listener closes its side and stops,
// and the next subscription opens a new one and resumes every request on it.
struct AuxiliaryEnd {
    const char* name;
    Bytes bytes;  // sent before the end; empty: the server closes the connection
    friend void PrintTo(const AuxiliaryEnd& c, std::ostream* out) { *out << c.name; }
};

class AuxiliaryEnds : public ConnectionTest, public ::testing::WithParamInterface<AuxiliaryEnd> {};

TEST_P(AuxiliaryEnds, ListenerStopsAndALaterSubscriptionResumes) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));

    if (GetParam().bytes.empty()) {
        fake.CloseAuxiliary();
    } else {
        ASSERT_TRUE(fake.SendAuxiliary(GetParam().bytes));
        EXPECT_TRUE(fake.WaitAuxiliaryClosedByClient(kWaitMs));
    }
    EXPECT_TRUE(Eventually([&] { return !db->auxStream.IsOpen(); }));
    EXPECT_TRUE(Eventually([&] { return !ListenerEventSet(); }));
    EXPECT_TRUE(db->IsConnected());

    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS")) << db->ErrorText().CStr();
    EXPECT_EQ(fake.RequestsOf(op_connect_request).size(), 2u);
    ASSERT_TRUE(fake.WaitAuxiliaryConnected(2, kWaitMs));
    EXPECT_TRUE(ListenerEventSet());
    const std::vector<FirebirdRequest> queued = fake.RequestsOf(op_que_events);
    ASSERT_EQ(queued.size(), 4u);
    EXPECT_EQ(queued[2].eventId, 1);
    EXPECT_EQ(queued[2].opaques.at(0), EventBlock({{"ORDERS", 1}}));
    EXPECT_EQ(queued[3].eventId, 2);

    ASSERT_TRUE(Report(1, "ORDERS", 4, 5));
    ASSERT_TRUE(Report(2, "PAYMENTS", 1, 6));
    ASSERT_TRUE(Report(2, "PAYMENTS", 3, 7));
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(Firings(), (std::vector<Firing>{{"ORDERS", 3}, {"PAYMENTS", 2}}));
}

INSTANTIATE_TEST_SUITE_P(Listener, AuxiliaryEnds,
                         ::testing::Values(AuxiliaryEnd{"the server closes the connection", {}},
                                           AuxiliaryEnd{"op_exit", Words({op_exit})},
                                           AuxiliaryEnd{"a report whose block is too long",
                                                        Words({op_event, 0, 0x7FFFFFF0u})}),
                         CaseName<AuxiliaryEnd>);

// Disconnect while the listener waits for the server: it cancels every request,
// detaches, and the listener's read ends at once.
struct ListenerWaiting {
    const char* name;
    Bytes bytes;  // what the server sent last on the auxiliary connection
    friend void PrintTo(const ListenerWaiting& c, std::ostream* out) { *out << c.name; }
};

class DisconnectListening : public ConnectionTest,
                            public ::testing::WithParamInterface<ListenerWaiting> {};

TEST_P(DisconnectListening, CancelsEveryRequestDetachesAndStopsTheListener) {
    fake.SetDatabaseHandle(9);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 3));
    if (!GetParam().bytes.empty()) {
        ASSERT_TRUE(fake.SendAuxiliary(GetParam().bytes));
    }
    const size_t before = fake.Requests().size();

    ASSERT_TRUE(DisconnectInTime()) << "Disconnect did not return";
    EXPECT_FALSE(db->IsConnected());
    EXPECT_FALSE(db->auxStream.IsOpen());
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
                         ::testing::Values(ListenerWaiting{"between reports", {}},
                                           ListenerWaiting{"inside a report",
                                                           Words({op_event, 0, 12})}),
                         CaseName<ListenerWaiting>);

// The server stops: both connections end. The listener stops, the requests that
// follow fail with the reason, and disconnecting returns at once.
TEST_F(ConnectionTest, TheServerStops) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));

    fake.DropConnections();
    EXPECT_TRUE(fake.WaitMainClosed(1, kWaitMs));
    EXPECT_TRUE(Eventually([&] { return !db->auxStream.IsOpen(); }));
    EXPECT_TRUE(Eventually([&] { return !ListenerEventSet(); }));

    EXPECT_FALSE(db->SubscribeEvent("PAYMENTS"));
    const std::string reason = db->ErrorText().Bytes();
    EXPECT_TRUE(reason == "Connection closed by the server." ||
                reason == "Unable to send data to the server.")
        << reason;
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(TableIds(), std::vector<int32_t>{1});

    EXPECT_TRUE(DisconnectInTime());
    EXPECT_FALSE(db->IsConnected());
    EXPECT_TRUE(TableIds().empty());
    EXPECT_TRUE(fake.RequestsOf(op_cancel_events).empty());
    EXPECT_TRUE(fake.RequestsOf(op_detach).empty());
    EXPECT_EQ(fake.MainConnections(), 1);
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
        ASSERT_NE(db, nullptr);
        db->AttachEventSink(&sink);
        ASSERT_TRUE(Connect());
        ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
        ASSERT_TRUE(fake.WaitAuxiliaryConnected(round, kWaitMs));
        for (uint32_t count = 1; count <= kReports; ++count) {
            fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", count}})));
        }
        ASSERT_TRUE(DisconnectInTime());
        ASSERT_TRUE(fake.WaitMainClosed(round, kWaitMs));
    }

    const std::vector<FirebirdRequest> requests = fake.Requests();
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE(round);
        std::vector<int32_t> operations;
        bool cancelled = false;
        for (const FirebirdRequest& request : requests) {
            if (request.connection != round) {
                continue;
            }
            operations.push_back(request.operation);
            if (request.operation == op_cancel_events) {
                cancelled = true;
            }
            EXPECT_FALSE(cancelled && request.operation == op_que_events)
                << "queued again after the cancellation";
        }
        ASSERT_GE(operations.size(), 3u);
        EXPECT_EQ(operations[operations.size() - 2], op_cancel_events);
        EXPECT_EQ(operations.back(), op_detach);
    }
    for (const Firing& firing : Firings()) {
        EXPECT_EQ(firing, (Firing{"ORDERS", 1}));
    }
    EXPECT_LE(Firings().size(), static_cast<size_t>(kRounds) * (kReports - 1));
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
        const AnsiString name(("X" + std::to_string(round)).c_str());
        EXPECT_TRUE(db->SubscribeEvent(name));
        EXPECT_TRUE(db->UnsubscribeEvent(name));
    }
    server.join();

    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 2 + kReports + kRounds, kWaitMs));
    ASSERT_TRUE(sink.WaitFor(kReports));
    const std::vector<Firing> firings = Firings();
    EXPECT_EQ(firings, std::vector<Firing>(kReports, Firing{"ORDERS", 1}));
    EXPECT_EQ(fake.RequestsOf(op_cancel_events).size(), static_cast<size_t>(kRounds));
    EXPECT_EQ(TableIds(), std::vector<int32_t>{1});
    Bytes lastBlock;
    for (const FirebirdRequest& request : fake.RequestsOf(op_que_events)) {
        if (request.eventId == 1) {
            lastBlock = request.opaques.at(0);
        }
    }
    EXPECT_EQ(lastBlock, EventBlock({{"ORDERS", 1u + kReports}}));
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

}  // namespace
}  // namespace varnel_test
