// The library end to end against the real Firebird server, through the simulated
// host: connections, subscriptions, and events fired by the server running the
// subscriber's command on the host's main thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "simhost/sim_host.h"
#include "support/test_server.h"

namespace {

using A = SimHost::Arg;
using Clock = std::chrono::steady_clock;

class LibraryServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VARNEL_NEED_TEST_SERVER(server);
        ASSERT_TRUE(host.Load()) << host.LoadError();
    }
    void TearDown() override { host.Unload(); }

    SimHost::Result Connect(const std::string& password) {
        return host.Call("VN_CONNECT",
                         {A::Text(server.host), A::Text(server.database), A::Text(server.user),
                          A::Text(password), A::Int(static_cast<int32_t>(server.port))});
    }
    int32_t Connect() {
        SimHost::Result r = Connect(server.password);
        EXPECT_FALSE(r.raised) << r.error;
        return r.value.intValue;
    }
    SimHost::Result Subscribe(int32_t handle, const std::string& name, const std::string& tmpl) {
        return host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text(name), A::Text(tmpl)});
    }
    void Sql(const std::string& sql) { ASSERT_EQ(varnel_test::RunIsql(server, sql), 0) << sql; }
    // Pumps the main window until `count` commands ran or the limit passed.
    bool PumpUntil(size_t count, int limitMs = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
        while (host.executed.size() < count && Clock::now() < end) {
            host.Pump(50);
        }
        return host.executed.size() >= count;
    }
    // Pumps for a while, to see that nothing (more) arrives.
    void PumpFor(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            host.Pump(20);
        }
    }

    varnel_test::TestServerConfig server;
    SimHost host;
};

TEST_F(LibraryServerTest, HandlesAreReusedLowestFirst) {
    const auto start = Clock::now();
    EXPECT_EQ(Connect(), 1);
    const double connectMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("connect (open, op_connect, op_attach, op_info_database): %.2f ms\n", connectMs);
    EXPECT_EQ(Connect(), 2);
    EXPECT_EQ(Connect(), 3);
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(2)}).raised);
    EXPECT_EQ(host.Call("VN_DISCONNECT", {A::Int(2)}).error, "The connection handle is wrong.");
    EXPECT_EQ(Connect(), 2);
    EXPECT_EQ(Connect(), 4);
    for (int32_t handle : {1, 2, 3, 4}) {
        EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(handle)}).raised) << handle;
    }
    EXPECT_EQ(Connect(), 1);
}

TEST_F(LibraryServerTest, ConnectionString) {
    const std::string text = "Server=" + server.host + ";DATABASE=" + server.database +
                             ";user=" + server.user + ";pwd=" + server.password +
                             ";port=" + std::to_string(server.port);
    SimHost::Result r = host.Call("VN_STRINGCONNECT", {A::Text(text)});
    EXPECT_FALSE(r.raised) << r.error;
    EXPECT_EQ(r.value.intValue, 1);
}

TEST_F(LibraryServerTest, RefusalsCarryTheServersMessages) {
    SimHost::Result r = Connect("wrong-password");
    EXPECT_EQ(r.value.intValue, -1);
    EXPECT_EQ(r.error,
              "Your user name and password are not defined. Ask your database administrator to "
              "set up a Firebird login.\n");

    r = host.Call("VN_CONNECT",
                  {A::Text(server.host), A::Text("/nonexistent/none.fdb"), A::Text(server.user),
                   A::Text(server.password), A::Int(static_cast<int32_t>(server.port))});
    EXPECT_EQ(r.value.intValue, -1);
    EXPECT_EQ(r.error, "Cannot find database file.\nError while trying to open file\n");

    r = host.Call("VN_CONNECT", {A::Text("127.0.0.1"), A::Text(server.database),
                                 A::Text(server.user), A::Text(server.password), A::Int(1)});
    EXPECT_EQ(r.error, "Unable to connect.");
    r = host.Call("VN_CONNECT", {A::Text("no-such-host.invalid"), A::Text(server.database),
                                 A::Text(server.user), A::Text(server.password)});
    EXPECT_EQ(r.error, "Unable to solve the address.");

    // None of the failures used up a handle.
    EXPECT_EQ(Connect(), 1);
}

TEST_F(LibraryServerTest, EventsRunTheSubscribersCommand) {
    const int32_t handle = Connect();
    ASSERT_FALSE(Subscribe(handle, "ORDERS", "? <Msg>").raised);
    PumpFor(300);  // the first report only records the baseline
    EXPECT_TRUE(host.executed.empty());

    const auto committed = Clock::now();
    Sql("insert into orders(item) values('one'); commit;");
    ASSERT_TRUE(PumpUntil(1));
    std::printf("commit to command (isql-fb's own exit included): %.2f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - committed).count());
    EXPECT_EQ(host.executed[0], "? \"ORDERS: 1\"");

    Sql("insert into orders(item) values('a'); insert into orders(item) values('b');"
        " insert into orders(item) values('c'); commit;");
    ASSERT_TRUE(PumpUntil(2));
    EXPECT_EQ(host.executed[1], "? \"ORDERS: 3\"");

    Sql("insert into orders(item) values('gone'); rollback;");
    PumpFor(500);
    EXPECT_EQ(host.executed.size(), 2u);

    // Names differ by case.
    Sql("execute procedure post_events('orders', 1); commit;");
    PumpFor(300);
    EXPECT_EQ(host.executed.size(), 2u);
}

TEST_F(LibraryServerTest, TwoConnectionsAndTwoNames) {
    const int32_t first = Connect();
    const int32_t second = Connect();
    ASSERT_FALSE(Subscribe(first, "ALPHA", "a <Msg>").raised);
    ASSERT_FALSE(Subscribe(second, "BETA", "b <Msg>").raised);
    PumpFor(200);
    Sql("execute procedure post_events('ALPHA', 2); execute procedure post_events('BETA', 5);"
        " commit;");
    ASSERT_TRUE(PumpUntil(2));
    PumpFor(200);
    ASSERT_EQ(host.executed.size(), 2u);
    std::sort(host.executed.begin(), host.executed.end());
    EXPECT_EQ(host.executed[0], "a \"ALPHA: 2\"");
    EXPECT_EQ(host.executed[1], "b \"BETA: 5\"");
}

// One name on two connections: a firing runs the command once per connection; a
// second subscription on one connection changes nothing at the server; unsubscribing
// on one connection leaves the other's.
TEST_F(LibraryServerTest, OneNameOnTwoConnections) {
    const int32_t first = Connect();
    const int32_t second = Connect();
    for (int32_t handle : {first, first, second}) {
        ASSERT_FALSE(Subscribe(handle, "TWICE", "t <Msg>").raised);
    }
    EXPECT_EQ(host.Call("VN_LIST_SUBSCR").text, "TWICE\t\tt <Msg>\n");
    PumpFor(200);
    Sql("execute procedure post_events('TWICE', 1); commit;");
    ASSERT_TRUE(PumpUntil(2));
    PumpFor(300);
    EXPECT_EQ(host.executed, (std::vector<std::string>(2, "t \"TWICE: 1\"")));
    ASSERT_FALSE(host.Call("VN_UNSUBSCRIBE", {A::Int(first), A::Text("TWICE")}).raised);
    EXPECT_EQ(host.Call("VN_LIST_SUBSCR").text, "TWICE\t\tt <Msg>\n");
    Sql("execute procedure post_events('TWICE', 2); commit;");
    ASSERT_TRUE(PumpUntil(3));
    PumpFor(300);
    EXPECT_EQ(host.executed.size(), 3u);
    EXPECT_EQ(host.executed.back(), "t \"TWICE: 2\"");
    SimHost::Result r = host.Call("VN_UNSUBSCRIBE", {A::Int(first), A::Text("TWICE")});
    EXPECT_EQ(r.error, "The event is not subscribed on this connection.");
}

// The host's main thread is busy while many transactions fire on several
// connections: nothing is lost, nothing runs twice; each name's counts add up.
TEST_F(LibraryServerTest, ABusyHostLosesNothing) {
    constexpr int kConnections = 3;
    constexpr int kCommits = 300;
    for (int c = 0; c < kConnections; ++c) {
        const int32_t handle = Connect();
        for (const char* name : {"BUSY_A", "BUSY_B"}) {
            ASSERT_FALSE(Subscribe(handle, name, "<Msg>").raised);
        }
    }
    PumpFor(300);
    std::string sql;
    for (int i = 0; i < kCommits; ++i) {
        sql += i % 3 == 0 ? "execute procedure post_events('BUSY_B', 2); commit;\n"
                          : "execute procedure post_events('BUSY_A', 1); commit;\n";
    }
    Sql(sql);  // nothing pumps meanwhile
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    PumpFor(500);
    int64_t a = 0, b = 0;
    for (const std::string& command : host.executed) {
        const std::string::size_type colon = command.find(": ");
        const int64_t count = std::stoll(command.substr(colon + 2));
        (command.find("BUSY_A") != std::string::npos ? a : b) += count;
    }
    std::printf("busy host: %zu commands; BUSY_A %lld of %d, BUSY_B %lld of %d\n",
                host.executed.size(), static_cast<long long>(a), kConnections * kCommits * 2 / 3,
                static_cast<long long>(b), kConnections * kCommits / 3 * 2);
    EXPECT_EQ(a, kConnections * (kCommits - kCommits / 3));
    EXPECT_EQ(b, kConnections * (kCommits / 3) * 2);
    EXPECT_LE(host.executed.size(), static_cast<size_t>(kConnections * 2 * 2));
}

TEST_F(LibraryServerTest, DisconnectWithSubscriptionsReturnsPromptly) {
    const int32_t handle = Connect();
    ASSERT_FALSE(Subscribe(handle, "ORDERS", "? <Msg>").raised);
    ASSERT_FALSE(Subscribe(handle, "OTHER", "? <Msg>").raised);
    PumpFor(100);
    const auto start = Clock::now();
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(handle)}).raised);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    // The records stay; the handle is gone.
    EXPECT_EQ(host.Call("VN_LIST_SUBSCR").text, "ORDERS\t\t? <Msg>\nOTHER\t\t? <Msg>\n");
    EXPECT_EQ(Subscribe(handle, "ORDERS", "? <Msg>").error, "The connection handle is wrong.");
    Sql("insert into orders(item) values('after'); commit;");
    PumpFor(300);
    EXPECT_TRUE(host.executed.empty());
}

TEST_F(LibraryServerTest, UnloadWithOpenSubscribedConnectionsClosesThem) {
    Connect();
    const int32_t second = Connect();
    ASSERT_FALSE(Subscribe(second, "ORDERS", "? <Msg>").raised);
    const auto start = Clock::now();
    host.Unload();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

// Every test server, the two at their default security settings included: a
// connection string's connect, and a trigger's event running the subscriber's
// command over an encrypted main connection.
class EveryServer : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryServer, EventsEndToEnd) {
    varnel_test::TestServerConfig server;
    VARNEL_NEED_TEST_SERVER(server, GetParam());
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    const std::string text = "server=" + server.host + ";port=" + std::to_string(server.port) +
                             ";database=" + server.database + ";user=" + server.user +
                             ";password=" + server.password + ";wirecrypt=Required";
    SimHost::Result r = host.Call("VN_STRINGCONNECT", {A::Text(text)});
    ASSERT_FALSE(r.raised) << r.error;
    const int32_t handle = r.value.intValue;
    ASSERT_FALSE(
        host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text("ORDERS"), A::Text("? <Msg>")}).raised);
    host.Pump(200);  // the first report only records the baseline
    // One commit, pumped; then two while the host does not pump: they arrive as one.
    const auto pumpUntil = [&host](size_t n) {
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (host.executed.size() < n && Clock::now() < end) {
            host.Pump(50);
        }
    };
    ASSERT_EQ(varnel_test::RunIsql(server, "insert into orders(item) values('one'); commit;"), 0);
    pumpUntil(1);
    ASSERT_EQ(varnel_test::RunIsql(server,
                                   "insert into orders(item) values('a');"
                                   " insert into orders(item) values('b'); commit;"
                                   " insert into orders(item) values('c'); commit;"),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pumpUntil(2);
    host.Pump(100);
    EXPECT_EQ(host.executed, (std::vector<std::string>{"? \"ORDERS: 1\"", "? \"ORDERS: 3\""}));
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(handle)}).raised);
    host.Unload();
}

INSTANTIATE_TEST_SUITE_P(Servers, EveryServer,
                         ::testing::Values(varnel_test::kLegacyServer,
                                           varnel_test::kFirebird3Default,
                                           varnel_test::kFirebird4));

}  // namespace
