#pragma once
// 802.1Q on a trunk: an adapter named IFACE.VID where the system has no interface of that name
// but has IFACE opens IFACE and speaks on VLAN VID itself. Every frame sent gets the 4-byte tag
// after its source address; only frames that carry that VLAN id are handed up, their tag
// removed, so everything above the capture sees plain frames.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/capture/pcap_driver.h"

namespace tarvik {

inline constexpr std::uint16_t VLAN_TPID = 0x8100;
inline constexpr std::uint16_t VLAN_ID_FIRST = 1;
inline constexpr std::uint16_t VLAN_ID_LAST = 4094;
inline constexpr std::size_t VLAN_TAG_BYTES = 4;
// Where the tag goes: after the destination and source addresses.
inline constexpr std::size_t VLAN_TAG_OFFSET = 12;
// The shortest frame on the wire without its checksum, and the shortest tagged one: a switch
// that takes the tag off must still have a frame of full length.
inline constexpr std::size_t SHORTEST_FRAME_BYTES = 60;
inline constexpr std::size_t SHORTEST_TAGGED_FRAME_BYTES = SHORTEST_FRAME_BYTES + VLAN_TAG_BYTES;

// An interface name split into its trunk and VLAN id ("eth0.12" -> "eth0", 12).
struct VlanName {
    std::string Trunk;
    std::uint16_t Id = 0;
    bool operator==(const VlanName&) const = default;
};

// The trunk and VLAN id a name of the form IFACE.VID stands for, VID a decimal number 1..4094;
// nothing for any other name.
std::optional<VlanName> ParseVlanName(std::string_view interfaceName);

// Whether the name ends in a dot and digits that are no VLAN id (0, 4095 and above, or more
// digits than an id has): a name the user meant as IFACE.VID with a wrong id.
bool HasBadVlanSuffix(std::string_view interfaceName);

// The frame as it goes out on the VLAN: the tag (priority 0) after the source address, padded
// with zeros to the shortest tagged frame. Nothing for a frame too short to hold its addresses.
std::optional<std::vector<std::uint8_t>> TagFrame(std::span<const std::uint8_t> frame,
                                                  std::uint16_t vlanId);

// The frame without its tag when it carries one of that VLAN (any priority), written to out
// (which must hold frame.size() bytes); its length, or nothing for an untagged frame or one of
// another VLAN.
std::optional<std::size_t> UntagFrame(std::span<const std::uint8_t> frame, std::uint16_t vlanId,
                                      std::span<std::uint8_t> out);

// A capture on the trunk that speaks on one VLAN: sends are tagged, and only that VLAN's frames
// come up, untagged. The kernel filter set through it must already admit that VLAN alone
// (FrameAdmission::VlanId); the check here holds whatever the filter let through.
class VlanTaggedCapture final : public CaptureSource {
public:
    VlanTaggedCapture(std::unique_ptr<CaptureSource> trunk, std::uint16_t vlanId);

    int SelectableFd() override { return trunk_->SelectableFd(); }
    int LinkType() override { return trunk_->LinkType(); }
    bool SetFilter(const std::string& program) override { return trunk_->SetFilter(program); }
    void AwaitFrames() override { trunk_->AwaitFrames(); }
    void StopWaiting() override { trunk_->StopWaiting(); }
    bool Dispatch(const FrameSink& sink) override;
    bool Inject(const std::uint8_t* frame, std::size_t length) override;
    std::string Error() override;

private:
    const std::unique_ptr<CaptureSource> trunk_;
    const std::uint16_t vlanId_;
    std::vector<std::uint8_t> untagged_;  // the frame being handed up, under the capture lock
    bool badFrame_ = false;               // the last Inject was handed no frame to tag
};

}  // namespace tarvik
