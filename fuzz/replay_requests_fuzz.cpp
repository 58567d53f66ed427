// Requests of any content to a replaying device, from a trace of any content or from a recorded
// upgrade: any frame on the segment reaches the device. Every reply must be one a segment
// carries, one the recorded device sent, and go from the device to whoever asked.
//
// Input: a little-endian length, then a capture file of that length (none: the recorded
// upgrade below), then requests, each a control byte, a little-endian length (modulo 1601) and
// that many bytes of frame.
//   control bit 0: to the device's address;  bit 1: to broadcast (else as the bytes say)
//           bit 2: from the tool's address;  bit 3: a request of the recorded kinds (frame
//           type from bit 4, opcode from bits 5-7 modulo 5)

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/descriptor.h"
#include "platform/formats/byte_order.h"
#include "replay_session.h"

namespace tarvik {
namespace {

constexpr MacAddress TOOL = {0x02, 0x54, 0x56, 0x00, 0x00, 0x0A};
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr std::size_t LONGEST_REQUEST = 1600;  // longer than a segment carries

std::vector<std::uint8_t> Frame(const MacAddress& to, const MacAddress& from,
                                std::uint16_t frameType, std::uint16_t opcode,
                                std::uint16_t sequence, std::uint16_t dataLength)
{
    FrameHeader header;
    header.Destination = to;
    header.Source = from;
    header.FrameType = frameType;
    header.Opcode = opcode;
    header.Sequence = sequence;
    header.DataLength = dataLength;
    std::vector<std::uint8_t> bytes(std::max<std::size_t>(60, FRAME_HEADER_BYTES + dataLength),
                                    0x5C);
    EncodeHeader(bytes, header);
    return bytes;
}

// An upgrade of two blocks in each frame type, with a probe, a lost write and a late reply.
Capture RecordedUpgrade()
{
    std::vector<TimedFrame> frames;
    std::uint64_t at = 1'700'000'000'000'000ull;
    std::uint16_t sequence = 0x0100;
    const auto add = [&](std::uint64_t afterUs, std::vector<std::uint8_t> bytes) {
        at += afterUs;
        frames.push_back({at, std::move(bytes)});
    };
    for (const std::uint16_t type : {FRAME_TYPE_UNTYPED, FRAME_TYPE_TYPED}) {
        add(0, Frame(BROADCAST_ADDRESS, TOOL, type, OP_INFO, 0, 0));
        add(1500, Frame(TOOL, DEVICE, type, OP_INFO, 0, DESCRIPTOR_BYTES));
        add(3000, Frame(DEVICE, TOOL, type, OP_BEGIN, sequence, 0));
        add(5000, Frame(TOOL, DEVICE, type, OP_BEGIN, sequence++, STATUS_BYTES));
        add(100, Frame(DEVICE, TOOL, type, OP_WRITE, sequence, BLOCK_BYTES));
        add(990'000, Frame(DEVICE, TOOL, type, OP_WRITE, sequence, BLOCK_BYTES));
        add(2000, Frame(TOOL, DEVICE, type, OP_WRITE, sequence++, STATUS_BYTES));
        add(100, Frame(DEVICE, TOOL, type, OP_VERIFY, sequence, BLOCK_BYTES));
        add(2000, Frame(TOOL, DEVICE, type, OP_VERIFY, sequence, STATUS_BYTES));
        add(985'000, Frame(TOOL, DEVICE, type, OP_VERIFY, sequence++, STATUS_BYTES));
        add(100, Frame(DEVICE, TOOL, type, OP_RESET, 0, 0));
        add(700, Frame(TOOL, DEVICE, type, OP_RESET, 0, 0));
    }
    return Capture::Of(frames);
}

std::vector<std::uint8_t> Shaped(std::uint8_t control, std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> frame(bytes.begin(), bytes.end());
    if (frame.size() < FRAME_HEADER_BYTES) {
        frame.resize(FRAME_HEADER_BYTES, 0);
    }
    auto header = *DecodeHeader(frame);
    if ((control & 0x01) != 0) {
        header.Destination = DEVICE;
    }
    if ((control & 0x02) != 0) {
        header.Destination = BROADCAST_ADDRESS;
    }
    if ((control & 0x04) != 0) {
        header.Source = LIVE_TOOL;
    }
    if ((control & 0x08) != 0) {
        header.FrameType = (control & 0x10) != 0 ? FRAME_TYPE_TYPED : FRAME_TYPE_UNTYPED;
        header.Opcode = static_cast<std::uint16_t>((control >> 5) % 5);
    }
    EncodeHeader(frame, header);
    return frame;
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvik;
    static const Capture recorded = RecordedUpgrade();
    std::span<const std::uint8_t> input(data, size);
    if (input.size() < 2) {
        return -1;
    }
    const std::size_t traceLength = std::min<std::size_t>(LoadLe16(input, 0), input.size() - 2);
    std::optional<Capture> capture = recorded;
    std::string error;
    if (traceLength > 0) {
        capture = ParseCaptureFile(input.subspan(2, traceLength), error);
        if (!capture) {
            return 0;
        }
    }
    auto replay = ReplayOf(*capture);
    if (!replay) {
        return 0;
    }
    const MacAddress device = replay->Device;
    ReplayTarget target(std::move(replay->Session));
    for (auto rest = input.subspan(2 + traceLength); !rest.empty();) {
        const std::uint8_t control = rest[0];
        std::size_t length = rest.size() >= 3 ? LoadLe16(rest, 1) % (LONGEST_REQUEST + 1) : 0;
        rest = rest.subspan(std::min<std::size_t>(3, rest.size()));
        length = std::min(length, rest.size());
        std::vector<std::uint8_t> request = Shaped(control, rest.first(length));
        rest = rest.subspan(length);
        if ((control & 0x01) != 0) {
            std::copy(device.begin(), device.end(), request.begin());
        }
        const MacAddress asker = DecodeHeader(request)->Source;
        for (const DeviceReply& reply : target.HandleFrame(request)) {
            replay->Oracle.Check(reply.Frame, asker, device);
        }
    }
    return 0;
}
