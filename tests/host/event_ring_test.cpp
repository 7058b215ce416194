// The path of firings into the host's main thread: nothing lost, merged, or delivered
// twice, whatever the main thread does meanwhile.
#include "host/event_ring.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// Firings that wait merge per connection and name, saturating; a notice is its own
// delivery; each is taken once, by its slot or oldest first; a later firing takes the
// lowest free slot; an ended connection's deliveries go.
TEST(EventRing, FiringsThatWaitAreMergedPerConnectionAndName) {
    EventRing ring;
    int32_t a = -1, b = -1, c = -1, lost = -1, again = -1, unused = -1;
    EXPECT_TRUE(ring.Put(1, "ORDERS", 2, &a));
    EXPECT_FALSE(ring.Put(1, "ORDERS", 3, &unused));
    EXPECT_TRUE(ring.Put(2, "ORDERS", 1, &b));
    EXPECT_TRUE(ring.Put(1, "orders", 1, &c));
    EXPECT_TRUE(ring.PutNotice(DeliveryKind::kLoss, 1, "gone", &lost));
    EXPECT_FALSE(ring.Put(1, "ORDERS", INT32_MAX, &unused));
    EXPECT_EQ((std::vector<int32_t>{a, b, c, lost}), (std::vector<int32_t>{0, 1, 2, 3}));
    EventSlot d;
    ASSERT_TRUE(ring.Take(a, &d));
    EXPECT_TRUE(d.connection == 1 && d.eventName.Bytes() == "ORDERS" && d.count == INT32_MAX);
    EXPECT_FALSE(ring.Take(a, &d));
    ASSERT_TRUE(ring.Take(lost, &d));
    EXPECT_TRUE(d.kind == DeliveryKind::kLoss && d.text.Bytes() == "gone");
    EXPECT_FALSE(ring.Take(4, &d) || ring.Take(-1, &d));
    EXPECT_TRUE(ring.Put(1, "ORDERS", 4, &again));
    EXPECT_EQ(again, 0);  // after b and c
    EXPECT_TRUE(ring.PutNotice(DeliveryKind::kRestore, 2, "back", &unused));
    EXPECT_EQ(ring.Pending(), 4u);
    for (const char* expected : {"2 ORDERS", "1 orders", "1 ORDERS"}) {
        ASSERT_TRUE(ring.TakeOldest(DeliveryKind::kFiring, &d));
        EXPECT_EQ(std::to_string(d.connection) + " " + d.eventName.Bytes(), expected);
    }
    EXPECT_FALSE(ring.TakeOldest(DeliveryKind::kFiring, &d) ||
                 ring.TakeOldest(DeliveryKind::kLoss, &d));
    EXPECT_TRUE(ring.Put(2, "ORDERS", 1, &b) && ring.Put(3, "ORDERS", 1, &c));
    ring.Forget(2);
    EXPECT_EQ(ring.Pending(), 1u);
    EXPECT_TRUE(ring.Take(c, &d));
}

// Listeners put while the main thread is busy and takes now and then: every name's
// delivered sum is what was put, and no message is left without a delivery.
TEST(EventRing, ABusyMainThreadLosesNothing) {
    EventRing ring;
    constexpr int kThreads = 4, kPuts = 5000;
    std::vector<size_t> messages(kThreads);
    std::vector<std::thread> listeners;
    std::map<std::string, int64_t> put, delivered;
    for (int t = 0; t < kThreads; ++t) {
        listeners.emplace_back([&, t] {
            for (int i = 0; i < kPuts; ++i) {
                int32_t slot;
                messages[t] +=
                    ring.Put(t % 2, AnsiString("E" + std::to_string(i % 3)), 1 + i % 4, &slot);
            }
        });
        for (int i = 0; i < kPuts; ++i) {
            put[std::to_string(t % 2) + "E" + std::to_string(i % 3)] += 1 + i % 4;
        }
    }
    size_t taken = 0;
    const auto takeAll = [&] {
        for (int32_t slot = 0; slot < 16; ++slot) {
            EventSlot d;
            if (ring.Take(slot, &d)) {
                delivered[std::to_string(d.connection) + d.eventName.Bytes()] += d.count;
                ++taken;
            }
        }
    };
    for (int round = 0; round < 50; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        takeAll();
    }
    for (std::thread& listener : listeners) {
        listener.join();
    }
    takeAll();
    EXPECT_EQ(delivered, put);
    EXPECT_EQ(taken, messages[0] + messages[1] + messages[2] + messages[3]);
    EXPECT_EQ(ring.Pending(), 0u);
}

}  // namespace
