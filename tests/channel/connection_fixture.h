#pragma once
// The connection tests' fixture: a scripted server, a sink that records what the
// connection hands on, and a connection object.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "channel/database.h"
#include "support/fake_firebird.h"
#include "support/recording_sink.h"
#include "wire/protocol.h"

namespace varnel_test {

using Ids = std::vector<int32_t>;

inline Ids EventIds(const std::vector<FirebirdRequest>& requests) {
    Ids ids;
    for (const FirebirdRequest& request : requests) {
        ids.push_back(request.EventId());
    }
    return ids;
}

// Pauses between the tries to connect again of at most reconnectCeilingMs (0: no
// tries, as most tests look at one connection's life).
inline ConnectionOptions Limits(uint32_t reconnectCeilingMs = 0,
                                uint32_t timeoutMs = kDefaultTimeoutMs) {
    ConnectionOptions options;
    options.reconnectCeilingMs = reconnectCeilingMs;
    options.timeoutMs = timeoutMs;
    return options;
}

inline bool Connect(CDatabase& database, const FakeFirebird& fake,
                    const ConnectionOptions& options = Limits()) {
    return database.ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterkey",
                                    options);
}

// Runs `work` on a helper thread; when it hangs, ending the connections frees a thread
// stuck in a read, so that the test still ends. False then.
template <class Work>
bool RunInTime(FakeFirebird& fake, Work work) {
    std::future<void> done = std::async(std::launch::async, work);
    const bool inTime =
        done.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
    if (!inTime) {
        fake.DropConnections();
    }
    done.get();
    return inTime;
}

// A connection with the tests' short limits: the scripted server sends no first report
// unless the test does, so a subscription does not wait for one.
inline std::unique_ptr<CDatabase> NewDatabase(IEventSink* sink = nullptr) {
    std::unique_ptr<CDatabase> database = CDatabase::Create();
    database->AttachEventSink(sink);
    database->SetConnectionHandle(7);
    database->firstRepairPauseMs = 1;
    database->repairBudgetMs = 100;
    database->firstRestorePauseMs = 1;
    database->firstReportWaitMs = 0;
    database->reportLimitMs = 300;
    return database;
}

class ConnectionTest : public ::testing::Test {
protected:
    // Destruction disconnects and waits for the listener.
    void TearDown() override {
        EXPECT_TRUE(RunInTime([this] { db.reset(); })) << "destroying the connection hung";
    }
    bool Connect(CDatabase& database, const ConnectionOptions& options = Limits()) {
        return varnel_test::Connect(database, fake, options);
    }
    bool Connect() { return Connect(*db); }

    // op_event for eventId with one count, then waits for the n-th op_que_events in all
    // (the listener queues the request again).
    ::testing::AssertionResult Report(int32_t eventId, const std::string& name, uint32_t count,
                                      size_t queuedInAll) {
        if (!fake.SendAuxiliary(EventPacket(eventId, EventBlock({{name, count}})))) {
            return ::testing::AssertionFailure() << "no auxiliary connection";
        }
        if (!fake.WaitForRequests(op_que_events, queuedInAll)) {
            return ::testing::AssertionFailure() << "op_que_events " << queuedInAll << " missing";
        }
        return ::testing::AssertionSuccess();
    }
    bool ListenerEventSet() { return platform::WaitForEvent(db->listenerEvent.Get(), 0) == 0; }
    Ids TableIds() {
        platform::LockGuard guard(db->lock);
        Ids ids;
        for (size_t i = 0; i < db->eventRequests.Size(); ++i) {
            ids.push_back(db->eventRequests.KeyAt(i));
        }
        return ids;
    }
    template <class Work>
    bool RunInTime(Work work) {
        return varnel_test::RunInTime(fake, work);
    }

    // The connection goes first, then the sink and the server.
    FakeFirebird fake;
    RecordingSink sink;
    std::unique_ptr<CDatabase> db = NewDatabase(&sink);
};

}  // namespace varnel_test
