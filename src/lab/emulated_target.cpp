#include "lab/emulated_target.h"

#include <algorithm>
#include <cstdio>

#include "protocol/frame.h"

namespace tarvik {
namespace {

// Ethernet pads short frames to 60 bytes; the reset reply's status word lives in the padding.
constexpr std::size_t MINIMUM_FRAME_BYTES = 60;

}  // namespace

EmulatedTarget::EmulatedTarget(TargetConfig config)
    : config_(std::move(config)), memory_(TARGET_MEMORY_BYTES, 0xFF), random_(config_.Faults.Seed)
{
}

bool EmulatedTarget::AcceptsFrameType(std::uint16_t frameType) const
{
    return std::any_of(config_.Variants.begin(), config_.Variants.end(),
                       [frameType](FrameVariantKind variant) {
        return FrameTypeFor(variant) == frameType;
    });
}

bool EmulatedTarget::Chance(double share)
{
    if (share <= 0.0) {
        return false;
    }
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < share;
}

std::uint16_t EmulatedTarget::StatusFor(std::uint16_t opcode, std::uint32_t address) const
{
    const auto& faults = config_.Faults;
    if ((opcode == OP_WRITE || opcode == OP_VERIFY) && faults.StatusForBlock &&
        faults.StatusForBlock->first == address) {
        return faults.StatusForBlock->second;
    }
    if (const auto it = faults.StatusForOpcode.find(opcode); it != faults.StatusForOpcode.end()) {
        return it->second;
    }
    return 0;
}

std::vector<EmulatedTarget::Reply> EmulatedTarget::HandleFrame(std::span<const std::uint8_t> frame)
{
    const auto request = DecodeHeader(frame);
    if (!request || !AcceptsFrameType(request->FrameType)) {
        return {};
    }
    if (request->Destination != config_.Address && request->Destination != BROADCAST_ADDRESS) {
        return {};
    }
    // Only the probe may be broadcast; replies of other stations are no requests.
    if (request->Destination == BROADCAST_ADDRESS && request->Opcode != OP_INFO) {
        return {};
    }
    if (request->Opcode > OP_VERIFY || request->DataLength > frame.size() - FRAME_HEADER_BYTES) {
        return {};
    }
    // A request carries no data except blocks; an information reply of another target
    // (DataLength 56) is not a request.
    if (request->Opcode == OP_INFO && request->DataLength != 0) {
        return {};
    }
    const std::uint32_t address = std::uint32_t{request->Segment} * 16 + request->Offset;
    if (address + request->DataLength > memory_.size()) {
        return {};
    }
    ++requestsSeen_[request->Opcode];
    auto& faults = config_.Faults;
    if (faults.SilentOpcodes.count(request->Opcode) != 0 || Chance(faults.DropRequestShare)) {
        return {};
    }

    FrameHeader reply;
    reply.Destination = request->Source;
    reply.Source = config_.Address;
    reply.FrameType = request->FrameType;
    reply.Opcode = request->Opcode;
    std::vector<std::uint8_t> payload;
    const auto data = frame.subspan(FRAME_HEADER_BYTES, request->DataLength);
    std::uint16_t status = 0;

    switch (request->Opcode) {
    case OP_INFO:
        payload.assign(config_.Descriptor.Bytes.begin(), config_.Descriptor.Bytes.end());
        break;
    case OP_BEGIN:
        reply.Sequence = request->Sequence;
        status = StatusFor(OP_BEGIN, 0);
        break;
    case OP_WRITE:
        reply.Sequence = request->Sequence;
        reply.Offset = request->Offset;
        reply.Segment = request->Segment;
        status = StatusFor(OP_WRITE, address);
        if (status == 0) {
            std::copy(data.begin(), data.end(), memory_.begin() + address);
        }
        break;
    case OP_VERIFY:
        reply.Sequence = request->Sequence;
        reply.Offset = request->Offset;
        reply.Segment = request->Segment;
        status = StatusFor(OP_VERIFY, address);
        if (status == 0 && !std::equal(data.begin(), data.end(), memory_.begin() + address)) {
            status = 0x00EE;  // the block differs from what the device holds
        }
        break;
    case OP_RESET:
        status = StatusFor(OP_RESET, 0);
        if (status == 0) {
            ++resets_;
        }
        break;
    default:
        return {};
    }

    std::vector<std::uint8_t> bytes;
    if (request->Opcode == OP_INFO) {
        reply.DataLength = static_cast<std::uint16_t>(payload.size());
        bytes.resize(FRAME_HEADER_BYTES + payload.size());
        std::copy(payload.begin(), payload.end(), bytes.begin() + FRAME_DATA);
    } else {
        // Status replies carry the word at the data offset; the reset reply claims no data.
        reply.DataLength = request->Opcode == OP_RESET ? 0 : STATUS_BYTES;
        bytes.resize(FRAME_HEADER_BYTES + STATUS_BYTES);
        StoreReplyStatus(bytes, status);
    }
    EncodeHeader(bytes, reply);
    if (bytes.size() < MINIMUM_FRAME_BYTES) {
        bytes.resize(MINIMUM_FRAME_BYTES, 0);
    }
    MalformReply(request->Opcode, bytes);

    if (log_) {
        char line[160];
        std::snprintf(line, sizeof line, "%s seq=%04X seg=%04X off=%X len=%u status=%04X",
                      OpcodeName(request->Opcode).data(), request->Sequence, request->Segment,
                      request->Offset, static_cast<unsigned>(request->DataLength), status);
        log_(line);
    }

    std::vector<Reply> replies;
    const int copies = faults.DuplicateReplies ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        if (Chance(faults.DropReplyShare)) {
            continue;
        }
        replies.push_back(Reply{bytes, faults.ResponseDelayMs});
        ++repliesSent_;
    }
    return replies;
}

void EmulatedTarget::MalformReply(std::uint16_t opcode, std::vector<std::uint8_t>& bytes) const
{
    const auto& faults = config_.Faults;
    if (!faults.ReplyFaultOpcodes.empty() && faults.ReplyFaultOpcodes.count(opcode) == 0) {
        return;
    }
    if (faults.ClaimedReplyLength) {
        StoreLe16(bytes, FRAME_DATA_LENGTH, *faults.ClaimedReplyLength);
    }
    if (faults.TruncateRepliesTo && *faults.TruncateRepliesTo < bytes.size()) {
        bytes.resize(*faults.TruncateRepliesTo);
    }
    if (faults.PadRepliesTo > bytes.size()) {
        bytes.resize(faults.PadRepliesTo, 0);
    }
}

std::vector<std::uint8_t> EmulatedTarget::MemoryAt(std::uint32_t address, std::size_t length) const
{
    if (address >= memory_.size()) {
        return {};
    }
    const std::size_t count = std::min(length, memory_.size() - address);
    return {memory_.begin() + address, memory_.begin() + address + count};
}

std::uint64_t EmulatedTarget::RequestsSeen(std::uint16_t opcode) const
{
    const auto it = requestsSeen_.find(opcode);
    return it == requestsSeen_.end() ? 0 : it->second;
}

}  // namespace tarvik
