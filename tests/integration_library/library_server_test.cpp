// The library end to end through the simulated host: a main thread busy while many
// transactions fire on several connections. A trigger's event running its command is
// checked on every server by the restart tests and the server scripts; handles,
// refusals and disconnects by the server scripts in tests/scripts; a name on two
// connections by Varnel.dll's test beside this one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "simhost/sim_host.h"
#include "support/test_server.h"

namespace {

using A = SimHost::Arg;

void PumpFor(SimHost& host, int ms) {
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
         std::chrono::steady_clock::now() < end;) {
        host.Pump(20);
    }
}

// Nothing is lost, nothing runs twice; each name's counts add up, merged per connection.
TEST(BusyHost, NothingIsLostAndNothingRunsTwice) {
    varnel_test::TestServerConfig server;
    VARNEL_NEED_TEST_SERVER(server);
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    constexpr int kConnections = 3, kCommits = 300;
    for (int c = 0; c < kConnections; ++c) {
        const SimHost::Result r = host.Call(
            "VN_CONNECT", {A::Text(server.host), A::Text(server.database), A::Text(server.user),
                           A::Text(server.password), A::Int(static_cast<int32_t>(server.port))});
        ASSERT_FALSE(r.raised) << r.error;
        for (const char* name : {"HEAVY_A", "HEAVY_B"}) {
            ASSERT_FALSE(host.Call("VN_SUBSCRIBE",
                                   {A::Int(r.value.intValue), A::Text(name), A::Text("<Msg>")})
                             .raised);
        }
    }
    // A firing that the server reports before its first report reaches us is taken
    // into that report, which only sets the counts: fire until every command ran once.
    for (int round = 0; round < 10 && host.executed.size() < kConnections * 2; ++round) {
        ASSERT_EQ(varnel_test::RunIsql(server,
                                       "execute procedure post_events('HEAVY_A', 1);"
                                       " execute procedure post_events('HEAVY_B', 1);"
                                       " commit;"),
                  0);
        PumpFor(host, 1000);
    }
    ASSERT_GE(host.executed.size(), static_cast<size_t>(kConnections * 2));
    host.executed.clear();
    std::string sql;
    for (int i = 0; i < kCommits; ++i) {
        sql += i % 3 == 0 ? "execute procedure post_events('HEAVY_B', 2); commit;\n"
                          : "execute procedure post_events('HEAVY_A', 1); commit;\n";
    }
    ASSERT_EQ(varnel_test::RunIsql(server, sql), 0);  // nothing pumps meanwhile
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    PumpFor(host, 500);
    int64_t a = 0, b = 0;
    for (const std::string& command : host.executed) {
        (command.find("HEAVY_A") != std::string::npos ? a : b) +=
            std::stoll(command.substr(command.find(": ") + 2));
    }
    std::printf("busy host: %zu commands\n", host.executed.size());
    EXPECT_EQ(a, kConnections * (kCommits - kCommits / 3));
    EXPECT_EQ(b, kConnections * (kCommits / 3) * 2);
    EXPECT_LE(host.executed.size(), static_cast<size_t>(kConnections * 2 * 2));
    host.Unload();
}

}  // namespace
