// The library end to end against the real servers, through the simulated host: events
// fired by the server run the subscriber's command on the host's main thread. Handles,
// refusals and disconnects are checked by the server scripts in tests/scripts.
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
using Texts = std::vector<std::string>;

class LibraryServer : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        VARNEL_NEED_TEST_SERVER(server, GetParam());
        ASSERT_TRUE(host.Load()) << host.LoadError();
    }
    void TearDown() override { host.Unload(); }
    int32_t Connect() {
        const SimHost::Result r = host.Call(
            "VN_CONNECT", {A::Text(server.host), A::Text(server.database), A::Text(server.user),
                           A::Text(server.password), A::Int(static_cast<int32_t>(server.port))});
        EXPECT_FALSE(r.raised) << r.error;
        return r.value.intValue;
    }
    SimHost::Result Subscribe(int32_t handle, const std::string& name, const std::string& tmpl) {
        return host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text(name), A::Text(tmpl)});
    }
    void Sql(const std::string& sql) { ASSERT_EQ(varnel_test::RunIsql(server, sql), 0) << sql; }
    // Pumps until `count` commands ran, then a while more to see that nothing else comes.
    void PumpUntil(size_t count, int moreMs = 300) {
        for (const auto end = Clock::now() + std::chrono::seconds(5);
             host.executed.size() < count && Clock::now() < end;) {
            host.Pump(50);
        }
        for (const auto end = Clock::now() + std::chrono::milliseconds(moreMs);
             Clock::now() < end;) {
            host.Pump(20);
        }
    }

    varnel_test::TestServerConfig server;
    SimHost host;
};

// A connection string with wirecrypt=Required (over IPv6 where the server listens on
// ::1, the auxiliary connection too); a trigger's event, pumped; then two
// commits while the host does not pump arrive as one; a rollback fires nothing; names
// differ by case.
TEST_P(LibraryServer, EventsRunTheSubscribersCommand) {
    const std::string text = "Server=" + server.host + ";PORT=" + std::to_string(server.port) +
                             ";database=" + server.database + ";user=" + server.user +
                             ";pwd=" + server.password + ";wirecrypt=Required";
    const SimHost::Result r = host.Call("VN_STRINGCONNECT", {A::Text(text)});
    ASSERT_FALSE(r.raised) << r.error;
    ASSERT_FALSE(Subscribe(r.value.intValue, "ORDERS", "? <Msg>").raised);
    PumpUntil(0);  // the first report only records the baseline
    const auto committed = Clock::now();
    Sql("insert into orders(item) values('one'); commit;");
    PumpUntil(1, 0);
    std::printf("commit to command (isql-fb's own exit included): %.2f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - committed).count());
    Sql("insert into orders(item) values('a'); insert into orders(item) values('b'); commit;"
        " insert into orders(item) values('c'); commit;"
        " insert into orders(item) values('gone'); rollback;"
        " execute procedure post_events('orders', 1); commit;");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    PumpUntil(2);
    EXPECT_EQ(host.executed, (Texts{"? \"ORDERS: 1\"", "? \"ORDERS: 3\""}));
}

INSTANTIATE_TEST_SUITE_P(Servers, LibraryServer,
                         ::testing::Values(varnel_test::kLegacyServer,
                                           varnel_test::kFirebird3Default, varnel_test::kFirebird4,
                                           varnel_test::kIPv6Server));

class Legacy : public LibraryServer {};

// Two names on two connections, and one name on both: a firing runs the command once
// per connection; a second subscription on one connection changes nothing at the
// server; unsubscribing on one connection leaves the other's.
TEST_P(Legacy, NamesOnTwoConnections) {
    const int32_t first = Connect(), second = Connect();
    for (int32_t handle : {first, first, second}) {
        ASSERT_FALSE(Subscribe(handle, "NAMES_T", "t <Msg>").raised);
    }
    ASSERT_FALSE(Subscribe(first, "NAMES_A", "a <Msg>").raised);
    ASSERT_FALSE(Subscribe(second, "NAMES_B", "b <Msg>").raised);
    PumpUntil(0, 200);
    Sql("execute procedure post_events('NAMES_A', 2); execute procedure post_events('NAMES_B', 5);"
        " execute procedure post_events('NAMES_T', 1); commit;");
    PumpUntil(4);
    std::sort(host.executed.begin(), host.executed.end());
    EXPECT_EQ(host.executed, (Texts{"a \"NAMES_A: 2\"", "b \"NAMES_B: 5\"", "t \"NAMES_T: 1\"",
                                    "t \"NAMES_T: 1\""}));
    ASSERT_FALSE(host.Call("VN_UNSUBSCRIBE", {A::Int(first), A::Text("NAMES_T")}).raised);
    EXPECT_EQ(host.Call("VN_LIST_SUBSCR").text,
              "NAMES_T\t\tt <Msg>\nNAMES_A\t\ta <Msg>\nNAMES_B\t\tb <Msg>\n");
    Sql("execute procedure post_events('NAMES_T', 2); commit;");
    PumpUntil(5);
    EXPECT_EQ(host.executed.size(), 5u);
    EXPECT_EQ(host.executed.back(), "t \"NAMES_T: 2\"");
    EXPECT_EQ(host.Call("VN_UNSUBSCRIBE", {A::Int(first), A::Text("NAMES_T")}).error,
              "The event is not subscribed on this connection.");
}

// The host's main thread is busy while many transactions fire on several
// connections: nothing is lost, nothing runs twice; each name's counts add up.
TEST_P(Legacy, ABusyHostLosesNothing) {
    constexpr int kConnections = 3, kCommits = 300;
    for (int c = 0; c < kConnections; ++c) {
        const int32_t handle = Connect();
        ASSERT_FALSE(Subscribe(handle, "HEAVY_A", "<Msg>").raised);
        ASSERT_FALSE(Subscribe(handle, "HEAVY_B", "<Msg>").raised);
    }
    PumpUntil(0);
    std::string sql;
    for (int i = 0; i < kCommits; ++i) {
        sql += i % 3 == 0 ? "execute procedure post_events('HEAVY_B', 2); commit;\n"
                          : "execute procedure post_events('HEAVY_A', 1); commit;\n";
    }
    Sql(sql);  // nothing pumps meanwhile
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    PumpUntil(0, 500);
    int64_t a = 0, b = 0;
    for (const std::string& command : host.executed) {
        (command.find("HEAVY_A") != std::string::npos ? a : b) +=
            std::stoll(command.substr(command.find(": ") + 2));
    }
    std::printf("busy host: %zu commands\n", host.executed.size());
    EXPECT_EQ(a, kConnections * (kCommits - kCommits / 3));
    EXPECT_EQ(b, kConnections * (kCommits / 3) * 2);
    EXPECT_LE(host.executed.size(), static_cast<size_t>(kConnections * 2 * 2));
}

INSTANTIATE_TEST_SUITE_P(Server, Legacy, ::testing::Values(varnel_test::kLegacyServer));

}  // namespace
