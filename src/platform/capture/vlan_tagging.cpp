#include "platform/capture/vlan_tagging.h"

#include <algorithm>
#include <charconv>

namespace tarvik {

namespace {

constexpr std::size_t VLAN_ID_DIGITS_MAX = 4;
constexpr std::uint16_t VLAN_ID_MASK = 0x0FFF;

// The dot and digits that end the name, split off: nothing when it does not end so.
std::optional<std::pair<std::string_view, std::string_view>> SplitDigitSuffix(
    std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(dot + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::pair(name.substr(0, dot), digits);
}

}  // namespace

std::optional<VlanName> ParseVlanName(std::string_view interfaceName)
{
    const auto split = SplitDigitSuffix(interfaceName);
    if (!split || split->second.size() > VLAN_ID_DIGITS_MAX) {
        return std::nullopt;
    }
    unsigned id = 0;
    const std::string_view digits = split->second;
    std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (id < VLAN_ID_FIRST || id > VLAN_ID_LAST) {
        return std::nullopt;
    }
    return VlanName{std::string(split->first), static_cast<std::uint16_t>(id)};
}

bool HasBadVlanSuffix(std::string_view interfaceName)
{
    return SplitDigitSuffix(interfaceName).has_value() && !ParseVlanName(interfaceName);
}

std::optional<std::vector<std::uint8_t>> TagFrame(std::span<const std::uint8_t> frame,
                                                  std::uint16_t vlanId)
{
    if (frame.size() < VLAN_TAG_OFFSET) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> tagged(
        std::max(frame.size() + VLAN_TAG_BYTES, SHORTEST_TAGGED_FRAME_BYTES), 0);
    std::copy_n(frame.begin(), VLAN_TAG_OFFSET, tagged.begin());
    tagged[VLAN_TAG_OFFSET] = VLAN_TPID >> 8;
    tagged[VLAN_TAG_OFFSET + 1] = VLAN_TPID & 0xFF;
    tagged[VLAN_TAG_OFFSET + 2] = static_cast<std::uint8_t>((vlanId & VLAN_ID_MASK) >> 8);
    tagged[VLAN_TAG_OFFSET + 3] = static_cast<std::uint8_t>(vlanId & 0xFF);
    std::copy(frame.begin() + VLAN_TAG_OFFSET, frame.end(),
              tagged.begin() + VLAN_TAG_OFFSET + VLAN_TAG_BYTES);
    return tagged;
}

std::optional<std::size_t> UntagFrame(std::span<const std::uint8_t> frame, std::uint16_t vlanId,
                                      std::span<std::uint8_t> out)
{
    if (frame.size() < VLAN_TAG_OFFSET + VLAN_TAG_BYTES || out.size() < frame.size() ||
        frame[VLAN_TAG_OFFSET] != (VLAN_TPID >> 8) ||
        frame[VLAN_TAG_OFFSET + 1] != (VLAN_TPID & 0xFF)) {
        return std::nullopt;
    }
    const auto tci = static_cast<std::uint16_t>(frame[VLAN_TAG_OFFSET + 2] << 8 |
                                                frame[VLAN_TAG_OFFSET + 3]);
    if ((tci & VLAN_ID_MASK) != vlanId) {
        return std::nullopt;
    }
    std::copy_n(frame.begin(), VLAN_TAG_OFFSET, out.begin());
    std::copy(frame.begin() + VLAN_TAG_OFFSET + VLAN_TAG_BYTES, frame.end(),
              out.begin() + VLAN_TAG_OFFSET);
    return frame.size() - VLAN_TAG_BYTES;
}

VlanTaggedCapture::VlanTaggedCapture(std::unique_ptr<CaptureSource> trunk, std::uint16_t vlanId)
    : trunk_(std::move(trunk)), vlanId_(vlanId)
{
}

bool VlanTaggedCapture::Dispatch(const FrameSink& sink)
{
    return trunk_->Dispatch([this, &sink](std::span<const std::uint8_t> frame) {
        untagged_.resize(frame.size());
        if (const std::optional<std::size_t> length = UntagFrame(frame, vlanId_, untagged_)) {
            sink(std::span<const std::uint8_t>(untagged_.data(), *length));
        }
    });
}

bool VlanTaggedCapture::Inject(const std::uint8_t* frame, std::size_t length)
{
    const std::optional<std::vector<std::uint8_t>> tagged =
        frame != nullptr ? TagFrame(std::span(frame, length), vlanId_) : std::nullopt;
    badFrame_ = !tagged;
    return tagged && trunk_->Inject(tagged->data(), tagged->size());
}

std::string VlanTaggedCapture::Error()
{
    return badFrame_ ? std::string("a frame shorter than its addresses cannot be tagged")
                     : trunk_->Error();
}

}  // namespace tarvik
