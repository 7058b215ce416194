// A peer that fails part-way, and the system refusing the listener's thread, its
// events or a socket.

#include <gtest/gtest.h>

#include <functional>

#include "channel/connection_fixture.h"
#include "platform/system_calls.h"

namespace varnel_test {
namespace {

struct Exchange {
    const char* name;
    std::vector<const char*> before;      // subscriptions made first, after the connect
    std::function<bool(CDatabase&)> run;  // nullptr: the connect
    bool resultWhenFaulted;
};

// The exchange against a fresh server, with `fault` at its step-th reply (0: none).
// Returns the replies the exchange took.
int RunWithFault(const Exchange& exchange, int step, Fault fault) {
    FakeFirebird fake;
    RecordingSink sink;
    std::unique_ptr<CDatabase> db = NewDatabase(&sink);
    const bool connect = exchange.run == nullptr;
    EXPECT_TRUE(connect || Connect(*db, fake));
    for (const char* name : exchange.before) {
        EXPECT_TRUE(db->SubscribeEvent(name));
    }
    const int before = fake.replies;
    fake.FaultAtReply(step, step > 0 ? fault : Fault::kNone);
    const bool result = connect ? Connect(*db, fake) : exchange.run(*db);
    EXPECT_EQ(result, step == 0 || exchange.resultWhenFaulted) << db->ErrorText().CStr();
    if (!result) {
        EXPECT_FALSE(db->ErrorText().IsEmpty());
        EXPECT_NE(db->mainStream.errorKind, ErrorKind::kNone);
    }
    const int replies = fake.replies - before;
    std::unique_ptr<CDatabase> next = NewDatabase();
    bool again = false;
    EXPECT_TRUE(RunInTime(fake, [&] {
        db->Disconnect();
        db.reset();
        again = Connect(*next, fake);
    })) << "disconnecting or connecting again hung";
    EXPECT_TRUE(again) << next->ErrorText().CStr();
    return replies;
}

// Every reply of every exchange, replaced in turn by each fault the scripted server can
// do: the call returns with a reason, the connection can still be disconnected and
// destroyed, and the next one works.
TEST(PeerFailures, EveryReplyOfEveryExchange) {
    const Exchange exchanges[] = {
        {"connect", {}, nullptr, false},
        {"first subscription", {}, [](CDatabase& db) { return db.SubscribeEvent("A"); }, false},
        {"second subscription", {"A"}, [](CDatabase& db) { return db.SubscribeEvent("B"); }, false},
        {"unsubscription", {"A"}, [](CDatabase& db) { return db.UnsubscribeEvent("A"); }, false},
        {"disconnect", {"A", "B"}, [](CDatabase& db) { return db.Disconnect(); }, true},
    };
    for (const Exchange& exchange : exchanges) {
        SCOPED_TRACE(exchange.name);
        const int steps = RunWithFault(exchange, 0, Fault::kNone);
        ASSERT_GT(steps, 0);
        for (int step = 1; step <= steps; ++step) {
            for (Fault fault : {Fault::kClose, Fault::kReset, Fault::kGarbage, Fault::kTruncate}) {
                SCOPED_TRACE("reply " + std::to_string(step) + ", fault " +
                             std::to_string(static_cast<int>(fault)));
                RunWithFault(exchange, step, fault);
            }
        }
    }
}

// A stall in any reply of the login ends at the connect time-out. (A disconnect whose
// cancellation stalls keeps to the unload's grace: tests/host/lifecycle_test.cpp.)
TEST(PeerFailures, StallsEndAtTheConnectTimeOut) {
    for (int step = 1; step <= 3; ++step) {
        FakeFirebird fake;
        std::unique_ptr<CDatabase> db = NewDatabase();
        fake.FaultAtReply(step, Fault::kStall);
        LoginOptions options;
        options.connectTimeoutMs = 1000;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(db->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA",
                                         "masterkey", options));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(db->ErrorText().Bytes(),
                  "The server did not answer in time (connect time-out: 1 s).");
        EXPECT_EQ(db->mainStream.errorKind, ErrorKind::kTimeout);
    }
}

// The listener's thread or one of its events cannot be made, or no socket for the
// auxiliary connection (its port is where nothing listens, so that the server does not
// wait for it): the subscription fails with the reason before anything is sent for
// it, and the next one works.
TEST_F(ConnectionTest, SystemRefusals) {
    ASSERT_TRUE(Connect());
    using S = platform::SystemCall;
    const struct {
        S call;
        int nth;
        const char* text;
    } cases[] = {{S::kThread, 1, "Unable to start listening for events."},
                 {S::kEvent, 1, "Unable to start listening for events."},
                 {S::kEvent, 4, "Unable to start listening for events."},
                 {S::kSocket, 1, "Socket() function is failed."}};
    for (const auto& c : cases) {
        fake.SetAuxiliaryReply({{}, {}, c.call != S::kSocket, 1});
        platform::FailSystemCall(c.call, c.nth);
        EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
        platform::ResetSystemCalls();
        EXPECT_EQ(db->ErrorText().Bytes(), c.text);
        EXPECT_EQ(db->mainStream.errorKind, ErrorKind::kSystem);
        EXPECT_EQ(db->listenerThread.IsRunning(), c.call == S::kSocket);
        EXPECT_EQ(fake.Requests(op_connect_request).size(), c.call == S::kSocket ? 1u : 0u);
        EXPECT_TRUE(TableIds().empty());
    }
    fake.SetAuxiliaryReply({});
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_TRUE(Report(1, "ORDERS", 1, 2));
}

}  // namespace
}  // namespace varnel_test
