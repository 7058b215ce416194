#include "common.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace bench {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int64_t ToNs(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

Clock::time_point FromNs(int64_t ns) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

Summary Summarize(std::vector<double> samples) {
    Summary s;
    s.count = samples.size();
    if (samples.empty()) {
        return s;
    }
    std::sort(samples.begin(), samples.end());
    s.median = samples[samples.size() / 2];
    s.p90 = samples[std::min(samples.size() - 1, samples.size() * 9 / 10)];
    return s;
}

void DeliveryLog::Add(Clock::time_point at, int64_t count) {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.emplace_back(at, count);
        sum_ += count;
        ++generation_;
        wake = sum_ >= wakeAt_;
    }
    if (wake) {
        changed_.notify_all();
    }
}

void DeliveryLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    sum_ = 0;
}

int64_t DeliveryLog::Sum() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sum_;
}

size_t DeliveryLog::Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

bool DeliveryLog::TimeSumReached(int64_t target, Clock::time_point* at) {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t sum = 0;
    for (const auto& entry : entries_) {
        sum += entry.second;
        if (sum >= target) {
            *at = entry.first;
            return true;
        }
    }
    return false;
}

uint64_t DeliveryLog::Generation() {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

void DeliveryLog::WaitForChange(uint64_t seen, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, until, [&] { return generation_ != seen; });
}

bool DeliveryLog::WaitForSum(int64_t target, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    wakeAt_ = target;
    const bool reached = changed_.wait_until(lock, until, [&] { return sum_ >= target; });
    wakeAt_ = 0;
    return reached;
}

ChildProcess::~ChildProcess() {
    Finish();
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string* error) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    // Everything the child needs is made before fork: only exec-safe calls follow.
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (pid_ < 0) {
        *error = std::strerror(errno);
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    in_ = fdopen(toChild[1], "w");
    out_ = fdopen(fromChild[0], "r");
    return true;
}

bool ChildProcess::WriteLine(const std::string& line) {
    return in_ != nullptr && std::fprintf(in_, "%s\n", line.c_str()) > 0 && std::fflush(in_) == 0;
}

bool ChildProcess::ReadLine(std::string* line) {
    line->clear();
    if (out_ == nullptr) {
        return false;
    }
    int c;
    while ((c = std::fgetc(out_)) != EOF && c != '\n') {
        line->push_back(static_cast<char>(c));
    }
    return c != EOF || !line->empty();
}

bool ChildProcess::Readable(int timeoutMs) {
    // Each request has one reply line, read whole: nothing waits in the stream's
    // buffer when the next reply is polled for.
    if (out_ == nullptr) {
        return false;
    }
    pollfd fd{fileno(out_), POLLIN, 0};
    return poll(&fd, 1, timeoutMs) > 0;
}

int ChildProcess::Finish() {
    if (in_ != nullptr) {
        std::fclose(in_);
        in_ = nullptr;
    }
    if (out_ != nullptr) {
        std::fclose(out_);
        out_ = nullptr;
    }
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    const pid_t waited = waitpid(pid_, &status, 0);
    pid_ = -1;
    return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SelfPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long StatusField(const char* name) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return -1;
    }
    char line[256];
    long value = -1;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

}  // namespace bench
