// The connection object and its event listener against a scripted server, which does
// on demand what a real one will not.

#include <gtest/gtest.h>

#include <algorithm>

#include "channel/connection_fixture.h"
#include "platform/names.h"

namespace varnel_test {
namespace {

std::string Item(char tag, bool (*get)(char*, uint32_t*)) {
    char name[64];
    uint32_t size = sizeof name;
    EXPECT_TRUE(get(name, &size));
    return std::string(1, tag) + static_cast<char>(size) + std::string(name, size);
}

// Protocol 10's attach carries the user name and the password's 11-byte legacy hash,
// never the password (crypt(3) reads eight characters): a block of 46 bytes with two
// bytes of padding. Each request leaves in one piece. What op_connect offers the real
// servers take (tests/integration), all but the OS user and host it names.
TEST_F(ConnectionTest, ConnectAttachesWithTheLegacyHash) {
    fake.databaseHandle = 0x01020304;  // the information request names it
    ASSERT_TRUE(db->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterke"));
    const std::vector<FirebirdRequest> r = fake.Requests();
    ASSERT_EQ(fake.Operations(), (Ids{op_connect, op_attach, op_info_database}));
    const std::string identification(r[0].opaques.at(1).begin(), r[0].opaques.at(1).end());
    EXPECT_NE(
        identification.find(Item(1, &platform::GetUserNameText) +
                            Item(4, &platform::GetComputerNameText) + std::string("\x06\0", 2)),
        std::string::npos);
    const Bytes dpb = Join({{1, 0x3A, 4, 0x78, 0x0A, 0, 0, 0x3F, 4, 3, 0, 0, 0, 0x30, 4},
                            FromText("NONE"),
                            {0x39, 4, 0, 0, 0, 0x0F, 0x1C, 6},
                            FromText("SYSDBA"),
                            {0x1E, 11},
                            FromText("QP3LMZ/MJh.")});
    EXPECT_EQ(r[1].bytes, Join({Words({19, 0}), Opaque("employee"), Words({46}), dpb, {0, 0}}));
    EXPECT_EQ(r[2].bytes, Join({Words({40, 0x01020304, 0, 2}), {0x0C, 1, 0, 0}, Words({128})}));
    for (const FirebirdRequest& request : r) {
        EXPECT_EQ(request.receives, 1) << "operation " << request.operation;
    }
}

// The reply's data as the connection copies it into its 128-byte buffer, and a
// refused information request, whose strings must be read to the end.
TEST_F(ConnectionTest, VersionTextFromTheInformationReply) {
    const std::string longest(123, 'v');  // item header 3, count 1, length 1: 128 bytes
    const struct {
        Bytes reply;
        std::string expected;
        bool refused;
    } cases[] = {{VersionInfoReply(std::string(200, 'v')), "", false},
                 {VersionInfoReply(longest), longest, false},
                 {{}, "", true}};
    for (const auto& c : cases) {
        fake.SetInfoReply(c.reply);
        if (c.refused) {
            fake.FailNext(op_info_database,
                          Join({Words({isc_arg_gds, isc_io_error, isc_arg_string}), Opaque("open"),
                                Words({isc_arg_interpreted}), Opaque("no"), Words({isc_arg_end})}));
        }
        std::unique_ptr<CDatabase> database = NewDatabase();
        ASSERT_TRUE(Connect(*database)) << database->ErrorText().CStr();
        EXPECT_EQ(database->serverVersion.Bytes(), c.expected);
        EXPECT_TRUE(database->SubscribeEvent("ORDERS"));  // reads its own reply
    }
    EXPECT_EQ(fake.strayBytes, 0u);
}

// A refused attach closes the main socket and says why. Without subscriptions
// disconnect detaches only; disconnecting or destroying a refused or disconnected
// connection sends nothing more.
TEST_F(ConnectionTest, RefusedConnectsAndDisconnects) {
    fake.FailNext(op_attach, StatusError(isc_login));
    EXPECT_FALSE(Connect());
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_TRUE(fake.WaitMainClosed(1));
    EXPECT_TRUE(db->Disconnect());
    std::unique_ptr<CDatabase> database = NewDatabase();
    ASSERT_TRUE(Connect(*database));
    EXPECT_TRUE(database->Disconnect());
    EXPECT_FALSE(database->IsConnected() || database->listenerThread.IsRunning());
    EXPECT_TRUE(fake.WaitMainClosed(2));
    EXPECT_TRUE(database->Disconnect());
    EXPECT_TRUE(NewDatabase()->Disconnect());
    EXPECT_EQ(fake.Requests(op_detach).back().receives, 1);
    EXPECT_EQ(fake.Operations(),
              (Ids{op_connect, op_attach, op_connect, op_attach, op_info_database, op_detach}));
    EXPECT_EQ(fake.strayBytes, 0u);
}

// The first subscription opens the auxiliary connection and queues id 1; a second
// one reuses it. Names go as their bytes: the longest a host may give, and bytes of
// its code page above 127, which come back so in a firing.
TEST_F(ConnectionTest, SubscriptionsShareTheAuxiliaryConnection) {
    const std::string longest(64, 'N'), ansi = "\xC4nderung\xE9";
    fake.databaseHandle = 5;
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent(longest.c_str()));
    ASSERT_TRUE(db->SubscribeEvent(ansi.c_str()));
    EXPECT_EQ(fake.Operations(), (Ids{op_connect, op_attach, op_info_database, op_connect_request,
                                      op_que_events, op_que_events}));
    const std::vector<FirebirdRequest> r = fake.Requests();
    EXPECT_EQ(r[3].bytes, Words({53, 1, 5, 0}));
    EXPECT_EQ(r[4].bytes,
              Join({Words({48, 5, 70}), EventBlock({{longest, 0}}), {0, 0}, Words({0, 0, 1})}));
    EXPECT_EQ(r[5].opaques.at(0), EventBlock({{ansi, 0}}));
    EXPECT_EQ(r[3].receives + r[4].receives, 2);
    EXPECT_EQ(EventIds(fake.Requests(op_que_events)), (Ids{1, 2}));
    ASSERT_TRUE(Report(2, ansi, 1, 3));
    ASSERT_TRUE(Report(2, ansi, 6, 4));
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Firings(), Texts{ansi + " 5"});
}

// What the server sends between two reports is consumed whole, delivers nothing (not
// the report before once more either), and the next report goes through.
TEST_F(ConnectionTest, TrafficBetweenReports) {
    const struct {
        Bytes bytes;
        size_t requeues;  // op_que_events that the bytes cause
    } cases[] = {
        {Words({op_dummy, op_dummy}), 0},
        {ResponsePacket(3, FromText("abcde"),
                        Join({Words({isc_arg_gds, isc_io_error, isc_arg_string}), Opaque("x"),
                              Words({isc_arg_number, 0, isc_arg_end})})),
         0},
        {EventPacket(99, EventBlock({{"ORDERS", 50}})), 0},  // an id not in the table
        {EventPacket(1, EventBlock({{"OTHER", 50}})), 1},
    };
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    size_t queued = 2, firings = 0;
    for (const auto& c : cases) {
        ASSERT_TRUE(fake.SendAuxiliary(c.bytes));
        queued += c.requeues;
        ASSERT_TRUE(Report(1, "ORDERS", static_cast<uint32_t>(1 + 3 * ++firings), ++queued));
        ASSERT_TRUE(sink.WaitFor(firings));
    }
    EXPECT_EQ(sink.Firings(), Texts(firings, "ORDERS 3"));
    EXPECT_EQ(EventIds(fake.Requests(op_que_events)), Ids(queued, 1));
    EXPECT_TRUE(ListenerEventSet());
    EXPECT_EQ(fake.strayBytes, 0u);
}

// A refused queue request is not kept, and the next subscription takes the next id
// on the same auxiliary connection; a refused cancellation keeps the request; a name
// without a request (names compare by their bytes) fails and sends nothing;
// cancelling all tries every request and empties the table.
TEST_F(ConnectionTest, RefusedRequests) {
    ASSERT_TRUE(Connect());
    fake.FailNext(op_que_events, StatusError(isc_login));
    EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_TRUE(TableIds().empty());
    EXPECT_FALSE(ListenerEventSet());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(fake.Requests(op_connect_request).size(), 1u);
    EXPECT_TRUE(Report(2, "ORDERS", 1, 3));
    fake.FailNext(op_cancel_events, StatusError(isc_login));
    EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_EQ(TableIds(), Ids{2});
    const size_t sent = fake.Requests().size();
    EXPECT_FALSE(db->UnsubscribeEvent("orders"));
    EXPECT_EQ(db->ErrorText().Bytes(), "The event is not subscribed on this connection.");
    EXPECT_EQ(fake.Requests().size(), sent);
    ASSERT_TRUE(db->SubscribeEvent("B"));
    ASSERT_TRUE(db->SubscribeEvent("B"));       // one request per name, the last's
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));  // and the first's
    fake.FailNext(op_cancel_events, StatusError(isc_login));
    {
        platform::LockGuard guard(db->lock);
        db->CancelAllEvents();
    }
    EXPECT_TRUE(TableIds().empty());
    EXPECT_EQ(EventIds(fake.Requests(op_cancel_events)), (Ids{2, 2, 3}));
}

// The replies to op_connect_request: the client connects where the main connection
// goes, whatever address the server names; the failures say why, leave nothing
// behind, and the main connection stays in step for the next subscription. From
// protocol 13 on a connect that fails is followed by op_abort_aux_connection.
TEST_F(ConnectionTest, AuxiliaryReplies) {
    const struct {
        AuxiliaryReply reply;
        const char* message;  // "": it opens
    } cases[] = {
        {{{}, {}, true, 2}, ""},
        {{{}, {1, 2, 3, 4, 5}, true, 1}, "The server gave no usable address for events."},
        {{{}, {}, false, 1}, "Unable to connect."},
        {{StatusError(isc_login), {}, true, 1}, kLoginMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::unique_ptr<CDatabase> database = NewDatabase();
        ASSERT_TRUE(Connect(*database));
        database->protocolVersion = 13;
        fake.SetAuxiliaryReply(c.reply);
        EXPECT_EQ(database->SubscribeEvent("ORDERS"), *c.message == '\0');
        if (*c.message != '\0') {
            EXPECT_EQ(database->ErrorText().Bytes(), c.message);
            EXPECT_FALSE(database->auxStream.IsOpen());
            EXPECT_EQ(database->eventRequests.Size(), 0u);
            EXPECT_NE(platform::WaitForEvent(database->listenerEvent.Get(), 0), 0);
            fake.SetAuxiliaryReply({});
            ASSERT_TRUE(database->SubscribeEvent("ORDERS")) << database->ErrorText().CStr();
        }
        EXPECT_EQ(database->eventRequests.KeyAt(0), 1);
        EXPECT_TRUE(fake.WaitAuxiliaryConnected(fake.Requests(op_que_events).size()));
    }
    EXPECT_EQ(fake.Requests(op_que_events).size(), 4u);
    EXPECT_EQ(fake.Requests(op_abort_aux_connection).size(), 1u);
    EXPECT_EQ(fake.strayBytes, 0u);
}

// The auxiliary connection ends (the server closes; op_exit; a report whose block is
// too long; a report cut off; an operation that is no report): without any call the
// listener opens a new one and queues every request again with its last count, so
// that what fired meanwhile arrives as one count; later subscriptions use the new
// connection.
TEST_F(ConnectionTest, TheListenerRepairsTheEventConnection) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    const Bytes ends[] = {{},
                          Words({op_exit}),
                          Words({op_event, 0, 0x7FFFFFF0u}),
                          Words({op_event, 0}),
                          Words({1234})};
    size_t queued = 1, n = 0;
    for (const Bytes& end : ends) {
        SCOPED_TRACE(++n);
        ASSERT_TRUE(Report(1, "ORDERS", 3 * n - 2, ++queued));
        if (end.empty()) {
            fake.CloseAuxiliary();
        } else {
            ASSERT_TRUE(fake.SendAuxiliary(end));
        }
        ASSERT_TRUE(fake.WaitForRequests(op_que_events, ++queued));
        EXPECT_EQ(fake.Requests(op_que_events).back().opaques.at(0),
                  EventBlock({{"ORDERS", 3 * n - 2}}));
        EXPECT_EQ(fake.AuxiliaryConnections(), static_cast<int>(n + 1));
        ASSERT_TRUE(Report(1, "ORDERS", 3 * n + 1, ++queued));
        ASSERT_TRUE(sink.WaitFor(n));
    }
    EXPECT_EQ(sink.Firings(), Texts(5, "ORDERS 3"));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    ASSERT_TRUE(Report(2, "PAYMENTS", 1, ++queued + 1));
    EXPECT_EQ(fake.Requests(op_connect_request).size(), 6u);
}

// When the event connection cannot be made again within the repair's time, the sink
// hears why, once, and (without reconnecting) the next subscription tries again,
// queueing the request of before too.
TEST_F(ConnectionTest, AnEventConnectionThatCannotBeRepairedIsReported) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    fake.SetAuxiliaryReply({StatusError(isc_login), {}, true, 1});
    fake.CloseAuxiliary();
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Firings(),
              Texts{std::string("lost 7: The event connection was lost and could not be made "
                                "again: ") +
                    kLoginMessage});
    EXPECT_GE(fake.Requests(op_connect_request).size(), 3u);  // tries with pauses
    EXPECT_TRUE(Eventually([&] { return !ListenerEventSet(); }));
    fake.SetAuxiliaryReply({});
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS")) << db->ErrorText().CStr();
    EXPECT_TRUE(fake.WaitAuxiliaryConnected(2));
    EXPECT_EQ(EventIds(fake.Requests(op_que_events)), (Ids{1, 1, 1, 2}));
}

// Disconnect while the listener is inside a report: it cancels every request,
// detaches, and the listener's read ends at once. (Between reports: every test's
// TearDown, and DisconnectWhileReportsArrive.)
TEST_F(ConnectionTest, DisconnectCancelsEveryRequestDetachesAndStopsTheListener) {
    fake.databaseHandle = 9;
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(db->SubscribeEvent("PAYMENTS"));
    ASSERT_TRUE(fake.SendAuxiliary(Words({op_event, 0, 12})));
    ASSERT_TRUE(RunInTime([this] { db->Disconnect(); }));
    EXPECT_FALSE(db->IsConnected());
    EXPECT_FALSE(db->listenerThread.IsRunning());
    EXPECT_FALSE(ListenerEventSet());
    EXPECT_TRUE(TableIds().empty());
    uint32_t exitCode = 1;
    EXPECT_TRUE(db->listenerThread.GetExitCode(&exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(fake.WaitAuxiliaryClosedByClient());
    EXPECT_TRUE(fake.WaitMainClosed(1));
    const std::vector<FirebirdRequest> all = fake.Requests();
    ASSERT_EQ(all.size(), 9u);  // after the connect's 3 and the subscriptions' 3
    EXPECT_EQ(Join({all[6].bytes, all[7].bytes, all[8].bytes}), Words({49, 9, 1, 49, 9, 2, 21, 9}));
    EXPECT_EQ(fake.strayBytes, 0u);
}

// The main connection fails under the listener: the server stops, or it closes the
// connection instead of answering a report's re-queue. A firing that came first is
// still delivered; the sink hears of the loss at once, and why; the requests that
// follow fail with a reason, disconnecting returns at once, and a new connection
// works. (What each fault of a reply reads as: PeerFailures in fault_test.cpp.)
TEST_F(ConnectionTest, TheMainConnectionFailsUnderTheListener) {
    for (const Fault fault : {Fault::kNone, Fault::kClose}) {
        SCOPED_TRACE(static_cast<int>(fault));
        db = NewDatabase(&sink);
        const size_t queued = fake.Requests(op_que_events).size(), seen = sink.Firings().size();
        ASSERT_TRUE(Connect());
        ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
        ASSERT_TRUE(Report(1, "ORDERS", 1, queued + 2));
        if (fault == Fault::kNone) {
            fake.DropConnections();  // the server stops
        } else {
            fake.FaultAtReply(1, fault);
            ASSERT_TRUE(fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", 3}}))));
        }
        const size_t expected = seen + (fault == Fault::kNone ? 1 : 2);
        ASSERT_TRUE(sink.WaitFor(expected));
        const Texts firings = sink.Firings();
        EXPECT_TRUE(fault == Fault::kNone || firings[seen] == "ORDERS 2");
        EXPECT_EQ(firings.back(),
                  "lost 7: The connection to the server was lost: Connection "
                  "closed by the server.");
        EXPECT_TRUE(Eventually([&] { return !db->auxStream.IsOpen() && !ListenerEventSet(); }));
        EXPECT_FALSE(db->SubscribeEvent("PAYMENTS"));
        EXPECT_FALSE(db->ErrorText().IsEmpty());
        EXPECT_FALSE(db->UnsubscribeEvent("ORDERS"));
        bool disconnected = false;
        EXPECT_TRUE(RunInTime([&] { disconnected = db->Disconnect(); }) && disconnected);
        EXPECT_EQ(sink.Firings().size(), expected);
    }
    EXPECT_TRUE(fake.Requests(op_cancel_events).empty());
    EXPECT_TRUE(Connect(*NewDatabase()));
}

// Disconnect while reports arrive: a report may be handled before the cancellation or
// find its request gone, but no request is queued again after it is cancelled, and
// op_detach is the last request.
TEST_F(ConnectionTest, DisconnectWhileReportsArrive) {
    constexpr int kRounds = 10;
    for (int round = 1; round <= kRounds; ++round) {
        db = NewDatabase(&sink);
        ASSERT_TRUE(Connect());
        ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
        ASSERT_TRUE(fake.WaitAuxiliaryConnected(round));
        for (uint32_t count = 1; count <= 5; ++count) {
            fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", count}})));
        }
        ASSERT_TRUE(RunInTime([this] { db->Disconnect(); }));
        ASSERT_TRUE(fake.WaitMainClosed(round));
    }
    for (int round = 1; round <= kRounds; ++round) {
        const Ids ops = fake.Operations(round);
        const auto cancel = std::find(ops.begin(), ops.end(), op_cancel_events);
        EXPECT_EQ(Ids(cancel, ops.end()), (Ids{op_cancel_events, op_detach})) << round;
    }
    const Texts firings = sink.Firings();
    EXPECT_EQ(firings, Texts(firings.size(), "ORDERS 1"));
    EXPECT_LE(firings.size(), kRounds * 4u);
    EXPECT_EQ(fake.strayBytes, 0u);
}

// Reports arrive while the worker subscribes and cancels: both threads share the main
// connection and the table under the connection's lock.
TEST_F(ConnectionTest, ReportsWhileTheWorkerSubscribesAndCancels) {
    constexpr int kReports = 30, kRounds = 10;
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(Report(1, "ORDERS", 1, 2));
    std::thread server([&] {
        for (uint32_t i = 1; i <= kReports; ++i) {
            fake.SendAuxiliary(EventPacket(1, EventBlock({{"ORDERS", 1 + i}})));
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        const std::string name = "X" + std::to_string(round);
        EXPECT_TRUE(db->SubscribeEvent(name.c_str()));
        EXPECT_TRUE(db->UnsubscribeEvent(name.c_str()));
    }
    server.join();
    ASSERT_TRUE(fake.WaitForRequests(op_que_events, 2 + kReports + kRounds));
    ASSERT_TRUE(sink.WaitFor(kReports));
    EXPECT_EQ(sink.Firings(), Texts(kReports, "ORDERS 1"));
    EXPECT_EQ(TableIds(), Ids{1});
    Bytes last;
    for (const FirebirdRequest& request : fake.Requests(op_que_events)) {
        last = request.EventId() == 1 ? request.opaques.at(0) : last;
    }
    EXPECT_EQ(last, EventBlock({{"ORDERS", 1 + kReports}}));
    EXPECT_EQ(fake.strayBytes, 0u);
}

}  // namespace
}  // namespace varnel_test
