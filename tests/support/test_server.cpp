#include "support/test_server.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace varnel_test {
namespace {

std::string Quote(const std::string& text) {  // for the shell
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

bool ServerRequired() {
    const char* value = std::getenv("VARNEL_REQUIRE_SERVER");
    return value != nullptr && std::string(value) == "1";
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
