// The little-endian helpers against literal bytes.

#include "platform/formats/byte_order.h"

#include <array>

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(ByteOrder, StoresLeastSignificantByteFirstAndOnlyItsOwnBytes)
{
    std::array<std::uint8_t, 16> bytes;
    bytes.fill(0xEE);
    StoreLe16(bytes, 1, 0x1234);
    StoreLe32(bytes, 3, 0x89ABCDEF);
    StoreLe64(bytes, 7, 0x0102030405060708ULL);
    const std::array<std::uint8_t, 16> expected = {0xEE, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0x08,
                                                   0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xEE};
    EXPECT_EQ(bytes, expected);
}

TEST(ByteOrder, LoadsWhatTheBytesHoldWithTheTopBitSet)
{
    const std::array<std::uint8_t, 5> bytes = {0xAA, 0x34, 0x12, 0xFF, 0xFF};
    EXPECT_EQ(LoadLe16(bytes, 1), 0x1234);
    EXPECT_EQ(LoadLe16(bytes, 3), 0xFFFF);
    EXPECT_EQ(LoadLe16(bytes, 2), 0xFF12);
}

}  // namespace
}  // namespace tarvik
