// Measures this library (loaded into the simulated host, as a desktop host loads it)
// and Firebird's own client library (libfbclient, classic API, its default
// configuration) side by side against one server, and prints one table of medians,
// 90th percentiles and the ratio of the medians:
//
//   1. connect, database held open by another attachment / closed
//   2. first subscribe on a connection, a further one (second name)
//   3. commit -> delivery, one firing at a time
//   4. a burst of commits: last commit -> the delivered counts add up
//   5. one firing to N connections: commit -> all N delivered
//   6. disconnect with two subscriptions
//   7. CPU per 1000 delivered events, RSS and threads at 100 subscribed connections
//      (each client in a child process of its own)
//   8. system calls of the library's threads with 10 connections idle (strace -c)
//
// Both clients are fired at by the same firing process (this program again, with
// its own attachment through Firebird's client), whose commit call starts the clock.
// A delivery is the host running the subscriber's command on its main thread
// (Varnel) or the client's event callback being entered (Firebird's client).
//
//   eval "$(scripts/firebird-test-server.sh fb3default env)"
//   build/release/bench/varnel_versus_client [options]     (--help lists them)
//
// VARNEL_BENCH_LIBRARY names another build of the library, for before-and-after
// figures.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "figures.h"

namespace {

const char kUsage[] =
    "usage: varnel_versus_client [options]\n"
    "  --prefix P            the test server's variables (default VARNEL_TEST_FB3DEFAULT_;\n"
    "                        VARNEL_TEST_ for the legacy server, VARNEL_TEST_FB4_)\n"
    "  --keys K              more of Varnel's connection string (\";wirecrypt=Disabled\")\n"
    "  --runs N              connects, subscribes, disconnects per client (50)\n"
    "  --firings N           one-at-a-time firings (200)\n"
    "  --burst N             commits in a burst (2000)\n"
    "  --bursts N            bursts per client (3)\n"
    "  --fanout LIST         connection counts of the fan-out (1,10,50,100)\n"
    "  --fanout-firings N    firings per connection count (20)\n"
    "  --connections N       subscribed connections for CPU and memory (100)\n"
    "  --cpu-rounds N        CPU rounds (5)\n"
    "  --cpu-firings N       firings per CPU round, each to every connection (10)\n"
    "  --idle-connections N  connections held idle under strace (10)\n"
    "  --idle-seconds N      how long strace counts (5)\n"
    "  --figures LIST        the figures to measure (1,2,3,4,5,6,7,8)\n"
    "VARNEL_BENCH_LIBRARY=PATH loads another build of the library.\n";

std::vector<int> List(const char* text) {
    std::vector<int> values;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        values.push_back(std::atoi(item.c_str()));
    }
    return values;
}

// Parses the options from argv[first]; false on an unknown one.
bool ParseOptions(int argc, char** argv, int first, bench::Options* o) {
    for (int i = first; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[i + 1];
        o->given.insert(o->given.end(), {name, value});
        int* number = name == "--runs"               ? &o->runs
                      : name == "--firings"          ? &o->firings
                      : name == "--burst"            ? &o->burst
                      : name == "--bursts"           ? &o->bursts
                      : name == "--fanout-firings"   ? &o->fanoutFirings
                      : name == "--connections"      ? &o->resourceConnections
                      : name == "--cpu-rounds"       ? &o->cpuRounds
                      : name == "--cpu-firings"      ? &o->cpuFirings
                      : name == "--idle-connections" ? &o->idleConnections
                      : name == "--idle-seconds"     ? &o->idleSeconds
                                                     : nullptr;
        if (number != nullptr) {
            *number = std::atoi(value);
        } else if (name == "--prefix") {
            o->prefix = value;
        } else if (name == "--keys") {
            o->keys = value;
        } else if (name == "--fanout") {
            o->fanout = List(value);
        } else if (name == "--figures") {
            o->figures = List(value);
        } else {
            return false;
        }
    }
    return true;
}

void PrintSetting(const bench::Options& o, const varnel_test::TestServerConfig& server) {
    char version[256] = "";
    isc_get_client_version(version);
    const char* library = std::getenv("VARNEL_BENCH_LIBRARY");
    char model[256] = "unknown processor";
    if (FILE* cpu = std::fopen("/proc/cpuinfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, cpu) != nullptr) {
            if (std::strncmp(line, "model name", 10) == 0 && std::strchr(line, ':') != nullptr) {
                std::snprintf(model, sizeof model, "%s", std::strchr(line, ':') + 2);
                model[std::strcspn(model, "\n")] = '\0';
                break;
            }
        }
        std::fclose(cpu);
    }
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
    std::printf("server     %s:%u %s (%s)\n", server.host.c_str(), server.port,
                server.database.c_str(), o.prefix.c_str());
    std::printf("Varnel     %s\n", library != nullptr ? library : VARNEL_LIBRARY_PATH);
    std::printf("client     libfbclient %s, its default configuration\n", version);
    std::printf("machine    %ld cores, %s; %s\n\n", sysconf(_SC_NPROCESSORS_ONLN), model, date);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // Roles of the child processes: --firer, --child KIND SIDE.
    const std::string role = argc > 1 ? argv[1] : "";
    const int first = role == "--firer" ? 2 : role == "--child" ? 4 : 1;
    bench::Options options;
    if (argc < first || !ParseOptions(argc, argv, first, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    varnel_test::TestServerConfig server;
    std::string reason;
    if (!varnel_test::ReadTestServerConfig(&server, &reason, options.prefix.c_str())) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 2;
    }
    if (role == "--firer") {
        return bench::FirerMain(server);
    }
    if (role == "--child") {
        const std::string kind = argv[2];
        return kind == "resources" ? bench::ResourceChild(options, server, argv[3])
                                   : bench::IdleChild(options, server, argv[3]);
    }
    // A firing process that ends early must not end this one.
    signal(SIGPIPE, SIG_IGN);
    PrintSetting(options, server);
    bench::Bench b(options, server);
    b.varnel = std::make_unique<bench::VarnelSide>();
    std::string error;
    if (!b.varnel->Load(server, options.keys, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    b.client = std::make_unique<bench::ClientSide>(server);
    void (*const figures[])(bench::Bench&) = {
        bench::ConnectFigure, bench::SubscribeFigure,  bench::OneAtATimeFigure, bench::BurstFigure,
        bench::FanOutFigure,  bench::DisconnectFigure, bench::ResourceFigure,   bench::IdleFigure};
    // In order: the firing process, started for figure 3, holds the database open.
    std::sort(options.figures.begin(), options.figures.end());
    for (const int figure : options.figures) {
        if (figure >= 1 && figure <= 8) {
            figures[figure - 1](b);
        }
    }
    bench::PrintTable(b);
    if (b.failures > 0) {
        std::printf("%d failure lines above\n", b.failures);
    }
    return b.failures > 0 ? 1 : 0;
}
