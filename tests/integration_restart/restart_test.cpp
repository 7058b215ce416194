// The library end to end through the simulated host while the real servers crash and
// come back: without a call by the program the loss notice runs, then the restore
// notice, then a trigger's event runs its command with its count, on the main thread;
// with reconnect=No the loss is final. A frozen server costs a call its time-out, and
// the connection comes back once the server goes on. The servers are killed and
// started with scripts/firebird-test-server.sh, so these tests run one at a time and
// need root, as the test command has.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "simhost/sim_host.h"
#include "support/test_server.h"

namespace {

using A = SimHost::Arg;
using Clock = std::chrono::steady_clock;

struct Server {
    const char* prefix;
    const char* profile;  // of scripts/firebird-test-server.sh
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.profile;
}

int Control(const Server& server, const char* verb) {
    const std::string command = std::string(VARNEL_SOURCE_DIR) +
                                "/scripts/firebird-test-server.sh " + server.profile + " " + verb +
                                " >/dev/null";
    return std::system(command.c_str());
}

// Pumps until a command that contains `text` has run (true), or ms have passed.
bool PumpUntil(SimHost& host, const std::string& text, int ms) {
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
        for (const std::string& command : host.executed) {
            if (command.find(text) != std::string::npos) {
                return true;
            }
        }
        host.Pump(20);
    }
    return false;
}

class ServerRestart : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        VARNEL_NEED_TEST_SERVER(server, GetParam().prefix);
        if (::geteuid() != 0) {
            GTEST_SKIP() << "killing and starting the test server needs root";
        }
        ASSERT_TRUE(host.Load()) << host.LoadError();
    }
    void TearDown() override {
        Control(GetParam(), "thaw");
        Control(GetParam(), "start");
        host.Unload();
    }
    int32_t Connect(const std::string& more) {
        const std::string text = "server=" + server.host + ";port=" + std::to_string(server.port) +
                                 ";database=" + server.database + ";user=" + server.user +
                                 ";password=" + server.password + more;
        const SimHost::Result r = host.Call("VN_STRINGCONNECT", {A::Text(text)});
        EXPECT_FALSE(r.raised) << r.error;
        const int32_t h = r.value.intValue;
        EXPECT_FALSE(host.Call("VN_ONLOST", {A::Int(h), A::Text("LOST <Msg>")}).raised);
        EXPECT_FALSE(host.Call("VN_ONRESTORED", {A::Int(h), A::Text("BACK <Msg>")}).raised);
        for (const char* name : {"ORDERS", "SHIPPED"}) {
            EXPECT_FALSE(
                host.Call("VN_SUBSCRIBE", {A::Int(h), A::Text(name), A::Text("FIRED <Msg>")})
                    .raised);
        }
        return h;
    }

    varnel_test::TestServerConfig server;
    SimHost host;
};

TEST_P(ServerRestart, TheConnectionComesBackByItself) {
    Connect(";reconnect=2");
    // Started again at once, and after staying down for several pauses.
    for (int downMs : {0, 5000}) {
        SCOPED_TRACE(downMs);
        host.executed.clear();
        ASSERT_EQ(Control(GetParam(), "kill"), 0);
        ASSERT_TRUE(PumpUntil(host, "LOST ", 5000));
        PumpUntil(host, "never", downMs);
        const Clock::time_point started = Clock::now();
        ASSERT_EQ(Control(GetParam(), "start"), 0);
        ASSERT_TRUE(PumpUntil(host, "BACK ", 15000));
        std::printf("%s: back %lld ms after the start\n", GetParam().profile,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               Clock::now() - started)
                                               .count()));
        ASSERT_EQ(
            varnel_test::RunIsql(server, "execute procedure post_events('ORDERS', 2); commit;"), 0);
        ASSERT_TRUE(PumpUntil(host, "FIRED ", 5000));
        ASSERT_EQ(host.executed.size(), 3u);
        EXPECT_EQ(host.executed[0].rfind("LOST 1, \"The connection to the server was lost: ", 0),
                  0u);
        EXPECT_NE(host.executed[0].find(" Connecting again.\""), std::string::npos);
        EXPECT_EQ(host.executed[1].rfind("BACK 1, \"The connection is back after ", 0), 0u);
        EXPECT_EQ(host.executed[2], "FIRED \"ORDERS: 2\"");
    }
}

TEST_P(ServerRestart, WithoutReconnectingTheLossIsFinal) {
    const int32_t h = Connect(";reconnect=No");
    ASSERT_EQ(Control(GetParam(), "kill"), 0);
    ASSERT_TRUE(PumpUntil(host, "LOST ", 5000));
    ASSERT_EQ(Control(GetParam(), "start"), 0);
    EXPECT_FALSE(PumpUntil(host, "BACK ", 3000));
    EXPECT_EQ(host.executed.size(), 1u);
    EXPECT_EQ(host.executed[0].find("Connecting again"), std::string::npos);
    EXPECT_TRUE(host.Call("VN_SUBSCRIBE", {A::Int(h), A::Text("LATER"), A::Text("<Msg>")}).raised);
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(h)}).raised);  // the handle is freed
}

// A server frozen while the program subscribes: the call returns the time-out's error
// within the time-out and a second, the program goes on, and the connection comes back
// once the server does.
TEST_P(ServerRestart, AFrozenServerCostsACallItsTimeOut) {
    const int32_t h = Connect(";timeout=2;reconnect=1");
    ASSERT_EQ(Control(GetParam(), "freeze"), 0);
    std::promise<void> returned;  // the server goes on when the call returns, or after 5 s
    std::thread thaw([&] {
        returned.get_future().wait_for(std::chrono::seconds(5));
        Control(GetParam(), "thaw");
    });
    const Clock::time_point start = Clock::now();
    const SimHost::Result r =
        host.Call("VN_SUBSCRIBE", {A::Int(h), A::Text("LATER"), A::Text("<Msg>")});
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    returned.set_value();
    thaw.join();
    EXPECT_EQ(r.error, "The server did not answer in time (time-out: 2 s).");
    EXPECT_LT(ms, 3000);
    EXPECT_TRUE(PumpUntil(host, "BACK ", 15000));
    EXPECT_FALSE(host.Call("VN_SUBSCRIBE", {A::Int(h), A::Text("LATER"), A::Text("<Msg>")}).raised);
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerRestart,
                         ::testing::Values(Server{varnel_test::kLegacyServer, "legacy"},
                                           Server{varnel_test::kFirebird3Default, "fb3default"},
                                           Server{varnel_test::kFirebird4, "fb4"}));

}  // namespace
