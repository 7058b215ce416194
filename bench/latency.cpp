// Prints how long the library takes, against the real Firebird test server
// (scripts/firebird-test-server.sh env), for a connect, a first subscription and the
// path from a commit on the server to the subscriber's command running on the host's
// main thread. Medians and 90th percentiles over repeated runs.
//
// Nothing else holds the test database open, so each connect includes the server
// opening the database file and each disconnect the server closing it again; the
// printed labels say so. varnel_versus_client measures connects with the database
// held open as well.
//
//   eval "$(scripts/firebird-test-server.sh env)"; build/release/bench/varnel_latency [runs]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "simhost/sim_host.h"
#include "support/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using A = SimHost::Arg;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> samples) {
    if (samples.empty()) {
        std::printf("%-64s no samples\n", what);
        return;
    }
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    const double p90 = samples[std::min(samples.size() - 1, samples.size() * 9 / 10)];
    std::printf("%-64s median %8.3f ms   p90 %8.3f ms   (%zu runs)\n", what, median, p90,
                samples.size());
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
    varnel_test::TestServerConfig server;
    std::string reason;
    if (!varnel_test::ReadTestServerConfig(&server, &reason)) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 2;
    }
    SimHost host;
    if (!host.Load()) {
        std::fprintf(stderr, "%s\n", host.LoadError().c_str());
        return 2;
    }
    const std::vector<A> connectArgs = {A::Text(server.host), A::Text(server.database),
                                        A::Text(server.user), A::Text(server.password),
                                        A::Int(static_cast<int32_t>(server.port))};

    std::vector<double> connects, subscribes, disconnects;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        SimHost::Result r = host.Call("VN_CONNECT", connectArgs);
        connects.push_back(Ms(Clock::now() - start));
        if (r.raised) {
            std::fprintf(stderr, "connect: %s\n", r.error.c_str());
            return 1;
        }
        const int32_t handle = r.value.intValue;
        start = Clock::now();
        host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text("BENCH"), A::Text("<Msg>")});
        subscribes.push_back(Ms(Clock::now() - start));
        start = Clock::now();
        host.Call("VN_DISCONNECT", {A::Int(handle)});
        disconnects.push_back(Ms(Clock::now() - start));
    }
    Report("VN_CONNECT (server opens the database; handshake, attach, info)", connects);
    Report("first VN_SUBSCRIBE (aux connection, queue)", subscribes);
    Report("VN_DISCONNECT, one subscription (server closes the database)", disconnects);

    // Commit to command: an isql-fb session inserts a row, then the clock starts just
    // before it is handed "commit;" and stops when the command has run.
    SimHost::Result r = host.Call("VN_CONNECT", connectArgs);
    const int32_t handle = r.value.intValue;
    host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text("ORDERS"), A::Text("<Msg>")});
    std::string command;
    if (!server.firebirdClient.empty()) {
        command += "FIREBIRD=" + Quote(server.firebirdClient) + " ";
    }
    command += Quote(server.isql) + " -q -user " + Quote(server.user) + " -password " +
               Quote(server.password) + " " + Quote(server.dsn) + " >/dev/null 2>&1";
    FILE* isql = ::popen(command.c_str(), "w");
    if (isql == nullptr) {
        std::fprintf(stderr, "cannot run isql-fb\n");
        return 1;
    }
    // Let the first report (the baseline) arrive and pass.
    for (int i = 0; i < 20; ++i) {
        host.Pump(10);
    }
    std::vector<double> deliveries;
    for (int i = 0; i < runs; ++i) {
        std::fputs("insert into orders(item) values('bench');\n", isql);
        std::fflush(isql);
        usleep(100 * 1000);  // the insert is done before the clock starts
        const size_t before = host.executed.size();
        const auto start = Clock::now();
        std::fputs("commit;\n", isql);
        std::fflush(isql);
        while (host.executed.size() == before && Clock::now() - start < std::chrono::seconds(5)) {
            host.Pump(1);
        }
        if (host.executed.size() > before) {
            deliveries.push_back(Ms(Clock::now() - start));
        }
    }
    std::fputs("quit;\n", isql);
    ::pclose(isql);
    Report("commit (isql-fb) to command on main thread", deliveries);
    host.Call("VN_DISCONNECT", {A::Int(handle)});
    host.Unload();
    return 0;
}
