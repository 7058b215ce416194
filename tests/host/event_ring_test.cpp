#include "host/event_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(EventRing, ConsecutiveSlotsWrapAt200) {
    EventRing ring;
    EventSlot slot;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(ring.Put(std::to_string(i).c_str(), i), i);
    }
    EXPECT_EQ(ring.Put(std::string(70, 'x').c_str(), 7), 0);  // slot 0 is overwritten
    ASSERT_TRUE(ring.Read(0, &slot));
    EXPECT_EQ(std::string(slot.eventName), std::string(64, 'x'));
    EXPECT_EQ(slot.count, 7);
    ASSERT_TRUE(ring.Read(199, &slot));
    EXPECT_STREQ(slot.eventName, "199");
    EXPECT_FALSE(ring.Read(200, &slot));
    EXPECT_FALSE(ring.Read(-1, &slot));
}

TEST(EventRing, ConcurrentPutsTakeDistinctSlots) {
    EventRing ring;
    std::vector<std::vector<int32_t>> taken(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {  // 200 in all: every slot exactly once
                taken[t].push_back(ring.Put(("T" + std::to_string(t)).c_str(), i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<int> uses(EventRing::kSlots, 0);
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 50; ++i) {
            ++uses[taken[t][i]];
            EventSlot slot;
            ASSERT_TRUE(ring.Read(taken[t][i], &slot));
            EXPECT_EQ(std::string(slot.eventName), "T" + std::to_string(t));
            EXPECT_EQ(slot.count, i);
        }
    }
    EXPECT_EQ(uses, std::vector<int>(EventRing::kSlots, 1));
}

}  // namespace
