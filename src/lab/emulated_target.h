#pragma once
// The device side of the upgrade protocol: a target with a MAC address, a 56-byte descriptor
// and a memory that OP_WRITE fills at Segment×16+Offset. It answers OP_INFO, OP_BEGIN,
// OP_WRITE, OP_VERIFY and OP_RESET in the reply layouts the tool expects, echoing sequence,
// segment and offset, and it can be told to misbehave in the ways real devices do.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "image/descriptor.h"
#include "lab/device_side.h"
#include "platform/formats/mac_address.h"
#include "protocol/frame.h"

namespace tarvik {

struct TargetFaults {
    std::uint32_t ResponseDelayMs = 0;      // added to every reply
    double DropRequestShare = 0.0;          // share of requests ignored as if never received
    double DropReplyShare = 0.0;            // share of replies lost on the way back
    std::set<std::uint16_t> SilentOpcodes;  // requests never answered
    std::map<std::uint16_t, std::uint16_t> StatusForOpcode;  // status word per opcode
    // Status word for OP_WRITE/OP_VERIFY of the block at this linear address.
    std::optional<std::pair<std::uint32_t, std::uint16_t>> StatusForBlock;
    bool DuplicateReplies = false;  // every reply sent twice
    // Replies malformed on the way out, to the opcodes in ReplyFaultOpcodes (all when empty):
    // the DataLength word claims this instead of what the reply carries; the frame is cut to
    // this many bytes (below the Ethernet minimum too, as a careless driver would send it);
    // the frame is padded with zeros to this many bytes (beyond what the reply needs).
    std::optional<std::uint16_t> ClaimedReplyLength;
    std::optional<std::size_t> TruncateRepliesTo;
    std::size_t PadRepliesTo = 0;
    std::set<std::uint16_t> ReplyFaultOpcodes;
    std::uint32_t Seed = 1;  // for the drop decisions
};

struct TargetConfig {
    MacAddress Address{};
    ImageDescriptor Descriptor;
    // The variants it answers; frames of the other are not for it.
    std::set<FrameVariantKind> Variants = {FrameVariantKind::Untyped, FrameVariantKind::Typed};
    TargetFaults Faults;
};

// Room for every address a segment and offset pair can name (up to 0xFFFF×16 + 15) and the
// longest block a frame can carry behind it.
inline constexpr std::size_t TARGET_MEMORY_BYTES = 0x100000 + 1536;

class EmulatedTarget final : public DeviceSide {
public:
    using Reply = DeviceReply;
    // One line per request answered, for a daemon's log.
    using RequestLog = std::function<void(const std::string& line)>;

    explicit EmulatedTarget(TargetConfig config);

    const TargetConfig& Config() const { return config_; }
    TargetFaults& Faults() { return config_.Faults; }
    const MacAddress& Address() const override { return config_.Address; }
    void SetRequestLog(RequestLog log) { log_ = std::move(log); }

    std::vector<Reply> HandleFrame(std::span<const std::uint8_t> frame) override;

    // The whole memory, and a part of it (cut at its end).
    std::vector<std::uint8_t> Memory() const { return MemoryAt(0, TARGET_MEMORY_BYTES); }
    std::vector<std::uint8_t> MemoryAt(std::uint32_t address, std::size_t length) const;

    // Requests received per opcode (dropped ones included), and replies sent.
    std::uint64_t RequestsSeen(std::uint16_t opcode) const;
    std::uint64_t RepliesSent() const { return repliesSent_; }
    bool WasReset() const { return resets_ > 0; }
    std::uint64_t Resets() const { return resets_; }

private:
    bool AcceptsFrameType(std::uint16_t frameType) const;
    bool Chance(double share);
    bool IsRequestForThis(const FrameHeader& request, std::size_t frameBytes) const;
    // Does what a status request asks and gives its status word; the reply echoes what the
    // request kind echoes. Nothing for an opcode it does not know.
    std::optional<std::uint16_t> Perform(const FrameHeader& request,
                                         std::span<const std::uint8_t> data, FrameHeader& reply);
    std::uint16_t WriteBlock(std::uint32_t address, std::span<const std::uint8_t> data);
    std::uint16_t VerifyBlock(std::uint32_t address, std::span<const std::uint8_t> data) const;
    std::uint16_t Reset();
    std::vector<std::uint8_t> InformationReply(FrameHeader& reply) const;
    static std::vector<std::uint8_t> StatusReply(FrameHeader& reply, std::uint16_t status);
    void MalformReply(std::uint16_t opcode, std::vector<std::uint8_t>& bytes) const;
    void LogRequest(const FrameHeader& request, std::uint16_t status) const;
    std::vector<Reply> SendReplies(const std::vector<std::uint8_t>& bytes);
    std::uint16_t StatusFor(std::uint16_t opcode, std::uint32_t address) const;

    // The memory reads 0xFF until written, and is held a page at a time as pages are written:
    // a lab of hundreds of devices costs what they were sent, not a megabyte each.
    static constexpr std::size_t PAGE_BYTES = 4096;
    using Page = std::array<std::uint8_t, PAGE_BYTES>;
    void CopyOut(std::size_t address, std::span<std::uint8_t> into) const;

    TargetConfig config_;
    std::vector<std::unique_ptr<Page>> pages_;
    std::mt19937 random_;
    std::map<std::uint16_t, std::uint64_t> requestsSeen_;
    std::uint64_t repliesSent_ = 0;
    std::uint64_t resets_ = 0;
    RequestLog log_;
};

}  // namespace tarvik
