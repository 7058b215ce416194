#pragma once
// The real Firebird server of the integration tests, as the environment names it
// (scripts/firebird-test-server.sh env prints the variables).

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace varnel_test {

struct TestServerConfig {
    std::string host;      // VARNEL_TEST_SERVER
    uint32_t port = 3050;  // VARNEL_TEST_PORT
    std::string database;  // VARNEL_TEST_DATABASE
    std::string user;      // VARNEL_TEST_USER
    std::string password;  // VARNEL_TEST_PASSWORD
    // For firing events with isql-fb: VARNEL_TEST_ISQL, VARNEL_TEST_FIREBIRD (the
    // client's configuration directory) and VARNEL_TEST_DSN.
    std::string isql;
    std::string firebirdClient;
    std::string dsn;
    // A user whose login keeps its case in double quotes (..._MIXED_USER, with its
    // quotes, and ..._MIXED_PASSWORD); empty where the server has none.
    std::string mixedUser;
    std::string mixedPassword;
};

// The test servers, by the prefix of their variables: the legacy-configured
// Firebird 3, Firebird 3 and Firebird 4 at their default security settings.
constexpr const char* kLegacyServer = "VARNEL_TEST_";
constexpr const char* kFirebird3Default = "VARNEL_TEST_FB3DEFAULT_";
constexpr const char* kFirebird4 = "VARNEL_TEST_FB4_";

// Fills config from the environment; false with the reason when the server is not
// configured (PREFIX + SERVER unset or a required variable missing).
bool ReadTestServerConfig(TestServerConfig* config, std::string* reason,
                          const char* prefix = kLegacyServer);

// True when VARNEL_REQUIRE_SERVER=1: a missing server fails instead of skipping.
bool ServerRequired();

// Runs isql-fb against the test database over the network with sql on its standard
// input; its output goes to outputFile when given, else is discarded. Returns the
// exit code (-1 when isql-fb is not configured or could not run).
int RunIsql(const TestServerConfig& config, const std::string& sql,
            const std::string& outputFile = "");

}  // namespace varnel_test

// Loads the server configuration into config, or ends the test: skipped with the
// reason, or failed when VARNEL_REQUIRE_SERVER=1. For TEST bodies and SetUp.
#define VARNEL_NEED_TEST_SERVER(config, ...)                                                      \
    do {                                                                                          \
        std::string varnelSkipReason_;                                                            \
        if (!::varnel_test::ReadTestServerConfig(&(config), &varnelSkipReason_, ##__VA_ARGS__)) { \
            if (::varnel_test::ServerRequired()) {                                                \
                FAIL() << varnelSkipReason_ << " (VARNEL_REQUIRE_SERVER=1 requires it)";          \
            }                                                                                     \
            GTEST_SKIP() << varnelSkipReason_;                                                    \
        }                                                                                         \
    } while (0)
