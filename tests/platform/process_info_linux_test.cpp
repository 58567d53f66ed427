#include "platform/host/process_info.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(RawNetworkAccessTest, ReadsTheNetRawBitOfTheEffectiveSet)
{
    EXPECT_TRUE(
        StatusGrantsNetRaw("Name:\tx\nCapInh:\t0\nCapPrm:\t0\nCapEff:\t0000000000002000\n"));
    EXPECT_TRUE(StatusGrantsNetRaw("CapEff:\t000001ffffffffff\n"));
    EXPECT_FALSE(StatusGrantsNetRaw("CapEff:\t0000000000001000\n"));
    EXPECT_FALSE(StatusGrantsNetRaw("CapPrm:\t0000000000002000\nCapEff:\t0000000000000000\n"));
    EXPECT_FALSE(StatusGrantsNetRaw("XCapEff:\t0000000000002000\n"));
    EXPECT_FALSE(StatusGrantsNetRaw("Name:\tx\n"));
    EXPECT_FALSE(StatusGrantsNetRaw("CapEff:\tzz\n"));
}

}  // namespace
}  // namespace tarvik
