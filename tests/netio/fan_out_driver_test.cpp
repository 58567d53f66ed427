// One adapter shared by several bindings on the virtual segment in simulated time: each frame
// reaches the binding of the device that sent it, frames from anyone else the browsing one,
// and the adapter underneath is opened once and closed with the last binding.

#include "netio/fan_out_driver.h"

#include <gtest/gtest.h>

#include <vector>

#include "netio/adapter_discovery.h"
#include "netio/binding.h"
#include "platform/kernel/sim_kernel.h"
#include "segment/virtual_segment.h"
#include "support/test_station.h"

namespace tarvik {
namespace {

constexpr char ADAPTER[] = "\\Device\\eth0";
constexpr MacAddress TOOL = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr MacAddress DEVICE_A = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0A};
constexpr MacAddress DEVICE_B = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr MacAddress STRANGER = {0x02, 0x99, 0x00, 0x00, 0x00, 0x01};

std::vector<std::uint8_t> FrameFrom(const MacAddress& source, std::uint8_t mark)
{
    std::vector<std::uint8_t> frame(60, mark);
    std::copy(TOOL.begin(), TOOL.end(), frame.begin());
    std::copy(source.begin(), source.end(), frame.begin() + 6);
    return frame;
}

class FanOutDriverTest : public ::testing::Test {
protected:
    FanOutDriverTest() : segment(kernel), driver(kernel, segment), fanOut(kernel, driver)
    {
        driver.AddAdapter(ADAPTER, TOOL);
    }

    // The marks of the frames the binding can take now.
    std::vector<std::uint8_t> Marks(Binding& binding)
    {
        std::vector<std::uint8_t> marks;
        std::uint8_t frame[READ_SLOT_FRAME_BYTES];
        while (binding.WaitFrame(frame, sizeof frame) > 0) {
            marks.push_back(frame[20]);
        }
        return marks;
    }

    // Lets each station send while the fan-out's pump runs.
    void Deliver(std::vector<std::pair<TestStation*, std::vector<std::uint8_t>>> sends)
    {
        const std::function<void()> send = [&] {
            for (auto& [station, frame] : sends) {
                station->Send(frame);
                kernel.Sleep(1);
            }
            kernel.Sleep(20);
        };
        fanOut.RunAll(std::span(&send, 1), 0);
    }

    SimKernel kernel;
    VirtualSegment segment;
    VirtualAdapterDriver driver;
    FanOutDriver fanOut;
};

TEST_F(FanOutDriverTest, EachFrameReachesTheBindingOfTheDeviceThatSentIt)
{
    Binding browsing(kernel, fanOut);
    Binding forA(kernel, fanOut.ForDevice(DEVICE_A));
    Binding forB(kernel, fanOut.ForDevice(DEVICE_B));
    ASSERT_EQ(OpenListedAdapter(browsing, ADAPTER), DISCOVERY_OK);
    ASSERT_EQ(OpenListedAdapter(forA, ADAPTER), DISCOVERY_OK);
    ASSERT_EQ(OpenListedAdapter(forB, ADAPTER), DISCOVERY_OK);
    TestStation a(segment, DEVICE_A);
    TestStation b(segment, DEVICE_B);
    TestStation stranger(segment, STRANGER);

    Deliver({{&a, FrameFrom(DEVICE_A, 1)},
             {&b, FrameFrom(DEVICE_B, 2)},
             {&stranger, FrameFrom(STRANGER, 3)},
             {&a, FrameFrom(DEVICE_A, 4)}});
    EXPECT_EQ(Marks(forA), (std::vector<std::uint8_t>{1, 4})) << "in the order they came";
    EXPECT_EQ(Marks(forB), (std::vector<std::uint8_t>{2}));
    EXPECT_EQ(Marks(browsing), (std::vector<std::uint8_t>{3}));
}

TEST_F(FanOutDriverTest, FramesWaitForAReadAndAStoppedBindingGetsNone)
{
    Binding forA(kernel, fanOut.ForDevice(DEVICE_A));
    Binding forB(kernel, fanOut.ForDevice(DEVICE_B));
    ASSERT_EQ(OpenListedAdapter(forA, ADAPTER), DISCOVERY_OK);
    ASSERT_EQ(OpenListedAdapter(forB, ADAPTER), DISCOVERY_OK);
    forB.StopReception();
    TestStation a(segment, DEVICE_A);
    TestStation b(segment, DEVICE_B);
    std::vector<std::pair<TestStation*, std::vector<std::uint8_t>>> burst;
    for (std::uint8_t i = 0; i < READ_SLOT_COUNT + 6; ++i) {
        burst.emplace_back(&a, FrameFrom(DEVICE_A, i));
    }
    burst.emplace_back(&b, FrameFrom(DEVICE_B, 99));
    Deliver(burst);
    EXPECT_EQ(fanOut.PendingFrames(), 6u) << "beyond the posted reads, frames are held";
    // Sent after B stopped: the adapter underneath still lets in what A's binding takes.
    EXPECT_EQ(Marks(forA).size(), READ_SLOT_COUNT + 6);
    EXPECT_TRUE(Marks(forB).empty());
}

TEST_F(FanOutDriverTest, TheAdapterUnderneathIsOpenedOnceAndClosedWithTheLastBinding)
{
    const std::size_t eventsBefore = kernel.OpenEvents();
    {
        auto first = std::make_unique<Binding>(kernel, fanOut.ForDevice(DEVICE_A));
        ASSERT_EQ(OpenListedAdapter(*first, ADAPTER), DISCOVERY_OK);
        Binding second(kernel, fanOut.ForDevice(DEVICE_B));
        EXPECT_EQ(second.OpenAdapter("\\Device\\eth1"), INVALID_ADAPTER)
            << "another adapter cannot share this one";
        ASSERT_EQ(OpenListedAdapter(second, ADAPTER), DISCOVERY_OK);
        EXPECT_EQ(fanOut.SharedAdapterName(), ADAPTER);
        first.reset();
        EXPECT_EQ(fanOut.SharedAdapterName(), ADAPTER) << "closed under a binding still open";
    }
    EXPECT_EQ(fanOut.SharedAdapterName(), "");
    EXPECT_EQ(kernel.OpenEvents(), eventsBefore);
}

// Counts the packet filters set on the driver underneath.
class FilterCountingDriver final : public ForwardingPacketDriver {
public:
    using ForwardingPacketDriver::ForwardingPacketDriver;
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override
    {
        if (request->Oid == OID_GEN_CURRENT_PACKET_FILTER &&
            request->RequestType == NDIS_REQUEST_SET_INFORMATION) {
            ++FiltersSet;
        }
        return Inner().MakeNdisRequest(adapter, request, overlapped, flags);
    }
    int FiltersSet = 0;
};

// Takes the request for the sources itself, as the libpcap driver does, and notes each.
class SourceRecordingDriver final : public ForwardingPacketDriver {
public:
    using ForwardingPacketDriver::ForwardingPacketDriver;
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override
    {
        if (request->Oid != OID_TARVIK_SOURCE_ADDRESSES) {
            return Inner().MakeNdisRequest(adapter, request, overlapped, flags);
        }
        SourceAddresses sources;
        EXPECT_TRUE(ReadSourceAddresses(*request, sources));
        Asked.push_back(sources);
        return DRIVER_OK;
    }
    std::vector<SourceAddresses> Asked;
};

// The adapter underneath passes the devices of the runs that receive, nothing for a browsing
// binding that has sent nothing, and every source while it asks for every source; it is
// asked only when that changes.
TEST_F(FanOutDriverTest, TheSharedAdapterPassesTheSourcesItsRunsTalkTo)
{
    SourceRecordingDriver recording(driver);
    FanOutDriver shared(kernel, recording);
    Binding browsing(kernel, shared);
    ASSERT_EQ(OpenListedAdapter(browsing, ADAPTER), DISCOVERY_OK);
    Binding forA(kernel, shared.ForDevice(DEVICE_A));
    Binding forB(kernel, shared.ForDevice(DEVICE_B));
    ASSERT_EQ(OpenListedAdapter(forA, ADAPTER), DISCOVERY_OK);
    ASSERT_EQ(OpenListedAdapter(forB, ADAPTER), DISCOVERY_OK);
    const std::vector<std::uint8_t> toA = FrameFrom(TOOL, 1);
    std::vector<std::uint8_t> request = toA;
    std::copy(DEVICE_A.begin(), DEVICE_A.end(), request.begin());
    ASSERT_EQ(forA.SendFrame(request.data(), static_cast<std::uint32_t>(request.size())), SEND_OK);
    std::vector<std::uint8_t> probe = toA;
    std::copy(BROADCAST_ADDRESS.begin(), BROADCAST_ADDRESS.end(), probe.begin());
    ASSERT_EQ(browsing.SendFrame(probe.data(), static_cast<std::uint32_t>(probe.size())), SEND_OK);
    std::copy(DEVICE_B.begin(), DEVICE_B.end(), request.begin());
    ASSERT_EQ(browsing.SendFrame(request.data(), static_cast<std::uint32_t>(request.size())),
              SEND_OK);
    using Devices = std::vector<MacAddress>;
    EXPECT_EQ(recording.Asked, (std::vector<SourceAddresses>{
                                   Devices{}, Devices{DEVICE_A}, Devices{DEVICE_A, DEVICE_B},
                                   std::nullopt, Devices{DEVICE_A, DEVICE_B}}));
}

// A batch browses, then names its devices: from then on the shared adapter passes those
// devices, and is asked nothing more as the runs start and end (a new program costs the runs
// under way their queued replies); once the batch is over, the browsing binding's say counts
// again.
TEST_F(FanOutDriverTest, ExpectedDevicesPassWithoutReprogrammingAsRunsComeAndGo)
{
    SourceRecordingDriver recording(driver);
    FanOutDriver shared(kernel, recording);
    Binding browsing(kernel, shared);
    ASSERT_EQ(OpenListedAdapter(browsing, ADAPTER), DISCOVERY_OK);
    std::vector<std::uint8_t> frame = FrameFrom(TOOL, 1);
    const auto sendTo = [&frame](Binding& binding, const MacAddress& destination) {
        std::copy(destination.begin(), destination.end(), frame.begin());
        return binding.SendFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
    };
    ASSERT_EQ(sendTo(browsing, BROADCAST_ADDRESS), SEND_OK);
    const std::vector<MacAddress> devices = {DEVICE_B, DEVICE_A};
    shared.ExpectDevices(devices);
    {
        Binding forA(kernel, shared.ForDevice(DEVICE_A));
        ASSERT_EQ(OpenListedAdapter(forA, ADAPTER), DISCOVERY_OK);
        ASSERT_EQ(sendTo(forA, DEVICE_A), SEND_OK);
        Binding forB(kernel, shared.ForDevice(DEVICE_B));
        ASSERT_EQ(OpenListedAdapter(forB, ADAPTER), DISCOVERY_OK);
        ASSERT_EQ(sendTo(forB, DEVICE_B), SEND_OK);
    }
    using Devices = std::vector<MacAddress>;
    EXPECT_EQ(recording.Asked,
              (std::vector<SourceAddresses>{Devices{}, std::nullopt, Devices{DEVICE_A, DEVICE_B}}));
    shared.ExpectDevices({});
    EXPECT_EQ(recording.Asked.back(), SourceAddresses{std::nullopt});
}

TEST_F(FanOutDriverTest, BindingsThatStartLaterLeaveTheSharedFilterAlone)
{
    // libpcap empties the capture's queue whenever a filter is installed: every binding that
    // set the shared filter again would throw away replies waiting for the others.
    FilterCountingDriver counting(driver);
    FanOutDriver shared(kernel, counting);
    Binding browsing(kernel, shared);
    ASSERT_EQ(OpenListedAdapter(browsing, ADAPTER), DISCOVERY_OK);
    const int afterFirst = counting.FiltersSet;
    Binding first(kernel, shared.ForDevice(DEVICE_A));
    Binding second(kernel, shared.ForDevice(DEVICE_B));
    ASSERT_EQ(OpenListedAdapter(first, ADAPTER), DISCOVERY_OK);
    ASSERT_EQ(OpenListedAdapter(second, ADAPTER), DISCOVERY_OK);
    EXPECT_EQ(counting.FiltersSet, afterFirst);
}

// A station probes while runs are under way: the shared adapter passes every source from the
// start, and neither runs coming and going nor the probing binding's requests reprogram it.
TEST_F(FanOutDriverTest, AStationsSharedAdapterPassesEverySourceAndIsNeverReprogrammed)
{
    SourceRecordingDriver recording(driver);
    FanOutDriver shared(kernel, recording);
    shared.PassEverySource();
    Binding probing(kernel, shared);
    ASSERT_EQ(OpenListedAdapter(probing, ADAPTER), DISCOVERY_OK);
    for (const MacAddress& device : {DEVICE_A, DEVICE_B}) {
        Binding run(kernel, shared.ForDevice(device));
        ASSERT_EQ(OpenListedAdapter(run, ADAPTER), DISCOVERY_OK);
        std::vector<std::uint8_t> request = FrameFrom(TOOL, 1);
        std::copy(device.begin(), device.end(), request.begin());
        ASSERT_EQ(run.SendFrame(request.data(), static_cast<std::uint32_t>(request.size())),
                  SEND_OK);
    }
    for (const SourceAddresses& asked : recording.Asked) {
        EXPECT_EQ(asked, SourceAddresses{std::nullopt});
    }
}

// The information a run asks its device for is what a probe asks everyone: the device's
// answer goes to the run while the run waits for one, and any other answer from it to the
// probing binding, so a probe's answers never reach a run in the middle of its transfer.
TEST_F(FanOutDriverTest, AnAnswerGoesToTheRunThatAskedAndOtherwiseToTheProbe)
{
    constexpr std::uint8_t QUESTION = 0x51;
    constexpr std::uint8_t ANSWER = 0x41;
    // Of the kind in byte 15: an answer of another kind is no answer to the run's question.
    const auto kind = [](std::span<const std::uint8_t> frame, std::uint8_t what) {
        return frame[14] == what ? SharedQuestion::Kind{frame[15]} : std::nullopt;
    };
    fanOut.RouteSharedAnswers(
        {[&](std::span<const std::uint8_t> frame) { return kind(frame, QUESTION); },
         [&](std::span<const std::uint8_t> frame) { return kind(frame, ANSWER); }});
    Binding probing(kernel, fanOut);
    Binding forA(kernel, fanOut.ForDevice(DEVICE_A));
    ASSERT_EQ(OpenListedAdapter(probing, ADAPTER), DISCOVERY_OK);
    ASSERT_EQ(OpenListedAdapter(forA, ADAPTER), DISCOVERY_OK);
    TestStation a(segment, DEVICE_A);
    const auto from = [](std::uint8_t what, std::uint8_t ofKind, std::uint8_t mark) {
        std::vector<std::uint8_t> frame = FrameFrom(DEVICE_A, mark);
        frame[14] = what;
        frame[15] = ofKind;
        return frame;
    };
    std::vector<std::uint8_t> question = FrameFrom(TOOL, 0);
    std::copy(DEVICE_A.begin(), DEVICE_A.end(), question.begin());
    question[14] = QUESTION;
    question[15] = 7;

    // Before A's run asks, its answer is a probe's; the run asks, and the next answer of its
    // kind is its own.
    Deliver({{&a, from(ANSWER, 7, 1)}, {&a, from(0x02, 7, 2)}});
    ASSERT_EQ(forA.SendFrame(question.data(), static_cast<std::uint32_t>(question.size())),
              SEND_OK);
    Deliver({{&a, from(ANSWER, 8, 3)},
             {&a, from(ANSWER, 7, 4)},
             {&a, from(ANSWER, 7, 5)},
             {&a, from(0x02, 7, 6)}});
    EXPECT_EQ(Marks(forA), (std::vector<std::uint8_t>{2, 4, 6}));
    EXPECT_EQ(Marks(probing), (std::vector<std::uint8_t>{1, 3, 5}));
}

}  // namespace
}  // namespace tarvik
