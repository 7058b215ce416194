#pragma once
// The real Firebird servers that the integration tests and the benchmark run against,
// as the environment names them (scripts/firebird-test-server.sh [PROFILE] env prints
// the variables).

#include <cstdint>
#include <string>

namespace varnel_test {

// PREFIX + SERVER, PORT, DATABASE, USER, PASSWORD; ISQL, FIREBIRD (isql-fb's client
// configuration) and DSN to fire events; MIXED_USER (with its quotes) and
// MIXED_PASSWORD: a login that keeps its case, where the server has one.
struct TestServerConfig {
    std::string host;
    uint32_t port = 3050;
    std::string database, user, password, isql, firebirdClient, dsn, mixedUser, mixedPassword;
};

// The legacy-configured Firebird 3, Firebird 3 and Firebird 4 at their defaults, and
// Firebird 3 at its defaults on the IPv6 loopback.
constexpr const char* kLegacyServer = "VARNEL_TEST_";
constexpr const char* kFirebird3Default = "VARNEL_TEST_FB3DEFAULT_";
constexpr const char* kFirebird4 = "VARNEL_TEST_FB4_";
constexpr const char* kIPv6Server = "VARNEL_TEST_IPV6_";

// False with the reason when the server is not configured.
bool ReadTestServerConfig(TestServerConfig* config, std::string* reason,
                          const char* prefix = kLegacyServer);

}  // namespace varnel_test
