#include "ByteRing.h"

#include <gtest/gtest.h>

#include <vector>

using qor::ByteRing;

TEST(ByteRing, HoldsAtMostCapacity) {
    ByteRing ring;
    ASSERT_TRUE(ring.init(65536));
    std::vector<uint8_t> big(65537, 0x55);
    EXPECT_FALSE(ring.put(big.data(), big.size()));
    EXPECT_TRUE(ring.isEmpty());
    EXPECT_EQ(ring.used(), 0u);
    EXPECT_TRUE(ring.put(big.data(), 65536));
    EXPECT_TRUE(ring.isFull());
    EXPECT_EQ(ring.freeSpace(), 0u);
    uint8_t one = 1;
    EXPECT_FALSE(ring.put(&one, 1));
    EXPECT_EQ(ring.used(), 65536u);
}

TEST(ByteRing, WrapsAroundTheEnd) {
    ByteRing ring;
    ASSERT_TRUE(ring.init(8));
    const uint8_t first[] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(ring.put(first, 6));
    uint8_t out[8] = {};
    ASSERT_TRUE(ring.get(out, 5));
    EXPECT_EQ(ring.used(), 1u);
    EXPECT_EQ(ring.freeSpace(), 7u);
    const uint8_t second[] = {7, 8, 9, 10, 11, 12, 13};
    ASSERT_TRUE(ring.put(second, 7));  // wraps past the 9-byte storage
    EXPECT_TRUE(ring.isFull());
    ASSERT_TRUE(ring.get(out, 8));
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8),
              (std::vector<uint8_t>{6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_TRUE(ring.isEmpty());
}

TEST(ByteRing, GetOfMoreThanHeldCopiesNothing) {
    ByteRing ring;
    ASSERT_TRUE(ring.init(4));
    const uint8_t in[] = {1, 2};
    ring.put(in, 2);
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_FALSE(ring.get(out, 3));
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(ring.used(), 2u);
    ring.clear();
    EXPECT_TRUE(ring.isEmpty());
}

TEST(ByteRing, WithoutStorageReportsNothing) {
    ByteRing ring;
    EXPECT_EQ(ring.freeSpace(), 0u);
    EXPECT_EQ(ring.used(), 0u);
    uint8_t b = 0;
    EXPECT_FALSE(ring.put(&b, 1));
    ring.init(4);
    ring.destroy();
    EXPECT_EQ(ring.capacity(), 0u);
    EXPECT_EQ(ring.used(), 0u);
}
