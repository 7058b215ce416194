// The event connection dropped under a real server: the connection repairs it by
// itself, and firings before, during and after the drop arrive with exact counts.

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "channel/database.h"
#include "support/test_server.h"

namespace {

class SummingSink : public IEventSink {
public:
    void EventFired(int32_t, const AnsiString&, int32_t count) override {
        std::lock_guard<std::mutex> guard(mutex);
        sum += count;
        changed.notify_all();
    }
    void ConnectionLost(int32_t, const AnsiString& reason) override {
        std::lock_guard<std::mutex> guard(mutex);
        lost = reason.Bytes();
    }
    int64_t WaitForSum(int64_t wanted, int moreMs) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return sum >= wanted; });
        changed.wait_for(lock, std::chrono::milliseconds(moreMs), [] { return false; });
        return sum;
    }
    std::mutex mutex;
    std::condition_variable changed;
    int64_t sum = 0;
    std::string lost;
};

class EventRepair : public ::testing::TestWithParam<const char*> {};

TEST_P(EventRepair, FiringsAroundADroppedEventConnectionAllArrive) {
    varnel_test::TestServerConfig server;
    VARNEL_NEED_TEST_SERVER(server, GetParam());
    SummingSink sink;
    std::unique_ptr<CDatabase> db = CDatabase::Create();
    db->AttachEventSink(&sink);
    ASSERT_TRUE(db->ConnectDatabase(server.host.c_str(), static_cast<int32_t>(server.port),
                                    server.database.c_str(), server.user.c_str(),
                                    server.password.c_str()))
        << db->ErrorText().CStr();
    ASSERT_TRUE(db->SubscribeEvent("MENDED"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the baseline report
    const auto fire = [&server](int times) {
        return varnel_test::RunIsql(server, "execute procedure post_events('MENDED', " +
                                                std::to_string(times) + "); commit;");
    };
    ASSERT_EQ(fire(1), 0);
    ASSERT_EQ(sink.WaitForSum(1, 0), 1);
    for (int drop = 0; drop < 3; ++drop) {
        // The event connection ends under the listener, as a firewall's reset does.
        ::shutdown(static_cast<int>(db->auxStream.Handle()), SHUT_RDWR);
        ASSERT_EQ(fire(2), 0);  // while it is being made again
        ASSERT_EQ(fire(3), 0);
    }
    EXPECT_EQ(sink.WaitForSum(1 + 3 * 5, 300), 1 + 3 * 5);
    EXPECT_TRUE(db->Disconnect());  // the listener has ended: `lost` is still
    EXPECT_EQ(sink.lost, "");
}

INSTANTIATE_TEST_SUITE_P(Servers, EventRepair,
                         ::testing::Values(varnel_test::kLegacyServer,
                                           varnel_test::kFirebird3Default,
                                           varnel_test::kFirebird4));

}  // namespace
