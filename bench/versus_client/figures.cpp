#include "figures.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <thread>

namespace bench {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kSlice = milliseconds(50);
constexpr auto kDeliveryLimit = seconds(10);
const char* const kSideNames[2] = {"varnel", "client"};

// Event names of this process alone, so that nothing else that posts events on the
// test database reaches the measurements.
std::string EventName(const std::string& tag) {
    return "VNB" + std::to_string(getpid()) + "_" + tag;
}

std::vector<double>& Samples(Row& row, int side) {
    return side == 0 ? row.varnel : row.client;
}

void Progress(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Progress(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// n new connections of side, each subscribed to name; false with the error.
bool ConnectSubscribed(Side& side, int n, const std::string& name, std::vector<int>* connections,
                       std::string* error) {
    for (int i = 0; i < n; ++i) {
        const int c = side.Connect(error);
        if (c < 0) {
            return false;
        }
        connections->push_back(c);
        if (!side.Subscribe(c, name, error)) {
            return false;
        }
    }
    return true;
}

void DisconnectAll(Side& side, std::vector<int>* connections) {
    for (int c : *connections) {
        side.Disconnect(c);
    }
    connections->clear();
}

struct Firing {
    bool delivered = false;
    double ms = 0;    // commit call to the delivery that completed target
    int64_t sum = 0;  // the counts delivered by the time the firing process replied
};

// One commit in the firing process; waits until the deliveries' counts reach target.
Firing FireOnce(Side& side, Firer& firer, const std::string& name, int64_t target) {
    Firing f;
    side.log.Clear();
    if (!firer.Send(name, 1)) {
        return f;
    }
    side.WaitForSum(target, Clock::now() + kDeliveryLimit);
    FireResult fired;
    std::string error;
    if (!firer.Reply(&fired, &error)) {
        std::fprintf(stderr, "firing process: %s\n", error.c_str());
        return f;
    }
    f.sum = side.log.Sum();
    Clock::time_point at;
    if (side.log.TimeSumReached(target, &at)) {
        f.delivered = true;
        f.ms = Ms(at - fired.lastCommit);
    }
    return f;
}

std::unique_ptr<Side> MakeSide(const std::string& which, const Options& options,
                               const varnel_test::TestServerConfig& server, std::string* error) {
    if (which == "client") {
        return std::make_unique<ClientSide>(server);
    }
    auto varnel = std::make_unique<VarnelSide>();
    if (!varnel->Load(server, options.keys, error)) {
        return nullptr;
    }
    return varnel;
}

std::vector<std::string> ChildArgs(const Bench& b, const char* kind, const char* side) {
    std::vector<std::string> args = {SelfPath(), "--child", kind, side};
    args.insert(args.end(), b.options.given.begin(), b.options.given.end());
    return args;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

// The context switches of a process's threads, the main one left out: a thread that
// sleeps in one system call the whole time makes none.
long ContextSwitches(pid_t pid, const std::vector<std::string>& threads) {
    long total = 0;
    for (const std::string& tid : threads) {
        if (tid == std::to_string(pid)) {
            continue;
        }
        const std::string path = "/proc/" + std::to_string(pid) + "/task/" + tid + "/status";
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            char line[256];
            long value = 0;
            while (std::fgets(line, sizeof line, f) != nullptr) {
                if (std::sscanf(line, "voluntary_ctxt_switches: %ld", &value) == 1 ||
                    std::sscanf(line, "nonvoluntary_ctxt_switches: %ld", &value) == 1) {
                    total += value;
                }
            }
            std::fclose(f);
        }
    }
    return total;
}

std::vector<std::string> ThreadsOf(pid_t pid) {
    std::vector<std::string> threads;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            if (entry->d_name[0] != '.') {
                threads.push_back(entry->d_name);
            }
        }
        closedir(d);
    }
    return threads;
}

// strace -c's summary: calls by system call, and the total.
std::map<std::string, long> ReadStraceSummary(const std::string& file, long* total) {
    std::map<std::string, long> calls;
    *total = -1;
    FILE* f = std::fopen(file.c_str(), "r");
    if (f == nullptr) {
        return calls;
    }
    *total = 0;  // an empty summary: no call was made
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        std::string word;
        while (fields >> word) {
            words.push_back(word);
        }
        // % time, seconds, usecs/call, calls, [errors], name; the total line may lack
        // usecs/call.
        if (words.size() < 4 || words[0].find_first_not_of("0123456789.") != std::string::npos) {
            continue;
        }
        if (words.back() == "total") {
            *total = std::atol(words[words.size() >= 5 ? 3 : 2].c_str());
        } else {
            calls[words.back()] = std::atol(words[3].c_str());
        }
    }
    std::fclose(f);
    return calls;
}

}  // namespace

Firer* Bench::FiringProcess() {
    if (!firer_) {
        firer_ = std::make_unique<Firer>();
        std::string error;
        if (!firer_->Start(options.prefix, &error)) {
            Fail("cannot start the firing process: " + error);
            firer_.reset();
        }
    }
    return firer_.get();
}

void Bench::Fail(const std::string& what) {
    ++failures;
    Progress("FAILED: %s", what.c_str());
}

// 1. Connect, the database held open by another attachment, then closed (nobody
// attached: the server opens it). Disconnects are not timed. A closed-case connect
// after which the database shows another attachment than the timed one was not to a
// closed database: it is dropped and counted.
void ConnectFigure(Bench& b) {
    for (const bool held : {true, false}) {
        std::string error;
        const int holder = held ? b.client->Connect(&error) : -1;
        if (held && holder < 0) {
            b.Fail("Firebird's client, holding attachment: " + error);
            continue;
        }
        Row row(held ? "1. connect, database held open (ms)" : "1. connect, database closed (ms)");
        int dropped[2] = {0, 0};
        for (int run = 0; run < b.options.runs; ++run) {
            for (int s = 0; s < 2; ++s) {
                Side& side = b.SideAt(s);
                const Clock::time_point start = Clock::now();
                const int c = side.Connect(&error);
                const double ms = Ms(Clock::now() - start);
                if (c < 0) {
                    b.Fail(std::string(side.Name()) + " connect: " + error);
                    return;
                }
                const bool alone = held || b.client->CountAttachments() == 1;
                side.Disconnect(c);
                if (alone) {
                    Samples(row, s).push_back(ms);
                } else {
                    ++dropped[s];
                }
                if (!held) {
                    side.Settle(milliseconds(50));  // the server closes the database
                }
            }
        }
        if (holder >= 0) {
            b.client->Disconnect(holder);
        }
        if (dropped[0] + dropped[1] > 0) {
            Progress(
                "   closed-database connects dropped, another attachment was seen: Varnel %d, "
                "Firebird's client %d",
                dropped[0], dropped[1]);
        }
        b.rows.push_back(row);
    }
    Progress("1. connect: done");
}

// 2. The first subscription on a new connection (for both clients it opens the
// event connection), then a second event name on the same connection.
void SubscribeFigure(Bench& b) {
    Row first("2. first subscribe on a connection (ms)");
    Row further("2. further subscribe, second name (ms)");
    const std::string names[2] = {EventName("SUB_A"), EventName("SUB_B")};
    std::string error;
    for (int run = 0; run < b.options.runs; ++run) {
        for (int s = 0; s < 2; ++s) {
            Side& side = b.SideAt(s);
            const int c = side.Connect(&error);
            if (c < 0) {
                b.Fail(std::string(side.Name()) + " connect: " + error);
                return;
            }
            const Clock::time_point t0 = Clock::now();
            const bool a = side.Subscribe(c, names[0], &error);
            const Clock::time_point t1 = Clock::now();
            const bool both = a && side.Subscribe(c, names[1], &error);
            const Clock::time_point t2 = Clock::now();
            side.Disconnect(c);
            side.Settle(milliseconds(10));
            if (!both) {
                b.Fail(std::string(side.Name()) + " subscribe: " + error);
                return;
            }
            Samples(first, s).push_back(Ms(t1 - t0));
            Samples(further, s).push_back(Ms(t2 - t1));
        }
    }
    b.rows.push_back(first);
    b.rows.push_back(further);
    Progress("2. subscribe: done");
}

// 3. Commit to delivery, one firing at a time: each commit waits for the delivery of
// the one before.
void OneAtATimeFigure(Bench& b) {
    Firer* firer = b.FiringProcess();
    if (firer == nullptr) {
        return;
    }
    Row row("3. commit -> delivery, " + std::to_string(b.options.firings) + " one at a time (ms)");
    for (int s = 0; s < 2; ++s) {
        Side& side = b.SideAt(s);
        const std::string name = EventName("ONE");
        std::vector<int> connections;
        std::string error;
        if (!ConnectSubscribed(side, 1, name, &connections, &error)) {
            b.Fail(std::string(side.Name()) + ": " + error);
            DisconnectAll(side, &connections);
            continue;
        }
        side.Settle(milliseconds(300));
        int missed = 0;
        for (int i = 0; i < b.options.firings; ++i) {
            const Firing f = FireOnce(side, *firer, name, 1);
            if (f.delivered) {
                Samples(row, s).push_back(f.ms);
            } else {
                ++missed;
            }
        }
        DisconnectAll(side, &connections);
        if (missed > 0) {
            b.Fail(std::string(side.Name()) + ": " + std::to_string(missed) + " of " +
                   std::to_string(b.options.firings) + " firings not delivered within 10 s");
        }
    }
    b.rows.push_back(row);
    Progress("3. commit -> delivery: done");
}

// 4. A burst of commits as fast as the firing process makes them; the delivered
// counts must add up to the number of commits. Timed from the last commit call to the
// delivery that completes the sum.
void BurstFigure(Bench& b) {
    Firer* firer = b.FiringProcess();
    if (firer == nullptr) {
        return;
    }
    const int burst = b.options.burst;
    Row row("4. burst of " + std::to_string(burst) + ": last commit -> all delivered (ms)");
    for (int s = 0; s < 2; ++s) {
        Side& side = b.SideAt(s);
        const std::string name = EventName("BURST");
        std::vector<int> connections;
        std::string error;
        if (!ConnectSubscribed(side, 1, name, &connections, &error)) {
            b.Fail(std::string(side.Name()) + ": " + error);
            DisconnectAll(side, &connections);
            continue;
        }
        side.Settle(milliseconds(300));
        for (int k = 0; k < b.options.bursts; ++k) {
            side.log.Clear();
            FireResult fired;
            if (!firer->Send(name, burst) ||
                !side.WaitFor([&] { return firer->ReplyReady(); }, Clock::now() + seconds(600),
                              milliseconds(2)) ||
                !firer->Reply(&fired, &error)) {
                b.Fail("firing process: " + error);
                break;
            }
            side.WaitForSum(burst, fired.end + kDeliveryLimit);
            // Anything beyond the burst would arrive now.
            side.WaitFor([] { return false; }, Clock::now() + milliseconds(300), kSlice);
            const int64_t sum = side.log.Sum();
            const double commitMs = Ms(fired.end - fired.firstCommit);
            Progress("   %-18s burst %d: delivered sum %" PRId64
                     " of %d in %zu deliveries; "
                     "the %d commits took %.0f ms (%.0f/s)",
                     side.Name(), k + 1, sum, burst, side.log.Size(), burst, commitMs,
                     burst * 1000.0 / commitMs);
            Clock::time_point at;
            if (sum != burst) {
                b.Fail(std::string(side.Name()) + " burst: delivered sum " + std::to_string(sum) +
                       " is not " + std::to_string(burst));
            } else if (side.log.TimeSumReached(burst, &at)) {
                Samples(row, s).push_back(Ms(at - fired.lastCommit));
            }
        }
        DisconnectAll(side, &connections);
    }
    b.rows.push_back(row);
    Progress("4. burst: done");
}

// 5. One firing to N connections that all subscribe its name: from the commit call
// until every connection has delivered it.
void FanOutFigure(Bench& b) {
    Firer* firer = b.FiringProcess();
    if (firer == nullptr) {
        return;
    }
    for (const int n : b.options.fanout) {
        Row row("5. one firing to N=" + std::to_string(n) + ": all delivered (ms)");
        for (int s = 0; s < 2; ++s) {
            Side& side = b.SideAt(s);
            const std::string name = EventName("FAN" + std::to_string(n));
            std::vector<int> connections;
            std::string error;
            if (!ConnectSubscribed(side, n, name, &connections, &error)) {
                b.Fail(std::string(side.Name()) + ", " + std::to_string(n) +
                       " connections: " + error);
                DisconnectAll(side, &connections);
                continue;
            }
            side.Settle(milliseconds(300 + 5 * n));
            int missed = 0;
            int extra = 0;
            for (int i = 0; i < b.options.fanoutFirings; ++i) {
                const Firing f = FireOnce(side, *firer, name, n);
                if (f.delivered) {
                    Samples(row, s).push_back(f.ms);
                } else {
                    ++missed;
                }
                extra += f.sum > n ? 1 : 0;
            }
            DisconnectAll(side, &connections);
            if (missed > 0) {
                b.Fail(std::string(side.Name()) + ", N=" + std::to_string(n) + ": " +
                       std::to_string(missed) + " firings not delivered to all within 10 s");
            }
            if (extra > 0) {
                b.Fail(std::string(side.Name()) + ", N=" + std::to_string(n) + ": " +
                       std::to_string(extra) + " firings delivered more than once");
            }
        }
        b.rows.push_back(row);
    }
    Progress("5. fan-out: done");
}

// 6. Disconnect of a connection with two subscriptions (Firebird's client: both
// requests cancelled, then the detach).
void DisconnectFigure(Bench& b) {
    Row row("6. disconnect with two subscriptions (ms)");
    const std::string names[2] = {EventName("DIS_A"), EventName("DIS_B")};
    std::string error;
    for (int run = 0; run < b.options.runs; ++run) {
        for (int s = 0; s < 2; ++s) {
            Side& side = b.SideAt(s);
            const int c = side.Connect(&error);
            if (c < 0 || !side.Subscribe(c, names[0], &error) ||
                !side.Subscribe(c, names[1], &error)) {
                b.Fail(std::string(side.Name()) + ": " + error);
                return;
            }
            side.Settle(milliseconds(50));
            const Clock::time_point start = Clock::now();
            side.Disconnect(c);
            Samples(row, s).push_back(Ms(Clock::now() - start));
        }
    }
    b.rows.push_back(row);
    Progress("6. disconnect: done");
}

// 7. CPU per 1000 delivered events, resident memory and threads with
// resourceConnections subscribed connections, each client in a process of its own.
void ResourceFigure(Bench& b) {
    const int n = b.options.resourceConnections;
    Row cpu("7. CPU per 1000 delivered events (ms)");
    Row rss("7. RSS at " + std::to_string(n) + " subscribed connections (MiB)", 1);
    Row grown("7. RSS growth, 0 to " + std::to_string(n) + " connections (MiB)", 1);
    Row threads("7. threads at " + std::to_string(n) + " subscribed connections", 0);
    for (int s = 0; s < 2; ++s) {
        ChildProcess child;
        std::string error;
        if (!child.Start(ChildArgs(b, "resources", kSideNames[s]), &error)) {
            b.Fail("cannot start the child process: " + error);
            continue;
        }
        std::string line;
        double start = -1;
        int64_t events = 0;
        while (child.ReadLine(&line)) {
            char key[32];
            double value = 0;
            if (std::sscanf(line.c_str(), "%31s %lf", key, &value) != 2) {
                b.Fail(std::string(kSideNames[s]) + " child: " + line);
                continue;
            }
            const std::string k = key;
            if (k == "rss_start") {
                start = value / 1024;
            } else if (k == "rss") {
                Samples(rss, s).push_back(value / 1024);
                Samples(grown, s).push_back(value / 1024 - start);
            } else if (k == "threads") {
                Samples(threads, s).push_back(value);
            } else if (k == "cpu_per_1000") {
                Samples(cpu, s).push_back(value);
            } else if (k == "events") {
                events += static_cast<int64_t>(value);
            }
        }
        if (child.Finish() != 0) {
            b.Fail(std::string(kSideNames[s]) + " child process failed");
        }
        Progress("   %-18s %" PRId64 " events delivered in the CPU rounds",
                 s == 0 ? "Varnel" : "Firebird's client", events);
    }
    b.rows.push_back(cpu);
    b.rows.push_back(rss);
    b.rows.push_back(grown);
    b.rows.push_back(threads);
    Progress("7. CPU and memory: done");
}

// 8. System calls of the library's threads (every thread but the main one) while
// idleConnections subscribed connections sit idle, counted by strace -c; and, over as
// long a span before strace attaches, their context switches.
void IdleFigure(Bench& b) {
    const std::string strace = FindProgram("strace");
    if (strace.empty()) {
        Progress("8. idle system calls: skipped, strace is not installed (apt-get install strace)");
        return;
    }
    Row row("8. syscalls, " + std::to_string(b.options.idleConnections) + " connections idle " +
                std::to_string(b.options.idleSeconds) + " s",
            0);
    for (int s = 0; s < 2; ++s) {
        ChildProcess child;
        std::string error;
        std::string line;
        if (!child.Start(ChildArgs(b, "idle", kSideNames[s]), &error) || !child.ReadLine(&line) ||
            line != "ready") {
            b.Fail(std::string(kSideNames[s]) + " idle child: " + error + line);
            continue;
        }
        const std::string file = "/tmp/varnel-bench-strace-" + std::to_string(child.Pid());
        std::vector<std::string> args = {strace, "-q", "-c", "-o", file};
        const std::vector<std::string> threads = ThreadsOf(child.Pid());
        for (const std::string& tid : threads) {
            if (tid != std::to_string(child.Pid())) {
                args.insert(args.end(), {"-p", tid});
            }
        }
        // First as long untraced, for the context switches: a ptrace attach makes some.
        const long switches = ContextSwitches(child.Pid(), threads);
        std::this_thread::sleep_for(seconds(b.options.idleSeconds));
        const long switched = ContextSwitches(child.Pid(), threads) - switches;
        ChildProcess tracer;
        if (!tracer.Start(args, &error)) {
            b.Fail("strace: " + error);
            continue;
        }
        std::this_thread::sleep_for(seconds(b.options.idleSeconds));
        kill(tracer.Pid(), SIGINT);
        tracer.Finish();
        child.WriteLine("quit");
        child.Finish();
        long total = 0;
        const auto calls = ReadStraceSummary(file, &total);
        std::remove(file.c_str());
        std::string list;
        for (const auto& [name, count] : calls) {
            list += " " + name + " " + std::to_string(count);
        }
        Progress("   %-18s %zu threads besides the main one, %ld context switches: %ld calls%s%s",
                 s == 0 ? "Varnel" : "Firebird's client", threads.size() - 1, switched, total,
                 list.empty() ? "" : ":", list.c_str());
        if (total < 0) {
            b.Fail("no strace summary for " + std::string(kSideNames[s]));
        } else {
            Samples(row, s).push_back(static_cast<double>(total));
        }
    }
    b.rows.push_back(row);
    Progress("8. idle system calls: done");
}

void PrintTable(const Bench& b) {
    auto cell = [](const std::vector<double>& samples, bool p90, int decimals) {
        char text[32] = "-";
        const Summary s = Summarize(samples);
        if (s.count > 0 && (!p90 || s.count > 1)) {
            std::snprintf(text, sizeof text, "%.*f", decimals, p90 ? s.p90 : s.median);
        }
        return std::string(text);
    };
    std::printf("\n%-52s %13s %11s %13s %11s %7s\n", "figure", "Varnel median", "Varnel p90",
                "client median", "client p90", "ratio");
    for (const Row& row : b.rows) {
        const Summary v = Summarize(row.varnel);
        const Summary c = Summarize(row.client);
        char ratio[16] = "-";
        if (v.count > 0 && c.count > 0 && c.median > 0) {
            std::snprintf(ratio, sizeof ratio, "%.2f", v.median / c.median);
        }
        std::printf("%-52s %13s %11s %13s %11s %7s\n", row.label.c_str(),
                    cell(row.varnel, false, row.decimals).c_str(),
                    cell(row.varnel, true, row.decimals).c_str(),
                    cell(row.client, false, row.decimals).c_str(),
                    cell(row.client, true, row.decimals).c_str(), ratio);
    }
    std::printf("ratio: Varnel median / Firebird's client median; - : a single value or none\n");
}

int ResourceChild(const Options& options, const varnel_test::TestServerConfig& server,
                  const std::string& which) {
    std::string error;
    std::unique_ptr<Side> side = MakeSide(which, options, server, &error);
    Firer firer;
    if (side == nullptr || !firer.Start(options.prefix, &error)) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    std::printf("rss_start %ld\n", StatusField("VmRSS"));
    const int n = options.resourceConnections;
    const std::string name = EventName("RES");
    std::vector<int> connections;
    if (!ConnectSubscribed(*side, n, name, &connections, &error)) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    side->Settle(milliseconds(300 + 5 * n));
    std::printf("rss %ld\nthreads %ld\n", StatusField("VmRSS"), StatusField("Threads"));
    for (int round = 0; round < options.cpuRounds; ++round) {
        int64_t events = 0;
        const double start = CpuMs();
        for (int i = 0; i < options.cpuFirings; ++i) {
            events += FireOnce(*side, firer, name, n).sum;
        }
        const double used = CpuMs() - start;
        if (events > 0) {
            std::printf("cpu_per_1000 %.3f\nevents %" PRId64 "\n", used * 1000.0 / events, events);
        }
        std::fflush(stdout);
    }
    DisconnectAll(*side, &connections);
    return 0;
}

int IdleChild(const Options& options, const varnel_test::TestServerConfig& server,
              const std::string& which) {
    std::string error;
    std::unique_ptr<Side> side = MakeSide(which, options, server, &error);
    std::vector<int> connections;
    if (side == nullptr || !ConnectSubscribed(*side, options.idleConnections, EventName("IDLE"),
                                              &connections, &error)) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    side->Settle(milliseconds(300));
    std::printf("ready\n");
    std::fflush(stdout);
    // The main thread waits (pumping, for Varnel) until told to end.
    pollfd input{0, POLLIN, 0};
    side->WaitFor([&] { return poll(&input, 1, 0) > 0; }, Clock::now() + std::chrono::hours(1),
                  milliseconds(100));
    DisconnectAll(*side, &connections);
    return 0;
}

}  // namespace bench
