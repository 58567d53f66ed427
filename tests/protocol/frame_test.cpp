// Wire bytes of every request, compared with literal bytes.

#include "protocol_fixture.h"

namespace tarvik::testing {
namespace {

class FrameBuildTest : public ProtocolTest {
protected:
    const SentFrame& Last() const { return sent.back(); }
    void Flush() { kernel.Advance(5); }  // lets the segment carry the frame to the observer
};

std::vector<std::uint8_t> Header(std::initializer_list<std::uint8_t> destination,
                                 std::initializer_list<std::uint8_t> rest)
{
    std::vector<std::uint8_t> bytes(destination);
    bytes.insert(bytes.end(), LAB_ADAPTER_ADDRESS.begin(), LAB_ADAPTER_ADDRESS.end());
    bytes.insert(bytes.end(), rest);
    return bytes;
}

TEST_F(FrameBuildTest, ProbeIsSixtyFourBytesToBroadcastInEitherVariant)
{
    ASSERT_EQ(link.SendProbe(), BUILD_SENT);
    run.FrameVariant = FrameVariantKind::Typed;
    ASSERT_EQ(link.SendProbe(), BUILD_SENT);
    Flush();
    ASSERT_EQ(sent.size(), 2u);

    auto expected = Header({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0x00, 0x00});
    expected.resize(64, 0);
    EXPECT_EQ(sent[0].Bytes, expected);
    expected[12] = 0x88;
    expected[13] = 0x88;
    EXPECT_EQ(sent[1].Bytes, expected);
}

TEST_F(FrameBuildTest, WriteBlockCarriesSessionFieldsLittleEndian)
{
    run.Session.Target = TARGET_A;
    run.Session.Sequence = 0x1234;
    run.Session.Offset = 5;
    run.Session.Segment = 0x2000;
    std::vector<std::uint8_t> block(512);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(link.SendWriteBlock(run.Session, block.data(), block.size()), BUILD_SENT);
    Flush();

    const auto& bytes = Last().Bytes;
    ASSERT_EQ(bytes.size(), 536u);
    EXPECT_TRUE(std::equal(TARGET_A.begin(), TARGET_A.end(), bytes.begin()));
    const std::vector<std::uint8_t> header(bytes.begin() + 14, bytes.begin() + 24);
    EXPECT_EQ(header, (std::vector<std::uint8_t>{0x02, 0x00, 0x34, 0x12, 0x05, 0x00, 0x00, 0x20,
                                                 0x00, 0x02}));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + 24));
}

TEST_F(FrameBuildTest, ShortLastBlockIsNotPadded)
{
    run.Session.Target = TARGET_A;
    const std::vector<std::uint8_t> block(10, 0xAB);
    ASSERT_EQ(link.SendVerifyBlock(run.Session, block.data(), block.size()), BUILD_SENT);
    Flush();
    ASSERT_EQ(Last().Bytes.size(), 34u);
    EXPECT_EQ(Last().Header.Opcode, OP_VERIFY);
    EXPECT_EQ(Last().Header.DataLength, 10);
}

TEST_F(FrameBuildTest, ShortRequestsCarryOnlyTheirFields)
{
    run.Session.Target = TARGET_B;
    run.Session.Sequence = 0xBEEF;
    run.Session.Offset = 3;
    run.Session.Segment = 0x4321;
    ASSERT_EQ(link.SendBegin(run.Session), BUILD_SENT);
    ASSERT_EQ(link.SendReset(run.Session), BUILD_SENT);
    ASSERT_EQ(link.SendInfoRequest(run.Session), BUILD_SENT);
    Flush();
    ASSERT_EQ(sent.size(), 3u);

    auto begin = Header({0x02, 0x11, 0x22, 0x33, 0x44, 0x55},
                        {0x00, 0x00, 0x01, 0x00, 0xEF, 0xBE, 0, 0, 0, 0, 0, 0});
    begin.resize(64, 0);
    EXPECT_EQ(sent[0].Bytes, begin);

    // Reset and the targeted information request carry no sequence, even mid-session.
    auto reset = Header({0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, {0x00, 0x00, 0x03, 0x00});
    reset.resize(64, 0);
    EXPECT_EQ(sent[1].Bytes, reset);
    auto info = Header({0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, {});
    info.resize(64, 0);
    EXPECT_EQ(sent[2].Bytes, info);
}

TEST_F(FrameBuildTest, NothingOfALongerEarlierFrameIsLeftOver)
{
    run.Session.Target = TARGET_A;
    const std::vector<std::uint8_t> block(512, 0xEE);
    ASSERT_EQ(link.SendWriteBlock(run.Session, block.data(), block.size()), BUILD_SENT);
    ASSERT_EQ(link.SendReset(run.Session), BUILD_SENT);
    Flush();
    const auto& reset = Last().Bytes;
    ASSERT_EQ(reset.size(), 64u);
    EXPECT_TRUE(std::all_of(reset.begin() + 16, reset.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(run.SendBuffer.begin() + 64, run.SendBuffer.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(FrameBuildTest, NoStationAddressMeansNothingSent)
{
    lab.Driver().FailRequests(true);
    EXPECT_EQ(link.SendProbe(), BUILD_NO_STATION_ADDRESS);
    lab.Driver().FailRequests(false);
    lab.Driver().FailSends(true);
    EXPECT_EQ(link.SendProbe(), BUILD_SEND_FAILED);
    Flush();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(run.FramesSent, 0u);
}

TEST(FrameCodecTest, DecodesLiteralReplyAndRejectsShortFrames)
{
    const std::vector<std::uint8_t> bytes = {0x02, 0x00, 0x54, 0x56, 0x4B, 0x01, 0x02, 0x5A, 0x17,
                                             0x1A, 0x2B, 0x3C, 0x88, 0x88, 0x02, 0x00, 0x34, 0x12,
                                             0x05, 0x00, 0x00, 0x20, 0x02, 0x00, 0x05, 0x00};
    const auto header = DecodeHeader(bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->Source, TARGET_A);
    EXPECT_EQ(header->FrameType, FRAME_TYPE_TYPED);
    EXPECT_EQ(header->Opcode, OP_WRITE);
    EXPECT_EQ(header->Sequence, 0x1234);
    EXPECT_EQ(header->Offset, 5);
    EXPECT_EQ(header->Segment, 0x2000);
    EXPECT_EQ(header->DataLength, 2);
    EXPECT_TRUE(HoldsData(bytes, *header));
    EXPECT_EQ(ReplyStatus(bytes), 5);

    std::vector<std::uint8_t> encoded(24);
    EncodeHeader(encoded, *header);
    EXPECT_TRUE(std::equal(encoded.begin(), encoded.end(), bytes.begin()));

    EXPECT_FALSE(DecodeHeader(std::span(bytes).first(23)));
    EXPECT_FALSE(HoldsData(std::span(bytes).first(25), *header));
}

}  // namespace
}  // namespace tarvik::testing
