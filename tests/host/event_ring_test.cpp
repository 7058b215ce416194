#include "host/event_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(EventRing, ConsecutiveSlotsAndWrapAt200) {
    EventRing ring;
    EXPECT_EQ(ring.Put("A", 1), 0);
    EXPECT_EQ(ring.Put("A", 2), 1);
    EXPECT_EQ(ring.Put("A", 3), 2);
    EXPECT_EQ(ring.Put("B", 9), 3);
    EventSlot slot;
    ASSERT_TRUE(ring.Read(3, &slot));
    EXPECT_STREQ(slot.eventName, "B");
    EXPECT_EQ(slot.count, 9);
    for (int i = 4; i < 200; ++i) {
        EXPECT_EQ(ring.Put("fill", i), i);
    }
    EXPECT_EQ(ring.WriteIndex(), 0);
    EXPECT_EQ(ring.Put("again", 7), 0);  // slot 0 is overwritten
    ASSERT_TRUE(ring.Read(0, &slot));
    EXPECT_STREQ(slot.eventName, "again");
    EXPECT_FALSE(ring.Read(200, &slot));
    EXPECT_FALSE(ring.Read(-1, &slot));
}

TEST(EventRing, ConcurrentPutsTakeDistinctSlots) {
    EventRing ring;
    constexpr int kThreads = 4;
    constexpr int kPuts = 50;  // 200 in all: every slot exactly once
    std::vector<std::vector<int32_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPuts; ++i) {
                taken[t].push_back(ring.Put(("T" + std::to_string(t)).c_str(), i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<int> uses(EventRing::kSlots, 0);
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPuts; ++i) {
            ++uses[taken[t][i]];
            EventSlot slot;
            ASSERT_TRUE(ring.Read(taken[t][i], &slot));
            EXPECT_EQ(std::string(slot.eventName), "T" + std::to_string(t));
            EXPECT_EQ(slot.count, i);
        }
    }
    for (int use : uses) {
        EXPECT_EQ(use, 1);
    }
}

}  // namespace
