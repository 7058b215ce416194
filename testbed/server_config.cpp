#include "testbed/server_config.h"

#include <cstdlib>

namespace varnel_test {
namespace {

std::string Env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

}  // namespace

bool ReadTestServerConfig(TestServerConfig* c, std::string* reason, const char* prefix) {
    const std::string p = prefix;
    *c = TestServerConfig{Env(p + "SERVER"),     3050,
                          Env(p + "DATABASE"),   Env(p + "USER"),
                          Env(p + "PASSWORD"),   Env(p + "ISQL"),
                          Env(p + "FIREBIRD"),   Env(p + "DSN"),
                          Env(p + "MIXED_USER"), Env(p + "MIXED_PASSWORD")};
    const std::string port = Env(p + "PORT");
    char* end = nullptr;
    const unsigned long value = std::strtoul(port.c_str(), &end, 10);
    if (!port.empty() && (*end != '\0' || value == 0 || value > 65535)) {
        *reason = p + "PORT is not a port number: " + port;
        return false;
    }
    c->port = port.empty() ? 3050 : static_cast<uint32_t>(value);
    if (c->host.empty() || c->database.empty() || c->user.empty()) {
        *reason = p + "SERVER, " + p + "DATABASE and " + p + "USER must be set: " +
                  "run scripts/firebird-test-server.sh [PROFILE] start, then eval its env output";
        return false;
    }
    return true;
}

}  // namespace varnel_test
