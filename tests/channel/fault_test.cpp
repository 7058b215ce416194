// A peer that fails part-way: every reply of every exchange of a connection, replaced
// in turn by each fault the scripted server can do. Whatever the step, the call
// returns at once with a reason, the connection can still be disconnected and
// destroyed, nothing leaks, and the next connection works. And the system refusing
// the listener's thread or events.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "channel/connection_fixture.h"
#include "platform/system_calls.h"

namespace varnel_test {
namespace {

struct Exchange {
    const char* name;
    // What comes before, with no fault; false when it did not work.
    std::function<bool(CDatabase&, FakeFirebird&)> before;
    // The exchange under test; its result when a reply is faulted.
    std::function<bool(CDatabase&, FakeFirebird&)> run;
    bool resultWhenFaulted;
};

bool Attach(CDatabase& db, FakeFirebird& fake) {
    return db.ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterkey");
}

const Exchange kExchanges[] = {
    {"connect", [](CDatabase&, FakeFirebird&) { return true; }, Attach, false},
    {"first subscription", Attach,
     [](CDatabase& db, FakeFirebird&) { return db.SubscribeEvent("A"); }, false},
    {"second subscription",
     [](CDatabase& db, FakeFirebird& fake) { return Attach(db, fake) && db.SubscribeEvent("A"); },
     [](CDatabase& db, FakeFirebird&) { return db.SubscribeEvent("B"); }, false},
    {"unsubscription",
     [](CDatabase& db, FakeFirebird& fake) { return Attach(db, fake) && db.SubscribeEvent("A"); },
     [](CDatabase& db, FakeFirebird&) { return db.UnsubscribeEvent("A"); }, false},
    {"disconnect with two subscriptions",
     [](CDatabase& db, FakeFirebird& fake) {
         return Attach(db, fake) && db.SubscribeEvent("A") && db.SubscribeEvent("B");
     },
     [](CDatabase& db, FakeFirebird&) { return db.Disconnect(); }, true},
};

const struct {
    Fault fault;
    const char* name;
} kFaults[] = {{Fault::kClose, "close"},
               {Fault::kReset, "reset"},
               {Fault::kGarbage, "garbage"},
               {Fault::kTruncate, "truncated reply"}};

// Runs `exchange` against a fresh server and connection, with `fault` at its step-th
// reply (0: none). Returns the replies the exchange took.
int RunWithFault(const Exchange& exchange, int step, Fault fault) {
    FakeFirebird fake;
    RecordingSink sink;
    std::unique_ptr<CDatabase> db = CDatabase::Create();
    db->AttachEventSink(&sink);
    EXPECT_TRUE(exchange.before(*db, fake)) << db->ErrorText().CStr();
    const int before = fake.Replies();
    if (step > 0) {
        fake.FaultAtReply(step, fault);
    }
    const bool result = exchange.run(*db, fake);
    if (step == 0) {
        EXPECT_TRUE(result) << db->ErrorText().CStr();
    } else {
        EXPECT_EQ(result, exchange.resultWhenFaulted);
        if (!result) {
            EXPECT_FALSE(db->ErrorText().IsEmpty());
            EXPECT_NE(db->mainStream.errorKind, ErrorKind::kNone);
        }
    }
    const int replies = fake.Replies() - before;
    // Disconnecting and destroying return, and the server takes a new connection.
    std::unique_ptr<CDatabase> next = CDatabase::Create();
    std::future<bool> done = std::async(std::launch::async, [&] {
        db->Disconnect();
        db.reset();
        return Attach(*next, fake);
    });
    if (done.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready) {
        ADD_FAILURE() << "disconnecting or connecting again hung";
        fake.DropConnections();
    }
    EXPECT_TRUE(done.get()) << next->ErrorText().CStr();
    return replies;
}

TEST(PeerFailures, EveryReplyOfEveryExchange) {
    for (const Exchange& exchange : kExchanges) {
        SCOPED_TRACE(exchange.name);
        const int steps = RunWithFault(exchange, 0, Fault::kNone);
        ASSERT_GT(steps, 0);
        for (int step = 1; step <= steps; ++step) {
            for (const auto& f : kFaults) {
                SCOPED_TRACE("reply " + std::to_string(step) + ": " + f.name);
                RunWithFault(exchange, step, f.fault);
            }
        }
    }
}

// What the user reads when the attach's reply fails: the stream's own words.
TEST(PeerFailures, TheAttachsReasons) {
    const struct {
        Fault fault;
        const char* text;
        ErrorKind kind;
    } cases[] = {
        {Fault::kClose, "Connection closed by the server.", ErrorKind::kClosed},
        {Fault::kGarbage, "Unable to get response.", ErrorKind::kProtocol},
        {Fault::kTruncate, "Connection closed by the server.", ErrorKind::kClosed},
    };
    for (const auto& c : cases) {
        FakeFirebird fake;
        std::unique_ptr<CDatabase> db = CDatabase::Create();
        fake.FaultAtReply(2, c.fault);
        EXPECT_FALSE(Attach(*db, fake));
        EXPECT_EQ(db->ErrorText().Bytes(), c.text);
        EXPECT_EQ(db->mainStream.errorKind, c.kind);
    }
}

// A server that stops part-way through a reply: a connect gives up after its
// time-out, whichever reply of the login stalls; a disconnect with a grace (as
// unloading does) does not wait longer than the grace.
TEST(PeerFailures, StallsAreBounded) {
    for (int step = 1; step <= 3; ++step) {
        SCOPED_TRACE(step);
        FakeFirebird fake;
        std::unique_ptr<CDatabase> db = CDatabase::Create();
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
    FakeFirebird fake;
    std::unique_ptr<CDatabase> db = CDatabase::Create();
    ASSERT_TRUE(Attach(*db, fake));
    ASSERT_TRUE(db->SubscribeEvent("A"));
    fake.FaultAtReply(1, Fault::kStall);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(db->Disconnect(300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(db->IsConnected());
}

class SystemRefusals : public ConnectionTest {
protected:
    void TearDown() override {
        platform::ResetSystemCalls();
        ConnectionTest::TearDown();
    }
};

// The listener's thread or one of its events cannot be made: the subscription fails
// before anything is sent for it, and the next one works.
TEST_F(SystemRefusals, TheListenerCannotStart) {
    ASSERT_TRUE(Connect());
    const struct {
        platform::SystemCall call;
        int nth;
    } cases[] = {{platform::SystemCall::kThread, 1},
                 {platform::SystemCall::kEvent, 1},
                 {platform::SystemCall::kEvent, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nth);
        platform::FailSystemCall(c.call, c.nth);
        EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
        EXPECT_EQ(db->ErrorText().Bytes(), "Unable to start listening for events.");
        EXPECT_EQ(db->mainStream.errorKind, ErrorKind::kSystem);
        EXPECT_FALSE(db->listenerThread.IsRunning());
        EXPECT_TRUE(fake.RequestsOf(op_connect_request).empty());
    }
    platform::ResetSystemCalls();
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_TRUE(Report(1, "ORDERS", 1, 2));
}

// No socket for the auxiliary connection: the reason is the auxiliary socket's. (The
// server names a port where nothing listens, so that it does not wait for us.)
TEST_F(SystemRefusals, NoSocketForTheAuxiliaryConnection) {
    ASSERT_TRUE(Connect());
    ConnectRequestReply reply;
    reply.layout = ConnectRequestReply::Layout::kUnreachablePort;
    fake.SetConnectRequestReply(reply);
    platform::FailSystemCall(platform::SystemCall::kSocket, 1);
    EXPECT_FALSE(db->SubscribeEvent("ORDERS"));
    EXPECT_EQ(db->ErrorText().Bytes(), "Socket() function is failed.");
    EXPECT_EQ(db->mainStream.errorKind, ErrorKind::kSystem);
    EXPECT_TRUE(TableIds().empty());
}

}  // namespace
}  // namespace varnel_test
