#include "platform/random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

// getrandom may return reads above 256 bytes short: a long draw must still reach its
// last bytes, and two draws must differ.
TEST(FillRandom, LongDrawsAreFilledToTheEnd) {
    static uint8_t first[100000];
    static uint8_t second[100000];
    ASSERT_TRUE(platform::FillRandom(first, sizeof first));
    ASSERT_TRUE(platform::FillRandom(second, sizeof second));
    EXPECT_NE(std::memcmp(first, second, sizeof first), 0);
    const uint8_t zeros[32] = {};
    EXPECT_NE(std::memcmp(first + sizeof first - 32, zeros, sizeof zeros), 0);
    EXPECT_TRUE(platform::FillRandom(nullptr, 0));
}

}  // namespace
