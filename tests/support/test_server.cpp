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

// Single quotes for the shell.
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

bool ReadTestServerConfig(TestServerConfig* config, std::string* reason, const char* prefix) {
    const std::string p = prefix;
    config->host = Env(p + "SERVER");
    if (config->host.empty()) {
        *reason = p + "SERVER is not set: no Firebird server for the integration tests " +
                  "(run scripts/firebird-test-server.sh [PROFILE] start, then eval its env output)";
        return false;
    }
    std::string port = Env(p + "PORT");
    if (!port.empty()) {
        char* end = nullptr;
        unsigned long value = std::strtoul(port.c_str(), &end, 10);
        if (*end != '\0' || value == 0 || value > 65535) {
            *reason = p + "PORT is not a port number: " + port;
            return false;
        }
        config->port = static_cast<uint32_t>(value);
    }
    config->database = Env(p + "DATABASE");
    config->user = Env(p + "USER");
    config->password = Env(p + "PASSWORD");
    if (config->database.empty() || config->user.empty()) {
        *reason = p + "DATABASE and " + p + "USER must be set with " + p + "SERVER";
        return false;
    }
    config->isql = Env(p + "ISQL");
    config->firebirdClient = Env(p + "FIREBIRD");
    config->dsn = Env(p + "DSN");
    config->mixedUser = Env(p + "MIXED_USER");
    config->mixedPassword = Env(p + "MIXED_PASSWORD");
    return true;
}

bool ServerRequired() {
    return Env("VARNEL_REQUIRE_SERVER") == "1";
}

int RunIsql(const TestServerConfig& config, const std::string& sql, const std::string& outputFile) {
    if (config.isql.empty() || config.dsn.empty()) {
        return -1;
    }
    std::string command;
    if (!config.firebirdClient.empty()) {
        command += "FIREBIRD=" + Quote(config.firebirdClient) + " ";
    }
    command += Quote(config.isql) + " -q -bail -user " + Quote(config.user) + " -password " +
               Quote(config.password) + " " + Quote(config.dsn);
    command += " >" + (outputFile.empty() ? std::string("/dev/null") : Quote(outputFile)) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "w");
    if (pipe == nullptr) {
        return -1;
    }
    std::fwrite(sql.data(), 1, sql.size(), pipe);
    int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace varnel_test
