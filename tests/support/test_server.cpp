#include "support/test_server.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace varnel_test {
namespace {

std::string Env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::string Quote(const std::string& text) {  // for the shell
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
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

bool ServerRequired() {
    return Env("VARNEL_REQUIRE_SERVER") == "1";
}

int RunIsql(const TestServerConfig& c, const std::string& sql) {
    if (c.isql.empty() || c.dsn.empty()) {
        return -1;
    }
    const std::string command =
        (c.firebirdClient.empty() ? "" : "FIREBIRD=" + Quote(c.firebirdClient) + " ") +
        Quote(c.isql) + " -q -bail -user " + Quote(c.user) + " -password " + Quote(c.password) +
        " " + Quote(c.dsn) + " >/dev/null 2>&1";
    FILE* pipe = ::popen(command.c_str(), "w");
    if (pipe == nullptr) {
        return -1;
    }
    std::fwrite(sql.data(), 1, sql.size(), pipe);
    const int status = ::pclose(pipe);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace varnel_test
