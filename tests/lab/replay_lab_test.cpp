// The replaying device in the lab, in simulated time: a reply reaches the tool as long after
// its request as the capture says, however long that is and wherever the tick count is.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lab/lab_setup.h"
#include "lab/reply_queue.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"

namespace tarvik {
namespace {

constexpr MacAddress TOOL = {0x02, 0x54, 0x56, 0x00, 0x00, 0x0A};
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr std::uint32_t BEFORE_WRAP = 0xFFFFFFFFu - 40;
// Past what a signed 32-bit tick difference holds.
constexpr std::uint32_t LONG_DELAY_MS = 0x80000007u;

std::vector<std::uint8_t> Frame(const MacAddress& to, const MacAddress& from, std::uint16_t opcode,
                                std::uint16_t dataLength)
{
    FrameHeader header;
    header.Destination = to;
    header.Source = from;
    header.FrameType = FRAME_TYPE_UNTYPED;
    header.Opcode = opcode;
    header.DataLength = dataLength;
    std::vector<std::uint8_t> bytes(60, 0);
    EncodeHeader(bytes, header);
    return bytes;
}

// A BEGIN answered delayMs after it, as captured.
ReplayTarget BeginAnsweredAfter(std::uint64_t delayMs)
{
    const std::uint64_t start = 1'700'000'000'000'000ull;
    const Capture capture =
        Capture::Of({{start, Frame(DEVICE, TOOL, OP_BEGIN, 0)},
                     {start + delayMs * 1000, Frame(TOOL, DEVICE, OP_BEGIN, STATUS_BYTES)}});
    std::string error;
    auto session = RecordedSession::FromCapture(capture, {}, "--device", error);
    EXPECT_TRUE(session) << error;
    return ReplayTarget(std::move(*session));
}

// The tool's side: sends a request and notes when each reply lands.
class ToolStation final : public SegmentStation {
public:
    ToolStation(VirtualSegment& segment, SimKernel& kernel) : segment_(segment), kernel_(kernel)
    {
        segment_.Attach(this);
    }
    ~ToolStation() override { segment_.Detach(this); }

    MacAddress StationAddress() const override { return TOOL; }
    bool ReceivesBroadcast() const override { return false; }
    void ReceiveFrame(std::span<const std::uint8_t>) override { landed.push_back(kernel_.Now()); }
    void SendBegin() { segment_.Transmit(this, Frame(DEVICE, TOOL, OP_BEGIN, 0)); }

    std::vector<std::uint64_t> landed;

private:
    VirtualSegment& segment_;
    SimKernel& kernel_;
};

TEST(ReplayLabTest, AReplyLandsExactlyTheRecordedDelayAfterTheRequest)
{
    for (const std::uint32_t delay : {0u, 37u, 989u}) {
        SimKernel kernel;
        const auto lab = MakeReplayLab(kernel, BeginAnsweredAfter(delay));
        ToolStation tool(lab->Segment(), kernel);
        const std::uint64_t sent = kernel.Now();
        tool.SendBegin();
        kernel.Advance(2000);
        ASSERT_EQ(tool.landed.size(), 1u) << delay;
        EXPECT_EQ(tool.landed[0] - sent, delay);
    }
}

TEST(ReplayLabTest, ADelayPastHalfTheTickRangeIsWaitedWholeAcrossTheWrap)
{
    SimKernel kernel(BEFORE_WRAP);
    const auto lab = MakeReplayLab(kernel, BeginAnsweredAfter(LONG_DELAY_MS));
    ToolStation tool(lab->Segment(), kernel);
    const std::uint64_t sent = kernel.Now();
    tool.SendBegin();
    kernel.Advance(LONG_DELAY_MS - 1);
    EXPECT_TRUE(tool.landed.empty());
    kernel.Advance(1);
    ASSERT_EQ(tool.landed.size(), 1u);
    EXPECT_EQ(tool.landed[0] - sent, LONG_DELAY_MS);
}

// tarvik-target's queue keeps the same rule on the 32-bit tick count it reads.
TEST(ReplyQueueTest, RepliesComeDueInDueOrderAcrossTheWrapHoweverLongTheDelay)
{
    ReplyQueue queue;
    std::vector<std::uint8_t> order;
    const auto send = [&order](std::span<const std::uint8_t> frame) { order.push_back(frame[0]); };
    std::uint32_t tick = BEFORE_WRAP;
    queue.Add(tick, LONG_DELAY_MS, {1});
    queue.Add(tick, 50, {2});
    queue.Add(tick, 50, {3});  // due with the one before: after it
    queue.Add(tick, 20, {4});
    EXPECT_EQ(queue.WaitMs(tick, 1000), 20u);
    tick += 60;  // past the wrap
    queue.TakeDue(tick, send);
    EXPECT_EQ(order, (std::vector<std::uint8_t>{4, 2, 3}));
    EXPECT_EQ(queue.WaitMs(tick, 0xFFFFFFFFu), LONG_DELAY_MS - 60);
    // The tick count is read now and then while a reply waits, less than 2^32 ms apart.
    for (std::uint64_t step = 60; step + 100 < LONG_DELAY_MS; step += 0x10000000) {
        tick = BEFORE_WRAP + static_cast<std::uint32_t>(step);
        queue.TakeDue(tick, send);
    }
    tick = BEFORE_WRAP + LONG_DELAY_MS - 1;
    queue.TakeDue(tick, send);
    EXPECT_EQ(order.size(), 3u);
    queue.TakeDue(tick + 1, send);
    EXPECT_EQ(order, (std::vector<std::uint8_t>{4, 2, 3, 1}));
    EXPECT_EQ(queue.Size(), 0u);
}

// A device that answered one probe many times: each reply costs the queue a logarithm, not a
// walk along every reply held, and they still go in the order made.
TEST(ReplyQueueTest, ManyRepliesDueTogetherKeepTheirOrder)
{
    constexpr std::uint32_t REPLIES = 100'000;
    ReplyQueue queue;
    for (std::uint32_t i = 0; i < REPLIES; ++i) {
        queue.Add(7, 5,
                  {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                   static_cast<std::uint8_t>(i >> 16)});
    }
    std::uint32_t next = 0;
    bool inOrder = true;
    queue.TakeDue(12, [&](std::span<const std::uint8_t> frame) {
        const std::uint32_t index = frame[0] | frame[1] << 8 | frame[2] << 16;
        inOrder = inOrder && index == next;
        ++next;
    });
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next, REPLIES);
}

}  // namespace
}  // namespace tarvik
