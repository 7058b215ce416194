#pragma once
// The real Firebird servers of the integration tests (testbed/server_config.h): a test
// that needs one, and isql-fb to fire events on it.

#include <string>

#include <gtest/gtest.h>

#include "testbed/server_config.h"

namespace varnel_test {

bool ServerRequired();  // VARNEL_REQUIRE_SERVER=1: a missing server fails the test

// Runs isql-fb on the test database with sql as its input; the exit code, or -1.
int RunIsql(const TestServerConfig& config, const std::string& sql);

}  // namespace varnel_test

// Loads the configuration into config, or ends the test: skipped with the reason, or
// failed when VARNEL_REQUIRE_SERVER=1. For TEST bodies and SetUp.
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
