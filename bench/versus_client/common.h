#pragma once
// Timing, delivery records and child processes shared by the comparison's parts.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace bench {

// steady_clock is CLOCK_MONOTONIC on Linux: one clock for every process of the
// machine, so a time taken in the firing process can be compared with one taken here.
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d);
int64_t ToNs(Clock::time_point t);
Clock::time_point FromNs(int64_t ns);

struct Summary {
    double median = 0;
    double p90 = 0;
    size_t count = 0;
};
Summary Summarize(std::vector<double> samples);

// Deliveries as each client reports them: the time the host's command ran (this
// library) or the event callback was entered (Firebird's client), and the count of
// firings it stands for. Written by any thread.
class DeliveryLog {
public:
    void Add(Clock::time_point at, int64_t count);
    void Clear();
    int64_t Sum();
    size_t Size();
    // When the running sum of counts first reached target; false when it has not.
    bool TimeSumReached(int64_t target, Clock::time_point* at);
    // A number that changes with every Add, and a wait for it to change.
    uint64_t Generation();
    void WaitForChange(uint64_t seen, Clock::time_point until);
    // Waits until the sum reaches target; only the Add that reaches it wakes the
    // waiter, so that waiting costs the measured process next to nothing.
    bool WaitForSum(int64_t target, Clock::time_point until);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<Clock::time_point, int64_t>> entries_;
    int64_t sum_ = 0;
    int64_t wakeAt_ = 0;  // Add wakes the waiters once the sum is at least this
    uint64_t generation_ = 0;
};

// A program started with fork and exec, its standard input and output piped to us.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool Start(const std::vector<std::string>& args, std::string* error);
    pid_t Pid() const { return pid_; }
    bool WriteLine(const std::string& line);
    // Reads one line without its newline; false at the end of the output.
    bool ReadLine(std::string* line);
    // True when output is waiting (after at most timeoutMs).
    bool Readable(int timeoutMs);
    // Closes its input and waits for it to end; the exit status, or -1.
    int Finish();

private:
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
};

// The path of this program, for starting it again with another role.
std::string SelfPath();

// This process: CPU time (user + system) in ms, resident set in KiB, thread count.
double CpuMs();
long StatusField(const char* name);

}  // namespace bench
