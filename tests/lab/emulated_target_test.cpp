// The emulated device's side of the conversation, frame in, frames out.

#include <gtest/gtest.h>

#include "lab/emulated_target.h"
#include "lab/lab_setup.h"
#include "protocol/frame.h"

namespace tarvik {
namespace {

constexpr MacAddress TOOL = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};

std::vector<std::uint8_t> Request(std::uint16_t opcode, std::uint16_t sequence = 0,
                                  std::uint16_t segment = 0, std::uint16_t offset = 0,
                                  std::vector<std::uint8_t> data = {},
                                  std::uint16_t frameType = FRAME_TYPE_UNTYPED,
                                  const MacAddress& destination = DEVICE)
{
    FrameHeader header;
    header.Destination = destination;
    header.Source = TOOL;
    header.FrameType = frameType;
    header.Opcode = opcode;
    header.Sequence = sequence;
    header.Segment = segment;
    header.Offset = offset;
    header.DataLength = static_cast<std::uint16_t>(data.size());
    std::vector<std::uint8_t> bytes(FRAME_HEADER_BYTES + data.size());
    EncodeHeader(bytes, header);
    std::copy(data.begin(), data.end(), bytes.begin() + FRAME_DATA);
    if (bytes.size() < 64) {
        bytes.resize(64, 0);
    }
    return bytes;
}

class EmulatedTargetTest : public ::testing::Test {
protected:
    EmulatedTargetTest() : target(Config()) {}

    static TargetConfig Config()
    {
        TargetConfig config;
        config.Address = DEVICE;
        config.Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
        return config;
    }

    FrameHeader OnlyReply(const std::vector<std::uint8_t>& request,
                          std::vector<std::uint8_t>* bytes = nullptr)
    {
        auto replies = target.HandleFrame(request);
        EXPECT_EQ(replies.size(), 1u);
        if (replies.empty()) {
            return {};
        }
        if (bytes != nullptr) {
            *bytes = replies[0].Frame;
        }
        return *DecodeHeader(replies[0].Frame);
    }

    EmulatedTarget target;
};

TEST_F(EmulatedTargetTest, AnswersTheProbeWithItsDescriptor)
{
    std::vector<std::uint8_t> bytes;
    const auto reply =
        OnlyReply(Request(OP_INFO, 0, 0, 0, {}, FRAME_TYPE_UNTYPED, BROADCAST_ADDRESS), &bytes);
    EXPECT_EQ(reply.Destination, TOOL);
    EXPECT_EQ(reply.Source, DEVICE);
    EXPECT_EQ(reply.DataLength, DESCRIPTOR_BYTES);
    EXPECT_TRUE(std::equal(target.Config().Descriptor.Bytes.begin(),
                           target.Config().Descriptor.Bytes.end(), bytes.begin() + FRAME_DATA));
}

TEST_F(EmulatedTargetTest, WritesLandAtSegmentTimesSixteenPlusOffsetAndVerifyCompares)
{
    std::vector<std::uint8_t> block(512);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    }
    std::vector<std::uint8_t> bytes;
    auto reply = OnlyReply(Request(OP_WRITE, 0x1234, 0x2000, 5, block), &bytes);
    EXPECT_EQ(reply.Sequence, 0x1234);
    EXPECT_EQ(reply.Segment, 0x2000);
    EXPECT_EQ(reply.Offset, 5);
    EXPECT_EQ(reply.DataLength, 2);
    EXPECT_EQ(ReplyStatus(bytes), 0);
    EXPECT_EQ(target.MemoryAt(0x20005, 512), block);

    OnlyReply(Request(OP_VERIFY, 0x1235, 0x2000, 5, block), &bytes);
    EXPECT_EQ(ReplyStatus(bytes), 0);
    block[100] ^= 1;
    OnlyReply(Request(OP_VERIFY, 0x1236, 0x2000, 5, block), &bytes);
    EXPECT_NE(ReplyStatus(bytes), 0);
}

TEST_F(EmulatedTargetTest, ResetReplyClaimsNoDataButCarriesItsStatus)
{
    std::vector<std::uint8_t> bytes;
    const auto reply = OnlyReply(Request(OP_RESET), &bytes);
    EXPECT_EQ(reply.DataLength, 0);
    EXPECT_EQ(reply.Sequence, 0);
    ASSERT_GE(bytes.size(), 60u);
    EXPECT_EQ(ReplyStatus(bytes), 0);
    EXPECT_TRUE(target.WasReset());
}

TEST_F(EmulatedTargetTest, AnswersOnlyItsFrameTypesAndItsAddress)
{
    TargetConfig config = Config();
    config.Variants = {FrameVariantKind::Typed};
    EmulatedTarget typed(config);
    EXPECT_TRUE(typed.HandleFrame(Request(OP_INFO)).empty());
    const auto replies = typed.HandleFrame(Request(OP_INFO, 0, 0, 0, {}, FRAME_TYPE_TYPED));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(DecodeHeader(replies[0].Frame)->FrameType, FRAME_TYPE_TYPED);

    EXPECT_TRUE(
        target.HandleFrame(Request(OP_INFO, 0, 0, 0, {}, FRAME_TYPE_UNTYPED, {0x02, 0, 0, 0, 0, 9}))
            .empty());
    EXPECT_TRUE(target.HandleFrame(Request(OP_INFO, 0, 0, 0, {}, 0x0800)).empty());
    // Only the probe may be broadcast.
    EXPECT_TRUE(
        target.HandleFrame(Request(OP_RESET, 0, 0, 0, {}, FRAME_TYPE_UNTYPED, BROADCAST_ADDRESS))
            .empty());
    // Another device's information reply is no request.
    EXPECT_TRUE(
        target.HandleFrame(Request(OP_INFO, 0, 0, 0, std::vector<std::uint8_t>(56))).empty());
}

TEST_F(EmulatedTargetTest, FaultsShapeTheAnswers)
{
    auto& faults = target.Faults();
    faults.SilentOpcodes = {OP_BEGIN};
    EXPECT_TRUE(target.HandleFrame(Request(OP_BEGIN, 1)).empty());
    EXPECT_EQ(target.RequestsSeen(OP_BEGIN), 1u);

    faults.SilentOpcodes.clear();
    faults.StatusForOpcode[OP_BEGIN] = 0x0033;
    std::vector<std::uint8_t> bytes;
    OnlyReply(Request(OP_BEGIN, 2), &bytes);
    EXPECT_EQ(ReplyStatus(bytes), 0x33);

    faults.StatusForBlock = std::make_pair(std::uint32_t{0x10000}, std::uint16_t{0x0044});
    OnlyReply(Request(OP_WRITE, 3, 0x1000, 0, std::vector<std::uint8_t>(512, 1)), &bytes);
    EXPECT_EQ(ReplyStatus(bytes), 0x44);
    EXPECT_EQ(target.MemoryAt(0x10000, 1)[0], 0xFF) << "a refused block is not stored";

    faults.DuplicateReplies = true;
    faults.ResponseDelayMs = 25;
    const auto replies = target.HandleFrame(Request(OP_RESET));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].Frame, replies[1].Frame);
    EXPECT_EQ(replies[0].DelayMs, 25u);
}

TEST_F(EmulatedTargetTest, MalformedRepliesLieCutOrPadOnlyForTheirOpcodes)
{
    auto& faults = target.Faults();
    faults.ReplyFaultOpcodes = {OP_WRITE};
    faults.ClaimedReplyLength = 600;
    faults.TruncateRepliesTo = 25;
    const auto block = std::vector<std::uint8_t>(512, 1);
    std::vector<std::uint8_t> bytes;
    OnlyReply(Request(OP_WRITE, 3, 0x1000, 0, block), &bytes);
    ASSERT_EQ(bytes.size(), 25u) << "cut below the Ethernet minimum";
    EXPECT_EQ(DecodeHeader(bytes)->DataLength, 600);
    EXPECT_EQ(target.MemoryAt(0x10000, 512), block) << "the write itself is kept";

    // Other opcodes answer as they always do.
    OnlyReply(Request(OP_BEGIN, 4), &bytes);
    EXPECT_EQ(bytes.size(), 60u);
    EXPECT_EQ(DecodeHeader(bytes)->DataLength, STATUS_BYTES);

    faults.ReplyFaultOpcodes.clear();
    faults.ClaimedReplyLength.reset();
    faults.TruncateRepliesTo.reset();
    faults.PadRepliesTo = 4000;
    const auto reply = OnlyReply(Request(OP_VERIFY, 5, 0x1000, 0, block), &bytes);
    ASSERT_EQ(bytes.size(), 4000u);
    EXPECT_EQ(reply.DataLength, STATUS_BYTES);
    EXPECT_EQ(ReplyStatus(bytes), 0);
}

TEST_F(EmulatedTargetTest, DropSharesAreRoughlyKept)
{
    target.Faults().DropRequestShare = 0.2;
    target.Faults().Seed = 42;
    int answered = 0;
    for (int i = 0; i < 1000; ++i) {
        answered +=
            target.HandleFrame(Request(OP_BEGIN, static_cast<std::uint16_t>(i))).empty() ? 0 : 1;
    }
    EXPECT_GT(answered, 740);
    EXPECT_LT(answered, 860);
}

TEST_F(EmulatedTargetTest, HighestAddressTakesALongBlockAndShortFramesAreIgnored)
{
    std::vector<std::uint8_t> bytes;
    OnlyReply(Request(OP_WRITE, 1, 0xFFFF, 15, std::vector<std::uint8_t>(1400, 7)), &bytes);
    EXPECT_EQ(ReplyStatus(bytes), 0);
    EXPECT_EQ(target.MemoryAt(0xFFFFF + 1399, 1)[0], 7);
    // A frame claiming more data than it holds is no request.
    bytes = Request(OP_WRITE, 1, 0x1000, 0, std::vector<std::uint8_t>(10, 7));
    StoreLe16(bytes, FRAME_DATA_LENGTH, 600);
    EXPECT_TRUE(target.HandleFrame(bytes).empty());
}

}  // namespace
}  // namespace tarvik
