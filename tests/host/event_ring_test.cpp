// The path of firings into the host's main thread: nothing lost, merged, or delivered
// twice, whatever the main thread does meanwhile.
#include "host/event_ring.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(EventRing, FiringsThatWaitAreMergedPerConnectionAndName) {
    EventRing ring;
    int32_t a = -1, b = -1, c = -1, lost = -1, again = -1;
    EXPECT_TRUE(ring.Put(1, "ORDERS", 2, &a));
    int32_t unused = -1;
    EXPECT_FALSE(ring.Put(1, "ORDERS", 3, &unused));  // joins the delivery that waits
    EXPECT_TRUE(ring.Put(2, "ORDERS", 1, &b));        // another connection
    EXPECT_TRUE(ring.Put(1, "orders", 1, &c));        // another name
    EXPECT_TRUE(ring.PutLoss(1, "gone", &lost));
    EXPECT_FALSE(ring.Put(1, "ORDERS", INT32_MAX, &unused));  // saturates
    EXPECT_EQ((std::vector<int32_t>{a, b, c, lost}), (std::vector<int32_t>{0, 1, 2, 3}));
    EventSlot delivery;
    ASSERT_TRUE(ring.Take(a, &delivery));
    EXPECT_EQ(delivery.connection, 1);
    EXPECT_EQ(delivery.eventName.Bytes(), "ORDERS");
    EXPECT_EQ(delivery.count, INT32_MAX);
    EXPECT_FALSE(ring.Take(a, &delivery));  // a message takes its delivery once
    ASSERT_TRUE(ring.Take(lost, &delivery));
    EXPECT_TRUE(delivery.lost);
    EXPECT_EQ(delivery.reason.Bytes(), "gone");
    EXPECT_FALSE(ring.Take(4, &delivery));
    EXPECT_FALSE(ring.Take(-1, &delivery));
    // A firing after its delivery was taken is a new delivery, in the lowest free slot.
    EXPECT_TRUE(ring.Put(1, "ORDERS", 4, &again));
    EXPECT_EQ(again, 0);
    EXPECT_EQ(ring.Pending(), 3u);
}

// Listeners put while the main thread is busy, and takes as it pumps: every name's
// delivered sum is what was put, and no message is left without a delivery.
TEST(EventRing, ABusyMainThreadLosesNothing) {
    EventRing ring;
    constexpr int kThreads = 4;
    constexpr int kPuts = 5000;
    std::vector<std::vector<int32_t>> messages(kThreads);
    std::vector<std::thread> listeners;
    for (int t = 0; t < kThreads; ++t) {
        listeners.emplace_back([&, t] {
            for (int i = 0; i < kPuts; ++i) {
                int32_t slot;
                if (ring.Put(t % 2, AnsiString("E" + std::to_string(i % 3)), 1 + i % 4, &slot)) {
                    messages[t].push_back(slot);
                }
            }
        });
    }
    std::map<std::string, int64_t> delivered;
    size_t taken = 0;
    for (int round = 0; round < 50; ++round) {  // the main thread pumps now and then
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int32_t slot = 0; slot < 16; ++slot) {
            EventSlot delivery;
            if (ring.Take(slot, &delivery)) {
                delivered[std::to_string(delivery.connection) + delivery.eventName.Bytes()] +=
                    delivery.count;
                ++taken;
            }
        }
    }
    for (std::thread& listener : listeners) {
        listener.join();
    }
    for (int32_t slot = 0; slot < 16; ++slot) {
        EventSlot delivery;
        if (ring.Take(slot, &delivery)) {
            delivered[std::to_string(delivery.connection) + delivery.eventName.Bytes()] +=
                delivery.count;
            ++taken;
        }
    }
    std::map<std::string, int64_t> put;
    size_t posted = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPuts; ++i) {
            put[std::to_string(t % 2) + "E" + std::to_string(i % 3)] += 1 + i % 4;
        }
        posted += messages[t].size();
    }
    EXPECT_EQ(delivered, put);
    EXPECT_EQ(taken, posted);
    EXPECT_EQ(ring.Pending(), 0u);
}

}  // namespace
