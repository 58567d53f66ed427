// The emulated-device daemon on the virtual segment in simulated time: its adapter, its replies
// as they go out on the wire, and replies held back by a delay across the tick count's wrap.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device_daemon/device_adapter.h"
#include "device_daemon/target_daemon.h"
#include "lab/emulated_target.h"
#include "lab/lab_setup.h"
#include "lab/replay_target.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "segment/virtual_segment.h"

namespace tarvik::target {
namespace {

constexpr MacAddress TOOL = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};
constexpr MacAddress MODEM = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3D};
// The clock starts this close to the tick count's wrap.
constexpr std::uint32_t BEFORE_WRAP = 0xFFFFFFFFu - 40;
// A status reply as the device sends it, padded to the Ethernet minimum.
constexpr std::size_t STATUS_REPLY_BYTES = 60;

std::vector<std::uint8_t> BeginRequest(std::uint16_t sequence)
{
    FrameHeader header;
    header.Destination = DEVICE;
    header.Source = TOOL;
    header.FrameType = FRAME_TYPE_UNTYPED;
    header.Opcode = OP_BEGIN;
    header.Sequence = sequence;
    std::vector<std::uint8_t> bytes(SHORT_REQUEST_BYTES, 0);
    EncodeHeader(bytes, header);
    return bytes;
}

struct SentFrame {
    std::uint64_t At;  // simulated milliseconds since the test began
    std::vector<std::uint8_t> Bytes;
    std::uint16_t Sequence() const { return DecodeHeader(Bytes)->Sequence; }
};

class DeviceDaemonTest : public ::testing::Test {
protected:
    explicit DeviceDaemonTest(std::uint32_t startTick = BEFORE_WRAP) : kernel(startTick)
    {
        driver.AddAdapter("\\Device\\dev0", DEVICE, NDIS_MEDIUM_802_3);
        driver.AddAdapter("\\Device\\wan0", MODEM, NDIS_MEDIUM_DIX);
        segment.SetObserver([this](std::span<const std::uint8_t> frame, const SegmentStation* by) {
            if (by != nullptr) {
                sent.push_back({kernel.Now(), {frame.begin(), frame.end()}});
            }
        });
    }

    // Serves the device for runMs of simulated time; requests are injected at their times.
    void Serve(const TargetFaults& faults,
               const std::vector<std::pair<std::uint32_t, std::uint16_t>>& requests,
               std::uint64_t runMs = 500)
    {
        DeviceAdapter adapter(kernel, driver);
        ASSERT_EQ(adapter.Open("dev0"), std::nullopt);
        ASSERT_EQ(adapter.StartReception(), std::nullopt);
        TargetConfig config;
        config.Address = DEVICE;
        config.Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
        config.Faults = faults;
        EmulatedTarget device(config);
        for (const auto& [at, sequence] : requests) {
            segment.Inject(BeginRequest(sequence), at);
        }
        const std::uint64_t end = kernel.Now() + runMs;
        ServeDevice(kernel, adapter, device, [&] { return kernel.Now() >= end; });
    }

    SimKernel kernel;
    VirtualSegment segment{kernel};
    VirtualAdapterDriver driver{kernel, segment};
    std::vector<SentFrame> sent;
};

TEST_F(DeviceDaemonTest, DelayedRepliesGoOutWhenDueAndInOrderAcrossTheTickWrap)
{
    TargetFaults faults;
    faults.ResponseDelayMs = 100;
    // The first reply falls due just after the wrap, the second 5 ms later.
    Serve(faults, {{10, 1}, {15, 2}});
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].Sequence(), 1);
    EXPECT_EQ(sent[1].Sequence(), 2);
    const std::uint64_t landed = 10;
    EXPECT_EQ(sent[0].At, landed + 100);
    EXPECT_EQ(sent[1].At, landed + 5 + 100);
}

TEST_F(DeviceDaemonTest, EveryReplyTheDeviceMakesGoesOutAsMade)
{
    struct Case {
        const char* name;
        TargetFaults faults;
        std::size_t replies;
        std::size_t length;  // of each reply on the wire
        std::uint64_t at;    // when they go out
    };
    TargetFaults duplicate;
    duplicate.DuplicateReplies = true;
    TargetFaults duplicateLate = duplicate;
    duplicateLate.ResponseDelayMs = 60;
    TargetFaults truncated;
    truncated.TruncateRepliesTo = 20;
    TargetFaults padded;
    padded.PadRepliesTo = 1514;
    TargetFaults silent;
    silent.SilentOpcodes = {OP_BEGIN};
    const std::vector<Case> cases = {
        {"plain", {}, 1, STATUS_REPLY_BYTES, 10},
        {"duplicated", duplicate, 2, STATUS_REPLY_BYTES, 10},
        {"duplicated and delayed", duplicateLate, 2, STATUS_REPLY_BYTES, 70},
        {"cut below the Ethernet minimum", truncated, 1, 20, 10},
        {"padded to the longest frame", padded, 1, 1514, 10},
        {"never answered", silent, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        const std::uint64_t start = kernel.Now();
        Serve(c.faults, {{10, 7}});
        ASSERT_EQ(sent.size(), c.replies);
        for (const SentFrame& reply : sent) {
            EXPECT_EQ(reply.Bytes.size(), c.length);
            EXPECT_EQ(reply.At - start, c.at);
        }
    }
}

TEST_F(DeviceDaemonTest, AReceiveHandsOverAtMostItsSlotsOldestFirstAndTheRestNextTime)
{
    DeviceAdapter adapter(kernel, driver);
    ASSERT_EQ(adapter.Open("dev0"), std::nullopt);
    ASSERT_EQ(adapter.StartReception(), std::nullopt);
    const std::size_t burst = DEVICE_READ_SLOTS + 4;
    for (std::uint16_t i = 0; i < burst; ++i) {
        segment.Inject(BeginRequest(i), 0);
    }
    kernel.Advance(5);
    std::vector<std::uint16_t> first;
    std::vector<std::uint16_t> second;
    const auto into = [](std::vector<std::uint16_t>& got) {
        return [&got](std::span<const std::uint8_t> frame) {
            got.push_back(DecodeHeader(frame)->Sequence);
        };
    };
    adapter.Receive(0, into(first));
    adapter.Receive(0, into(second));
    ASSERT_EQ(first.size(), DEVICE_READ_SLOTS);
    ASSERT_EQ(second.size(), burst - DEVICE_READ_SLOTS);
    first.insert(first.end(), second.begin(), second.end());
    for (std::uint16_t i = 0; i < burst; ++i) {
        EXPECT_EQ(first[i], i);
    }
}

TEST_F(DeviceDaemonTest, AnAdapterItCannotUseIsSaidInWords)
{
    struct Case {
        const char* name;
        const char* interfaceName;
        DeviceAdapter::OpenErrorText openError;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"no such adapter", "eth9", {}, "the adapter cannot be opened"},
        {"the driver's words", "eth9", [] { return std::string("No such device"); },
         "No such device"},
        {"not Ethernet", "wan0", {}, "wan0 is not an Ethernet interface"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceAdapter adapter(kernel, driver, c.openError);
        EXPECT_EQ(adapter.Open(c.interfaceName), c.error);
    }
    DeviceAdapter adapter(kernel, driver);
    ASSERT_EQ(adapter.Open("dev0"), std::nullopt);
    EXPECT_EQ(adapter.StationAddress(), DEVICE);
}

}  // namespace
}  // namespace tarvik::target

namespace tarvik::target {
namespace {

TimedFrame Captured(std::uint64_t ms, const MacAddress& to, const MacAddress& from,
                    std::uint16_t sequence, std::size_t dataLength)
{
    FrameHeader header;
    header.Destination = to;
    header.Source = from;
    header.Opcode = OP_BEGIN;
    header.Sequence = sequence;
    header.DataLength = static_cast<std::uint16_t>(dataLength);
    std::vector<std::uint8_t> bytes(60, 0);
    EncodeHeader(bytes, header);
    return {ms * 1000, bytes};
}

// tarvik-target --replay: the daemon's loop sends what the capture answered, when the capture
// answered it, by the platform's clock.
TEST_F(DeviceDaemonTest, ReplayedRepliesGoOutAfterTheRecordedDelay)
{
    constexpr MacAddress RECORDED_TOOL = {0x02, 0x54, 0x56, 0x00, 0x00, 0x0A};
    const std::vector<TimedFrame> capture = {
        Captured(1000, DEVICE, RECORDED_TOOL, 0x0500, 0),
        Captured(1037, RECORDED_TOOL, DEVICE, 0x0500, STATUS_BYTES),
        Captured(3000, DEVICE, RECORDED_TOOL, 0x0500, 0),  // never answered
    };
    std::string error;
    auto session = RecordedSession::FromCapture(Capture::Of(capture), {}, "--device", error);
    ASSERT_TRUE(session) << error;
    ReplayTarget device(std::move(*session));

    DeviceAdapter adapter(kernel, driver);
    ASSERT_EQ(adapter.Open("dev0"), std::nullopt);
    ASSERT_EQ(adapter.StartReception(), std::nullopt);
    segment.Inject(BeginRequest(1), 10);
    segment.Inject(BeginRequest(2), 15);
    const std::uint64_t end = kernel.Now() + 500;
    ServeDevice(kernel, adapter, device, [&] { return kernel.Now() >= end; });

    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].At, 10u + 37);
    EXPECT_EQ(sent[0].Sequence(), 1);
    EXPECT_EQ(DecodeHeader(sent[0].Bytes)->Destination, TOOL);
}

}  // namespace
}  // namespace tarvik::target

namespace tarvik::target {
namespace {

// Answers each frame with the replies it was given, for the loop's bookkeeping.
class ScriptedDevice final : public DeviceSide {
public:
    explicit ScriptedDevice(std::vector<DeviceReply> replies) : replies_(std::move(replies)) {}
    const MacAddress& Address() const override { return DEVICE; }
    std::vector<DeviceReply> HandleFrame(std::span<const std::uint8_t>) override
    {
        return replies_;
    }

private:
    std::vector<DeviceReply> replies_;
};

// The count the daemon reports at its end is of replies that went out: one the driver
// refused (longer than a segment carries) is no reply sent.
TEST_F(DeviceDaemonTest, OnlyRepliesThatWentOutAreCounted)
{
    const std::vector<std::uint8_t> fits(60, 0);
    const std::vector<std::uint8_t> tooLong(MAX_FRAME_BYTES + 1, 0);
    ScriptedDevice device({{fits, 0}, {tooLong, 0}, {fits, 20}, {tooLong, 20}});
    DeviceAdapter adapter(kernel, driver);
    ASSERT_EQ(adapter.Open("dev0"), std::nullopt);
    ASSERT_EQ(adapter.StartReception(), std::nullopt);
    segment.Inject(BeginRequest(1), 10);
    const std::uint64_t end = kernel.Now() + 500;
    EXPECT_EQ(ServeDevice(kernel, adapter, device, [&] { return kernel.Now() >= end; }), 2u);
    EXPECT_EQ(sent.size(), 2u);
}

// A reply recorded 2^31 ms or more after its request is not sent at once because a signed
// difference of tick counts took it for overdue.
TEST_F(DeviceDaemonTest, AReplyDueInMoreThanHalfTheTickRangeIsNotSentEarly)
{
    ScriptedDevice device({{std::vector<std::uint8_t>(60, 0), 0x80000007u}});
    DeviceAdapter adapter(kernel, driver);
    ASSERT_EQ(adapter.Open("dev0"), std::nullopt);
    ASSERT_EQ(adapter.StartReception(), std::nullopt);
    segment.Inject(BeginRequest(1), 10);
    const std::uint64_t end = kernel.Now() + 1000;
    EXPECT_EQ(ServeDevice(kernel, adapter, device, [&] { return kernel.Now() >= end; }), 0u);
    EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace tarvik::target
