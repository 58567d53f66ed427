// The bays as the command line and a bays file give them: what is taken, and what is refused
// with the reason (and the line).

#include "cli/bay_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tarvik::cli {
namespace {

TEST(BayOptionsTest, BaysFromTheCommandLineAndAFile)
{
    std::string error;
    const auto vlan = ParseBay("bay-1=eth0.12", error);
    ASSERT_TRUE(vlan) << error;
    EXPECT_EQ(vlan->Name, "bay-1");
    EXPECT_EQ(vlan->Interface, "eth0.12");
    EXPECT_EQ(ParseBay("A=enx00e04c680001", error)->Interface, "enx00e04c680001");

    struct Refused {
        const char* Text;
        const char* Why;
    };
    for (const Refused& refused : {Refused{"bay1", "is not NAME=IFACE[.VID]"},
                                   Refused{"=eth0", "is not a bay name"},
                                   Refused{"bay 1=eth0", "is not a bay name"},
                                   Refused{"bay1=", "is not an interface name"},
                                   Refused{"bay1=eth0.0", "is not 1 to 4094"},
                                   Refused{"bay1=eth0.4095", "is not 1 to 4094"}}) {
        EXPECT_FALSE(ParseBay(refused.Text, error)) << refused.Text;
        EXPECT_NE(error.find(refused.Why), std::string::npos) << refused.Text << ": " << error;
    }

    const auto file = ParseBaysFile("# the fixture's trunk\n"
                                    "left   eth1 11\n"
                                    "\n"
                                    "right  eth1 12   # second bay\r\n"
                                    "usb    enx00e04c680001\n",
                                    error);
    ASSERT_TRUE(file) << error;
    ASSERT_EQ(file->size(), 3U);
    EXPECT_EQ((*file)[0].Interface, "eth1.11");
    EXPECT_EQ((*file)[1].Name, "right");
    EXPECT_EQ((*file)[1].Interface, "eth1.12");
    EXPECT_EQ((*file)[2].Interface, "enx00e04c680001");

    EXPECT_FALSE(ParseBaysFile("a eth0\nb eth0 9999\n", error));
    EXPECT_EQ(error, "line 2: VLAN 9999 is not 1 to 4094");
    EXPECT_FALSE(ParseBaysFile("a\n", error));
    EXPECT_EQ(error, "line 1: a bay is NAME IFACE [VID]");
    EXPECT_FALSE(ParseBaysFile("# nothing\n", error));
    EXPECT_FALSE(BayNamesUnique({{"a", "eth0"}, {"b", "eth1"}, {"a", "eth2"}}, error));
    EXPECT_EQ(error, "the bay a is named twice");
}

// --bay's bays, then the file's; a name in both, a missing file or one without a bay refused.
TEST(BayOptionsTest, GatheredFromTheOptionsAndTheFile)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("tarvik-bays-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "fixture.bays").string();
    std::ofstream(file) << "left eth1 11\nright eth1 12\n";
    std::string error;

    const auto bays = GatherBays({{"usb", "enx1"}}, file, error);
    ASSERT_TRUE(bays) << error;
    ASSERT_EQ(bays->size(), 3U);
    EXPECT_EQ((*bays)[0].Name, "usb");
    EXPECT_EQ((*bays)[2].Interface, "eth1.12");
    EXPECT_EQ(GatherBays({{"usb", "enx1"}}, "", error)->size(), 1U);

    EXPECT_FALSE(GatherBays({{"left", "enx1"}}, file, error));
    EXPECT_EQ(error, "the bay left is named twice");
    EXPECT_FALSE(GatherBays({}, (folder / "missing.bays").string(), error));
    EXPECT_EQ(error, "the bays in " + (folder / "missing.bays").string() + ": it cannot be read");
    std::ofstream(file) << "# nothing yet\n";
    EXPECT_FALSE(GatherBays({}, file, error));
    EXPECT_EQ(error, "the bays in " + file + ": no bay in it");
    std::filesystem::remove_all(folder);
}

TEST(BayOptionsTest, LabBaysAreBaysTimesDevicesWithinBounds)
{
    std::string error;
    const auto lab = ParseLabBays("64x4", error);
    ASSERT_TRUE(lab) << error;
    EXPECT_EQ(lab->Bays, 64U);
    EXPECT_EQ(lab->DevicesPerBay, 4U);
    EXPECT_EQ(ParseLabBays("8", error)->DevicesPerBay, 1U);
    EXPECT_TRUE(ParseLabBays("256x4", error));
    for (const char* refused : {"0x4", "257x1", "256x5", "4x", "x4", "4x4x4", "-1x2"}) {
        EXPECT_FALSE(ParseLabBays(refused, error)) << refused;
    }
}

}  // namespace
}  // namespace tarvik::cli
