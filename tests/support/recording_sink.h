#pragma once
// What a connection hands on, recorded as text: "NAME count", "lost HANDLE: reason",
// "restored HANDLE"; and a wait for a condition that other threads make true.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/database.h"
#include "support/fake_firebird.h"

namespace varnel_test {

using Texts = std::vector<std::string>;

class RecordingSink : public IEventSink {
public:
    void EventFired(int32_t, const AnsiString& name, int32_t count) override {
        Record(name.Bytes() + " " + std::to_string(count));
    }
    void ConnectionLost(int32_t connection, const AnsiString& reason) override {
        Record("lost " + std::to_string(connection) + ": " + reason.Bytes());
    }
    void ConnectionRestored(int32_t connection, const AnsiString&) override {
        Record("restored " + std::to_string(connection));
    }
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                 [&] { return firings_.size() >= n; });
    }
    Texts Firings() {
        std::lock_guard<std::mutex> guard(mutex_);
        return firings_;
    }

private:
    void Record(const std::string& firing) {
        std::lock_guard<std::mutex> guard(mutex_);
        firings_.push_back(firing);
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Texts firings_;
};

template <class Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < kWaitMs / 2 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

}  // namespace varnel_test
