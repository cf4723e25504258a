#include "config/buffer.h"

#include <gtest/gtest.h>

#include <cstring>

using KRVN::CBuffer;

TEST(CBuffer, NewBytesAreZeroAfterFirstAllocationGrowthAndShrinkThenGrowth) {
    CBuffer buffer(4);
    EXPECT_EQ(std::memcmp(buffer.Data(), "\0\0\0\0", 4), 0);
    std::memset(buffer.Data(), 0xAB, 4);
    buffer.Resize(6);
    EXPECT_EQ(0xAB, buffer[3]);
    EXPECT_EQ(0, buffer[4]);
    EXPECT_EQ(0, buffer[5]);
    // A shrink keeps the allocation; the bytes it cut off must not come back.
    buffer.Resize(2);
    buffer.Resize(4);
    EXPECT_EQ(0xAB, buffer[1]);
    EXPECT_EQ(0, buffer[2]);
    EXPECT_EQ(0, buffer[3]);
    buffer.Resize(0);
    EXPECT_TRUE(buffer.Empty());
    EXPECT_EQ(nullptr, buffer.Data());
}

TEST(CBuffer, CopiesAreDeepAndAssignFromOwnBytesWorks) {
    CBuffer original("abcdef", 6);
    CBuffer copy = original;
    copy[0] = 'X';
    EXPECT_EQ('a', original[0]);
    EXPECT_FALSE(copy == original);

    original.Assign(original.Data() + 2, 3);
    ASSERT_EQ(3u, original.Size());
    EXPECT_EQ(0, std::memcmp(original.Data(), "cde", 3));

    CBuffer moved = std::move(copy);
    EXPECT_EQ(6u, moved.Size());
    EXPECT_TRUE(copy.Empty());
}
