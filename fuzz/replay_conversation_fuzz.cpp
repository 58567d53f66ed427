// Traces of any content, replayed to a tool that holds a fixed conversation: the probe, the
// information query, BEGIN, three blocks written and verified, RESET, in each frame type. The
// device answers on the lab's segment in simulated time. Every reply the tool gets must be one
// a segment carries and one the recorded device sent; the run must end however long the
// recorded delays (the clock is run past the longest one a trace can hold).
//
// Input: the trace, as a capture file.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lab/lab_setup.h"
#include "platform/kernel/sim_kernel.h"
#include "replay_session.h"

namespace tarvik {
namespace {

class ToolStation final : public SegmentStation {
public:
    ToolStation(VirtualSegment& segment, const RecordedReplies& oracle, const MacAddress& device)
        : segment_(segment), oracle_(oracle), device_(device)
    {
        segment_.Attach(this);
    }
    ~ToolStation() override { segment_.Detach(this); }
    ToolStation(const ToolStation&) = delete;
    ToolStation& operator=(const ToolStation&) = delete;

    MacAddress StationAddress() const override { return LIVE_TOOL; }
    bool ReceivesBroadcast() const override { return true; }
    void ReceiveFrame(std::span<const std::uint8_t> frame) override
    {
        oracle_.Check(frame, LIVE_TOOL, device_);
    }

    void Send(const MacAddress& to, std::uint16_t frameType, std::uint16_t opcode,
              std::uint16_t sequence, std::uint16_t offset, std::uint16_t dataLength)
    {
        FrameHeader header;
        header.Destination = to;
        header.Source = LIVE_TOOL;
        header.FrameType = frameType;
        header.Opcode = opcode;
        header.Sequence = sequence;
        header.Offset = offset;
        header.Segment = 0x1000;
        header.DataLength = dataLength;
        std::vector<std::uint8_t> bytes(
            std::max<std::size_t>(SHORT_REQUEST_BYTES, FRAME_HEADER_BYTES + dataLength), 0xA5);
        EncodeHeader(bytes, header);
        segment_.Transmit(this, bytes);
    }

private:
    VirtualSegment& segment_;
    const RecordedReplies& oracle_;
    MacAddress device_;
};

// The tool's side of an upgrade of three blocks, a second apart, as the tool would wait.
void Converse(SimKernel& kernel, ToolStation& tool, const MacAddress& device)
{
    std::uint16_t sequence = 0x4000;
    for (const std::uint16_t frameType : {FRAME_TYPE_UNTYPED, FRAME_TYPE_TYPED}) {
        const auto send = [&](const MacAddress& to, std::uint16_t opcode, std::uint16_t offset,
                              std::uint16_t length) {
            tool.Send(to, frameType, opcode, sequence++, offset, length);
            kernel.Advance(990);
        };
        send(BROADCAST_ADDRESS, OP_INFO, 0, 0);
        send(device, OP_INFO, 0, 0);
        send(device, OP_BEGIN, 0, 0);
        for (std::uint16_t block = 0; block < 3; ++block) {
            send(device, OP_WRITE, static_cast<std::uint16_t>(block * BLOCK_BYTES), BLOCK_BYTES);
        }
        for (std::uint16_t block = 0; block < 3; ++block) {
            send(device, OP_VERIFY, static_cast<std::uint16_t>(block * BLOCK_BYTES), BLOCK_BYTES);
        }
        send(device, OP_RESET, 0, 0);
    }
    // Whatever the trace delayed longest is due within 2^32 ms of its request.
    kernel.Advance(0xFFFFFFFFu);
    kernel.Advance(0xFFFFFFFFu);
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvik;
    std::string error;
    const auto capture = ParseCaptureFile(std::span(data, size), error);
    if (!capture) {
        return 0;
    }
    auto replay = ReplayOf(*capture);
    if (!replay) {
        return 0;
    }
    SimKernel kernel;
    {
        const auto lab = MakeReplayLab(kernel, ReplayTarget(std::move(replay->Session)));
        ToolStation tool(lab->Segment(), replay->Oracle, replay->Device);
        Converse(kernel, tool, replay->Device);
    }
    return 0;
}
