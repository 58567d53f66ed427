// The device that replays a capture: which device and tool a capture holds, and how each live
// request is answered from its recorded counterpart.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lab/replay_target.h"
#include "protocol/frame.h"

namespace tarvik {
namespace {

constexpr MacAddress TOOL = {0x02, 0x54, 0x56, 0x00, 0x00, 0x0A};
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr MacAddress OTHER = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0C};
constexpr MacAddress LIVE_TOOL = {0x02, 0x00, 0x54, 0x56, 0x4B, 0x01};

struct Spec {
    MacAddress Destination;
    MacAddress Source;
    std::uint16_t Opcode;
    std::uint16_t Sequence = 0;
    std::uint16_t DataLength = 0;
    std::uint16_t FrameType = FRAME_TYPE_UNTYPED;
    std::uint16_t Segment = 0;
};

std::vector<std::uint8_t> Frame(const Spec& spec, std::uint16_t status = 0)
{
    FrameHeader header;
    header.Destination = spec.Destination;
    header.Source = spec.Source;
    header.FrameType = spec.FrameType;
    header.Opcode = spec.Opcode;
    header.Sequence = spec.Sequence;
    header.Segment = spec.Segment;
    header.DataLength = spec.DataLength;
    std::vector<std::uint8_t> bytes(std::max<std::size_t>(60, FRAME_HEADER_BYTES + spec.DataLength),
                                    0x5C);
    EncodeHeader(bytes, header);
    StoreReplyStatus(bytes, status);
    return bytes;
}

TimedFrame At(std::uint64_t ms, const Spec& spec, std::uint16_t status = 0)
{
    return {1'700'000'000'000'000ull + ms * 1000, Frame(spec, status)};
}

// A tool's probe, answered by the given devices.
std::vector<TimedFrame> Probe(std::vector<MacAddress> answering)
{
    std::vector<TimedFrame> frames = {At(0, {BROADCAST_ADDRESS, TOOL, OP_INFO})};
    for (const MacAddress& device : answering) {
        frames.push_back(At(2, {TOOL, device, OP_INFO, 0, 56}));
    }
    return frames;
}

TEST(RecordedSessionTest, TheDeviceIsTheOneThatAnsweredOrTheOneNamed)
{
    struct Case {
        const char* What;
        std::vector<TimedFrame> Frames;
        std::optional<MacAddress> Named;
        std::optional<MacAddress> Device;  // nothing: refused
        std::vector<std::string> ErrorParts;
    };
    const std::vector<Case> cases = {
        {"one device answers", Probe({DEVICE}), {}, DEVICE, {}},
        {"two answer, none named",
         Probe({DEVICE, OTHER}),
         {},
         {},
         {"02:5a:17:00:00:0b", "02:5a:17:00:00:0c", "--device MAC"}},
        {"two answer, one named", Probe({DEVICE, OTHER}), OTHER, OTHER, {}},
        {"the one named is silent",
         Probe({DEVICE}),
         OTHER,
         {},
         {"02:5a:17:00:00:0c", "02:5a:17:00:00:0b"}},
        {"nobody answers", Probe({}), {}, {}, {"no device"}},
        // Begin and reset requests look like their replies: the capture's first frame is the
        // tool's.
        {"only begin and reset",
         {At(0, {DEVICE, TOOL, OP_BEGIN, 9}), At(1, {TOOL, DEVICE, OP_BEGIN, 9, 2}),
          At(2, {DEVICE, TOOL, OP_RESET}), At(3, {TOOL, DEVICE, OP_RESET})},
         {},
         DEVICE,
         {}},
        // A short last block looks like a status reply, but comes from the tool.
        {"a write of two bytes",
         {At(0, {DEVICE, TOOL, OP_WRITE, 1, 512}), At(1, {TOOL, DEVICE, OP_WRITE, 1, 2}),
          At(2, {DEVICE, TOOL, OP_WRITE, 2, 2}), At(3, {TOOL, DEVICE, OP_WRITE, 2, 2})},
         {},
         DEVICE,
         {}},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto session =
            RecordedSession::FromCapture(Capture::Of(c.Frames), c.Named, "--device", error);
        ASSERT_EQ(session.has_value(), c.Device.has_value()) << c.What << ": " << error;
        if (session) {
            EXPECT_EQ(session->Device, *c.Device) << c.What;
            EXPECT_EQ(session->Tool, TOOL) << c.What;
        }
        for (const std::string& part : c.ErrorParts) {
            EXPECT_NE(error.find(part), std::string::npos) << c.What << ": " << error;
        }
    }
}

// An upgrade as recorded: a probe two devices answer, the information query, BEGIN answered
// after 5 ms, the first WRITE
// lost and sent again, the device refusing the resent one, RESET; a second device's chatter
// and its replies stay out of the session.
std::vector<TimedFrame> RecordedUpgrade()
{
    return {
        At(0, {BROADCAST_ADDRESS, TOOL, OP_INFO}),
        At(1, {TOOL, OTHER, OP_INFO, 0, 56}),
        At(2, {TOOL, DEVICE, OP_INFO, 0, 56}),
        At(5, {DEVICE, TOOL, OP_INFO}),
        At(8, {TOOL, DEVICE, OP_INFO, 0, 56}),
        At(10, {DEVICE, TOOL, OP_BEGIN, 0x0100}),
        At(15, {TOOL, DEVICE, OP_BEGIN, 0x0100, 2}),
        At(20, {DEVICE, TOOL, OP_WRITE, 0x0101, 512, FRAME_TYPE_UNTYPED, 0x1000}),
        At(21, {OTHER, TOOL, OP_WRITE, 0x0101, 512}),
        At(22, {TOOL, OTHER, OP_WRITE, 0x0101, 2}),
        At(2020, {DEVICE, TOOL, OP_WRITE, 0x0101, 512, FRAME_TYPE_UNTYPED, 0x1000}),
        At(2022, {TOOL, DEVICE, OP_WRITE, 0x0101, 2, FRAME_TYPE_UNTYPED, 0x1000}, 0x0007),
        At(2030, {DEVICE, TOOL, OP_RESET}),
        At(2031, {TOOL, DEVICE, OP_RESET}),
    };
}

class ReplayTargetTest : public ::testing::Test {
protected:
    ReplayTargetTest()
    {
        std::string error;
        auto session =
            RecordedSession::FromCapture(Capture::Of(RecordedUpgrade()), DEVICE, "--device", error);
        EXPECT_TRUE(session) << error;
        device.emplace(std::move(*session));
        device->SetUnansweredNote([this](const std::string& line) { notes.push_back(line); });
    }

    std::vector<DeviceReply> Live(std::uint16_t opcode, std::uint16_t sequence = 0,
                                  std::uint16_t frameType = FRAME_TYPE_UNTYPED,
                                  const MacAddress& destination = DEVICE)
    {
        const std::uint16_t length = opcode == OP_WRITE || opcode == OP_VERIFY ? 512 : 0;
        return device->HandleFrame(Frame({destination, LIVE_TOOL, opcode, sequence, length,
                                          frameType}));
    }

    std::optional<ReplayTarget> device;
    std::vector<std::string> notes;
};

TEST_F(ReplayTargetTest, EachRequestGetsWhatItsRecordedCounterpartGotRewrittenToTheLiveSession)
{
    const auto info = Live(OP_INFO, 0);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].DelayMs, 3u);
    const FrameHeader infoHeader = *DecodeHeader(info[0].Frame);
    EXPECT_EQ(infoHeader.Destination, LIVE_TOOL);
    EXPECT_EQ(infoHeader.Source, DEVICE);
    EXPECT_EQ(infoHeader.DataLength, 56);

    const auto begin = Live(OP_BEGIN, 0x7001);
    ASSERT_EQ(begin.size(), 1u);
    EXPECT_EQ(begin[0].DelayMs, 5u);
    EXPECT_EQ(DecodeHeader(begin[0].Frame)->Sequence, 0x7001);

    // The first WRITE was lost in the capture; its resend got the refusal, with the segment
    // and status the device gave.
    EXPECT_TRUE(Live(OP_WRITE, 0x7002).empty());
    const auto resend = Live(OP_WRITE, 0x7002);
    ASSERT_EQ(resend.size(), 1u);
    EXPECT_EQ(resend[0].DelayMs, 2u);
    const FrameHeader resendHeader = *DecodeHeader(resend[0].Frame);
    EXPECT_EQ(resendHeader.Sequence, 0x7002);
    EXPECT_EQ(resendHeader.Segment, 0x1000);
    EXPECT_EQ(ReplyStatus(resend[0].Frame), 0x0007);

    const auto reset = Live(OP_RESET);
    ASSERT_EQ(reset.size(), 1u);
    EXPECT_EQ(reset[0].DelayMs, 1u);
    EXPECT_TRUE(notes.empty());
}

TEST_F(ReplayTargetTest, WhatTheCaptureNeverAnsweredGetsNothingAndIsSaidOncePerKind)
{
    Live(OP_WRITE);
    Live(OP_WRITE);
    EXPECT_TRUE(Live(OP_WRITE).empty());
    EXPECT_TRUE(Live(OP_WRITE).empty());
    EXPECT_TRUE(Live(OP_VERIFY).empty());
    EXPECT_TRUE(Live(OP_VERIFY).empty());
    // The same request in the other frame type is a kind of its own.
    EXPECT_TRUE(Live(OP_INFO, 0, FRAME_TYPE_TYPED).empty());
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_NE(notes[0].find("2 WRITE requests in untyped frames: WRITE request 3"),
              std::string::npos)
        << notes[0];
    EXPECT_NE(notes[1].find("0 VERIFY requests"), std::string::npos) << notes[1];
    EXPECT_NE(notes[2].find("typed"), std::string::npos) << notes[2];
}

TEST_F(ReplayTargetTest, ProbesFindTheDeviceWithoutTakingTheSessionsInformationReply)
{
    for (int probe = 0; probe < 3; ++probe) {
        const auto replies = Live(OP_INFO, 0, FRAME_TYPE_UNTYPED, BROADCAST_ADDRESS);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(DecodeHeader(replies[0].Frame)->DataLength, 56);
        EXPECT_EQ(replies[0].DelayMs, 2u);  // as the probe was answered
    }
    // The session's information request is still the first of its kind.
    EXPECT_EQ(Live(OP_INFO).size(), 1u);
    EXPECT_TRUE(Live(OP_INFO).empty());
    // Frames to other stations, and replies of other devices, are not for it.
    EXPECT_TRUE(Live(OP_BEGIN, 0x0100, FRAME_TYPE_UNTYPED, OTHER).empty());
    EXPECT_TRUE(device->HandleFrame(Frame({LIVE_TOOL, OTHER, OP_BEGIN, 0x0100, 2})).empty());
    EXPECT_EQ(Live(OP_BEGIN, 0x0100).size(), 1u);
    EXPECT_EQ(notes.size(), 1u);  // the second information request
}

TEST(ReplayTargetAddressTest, AnswersFromTheAddressGivenInsteadOfTheRecordedOne)
{
    std::string error;
    auto session =
        RecordedSession::FromCapture(Capture::Of(RecordedUpgrade()), DEVICE, "--device", error);
    ASSERT_TRUE(session) << error;
    ReplayTarget device(std::move(*session), OTHER);
    EXPECT_TRUE(device.HandleFrame(Frame({DEVICE, LIVE_TOOL, OP_INFO})).empty());
    const auto replies = device.HandleFrame(Frame({OTHER, LIVE_TOOL, OP_INFO}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(DecodeHeader(replies[0].Frame)->Source, OTHER);
}

// A capture taken where the system joins segments (receive offload) holds frames no segment
// carried; the device never sent one, and the replay sends none.
TEST(ReplayTargetFrameTest, FramesLongerThanASegmentCarriesAreLeftOutAndSaidOnce)
{
    std::vector<TimedFrame> frames = {
        At(0, {DEVICE, TOOL, OP_BEGIN, 1}),
        At(3, {TOOL, DEVICE, OP_BEGIN, 1, 2}),
        At(5, {DEVICE, TOOL, OP_RESET, 2}),
        At(7, {TOOL, DEVICE, OP_RESET, 2}),
    };
    frames[1].Bytes.resize(9000, 0x5C);  // the answer to BEGIN, as captured
    frames.push_back(frames[3]);
    frames.back().Bytes.resize(1515, 0);  // a second answer to RESET, one byte too long
    frames[3].Bytes.resize(1514, 0);      // the longest a segment carries stays
    std::string error;
    auto session = RecordedSession::FromCapture(Capture::Of(frames), {}, "--device", error);
    ASSERT_TRUE(session) << error;
    EXPECT_EQ(session->OversizedFrames, 2u);
    ReplayTarget device(std::move(*session));
    std::vector<std::string> notes;
    device.SetUnansweredNote([&notes](const std::string& line) { notes.push_back(line); });
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("2 frames of the device longer than the 1514 bytes"), std::string::npos) << notes[0];

    EXPECT_TRUE(device.HandleFrame(Frame({DEVICE, LIVE_TOOL, OP_BEGIN, 9})).empty());
    const auto reset = device.HandleFrame(Frame({DEVICE, LIVE_TOOL, OP_RESET, 10}));
    ASSERT_EQ(reset.size(), 1u);
    EXPECT_EQ(reset[0].Frame.size(), 1514u);
    EXPECT_EQ(notes.size(), 1u);
}

// The tool waited for each reply with a millisecond clock: a reply it got 989.6 ms after its
// request came within a 990 ms wait, and the replay must not put it at 990.
TEST(ReplayTargetFrameTest, RecordedDelaysDropTheFractionOfAMillisecond)
{
    std::vector<TimedFrame> frames = {
        At(0, {DEVICE, TOOL, OP_BEGIN, 1}),
        At(0, {TOOL, DEVICE, OP_BEGIN, 1, 2}),
    };
    frames[1].Microseconds += 989'600;
    std::string error;
    auto session = RecordedSession::FromCapture(Capture::Of(frames), {}, "--device", error);
    ASSERT_TRUE(session) << error;
    ReplayTarget device(std::move(*session));
    const auto replies = device.HandleFrame(Frame({DEVICE, LIVE_TOOL, OP_BEGIN, 9}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].DelayMs, 989u);
}

// The frames of a capture are held once: in the capture's block, which the session shares
// rather than copying each reply out of it.
TEST(ReplayTargetFrameTest, TheSessionKeepsTheCapturesBytesRatherThanCopies)
{
    const Capture capture = Capture::Of(RecordedUpgrade());
    std::string error;
    const auto session = RecordedSession::FromCapture(capture, DEVICE, "--device", error);
    ASSERT_TRUE(session) << error;
    ASSERT_EQ(session->Storage, capture.Storage());
    const std::uint8_t* first = capture.Storage()->data();
    const std::uint8_t* last = first + capture.Storage()->size();
    std::size_t replies = 0;
    for (const auto& [kind, requests] : session->Requests) {
        for (const RecordedRequest& request : requests) {
            for (const RecordedReply& reply : request.Replies) {
                EXPECT_GE(reply.Frame.data(), first);
                EXPECT_LE(reply.Frame.data() + reply.Frame.size(), last);
                ++replies;
            }
        }
    }
    EXPECT_EQ(replies, 4u);
}

}  // namespace
}  // namespace tarvik
