// Adapter names and the cards' own names they carry.

#include <gtest/gtest.h>

#include "platform/capture/packet_driver.h"

namespace tarvik {
namespace {

TEST(AdapterNameTest, ThePrefixIsAddedAndTakenOffAndNothingElse)
{
    EXPECT_EQ(AdapterNameOf("eth0"), "\\Device\\eth0");
    EXPECT_EQ(AdapterNameOf("NPF_{5E2A}"), "\\Device\\NPF_{5E2A}");
    EXPECT_EQ(InterfaceNameOf("\\Device\\eth0"), "eth0");
    EXPECT_EQ(InterfaceNameOf(AdapterNameOf("enp3s0")), "enp3s0");
    // Whether what follows names a card is the driver's to judge.
    EXPECT_EQ(InterfaceNameOf("\\Device\\"), "");
    EXPECT_EQ(InterfaceNameOf("\\Device\\\\Device\\eth0"), "\\Device\\eth0");
    for (const std::string_view unprefixed :
         {"eth0", "", "\\device\\eth0", "Device\\eth0", "\\Device", " \\Device\\eth0"}) {
        EXPECT_FALSE(InterfaceNameOf(unprefixed)) << unprefixed;
    }
}

}  // namespace
}  // namespace tarvik
