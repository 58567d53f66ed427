// The information query: acceptance, the reply tests, timeouts and resends, and the check.

#include "protocol_fixture.h"

namespace tarvik::testing {
namespace {

class QueryTest : public ProtocolTest {
protected:
    // A station at TARGET_A that answers every targeted information request with one frame.
    TestStation& ReplyWith(std::function<std::vector<std::uint8_t>(const FrameHeader&)> make)
    {
        station = std::make_unique<TestStation>(lab.Segment(), TARGET_A, false);
        station->SetResponder([make](std::span<const std::uint8_t> frame, TestStation& self) {
            const auto request = DecodeHeader(frame);
            if (request && request->Opcode == OP_INFO) {
                self.Send(make(*request));
            }
        });
        return *station;
    }

    FrameHeader GoodHeader(const FrameHeader& request) const
    {
        FrameHeader reply;
        reply.Destination = request.Source;
        reply.Source = TARGET_A;
        reply.FrameType = request.FrameType;
        reply.DataLength = 56;
        return reply;
    }

    std::size_t InfoRequestsSent() const { return SentWithOpcode(OP_INFO).size(); }

    std::unique_ptr<TestStation> station;
    std::array<std::uint8_t, 56> info{};
};

TEST_F(QueryTest, AnswerAtOnceFillsTheBufferWithOneRequest)
{
    auto& target = AddTarget(TARGET_A);
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_OK);
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    EXPECT_EQ(run.Session.Result, 0);
    EXPECT_TRUE(std::equal(info.begin(), info.end(),
                           target.Device().Config().Descriptor.Bytes.begin()));
    EXPECT_EQ(InfoRequestsSent(), 1u);
}

TEST_F(QueryTest, SilentTargetGetsTwentyRequestsAboutASecondApart)
{
    const std::uint64_t start = kernel.Now();
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_NO_REPLY);
    EXPECT_EQ(run.Session.State, SESSION_FAILED);
    EXPECT_EQ(run.Session.Result, RESULT_NO_REPLY);
    const auto requests = SentWithOpcode(OP_INFO);
    ASSERT_EQ(requests.size(), 20u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const auto gap = requests[i].Time - requests[i - 1].Time;
        EXPECT_GT(gap, 990u);
        EXPECT_LT(gap, 1030u);
    }
    const std::uint64_t took = kernel.Now() - start;
    EXPECT_GT(took, 20u * 990);
    EXPECT_LT(took, 20u * 1030);
    EXPECT_EQ(link.FetchTargetInfo(TARGET_A, info.data()), QUERY_NO_REPLY);
}

TEST_F(QueryTest, RepliesFailingAnyTestAreIgnoredAndTheQueryGoesOn)
{
    int variant = 0;
    ReplyWith([&](const FrameHeader& request) {
        FrameHeader reply = GoodHeader(request);
        std::vector<std::uint8_t> data(56, 0x42);
        switch (variant++ % 6) {
        case 0:
            reply.DataLength = 55;
            break;
        case 1:
            reply.Sequence = 1;
            break;
        case 2:
            reply.FrameType = FRAME_TYPE_TYPED;
            break;
        case 3:
            reply.Source[5] ^= 1;
            break;
        case 4:
            reply.Opcode = OP_WRITE;
            break;
        case 5:
            data.resize(30);
            break;  // claims 56 bytes, holds 30
        }
        return MakeReply(reply, data);
    });
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_NO_REPLY);
    EXPECT_EQ(InfoRequestsSent(), 20u);
    EXPECT_EQ(info, (std::array<std::uint8_t, 56>{}));
}

TEST_F(QueryTest, TypedVariantAcceptsOnlyTypedReplies)
{
    run.FrameVariant = FrameVariantKind::Typed;
    ReplyWith([&](const FrameHeader& request) {
        FrameHeader reply = GoodHeader(request);
        reply.FrameType = FRAME_TYPE_UNTYPED;
        return MakeReply(reply, std::vector<std::uint8_t>(56, 1));
    });
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_NO_REPLY);

    ReplyWith([&](const FrameHeader& request) {
        return MakeReply(GoodHeader(request), std::vector<std::uint8_t>(56, 1));
    });
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_OK);
    EXPECT_EQ(info[0], 1);
}

TEST_F(QueryTest, ResendFailingAtTheFifthExpiryReturnsAtOnce)
{
    // Five requests go out (the first and four resends); the resend at the fifth expiry fails.
    kernel.Schedule(4 * 1000 + 500, [this] { lab.Driver().FailSends(true); });
    const std::uint64_t start = kernel.Now();
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_RESEND_FAILED);
    EXPECT_EQ(InfoRequestsSent(), 5u);
    EXPECT_LT(kernel.Now() - start, 6u * 1000);
}

TEST_F(QueryTest, FirstRequestThatCannotGoOutReturnsThree)
{
    lab.Driver().FailSends(true);
    EXPECT_EQ(link.QueryTargetInfo(TARGET_A, info.data()), QUERY_FIRST_SEND_FAILED);
    EXPECT_EQ(run.Session.State, SESSION_INFO);
    EXPECT_EQ(link.FetchTargetInfo(TARGET_A, info.data()), QUERY_NO_REPLY);
}

class CheckImageTest : public ProtocolTest {};

TEST_F(CheckImageTest, ResultsInTheirOrder)
{
    const auto image = MakeImage(4096);
    EXPECT_EQ(link.CheckImageForTarget("", TARGET_A), CHECK_NO_PATH);
    EXPECT_EQ(link.CheckImageForTarget((directory / "missing.bin").string(), TARGET_A),
              CHECK_IMAGE_UNREADABLE);
    EXPECT_TRUE(sent.empty()) << "no frame before the image is known to be readable";

    EXPECT_EQ(link.CheckImageForTarget(image, TARGET_A), CHECK_QUERY_FAILED);

    AddTarget(TARGET_A);
    EXPECT_EQ(link.CheckImageForTarget(image, TARGET_A), CHECK_FITS);
    AddTarget(TARGET_C, {FrameVariantKind::Untyped, FrameVariantKind::Typed},
              {0x00, 0x11, 0x22, 0x33, 0x44, 0x56});
    EXPECT_EQ(link.CheckImageForTarget(image, TARGET_C), CHECK_BOARD_MISMATCH);
}

TEST_F(CheckImageTest, OnlyTheBoardCodeIsCompared)
{
    const auto image = MakeImage(4096);
    TargetConfig config;
    config.Address = TARGET_A;
    config.Descriptor = SampleDescriptor();
    for (std::size_t i = 0; i < DESCRIPTOR_BYTES; ++i) {
        if (i < DESC_BOARD_CODE || i >= DESC_BOARD_CODE + BOARD_CODE_BYTES) {
            config.Descriptor.Bytes[i] ^= 0x5A;
        }
    }
    lab.AddTarget(config);
    EXPECT_EQ(link.CheckImageForTarget(image, TARGET_A), CHECK_FITS);
}

}  // namespace
}  // namespace tarvik::testing
