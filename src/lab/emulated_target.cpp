#include "lab/emulated_target.h"

#include <algorithm>
#include <cstdio>

#include "protocol/frame.h"

namespace tarvik {
namespace {

// Ethernet pads short frames to 60 bytes; the reset reply's status word lives in the padding.
constexpr std::size_t MINIMUM_FRAME_BYTES = 60;

std::uint32_t LinearAddress(const FrameHeader& request)
{
    return std::uint32_t{request.Segment} * 16 + request.Offset;
}

// Block replies echo where the block goes, so that the tool can match them to its request.
void EchoBlock(const FrameHeader& request, FrameHeader& reply)
{
    reply.Sequence = request.Sequence;
    reply.Offset = request.Offset;
    reply.Segment = request.Segment;
}

}  // namespace

EmulatedTarget::EmulatedTarget(TargetConfig config)
    : config_(std::move(config)), pages_((TARGET_MEMORY_BYTES + PAGE_BYTES - 1) / PAGE_BYTES), random_(config_.Faults.Seed)
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

bool EmulatedTarget::IsRequestForThis(const FrameHeader& request, std::size_t frameBytes) const
{
    if (!AcceptsFrameType(request.FrameType)) {
        return false;
    }
    if (request.Destination != config_.Address && request.Destination != BROADCAST_ADDRESS) {
        return false;
    }
    // Only the probe may be broadcast; replies of other stations are no requests.
    if (request.Destination == BROADCAST_ADDRESS && request.Opcode != OP_INFO) {
        return false;
    }
    if (request.Opcode > OP_VERIFY || request.DataLength > frameBytes - FRAME_HEADER_BYTES) {
        return false;
    }
    // A request carries no data except blocks; an information reply of another target
    // (DataLength 56) is not a request.
    if (request.Opcode == OP_INFO && request.DataLength != 0) {
        return false;
    }
    return LinearAddress(request) + request.DataLength <= TARGET_MEMORY_BYTES;
}

std::vector<EmulatedTarget::Reply> EmulatedTarget::HandleFrame(std::span<const std::uint8_t> frame)
{
    const auto request = DecodeHeader(frame);
    if (!request || !IsRequestForThis(*request, frame.size())) {
        return {};
    }
    ++requestsSeen_[request->Opcode];
    const auto& faults = config_.Faults;
    if (faults.SilentOpcodes.count(request->Opcode) != 0 || Chance(faults.DropRequestShare)) {
        return {};
    }

    FrameHeader reply;
    reply.Destination = request->Source;
    reply.Source = config_.Address;
    reply.FrameType = request->FrameType;
    reply.Opcode = request->Opcode;
    std::vector<std::uint8_t> bytes;
    std::uint16_t status = 0;
    if (request->Opcode == OP_INFO) {
        bytes = InformationReply(reply);
    } else {
        const auto data = frame.subspan(FRAME_HEADER_BYTES, request->DataLength);
        const auto done = Perform(*request, data, reply);
        if (!done) {
            return {};
        }
        status = *done;
        bytes = StatusReply(reply, status);
    }
    if (bytes.size() < MINIMUM_FRAME_BYTES) {
        bytes.resize(MINIMUM_FRAME_BYTES, 0);
    }
    MalformReply(request->Opcode, bytes);
    LogRequest(*request, status);
    return SendReplies(bytes);
}

std::optional<std::uint16_t> EmulatedTarget::Perform(const FrameHeader& request,
                                                     std::span<const std::uint8_t> data,
                                                     FrameHeader& reply)
{
    switch (request.Opcode) {
    case OP_BEGIN:
        reply.Sequence = request.Sequence;
        return StatusFor(OP_BEGIN, 0);
    case OP_WRITE:
        EchoBlock(request, reply);
        return WriteBlock(LinearAddress(request), data);
    case OP_VERIFY:
        EchoBlock(request, reply);
        return VerifyBlock(LinearAddress(request), data);
    case OP_RESET:
        return Reset();
    default:
        return std::nullopt;
    }
}

std::uint16_t EmulatedTarget::WriteBlock(std::uint32_t address, std::span<const std::uint8_t> data)
{
    const std::uint16_t status = StatusFor(OP_WRITE, address);
    if (status == 0) {
        for (std::size_t done = 0; done < data.size();) {
            const std::size_t at = address + done;
            std::unique_ptr<Page>& page = pages_[at / PAGE_BYTES];
            if (!page) {
                page = std::make_unique<Page>();
                page->fill(0xFF);
            }
            const std::size_t count = std::min(data.size() - done, PAGE_BYTES - at % PAGE_BYTES);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(done), count,
                        page->begin() + static_cast<std::ptrdiff_t>(at % PAGE_BYTES));
            done += count;
        }
    }
    return status;
}

std::uint16_t EmulatedTarget::VerifyBlock(std::uint32_t address,
                                          std::span<const std::uint8_t> data) const
{
    const std::uint16_t status = StatusFor(OP_VERIFY, address);
    std::vector<std::uint8_t> held(data.size());
    if (status == 0) {
        CopyOut(address, held);
    }
    if (status == 0 && !std::equal(data.begin(), data.end(), held.begin())) {
        return 0x00EE;  // the block differs from what the device holds
    }
    return status;
}

std::uint16_t EmulatedTarget::Reset()
{
    const std::uint16_t status = StatusFor(OP_RESET, 0);
    if (status == 0) {
        ++resets_;
    }
    return status;
}

std::vector<std::uint8_t> EmulatedTarget::InformationReply(FrameHeader& reply) const
{
    const auto& descriptor = config_.Descriptor.Bytes;
    reply.DataLength = static_cast<std::uint16_t>(descriptor.size());
    std::vector<std::uint8_t> bytes(FRAME_HEADER_BYTES + descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), bytes.begin() + FRAME_DATA);
    EncodeHeader(bytes, reply);
    return bytes;
}

std::vector<std::uint8_t> EmulatedTarget::StatusReply(FrameHeader& reply, std::uint16_t status)
{
    // Status replies carry the word at the data offset; the reset reply claims no data.
    reply.DataLength = reply.Opcode == OP_RESET ? 0 : STATUS_BYTES;
    std::vector<std::uint8_t> bytes(FRAME_HEADER_BYTES + STATUS_BYTES);
    StoreReplyStatus(bytes, status);
    EncodeHeader(bytes, reply);
    return bytes;
}

void EmulatedTarget::LogRequest(const FrameHeader& request, std::uint16_t status) const
{
    if (!log_) {
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line, "%s seq=%04X seg=%04X off=%X len=%u status=%04X",
                  OpcodeName(request.Opcode).data(), request.Sequence, request.Segment,
                  request.Offset, static_cast<unsigned>(request.DataLength), status);
    log_(line);
}

std::vector<EmulatedTarget::Reply> EmulatedTarget::SendReplies(
    const std::vector<std::uint8_t>& bytes)
{
    const auto& faults = config_.Faults;
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
    if (address >= TARGET_MEMORY_BYTES) {
        return {};
    }
    std::vector<std::uint8_t> bytes(std::min(length, TARGET_MEMORY_BYTES - address));
    CopyOut(address, bytes);
    return bytes;
}

void EmulatedTarget::CopyOut(std::size_t address, std::span<std::uint8_t> into) const
{
    for (std::size_t done = 0; done < into.size();) {
        const std::size_t at = address + done;
        const std::unique_ptr<Page>& page = pages_[at / PAGE_BYTES];
        const std::size_t count = std::min(into.size() - done, PAGE_BYTES - at % PAGE_BYTES);
        const auto to = into.begin() + static_cast<std::ptrdiff_t>(done);
        if (page) {
            std::copy_n(page->begin() + static_cast<std::ptrdiff_t>(at % PAGE_BYTES), count, to);
        } else {
            std::fill_n(to, count, std::uint8_t{0xFF});
        }
        done += count;
    }
}

std::uint64_t EmulatedTarget::RequestsSeen(std::uint16_t opcode) const
{
    const auto it = requestsSeen_.find(opcode);
    return it == requestsSeen_.end() ? 0 : it->second;
}

}  // namespace tarvik
