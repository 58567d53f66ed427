// The capture formats as other tools write them, built byte by byte: what the program's own
// writer never produces (big-endian files, nanosecond pcapng interfaces, several sections).

#include <gtest/gtest.h>

#include <vector>

#include "platform/formats/pcap_reader.h"

namespace tarvik {
namespace {

class CaptureBytes {
public:
    explicit CaptureBytes(bool bigEndian) : bigEndian_(bigEndian) {}
    CaptureBytes& U32(std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            const int shift = bigEndian_ ? 24 - 8 * i : 8 * i;
            bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
        }
        return *this;
    }
    CaptureBytes& U16Pair(std::uint16_t first, std::uint16_t second)
    {
        return bigEndian_ ? U32(std::uint32_t{first} << 16 | second)
                          : U32(std::uint32_t{second} << 16 | first);
    }
    CaptureBytes& Frame(std::uint8_t fill, std::size_t length)
    {
        bytes_.insert(bytes_.end(), length, fill);
        return *this;
    }
    // pcapng: a section header, then an Ethernet interface with the time resolution given
    // (10^-resolution s).
    CaptureBytes& SectionWithInterface(std::uint8_t resolution, std::uint16_t linkType = 1)
    {
        return Section().Interface(resolution, linkType);
    }
    CaptureBytes& Section()
    {
        U32(0x0A0D0D0A).U32(28).U32(0x1A2B3C4D).U16Pair(1, 0).U32(0xFFFFFFFF).U32(0xFFFFFFFF);
        return U32(28);
    }
    CaptureBytes& Interface(std::uint8_t resolution, std::uint16_t linkType = 1)
    {
        U32(1).U32(32).U16Pair(linkType, 0).U32(0);
        U16Pair(9, 1);  // if_tsresol, one byte
        bytes_.insert(bytes_.end(), {resolution, 0, 0, 0});
        U16Pair(0, 0);  // end of options
        return U32(32);
    }
    CaptureBytes& EnhancedPacket(std::uint32_t interface, std::uint64_t stamp, std::uint8_t fill)
    {
        U32(6).U32(32 + 60).U32(interface);
        U32(static_cast<std::uint32_t>(stamp >> 32)).U32(static_cast<std::uint32_t>(stamp));
        U32(60).U32(60).Frame(fill, 60);
        return U32(32 + 60);
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    bool bigEndian_;
    std::vector<std::uint8_t> bytes_;
};

TEST(CaptureFileTest, OtherToolsFormatsReadWithTheirTimesInMicroseconds)
{
    struct Case {
        const char* What;
        CaptureBytes File;
        std::vector<std::uint64_t> Microseconds;
    };
    const std::vector<Case> cases = {
        {"big-endian pcap in nanoseconds",
         CaptureBytes(true)
             .U32(0xA1B23C4D)
             .U16Pair(2, 4)
             .U32(0)
             .U32(0)
             .U32(65535)
             .U32(1)
             .U32(7)
             .U32(5'000'999)
             .U32(60)
             .U32(60)
             .Frame(0xAB, 60),
         {7'005'000}},
        {"pcapng with nanosecond stamps",
         CaptureBytes(false).SectionWithInterface(9).EnhancedPacket(0, 3'000'000'500, 0xAB),
         {3'000'000}},
        {"big-endian pcapng, two sections",
         CaptureBytes(true)
             .SectionWithInterface(6)
             .EnhancedPacket(0, 10, 0xAB)
             .SectionWithInterface(3)
             .EnhancedPacket(0, 2, 0xAB),
         {10, 2000}},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto frames = ParseCaptureFile(c.File.Bytes(), error);
        ASSERT_TRUE(frames) << c.What << ": " << error;
        ASSERT_EQ(frames->size(), c.Microseconds.size()) << c.What;
        for (std::size_t i = 0; i < frames->size(); ++i) {
            EXPECT_EQ((*frames)[i].Microseconds, c.Microseconds[i]) << c.What;
            EXPECT_EQ(std::vector<std::uint8_t>((*frames)[i].Bytes.begin(),
                                                (*frames)[i].Bytes.end()),
                      std::vector<std::uint8_t>(60, 0xAB))
                << c.What;
        }
    }
}

TEST(CaptureFileTest, APacketOfAnUnknownOrForeignInterfaceIsRefused)
{
    std::string error;
    EXPECT_FALSE(ParseCaptureFile(
        CaptureBytes(false).SectionWithInterface(6).EnhancedPacket(1, 0, 0).Bytes(), error));
    EXPECT_NE(error.find("broken"), std::string::npos) << error;
    EXPECT_FALSE(ParseCaptureFile(
        CaptureBytes(false).SectionWithInterface(6, 101).EnhancedPacket(0, 0, 0).Bytes(), error));
    EXPECT_NE(error.find("not Ethernet"), std::string::npos) << error;
}

// An interface block too short to hold its link type and snap length: read past, it would
// have given the next interface its number, and that interface's packets would be taken as
// this one's.
TEST(CaptureFileTest, AnInterfaceBlockCutShortIsRefusedNotSkipped)
{
    for (const bool bigEndian : {false, true}) {
        CaptureBytes file(bigEndian);
        file.Section();
        file.U32(1).U32(16).U16Pair(1, 0).U32(16);  // link type, no snap length
        file.Interface(6).EnhancedPacket(0, 0, 0xAB);
        std::string error;
        EXPECT_FALSE(ParseCaptureFile(file.Bytes(), error)) << "big-endian " << bigEndian;
        EXPECT_NE(error.find("interface block is cut off"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tarvik
