// The connection object against the real servers: the legacy-configured Firebird 3,
// and Firebird 3 and 4 at their default security settings (Srp or Srp256, wire
// encryption required). Logging in with user names, passwords, the encryption
// policies, the plugin lists and every cipher a server offers; and the event
// connection dropped under the listener, which repairs it with exact counts; the
// connection check.

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channel/connection_check.h"
#include "channel/database.h"
#include "support/byte_transport.h"
#include "support/recording_sink.h"
#include "support/test_server.h"

namespace {

struct Server {
    const char* prefix;
    int32_t protocol;
    const char* plugin;                // with the default plugin list
    std::vector<const char*> ciphers;  // offered, the server's first one first
    bool legacyLogin;                  // takes Legacy_Auth and plain connections
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.prefix;
}

class Login : public ::testing::TestWithParam<Server> {};

TEST_P(Login, EveryWayIn) {
    const Server& s = GetParam();
    varnel_test::TestServerConfig c;
    VARNEL_NEED_TEST_SERVER(c, s.prefix);
    const auto E = WireCryptPolicy::kEnabled, R = WireCryptPolicy::kRequired,
               D = WireCryptPolicy::kDisabled;
    struct Attempt {
        std::string user, password;
        WireCryptPolicy policy;
        const char* plugins;  // nullptr: the default list
        std::string cipher;   // asked for, then expected
        std::string error;    // "": it connects
        std::string plugin;
        bool only10 = false;  // offers protocol 10 alone
    };
    const std::string first = s.ciphers[0];
    std::vector<Attempt> attempts = {
        {"sysdba", c.password, R, nullptr, first, "", s.plugin},
        {c.user, "wrong", E, nullptr, "", varnel_test::kLoginMessage, ""},
    };
    if (!c.mixedUser.empty()) {  // a quoted login keeps its case
        attempts.push_back({c.mixedUser, c.mixedPassword, E, nullptr, first, "", s.plugin});
        attempts.push_back(
            {"Mixed", c.mixedPassword, E, nullptr, "", varnel_test::kLoginMessage, ""});
    }
    for (const char* cipher : s.ciphers) {
        attempts.push_back({c.user, c.password, E, nullptr, cipher, "", s.plugin});
    }
    if (s.legacyLogin) {
        // Protocol 10, as a server before Firebird 3 takes it: the password's hash in
        // the attach request.
        attempts.push_back({c.user, c.password, E, nullptr, "", "", "", true});
        attempts.push_back({c.user, "wrong", E, nullptr, "", varnel_test::kLoginMessage, "", true});
        attempts.push_back({c.user, c.password, D, nullptr, "", "", s.plugin});
        attempts.push_back({c.user, c.password, E, "Legacy_Auth", "", "", "Legacy_Auth"});
        attempts.push_back({c.user, c.password, R, "Legacy_Auth", "",
                            "Wire encryption is required, but the only authentication method "
                            "offered, Legacy_Auth, cannot encrypt a connection: offer Srp256 or "
                            "Srp (authclient=).",
                            ""});
    } else {
        attempts.push_back({c.user, c.password, D, nullptr, "",
                            "The server requires wire encryption, which this connection "
                            "disables (wirecrypt=Disabled).\n",
                            ""});
        attempts.push_back({c.user, c.password, E, "Legacy_Auth", "",
                            "The server accepts none of the authentication methods offered "
                            "(Legacy_Auth).",
                            ""});
    }
    if (s.ciphers.size() == 1) {  // Arc4 alone: a cipher it lacks is refused clearly
        attempts.push_back({c.user, c.password, R, nullptr, "ChaCha",
                            "Wire encryption is required, but the server offers none of the "
                            "methods that wirecryptplugin= allows (it offers Arc4).",
                            ""});
    }
    if (s.protocol == 17) {
        attempts.push_back({c.user, c.password, E, "Srp", "",
                            "The server accepts none of the authentication methods offered (Srp).",
                            ""});
    }
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(a.user + " " + (a.plugins ? a.plugins : "") + " " + a.cipher + " " +
                     std::to_string(static_cast<int>(a.policy)));
        LoginOptions options(a.policy);
        AnsiString unknown;
        if (a.plugins != nullptr) {
            ASSERT_TRUE(ParseAuthPlugins(a.plugins, &options.plugins, &unknown));
        }
        if (!a.cipher.empty() && a.cipher != first) {
            ASSERT_TRUE(ParseCipherList(a.cipher.c_str(), &options.ciphers, &unknown));
        }
        options.onlyProtocol10 = a.only10;
        std::unique_ptr<CDatabase> db = CDatabase::Create();
        const bool connected =
            db->ConnectDatabase(c.host.c_str(), static_cast<int32_t>(c.port), c.database.c_str(),
                                a.user.c_str(), a.password.c_str(), options);
        EXPECT_EQ(db->ErrorText().Bytes(), a.error);
        if (!a.error.empty() || !connected) {
            EXPECT_FALSE(connected);
            continue;
        }
        EXPECT_EQ(db->protocolVersion, a.only10 ? 10 : s.protocol);
        EXPECT_EQ(db->authPlugin.Bytes(), a.plugin);
        EXPECT_EQ(db->wireCipher.Bytes(), a.cipher);
        // The answer to op_crypt arrives encrypted, and so do the requests after it.
        EXPECT_NE(db->serverVersion.Bytes().find("Firebird"), std::string::npos);
        EXPECT_TRUE(db->SubscribeEvent("LOGIN_CHECK")) << db->ErrorText().CStr();
        EXPECT_TRUE(db->Disconnect());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, Login,
    ::testing::Values(
        Server{varnel_test::kLegacyServer, 15, "Srp", {"Arc4"}, true},
        Server{varnel_test::kFirebird3Default, 15, "Srp", {"Arc4"}, false},
        Server{varnel_test::kFirebird4, 17, "Srp256", {"ChaCha64", "ChaCha", "Arc4"}, false}));

class EventRepair : public ::testing::TestWithParam<const char*> {};

TEST_P(EventRepair, FiringsAroundADroppedEventConnectionAllArrive) {
    varnel_test::TestServerConfig server;
    VARNEL_NEED_TEST_SERVER(server, GetParam());
    varnel_test::RecordingSink sink;
    std::unique_ptr<CDatabase> db = CDatabase::Create();
    db->AttachEventSink(&sink);
    ASSERT_TRUE(db->ConnectDatabase(server.host.c_str(), static_cast<int32_t>(server.port),
                                    server.database.c_str(), server.user.c_str(),
                                    server.password.c_str()))
        << db->ErrorText().CStr();
    ASSERT_TRUE(db->SubscribeEvent("MENDED"));
    const auto fire = [&server](int times) {
        return varnel_test::RunIsql(server, "execute procedure post_events('MENDED', " +
                                                std::to_string(times) + "); commit;");
    };
    const auto sum = [&sink] {
        int64_t total = 0;
        for (const std::string& firing : sink.Firings()) {
            total += firing.rfind("MENDED ", 0) == 0 ? std::stoll(firing.substr(7)) : 0;
        }
        return total;
    };
    // Until the server's first report arrives, a firing only moves the counts it sets.
    for (int round = 0; round < 10 && sum() == 0; ++round) {
        ASSERT_EQ(fire(1), 0);
        sink.WaitFor(1);
    }
    const int64_t before = sum();
    ASSERT_GT(before, 0);
    for (int drop = 0; drop < 3; ++drop) {
        // The event connection ends under the listener, as a firewall's reset does.
        ::shutdown(static_cast<int>(db->auxStream.Handle()), SHUT_RDWR);
        ASSERT_EQ(fire(2), 0);  // while it is being made again
        ASSERT_EQ(fire(3), 0);
    }
    varnel_test::Eventually([&] { return sum() >= before + 3 * 5; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing more comes
    const varnel_test::Texts firings = sink.Firings();            // and no loss
    std::string seen;
    for (const std::string& firing : firings) {
        seen += "\n  " + firing;
    }
    EXPECT_EQ(sum(), before + 3 * 5)
        << "what the sink got:" << seen << "\nthe event connection is "
        << (db->auxStream.IsOpen() ? "open" : "closed")
        << ", last error: " << db->auxStream.ErrorTextWithReason().CStr();
    EXPECT_EQ(std::count_if(firings.begin(), firings.end(),
                            [](const std::string& f) { return f.rfind("MENDED ", 0) != 0; }),
              0);
    EXPECT_TRUE(db->Disconnect());
}

INSTANTIATE_TEST_SUITE_P(Servers, EventRepair,
                         ::testing::Values(varnel_test::kLegacyServer,
                                           varnel_test::kFirebird3Default,
                                           varnel_test::kFirebird4));

struct StepRecorder : ICheckReport {
    void Step(const CheckStep& step) override {
        outline +=
            std::string(step.name) + (step.outcome == CheckOutcome::kPassed ? " ok\n" : " no\n");
    }
    std::string outline;
};

class ConnectionCheck : public ::testing::TestWithParam<const char*> {};

// Every step passes on every server (over IPv6 on the one that listens on ::1); the
// event fired while the check waits is seen with its count.
TEST_P(ConnectionCheck, EveryStepPasses) {
    varnel_test::TestServerConfig server;
    VARNEL_NEED_TEST_SERVER(server, GetParam());
    CheckSettings settings;
    settings.host = server.host.c_str();
    settings.port = static_cast<int32_t>(server.port);
    settings.database = server.database.c_str();
    settings.user = server.user.c_str();
    settings.password = server.password.c_str();
    settings.eventName = "CHECKED";
    settings.waitSeconds = 10;
    std::thread fire([&server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        varnel_test::RunIsql(server, "execute procedure post_events('CHECKED', 2); commit;");
    });
    StepRecorder steps;
    EXPECT_TRUE(RunConnectionCheck(settings, steps));
    fire.join();
    EXPECT_EQ(steps.outline,
              "resolve ok\nconnect ok\nlogin ok\nattach ok\nevent-port ok\nevent-connect ok\n"
              "queue-event ok\nwait-event ok\n");
}

INSTANTIATE_TEST_SUITE_P(Servers, ConnectionCheck,
                         ::testing::Values(varnel_test::kLegacyServer,
                                           varnel_test::kFirebird3Default, varnel_test::kFirebird4,
                                           varnel_test::kIPv6Server));

}  // namespace
