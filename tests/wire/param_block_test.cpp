#include "wire/param_block.h"

#include <gtest/gtest.h>

namespace {

TEST(ParamBlock, AppendBytesKeepsOneByteFreeAndRefusesRunsWhole) {
    uint8_t storage[256] = {};
    CParamBlock block(storage, 256, 250);
    const uint8_t run[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(block.AppendBytes(run, 0, 6));  // 250 is not below 256 - 6
    EXPECT_EQ(block.Length(), 250);
    EXPECT_FALSE(block.AppendBytes(storage, 0, 0xFFFFFFF0u));  // no wrap-around
    EXPECT_EQ(block.Length(), 250);
    EXPECT_TRUE(block.AppendBytes(run, 1, 5));
    EXPECT_EQ(block.Length(), 255);
    EXPECT_EQ(storage[250], 2);
    EXPECT_EQ(storage[254], 6);
    block.AppendByte(0xAA);  // the last byte is still reachable one at a time
    EXPECT_EQ(block.Length(), 256);
    block.AppendByte(0xBB);  // dropped
    EXPECT_EQ(block.Length(), 256);
    EXPECT_EQ(storage[255], 0xAA);
}

TEST(DecodeInteger, LeastSignificantFirst) {
    const uint8_t bytes[] = {0x01, 0x02, 0x00, 0x00};
    EXPECT_EQ(DecodeInteger(bytes, 0, 4), 513u);
    EXPECT_EQ(DecodeInteger(bytes, 1, 1), 2u);
    EXPECT_EQ(DecodeInteger(bytes, 0, 0), 0u);
    EXPECT_EQ(DecodeInteger(bytes, 0, -3), 0u);
}

}  // namespace
