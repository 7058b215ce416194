// Logging in to the real servers: the legacy-configured Firebird 3, and Firebird 3
// and 4 at their default security settings (Srp or Srp256, wire encryption
// required). User names, passwords, the encryption policies, the plugin lists and
// every cipher a server offers.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/database.h"
#include "support/test_server.h"

namespace {

using varnel_test::TestServerConfig;

const char kLogin[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.\n";

struct Server {
    const char* name;
    const char* prefix;
    int32_t protocol;
    const char* plugin;                // with the default plugin list
    std::vector<const char*> ciphers;  // offered, the server's first one first
    bool legacyLogin;                  // the server takes Legacy_Auth and plain connections
};

const Server kServers[] = {
    {"Firebird 3, legacy logins allowed", varnel_test::kLegacyServer, 15, "Srp", {"Arc4"}, true},
    {"Firebird 3 at its defaults", varnel_test::kFirebird3Default, 15, "Srp", {"Arc4"}, false},
    {"Firebird 4 at its defaults",
     varnel_test::kFirebird4,
     17,
     "Srp256",
     {"ChaCha64", "ChaCha", "Arc4"},
     false},
};

struct Attempt {
    std::string name;
    std::string user;
    std::string password;
    LoginOptions options;
    // Expected: the error (empty: it connects), and then the plugin and cipher.
    std::string error;
    std::string plugin;
    std::string cipher;
};

LoginOptions Options(WireCryptPolicy policy, const char* plugins = nullptr,
                     const char* cipher = "") {
    LoginOptions options(policy);
    AnsiString unknown;
    if (plugins != nullptr) {
        EXPECT_TRUE(ParseAuthPlugins(plugins, &options.plugins, &unknown));
    }
    options.cipher = cipher;
    return options;
}

std::vector<Attempt> Attempts(const Server& s, const TestServerConfig& c) {
    const auto E = WireCryptPolicy::kEnabled;
    const std::string first = s.ciphers[0];
    std::vector<Attempt> attempts = {
        {"as configured", c.user, c.password, Options(E), "", s.plugin, first},
        {"lower-case login", "sysdba", c.password, Options(E), "", s.plugin, first},
        {"wrong password", c.user, "wrong", Options(E), kLogin, "", ""},
        {"unknown user", "NOBODY", "x", Options(E), kLogin, "", ""},
        {"encryption required", c.user, c.password, Options(WireCryptPolicy::kRequired), "",
         s.plugin, first},
    };
    if (!c.mixedUser.empty()) {
        attempts.push_back({"quoted login keeps its case", c.mixedUser, c.mixedPassword, Options(E),
                            "", s.plugin, first});
        attempts.push_back(
            {"the same login unquoted", "Mixed", c.mixedPassword, Options(E), kLogin, "", ""});
    }
    for (const char* cipher : s.ciphers) {
        attempts.push_back({std::string("cipher ") + cipher, c.user, c.password,
                            Options(E, nullptr, cipher), "", s.plugin, cipher});
    }
    if (s.legacyLogin) {
        attempts.push_back({"encryption disabled", c.user, c.password,
                            Options(WireCryptPolicy::kDisabled), "", s.plugin, ""});
        attempts.push_back({"legacy login only", c.user, c.password, Options(E, "Legacy_Auth"), "",
                            "Legacy_Auth", ""});
        attempts.push_back({"legacy login, encryption required", c.user, c.password,
                            Options(WireCryptPolicy::kRequired, "Legacy_Auth"),
                            "Wire encryption is required, but the server cannot encrypt this "
                            "connection.",
                            "", ""});
    } else {
        attempts.push_back({"encryption disabled", c.user, c.password,
                            Options(WireCryptPolicy::kDisabled),
                            "The server requires wire encryption, which this connection disables "
                            "(wirecrypt=Disabled).\n",
                            "", ""});
        attempts.push_back({"legacy login only", c.user, c.password, Options(E, "Legacy_Auth"),
                            "The server accepts none of the authentication methods offered "
                            "(Legacy_Auth).",
                            "", ""});
    }
    if (s.protocol == 17) {
        attempts.push_back({"Srp only", c.user, c.password, Options(E, "Srp"),
                            "The server accepts none of the authentication methods offered (Srp).",
                            "", ""});
    }
    return attempts;
}

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

class Login : public ::testing::TestWithParam<Server> {};

TEST_P(Login, EveryWayIn) {
    const Server& s = GetParam();
    TestServerConfig config;
    VARNEL_NEED_TEST_SERVER(config, s.prefix);
    for (const Attempt& a : Attempts(s, config)) {
        SCOPED_TRACE(a.name);
        std::unique_ptr<CDatabase> db = CDatabase::Create();
        const bool connected = db->ConnectDatabase(
            config.host.c_str(), static_cast<int32_t>(config.port), config.database.c_str(),
            a.user.c_str(), a.password.c_str(), a.options);
        if (!a.error.empty()) {
            EXPECT_FALSE(connected);
            EXPECT_EQ(db->ErrorText().Bytes(), a.error);
            continue;
        }
        ASSERT_TRUE(connected) << db->ErrorText().CStr();
        EXPECT_EQ(db->protocolVersion, s.protocol);
        EXPECT_EQ(db->authPlugin.Bytes(), a.plugin);
        EXPECT_EQ(db->wireCipher.Bytes(), a.cipher);
        // The server's answer to op_crypt arrives encrypted: a cipher in use has been
        // read with already. The requests after it go through it too.
        EXPECT_NE(db->serverVersion.Bytes().find("Firebird"), std::string::npos);
        EXPECT_TRUE(db->SubscribeEvent("LOGIN_CHECK")) << db->ErrorText().CStr();
        EXPECT_TRUE(db->Disconnect());
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, Login, ::testing::ValuesIn(kServers),
                         [](const ::testing::TestParamInfo<Server>& info) {
                             return std::string(info.param.prefix == varnel_test::kLegacyServer
                                                    ? "Legacy"
                                                : info.param.protocol == 17 ? "Firebird4"
                                                                            : "Firebird3Default");
                         });

}  // namespace
