// Tagging on a trunk: names IFACE.VID, the tag put on every frame sent and taken off the frames
// of the adapter's VLAN, and nothing else handed up.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/vlan_tagging.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A trunk that keeps what is injected and hands up what the test queued.
struct TrunkWire {
    std::vector<Bytes> Sent;
    std::deque<Bytes> Arriving;
    std::vector<std::string> Programs;
};

class FakeTrunk final : public CaptureSource {
public:
    explicit FakeTrunk(TrunkWire& wire) : wire_(wire) {}
    int SelectableFd() override { return 7; }
    int LinkType() override { return 1; }
    bool SetFilter(const std::string& program) override
    {
        wire_.Programs.push_back(program);
        return true;
    }
    bool Dispatch(const FrameSink& sink) override
    {
        while (!wire_.Arriving.empty()) {
            sink(wire_.Arriving.front());
            wire_.Arriving.pop_front();
        }
        return true;
    }
    bool Inject(const std::uint8_t* frame, std::size_t length) override
    {
        wire_.Sent.emplace_back(frame, frame + length);
        return true;
    }
    std::string Error() override { return "trunk"; }

private:
    TrunkWire& wire_;
};

// A frame of length bytes from the device to the station, its payload counting up from 0x40.
Bytes Plain(std::size_t length, std::uint8_t mark = 0)
{
    Bytes frame(length);
    for (std::size_t i = 0; i < length; ++i) {
        frame[i] = static_cast<std::uint8_t>(0x40 + i);
    }
    frame[0] = mark;
    return frame;
}

// The plain frame as it travels on VLAN vid with priority bits pcp.
Bytes Tagged(const Bytes& plain, std::uint16_t vid, std::uint8_t pcp = 0)
{
    Bytes frame(plain.begin(), plain.begin() + 12);
    frame.push_back(0x81);
    frame.push_back(0x00);
    frame.push_back(static_cast<std::uint8_t>(pcp << 5 | vid >> 8));
    frame.push_back(static_cast<std::uint8_t>(vid & 0xFF));
    frame.insert(frame.end(), plain.begin() + 12, plain.end());
    return frame;
}

TEST(VlanNames, AnIdOneToFourThousandNinetyFourAfterTheLastDotMakesAVlanName)
{
    EXPECT_EQ(ParseVlanName("eth0.12"), (VlanName{"eth0", 12}));
    EXPECT_EQ(ParseVlanName("trunk.1"), (VlanName{"trunk", 1}));
    EXPECT_EQ(ParseVlanName("br.lan.4094"), (VlanName{"br.lan", 4094}));
    for (const char* name : {"eth0", "eth0.0", "eth0.4095", "eth0.99999", "eth0.", ".5", "eth0.1a",
                             "eth0.-1", "eth0.+5", ""}) {
        EXPECT_EQ(ParseVlanName(name), std::nullopt) << name;
    }
    EXPECT_TRUE(HasBadVlanSuffix("eth0.0"));
    EXPECT_TRUE(HasBadVlanSuffix("eth0.4095"));
    EXPECT_TRUE(HasBadVlanSuffix("eth0.123456"));
    EXPECT_FALSE(HasBadVlanSuffix("eth0.7"));
    EXPECT_FALSE(HasBadVlanSuffix("eth0"));
    EXPECT_FALSE(HasBadVlanSuffix("eth0.x"));
}

// Every send carries the VLAN's tag after the source address, with priority 0; a frame that
// would be short once the switch takes the tag off again is padded so that it is not.
TEST(VlanTaggedCaptureTest, SendsCarryTheTagAndKeepTheirMinimumLengthUntagged)
{
    TrunkWire wire;
    VlanTaggedCapture capture(std::make_unique<FakeTrunk>(wire), 300);

    const Bytes shortFrame = Plain(24);
    const Bytes requestFrame = Plain(64);
    const Bytes longest = Plain(1514);
    ASSERT_TRUE(capture.Inject(shortFrame.data(), shortFrame.size()));
    ASSERT_TRUE(capture.Inject(requestFrame.data(), requestFrame.size()));
    ASSERT_TRUE(capture.Inject(longest.data(), longest.size()));
    ASSERT_EQ(wire.Sent.size(), 3u);

    Bytes expectedShort = Tagged(shortFrame, 300);
    expectedShort.resize(SHORTEST_TAGGED_FRAME_BYTES, 0);
    EXPECT_EQ(wire.Sent[0], expectedShort);
    EXPECT_EQ(wire.Sent[1], Tagged(requestFrame, 300));
    EXPECT_EQ(wire.Sent[2], Tagged(longest, 300));
    EXPECT_EQ(wire.Sent[2].size(), 1518u);

    const Bytes noAddresses = Plain(11);
    EXPECT_FALSE(capture.Inject(noAddresses.data(), noAddresses.size()));
    EXPECT_EQ(wire.Sent.size(), 3u);
    EXPECT_NE(capture.Error().find("tagged"), std::string::npos);
}

// Only the VLAN's frames come up, whatever their priority, and without their tag; untagged
// frames, other VLANs' frames and frames too short to hold a tag are not handed up.
TEST(VlanTaggedCaptureTest, OnlyTheVlansFramesComeUpUntagged)
{
    TrunkWire wire;
    VlanTaggedCapture capture(std::make_unique<FakeTrunk>(wire), 7);
    const Bytes mine = Plain(60, 1);
    const Bytes prioritised = Plain(1514, 2);
    wire.Arriving = {Tagged(mine, 7),
                     Plain(60, 90),
                     Tagged(Plain(60, 91), 8),
                     Tagged(Plain(60, 92), 7 + 4096 / 2),  // another id with the same low byte
                     Tagged(prioritised, 7, 5),
                     Bytes(14, 0x81),
                     Bytes{1, 2, 3}};
    std::vector<Bytes> up;
    ASSERT_TRUE(capture.Dispatch([&up](std::span<const std::uint8_t> frame) {
        up.emplace_back(frame.begin(), frame.end());
    }));
    ASSERT_EQ(up.size(), 2u);
    EXPECT_EQ(up[0], mine);
    EXPECT_EQ(up[1], prioritised);

    // The filter goes to the trunk's capture unchanged.
    ASSERT_TRUE(capture.SetFilter("vlan 7 and (less 1)"));
    EXPECT_EQ(wire.Programs, std::vector<std::string>{"vlan 7 and (less 1)"});
}

}  // namespace
}  // namespace tarvik
