// Connects to the same server with this library (through the simulated host, as a
// desktop host calls it) and with Firebird's own client library (libfbclient,
// classic API, its default configuration), alternately, and prints medians, 90th
// percentiles and their ratio. Each connect is timed from the call to the handle
// (this library's includes the version request); the disconnects are not timed.
// Another attachment holds the database open throughout, so neither pays for the
// server opening the database file.
//
//   eval "$(scripts/firebird-test-server.sh fb3default env)"
//   build/release/bench/varnel_versus_client [runs] [prefix] [keys]
//
// prefix: the test server's variables (default VARNEL_TEST_FB3DEFAULT_); keys: more
// of the connection string (";wirecrypt=Disabled"). VARNEL_BENCH_LIBRARY names
// another build of the library to load, for before-and-after figures.

#include <ibase.h>

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

struct Figure {
    double median;
    double p90;
};

Figure Summarize(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2],
            samples[std::min(samples.size() - 1, samples.size() * 9 / 10)]};
}

// The client library's attach: user name and password in the parameter block; the
// rest (plugins, wire encryption) as its configuration says.
class ClientConnection {
public:
    ClientConnection(const varnel_test::TestServerConfig& server)
        : path_(server.host + "/" + std::to_string(server.port) + ":" + server.database) {
        dpb_.push_back(isc_dpb_version1);
        Add(isc_dpb_user_name, server.user);
        Add(isc_dpb_password, server.password);
    }
    bool Attach() {
        handle_ = 0;
        return isc_attach_database(status_, 0, path_.c_str(), &handle_,
                                   static_cast<short>(dpb_.size()), dpb_.data()) == 0;
    }
    void Detach() { isc_detach_database(status_, &handle_); }
    std::string Error() {
        char text[512];
        const ISC_STATUS* vector = status_;
        fb_interpret(text, sizeof text, &vector);
        return text;
    }

private:
    void Add(char tag, const std::string& value) {
        dpb_.push_back(tag);
        dpb_.push_back(static_cast<char>(value.size()));
        dpb_.insert(dpb_.end(), value.begin(), value.end());
    }
    std::string path_;
    std::vector<char> dpb_;
    ISC_STATUS_ARRAY status_ = {};
    isc_db_handle handle_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
    const char* prefix = argc > 2 ? argv[2] : varnel_test::kFirebird3Default;
    varnel_test::TestServerConfig server;
    std::string reason;
    if (!varnel_test::ReadTestServerConfig(&server, &reason, prefix)) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 2;
    }
    SimHost host;
    const char* library = std::getenv("VARNEL_BENCH_LIBRARY");
    if (!(library != nullptr ? host.Load(library) : host.Load())) {
        std::fprintf(stderr, "%s\n", host.LoadError().c_str());
        return 2;
    }
    ClientConnection holder(server);
    ClientConnection client(server);
    if (!holder.Attach()) {
        std::fprintf(stderr, "Firebird's client: %s\n", holder.Error().c_str());
        return 1;
    }
    const std::string text = "server=" + server.host + ";port=" + std::to_string(server.port) +
                             ";database=" + server.database + ";user=" + server.user +
                             ";password=" + server.password + (argc > 3 ? argv[3] : "");
    std::vector<double> ours, theirs;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        SimHost::Result r = host.Call("VN_STRINGCONNECT", {A::Text(text)});
        ours.push_back(Ms(Clock::now() - start));
        if (r.raised) {
            std::fprintf(stderr, "Varnel: %s\n", r.error.c_str());
            return 1;
        }
        host.Call("VN_DISCONNECT", {A::Int(r.value.intValue)});
        start = Clock::now();
        const bool attached = client.Attach();
        theirs.push_back(Ms(Clock::now() - start));
        if (!attached) {
            std::fprintf(stderr, "Firebird's client: %s\n", client.Error().c_str());
            return 1;
        }
        client.Detach();
    }
    holder.Detach();
    const Figure a = Summarize(ours);
    const Figure b = Summarize(theirs);
    std::printf("connect to %s:%u, %d runs each, database held open by another attachment\n",
                server.host.c_str(), server.port, runs);
    std::printf("%-22s %10s %10s\n", "", "median ms", "p90 ms");
    std::printf("%-22s %10.3f %10.3f\n", "Varnel", a.median, a.p90);
    std::printf("%-22s %10.3f %10.3f\n", "Firebird's client", b.median, b.p90);
    std::printf("%-22s %10.2f %10.2f\n", "ratio", a.median / b.median, a.p90 / b.p90);
    return 0;
}
