// Discovery: three broadcast probes per pass, each followed by a listening window of a little
// under two seconds; untyped frames first, typed frames only when nobody answered.

#include <algorithm>

#include "platform/formats/hex_text.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

// A name's digit; anything else, the end of a short text included, is 0xFF: as a high digit
// it leaves F in the high half, as a low digit it makes the whole byte FF.
int NameDigit(std::string_view name, std::size_t index)
{
    const int digit = index < name.size() ? HexDigitValue(name[index]) : -1;
    return digit < 0 ? 0xFF : digit;
}

bool IsDiscoveryReply(std::span<const std::uint8_t> frame, FrameVariantKind frameVariant,
                      FrameHeader& header)
{
    const auto decoded = DecodeHeader(frame);
    if (!decoded) {
        return false;
    }
    header = *decoded;
    return header.FrameType == FrameTypeFor(frameVariant) && header.Opcode == OP_INFO &&
           header.Sequence == 0 && header.Offset == 0 && header.Segment == 0 &&
           header.DataLength == DESCRIPTOR_BYTES && HoldsData(frame, header);
}

}  // namespace

std::optional<FrameVariantKind> DiscoveryReplyVariant(std::span<const std::uint8_t> frame)
{
    FrameHeader header;
    for (const FrameVariantKind variant : {FrameVariantKind::Untyped, FrameVariantKind::Typed}) {
        if (IsDiscoveryReply(frame, variant, header)) {
            return variant;
        }
    }
    return std::nullopt;
}

SharedQuestion InformationQuestion()
{
    // Of the kind of its frame type: a device that speaks both answers a probe in each.
    return {[](std::span<const std::uint8_t> frame) -> SharedQuestion::Kind {
                const auto header = DecodeHeader(frame);
                if (header && header->Opcode == OP_INFO && header->DataLength == 0) {
                    return header->FrameType;
                }
                return std::nullopt;
            },
            [](std::span<const std::uint8_t> frame) -> SharedQuestion::Kind {
                if (const auto variant = DiscoveryReplyVariant(frame)) {
                    return FrameTypeFor(*variant);
                }
                return std::nullopt;
            }};
}

std::string FormatDeviceName(const MacAddress& address)
{
    const std::span<const std::uint8_t> bytes(address);
    if (std::equal(bytes.begin(), bytes.begin() + 3, VENDOR_OUI.begin())) {
        return std::string(DEVICE_NAME_PREFIX) + FormatHexBytes(bytes.subspan(3));
    }
    return FormatHexBytes(bytes);
}

MacAddress ParseDeviceName(std::string_view name)
{
    MacAddress address{};
    std::size_t position = 0;
    std::size_t first = 0;
    if (name.starts_with(DEVICE_NAME_PREFIX)) {
        std::copy_n(VENDOR_OUI.begin(), 3, address.begin());
        position = DEVICE_NAME_PREFIX.size();
        first = 3;
    }
    for (std::size_t i = first; i < address.size(); ++i) {
        const int high = NameDigit(name, position++);
        const int low = NameDigit(name, position++);
        address[i] = static_cast<std::uint8_t>(((high << 4) | low) & 0xFF);
    }
    return address;
}

bool IsDeviceName(std::string_view name)
{
    const bool vendorName = name.starts_with(DEVICE_NAME_PREFIX);
    const std::string_view digits = vendorName ? name.substr(DEVICE_NAME_PREFIX.size()) : name;
    return digits.size() == (vendorName ? 6 : 12) &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

int SortDeviceNames(std::vector<std::string>& names)
{
    const std::size_t count = names.size();
    if (count == 0) {
        return -1;
    }
    std::size_t gap = (count + 1) / 2;
    for (;;) {
        bool exchanged = false;
        for (std::size_t i = gap; i < count; ++i) {
            // std::string compares bytes as unsigned, and a prefix sorts first.
            if (names[i - gap] > names[i]) {
                std::swap(names[i - gap], names[i]);
                exchanged = true;
            }
        }
        if (!exchanged && gap == 1) {
            return 0;
        }
        if (gap > 1) {
            gap /= 2;
        }
    }
}

bool UpgradeLink::TimerExpired(std::uint32_t start, std::uint16_t units)
{
    // Modular difference: a wait that spans the wrap of the tick count measures correctly.
    const std::uint32_t elapsed = run_.Link.kernel().GetTickCount() - start;
    return elapsed > TIMER_UNIT_MS * units;
}

int UpgradeLink::ProbeAndListen(const ProbeRound& round,
                                const std::function<void(const DiscoveryReply&)>& onReply,
                                const std::function<bool()>& stop)
{
    Kernel& kernel = run_.Link.kernel();
    const FrameVariantKind variantBefore = run_.FrameVariant;
    const std::uint32_t start = kernel.GetTickCount();
    for (const FrameVariantKind variant : round.Variants) {
        run_.FrameVariant = variant;
        if (SendProbe() != BUILD_SENT) {
            run_.FrameVariant = variantBefore;
            return COLLECT_PROBE_FAILED;
        }
    }
    run_.FrameVariant = variantBefore;
    while (kernel.GetTickCount() - start <= round.WindowMs && !(stop && stop())) {
        const std::uint32_t length =
            run_.Link.WaitFrame(run_.ReceiveBuffer.data(), run_.ReceiveBuffer.size());
        if (length == 0) {
            continue;
        }
        const std::span<const std::uint8_t> frame(run_.ReceiveBuffer.data(), length);
        const auto variant = DiscoveryReplyVariant(frame);
        if (!variant || std::find(round.Accepted.begin(), round.Accepted.end(), *variant) ==
                            round.Accepted.end()) {
            continue;
        }
        DiscoveryReply reply;
        reply.Source = DecodeHeader(frame)->Source;
        reply.Variant = *variant;
        std::copy_n(frame.begin() + FRAME_DATA, DESCRIPTOR_BYTES, reply.Descriptor.Bytes.begin());
        reply.AfterMs = kernel.GetTickCount() - start;
        onReply(reply);
    }
    return COLLECT_DONE;
}

int UpgradeLink::CollectResponders(ResponderList& list)
{
    list.Addresses.clear();
    const ProbeRound round{
        {run_.FrameVariant}, TIMER_UNIT_MS * PROBE_WINDOW_UNITS, {run_.FrameVariant}};
    auto& addresses = list.Addresses;
    for (int probe = 0; probe < PROBES_PER_PASS; ++probe) {
        const int result = ProbeAndListen(round, [&addresses](const DiscoveryReply& reply) {
            if (std::find(addresses.begin(), addresses.end(), reply.Source) == addresses.end()) {
                addresses.push_back(reply.Source);
            }
        });
        if (result != COLLECT_DONE) {
            return result;
        }
    }
    return COLLECT_DONE;
}

bool UpgradeLink::RunDiscoveryPass(std::vector<std::string>& names)
{
    ResponderList responders;
    if (CollectResponders(responders) != COLLECT_DONE) {
        return false;
    }
    names.clear();
    names.reserve(responders.Addresses.size());
    for (const auto& address : responders.Addresses) {
        names.push_back(FormatDeviceName(address));
    }
    return true;
}

int UpgradeLink::DiscoverTargets(std::vector<std::string>& names)
{
    names.clear();
    run_.FrameVariant = FrameVariantKind::Untyped;
    if (!RunDiscoveryPass(names)) {
        return DISCOVERY_FAILED;
    }
    if (names.empty()) {
        run_.FrameVariant = FrameVariantKind::Typed;
        if (!RunDiscoveryPass(names)) {
            names.clear();
            return DISCOVERY_FAILED;
        }
        if (names.empty()) {
            return 0;
        }
    }
    SortDeviceNames(names);
    return static_cast<int>(names.size());
}

}  // namespace tarvik
