#pragma once
// What the connection tests share: a scripted Firebird server, a sink that records
// the firings the connection hands on, and a connection object attached to both.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/database.h"
#include "support/fake_firebird.h"
#include "wire/protocol.h"

namespace varnel_test {

// Generous limits for things that happen at once when all is well; they only keep
// a failing test from hanging.
constexpr int kWaitMs = 5000;

inline const char kLoginMessage[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.\n";

struct Firing {
    std::string name;
    int32_t count = 0;
    bool operator==(const Firing& other) const {
        return name == other.name && count == other.count;
    }
};

inline void PrintTo(const Firing& firing, std::ostream* out) {
    *out << firing.name << ':' << firing.count;
}

// Records the firings and losses in the order the connection hands them on.
class RecordingSink : public IEventSink {
public:
    void EventFired(int32_t, const AnsiString& eventName, int32_t count) override {
        Record(Firing{eventName.Bytes(), count});
    }
    void ConnectionLost(int32_t connection, const AnsiString& reason) override {
        Record(Firing{"lost " + std::to_string(connection) + ": " + reason.Bytes(), 0});
    }
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                 [&] { return firings_.size() >= n; });
    }
    std::vector<Firing> Firings() {
        std::lock_guard<std::mutex> guard(mutex_);
        return firings_;
    }

private:
    void Record(const Firing& firing) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            firings_.push_back(firing);
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Firing> firings_;
};

// The local event ids of requests, in order.
inline std::vector<int32_t> EventIds(const std::vector<FirebirdRequest>& requests) {
    std::vector<int32_t> ids;
    for (const FirebirdRequest& request : requests) {
        ids.push_back(request.eventId);
    }
    return ids;
}

// Polls a condition that another thread makes true, up to kWaitMs.
template <class Condition>
bool Eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(db, nullptr);
        db->AttachEventSink(&sink);
        db->SetConnectionHandle(7);
        db->firstRepairPauseMs = 1;
        db->reportLimitMs = 300;
    }

    // Destruction disconnects, and waits for the listener: watched like a disconnect.
    void TearDown() override {
        if (db) {
            EXPECT_TRUE(RunInTime([this] { db.reset(); })) << "destroying the connection hung";
        }
    }

    bool Connect(CDatabase& database) {
        return database.ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA",
                                        "masterkey");
    }
    bool Connect() { return Connect(*db); }

    // Sends op_event for eventId with one event's count and waits until the listener
    // has queued the request again (the n-th op_que_events in all).
    ::testing::AssertionResult Report(int32_t eventId, const std::string& name, uint32_t count,
                                      size_t queuedInAll) {
        if (!fake.SendAuxiliary(EventPacket(eventId, EventBlock({{name, count}})))) {
            return ::testing::AssertionFailure() << "no auxiliary connection";
        }
        if (!fake.WaitForRequests(op_que_events, queuedInAll, kWaitMs)) {
            return ::testing::AssertionFailure()
                   << "op_que_events number " << queuedInAll << " did not arrive";
        }
        return ::testing::AssertionSuccess();
    }

    bool ListenerEventSet() { return platform::WaitForEvent(db->listenerEvent.Get(), 0) == 0; }

    // The local event ids in the connection's table, read under its lock.
    std::vector<int32_t> TableIds() {
        platform::LockGuard guard(db->lock);
        std::vector<int32_t> ids;
        for (size_t i = 0; i < db->eventRequests.Size(); ++i) {
            ids.push_back(db->eventRequests.KeyAt(i));
        }
        return ids;
    }

    // Runs `work` (a disconnect, a destruction) on a helper thread. If it has not
    // returned within kWaitMs, the auxiliary connection is closed from the server's
    // side, which frees a listener stuck in its read, so that a failing test still
    // ends. False when it did not return in time.
    template <class Work>
    bool RunInTime(Work work) {
        std::future<void> done = std::async(std::launch::async, work);
        const bool inTime =
            done.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
        if (!inTime) {
            fake.CloseAuxiliary();
        }
        done.get();
        return inTime;
    }

    // Declared so that the connection goes first, then the sink and the server.
    FakeFirebird fake;
    RecordingSink sink;
    std::unique_ptr<CDatabase> db = CDatabase::Create();
};

}  // namespace varnel_test
