#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "platform/host/machine.h"
#include "platform/kernel/sim_kernel.h"
#include "segment/virtual_segment.h"
#include "support/test_station.h"

namespace tarvik {
namespace {

constexpr MacAddress ADDRESS_A = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0A};
constexpr MacAddress ADDRESS_B = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr MacAddress ADDRESS_C = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0C};
constexpr MacAddress ADDRESS_PC = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

using Frames = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> MakeFrame(const MacAddress& to, const MacAddress& from, std::uint8_t tag,
                                    std::size_t length = 64)
{
    std::vector<std::uint8_t> frame(length, 0);
    std::copy(to.begin(), to.end(), frame.begin());
    std::copy(from.begin(), from.end(), frame.begin() + 6);
    frame[14] = tag;
    return frame;
}

std::vector<std::uint8_t> Tags(const TestStation& station)
{
    std::vector<std::uint8_t> tags;
    for (const auto& frame : station.Received()) {
        tags.push_back(frame[14]);
    }
    return tags;
}

class VirtualSegmentTest : public ::testing::Test {
protected:
    SimKernel kernel;
    VirtualSegment segment{kernel, 2};
    TestStation a{segment, ADDRESS_A};
    TestStation b{segment, ADDRESS_B};
    TestStation deaf{segment, ADDRESS_C, false};
};

TEST_F(VirtualSegmentTest, DirectedFrameReachesOnlyItsStationAfterTheLatency)
{
    a.Send(MakeFrame(ADDRESS_B, ADDRESS_A, 1));
    kernel.Advance(1);
    EXPECT_EQ(b.ReceivedCount(), 0u);
    kernel.Advance(1);
    EXPECT_EQ(b.Received(), Frames{MakeFrame(ADDRESS_B, ADDRESS_A, 1)});
    EXPECT_EQ(a.ReceivedCount(), 0u);
    EXPECT_EQ(deaf.ReceivedCount(), 0u);
}

TEST_F(VirtualSegmentTest, BroadcastSkipsTheSenderAndStationsThatRefuseBroadcasts)
{
    a.Send(MakeFrame(BROADCAST_ADDRESS, ADDRESS_A, 1));
    kernel.Advance(2);
    EXPECT_EQ(b.ReceivedCount(), 1u);
    EXPECT_EQ(a.ReceivedCount(), 0u);
    EXPECT_EQ(deaf.ReceivedCount(), 0u);
}

TEST_F(VirtualSegmentTest, RuntWithoutAWholeAddressIsLost)
{
    a.Send(std::vector<std::uint8_t>{0x02, 0x5A, 0x17});
    kernel.Advance(2);
    EXPECT_EQ(b.ReceivedCount() + deaf.ReceivedCount(), 0u);
}

TEST_F(VirtualSegmentTest, HookDropsDuplicatesAndReorders)
{
    segment.SetHook([&](std::span<const std::uint8_t> frame, const SegmentStation* sender) {
        EXPECT_EQ(sender, &a);
        switch (frame[14]) {
        case 1:
            return std::vector<std::uint32_t>{};
        case 2:
            return std::vector<std::uint32_t>{1, 3};
        case 3:
            return std::vector<std::uint32_t>{10};
        default:
            return std::vector<std::uint32_t>{5};
        }
    });
    for (std::uint8_t tag = 1; tag <= 4; ++tag) {
        a.Send(MakeFrame(ADDRESS_B, ADDRESS_A, tag));
    }
    kernel.Advance(10);
    EXPECT_EQ(Tags(b), (std::vector<std::uint8_t>{2, 2, 4, 3}));
    EXPECT_EQ(segment.FramesTransmitted(), 4u);
}

TEST_F(VirtualSegmentTest, ObserverSeesDroppedAndInjectedFrames)
{
    std::vector<std::pair<std::uint8_t, const SegmentStation*>> seen;
    segment.SetObserver([&](std::span<const std::uint8_t> frame, const SegmentStation* sender) {
        seen.emplace_back(frame[14], sender);
    });
    segment.SetHook([](auto, auto) { return std::vector<std::uint32_t>{}; });
    a.Send(MakeFrame(ADDRESS_B, ADDRESS_A, 1));
    segment.Inject(MakeFrame(ADDRESS_B, ADDRESS_PC, 2), 5);
    EXPECT_EQ(seen,
              (std::vector<std::pair<std::uint8_t, const SegmentStation*>>{{1, &a}, {2, nullptr}}));
    kernel.Advance(4);
    EXPECT_EQ(b.ReceivedCount(), 0u);
    kernel.Advance(1);
    EXPECT_EQ(Tags(b), std::vector<std::uint8_t>{2});
}

TEST_F(VirtualSegmentTest, ResponderAnswersFromInsideTheDelivery)
{
    b.SetResponder([](std::span<const std::uint8_t> frame, TestStation& self) {
        self.Send(MakeFrame(ADDRESS_A, ADDRESS_B, static_cast<std::uint8_t>(frame[14] + 1)));
    });
    a.Send(MakeFrame(ADDRESS_B, ADDRESS_A, 7));
    kernel.Advance(2);
    EXPECT_EQ(a.ReceivedCount(), 0u);
    kernel.Advance(2);
    EXPECT_EQ(Tags(a), std::vector<std::uint8_t>{8});
}

TEST_F(VirtualSegmentTest, DeliveryAfterDetachOrAfterTheSegmentDiedIsHarmless)
{
    auto late = std::make_unique<TestStation>(segment, ADDRESS_PC);
    a.Send(MakeFrame(ADDRESS_PC, ADDRESS_A, 1));
    late.reset();
    kernel.Advance(2);

    auto gone = std::make_unique<VirtualSegment>(kernel, 3);
    gone->Inject(MakeFrame(BROADCAST_ADDRESS, ADDRESS_PC, 1));
    gone.reset();
    kernel.Advance(5);
    EXPECT_EQ(kernel.PendingActions(), 0u);
}

// The packet-driver library on the segment, seen through its five calls.
class VirtualAdapterDriverTest : public ::testing::Test {
protected:
    static constexpr const char* NAME = "\\Device\\lab0";

    VirtualAdapterDriverTest()
    {
        driver.AddAdapter(NAME, ADDRESS_PC);
        driver.AddAdapter("\\Device\\ring0", ADDRESS_C, NDIS_MEDIUM_802_5);
        adapter = driver.OpenAdapter(NAME);
    }

    std::uint32_t Request(std::uint32_t type, std::uint32_t oid, void* buffer, std::uint32_t length,
                          std::int32_t handle)
    {
        RequestRecord record = NdisRequest(type, oid, buffer, length);
        Overlapped overlapped{};
        return driver.MakeNdisRequest(handle, &record, &overlapped, 1);
    }
    std::uint32_t SetFilter(std::uint32_t filter)
    {
        return Request(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER, &filter, 4,
                       adapter);
    }
    struct Read {
        ReadSlot slot{};
        std::uint32_t count = 0;
        Overlapped request{};
    };
    std::unique_ptr<Read> Post(std::int32_t handle)
    {
        auto read = std::make_unique<Read>();
        read->request.Event = kernel.CreateEvent();
        driver.PacketRead(handle, &read->slot, &read->count, &read->request, 0);
        return read;
    }
    bool Completed(const Read& read)
    {
        const std::array<EventHandle, 1> events{read.request.Event};
        return kernel.WaitForAny(events, 0) == 0;
    }

    SimKernel kernel;
    VirtualSegment segment{kernel, 1};
    VirtualAdapterDriver driver{kernel, segment};
    TestStation peer{segment, ADDRESS_B};
    std::int32_t adapter = INVALID_ADAPTER;
};

TEST_F(VirtualAdapterDriverTest, OpensOnlyKnownNamesAndNotWhenTold)
{
    EXPECT_GE(adapter, 0);
    EXPECT_EQ(driver.OpenAdapter("\\Device\\eth9"), INVALID_ADAPTER);
    driver.FailOpens(true);
    EXPECT_EQ(driver.OpenAdapter(NAME), INVALID_ADAPTER);
}

TEST_F(VirtualAdapterDriverTest, PacketFilterDecidesWhatReachesTheAdapter)
{
    const auto directed = MakeFrame(ADDRESS_PC, ADDRESS_B, 1);
    const auto broadcast = MakeFrame(BROADCAST_ADDRESS, ADDRESS_B, 2);
    auto read = Post(adapter);
    peer.Send(directed);
    peer.Send(broadcast);
    kernel.Advance(1);
    EXPECT_FALSE(Completed(*read)) << "a fresh adapter takes nothing";

    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED), 0u);
    peer.Send(broadcast);
    peer.Send(directed);
    kernel.Advance(1);
    ASSERT_TRUE(Completed(*read));
    EXPECT_EQ(read->slot.FrameData[14], 1);

    ASSERT_EQ(SetFilter(9), 0u);
    EXPECT_EQ(driver.PacketFilter(adapter), 9u);
    read = Post(adapter);
    peer.Send(broadcast);
    kernel.Advance(1);
    ASSERT_TRUE(Completed(*read));
    EXPECT_EQ(read->slot.FrameData[14], 2);

    ASSERT_EQ(SetFilter(0), 0u);
    read = Post(adapter);
    peer.Send(directed);
    kernel.Advance(1);
    EXPECT_FALSE(Completed(*read));
}

TEST_F(VirtualAdapterDriverTest, PostedReadsCompleteInPostingOrder)
{
    SetFilter(9);
    auto first = Post(adapter);
    auto second = Post(adapter);
    peer.Send(MakeFrame(ADDRESS_PC, ADDRESS_B, 1, 60));
    peer.Send(MakeFrame(ADDRESS_PC, ADDRESS_B, 2, 100));
    kernel.Advance(1);
    ASSERT_TRUE(Completed(*first) && Completed(*second));
    EXPECT_EQ(first->slot.FrameLength, 60u);
    EXPECT_EQ(first->slot.FrameData[14], 1);
    EXPECT_EQ(second->slot.FrameLength, 100u);
    EXPECT_EQ(second->slot.FrameData[14], 2);
}

TEST_F(VirtualAdapterDriverTest, FramesWithNoReadPostedWaitForTheNextReads)
{
    SetFilter(9);
    for (std::uint8_t tag = 1; tag <= 3; ++tag) {
        peer.Send(MakeFrame(ADDRESS_PC, ADDRESS_B, tag));
    }
    kernel.Advance(1);
    for (std::uint8_t tag = 1; tag <= 3; ++tag) {
        auto read = Post(adapter);
        ASSERT_TRUE(Completed(*read));
        EXPECT_EQ(read->slot.FrameData[14], tag);
    }
    EXPECT_FALSE(Completed(*Post(adapter)));
}

TEST_F(VirtualAdapterDriverTest, OversizedForeignFrameIsCutToTheSlot)
{
    SetFilter(9);
    auto read = Post(adapter);
    segment.Inject(MakeFrame(ADDRESS_PC, ADDRESS_B, 1, 1600));
    kernel.Advance(0);
    ASSERT_TRUE(Completed(*read));
    EXPECT_EQ(read->slot.FrameLength, READ_SLOT_FRAME_BYTES);
    EXPECT_EQ(read->count, READ_SLOT_FRAME_BYTES) << "the count is written as every driver does";
}

TEST_F(VirtualAdapterDriverTest, SendPutsTheFrameOnTheWireWithinEthernetLimits)
{
    const auto frame = MakeFrame(ADDRESS_B, ADDRESS_PC, 5);
    std::uint32_t count = 0;
    Overlapped request{};
    EXPECT_EQ(driver.PacketSend(adapter, frame.data(), 64, &count, &request, 1), 0u);
    const std::vector<std::uint8_t> big(1515, 0);
    EXPECT_NE(driver.PacketSend(adapter, big.data(), 1515, &count, &request, 1), 0u);
    EXPECT_EQ(driver.PacketSend(adapter, big.data(), 1514, &count, &request, 1), 0u);
    EXPECT_NE(driver.PacketSend(adapter, frame.data(), 0, &count, &request, 1), 0u);
    EXPECT_NE(driver.PacketSend(adapter + 7, frame.data(), 64, &count, &request, 1), 0u);
    driver.FailSends(true);
    EXPECT_NE(driver.PacketSend(adapter, frame.data(), 64, &count, &request, 1), 0u);
    kernel.Advance(1);
    EXPECT_EQ(peer.Received(), Frames{frame});
    EXPECT_EQ(driver.FramesSent(), 2u);
}

TEST_F(VirtualAdapterDriverTest, RequestsAnswerMediumAndAddress)
{
    std::uint32_t medium = 0xFFFFFFFF;
    EXPECT_EQ(Request(NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &medium, 4, adapter),
              0u);
    EXPECT_EQ(medium, NDIS_MEDIUM_802_3);
    const std::int32_t ring = driver.OpenAdapter("\\Device\\ring0");
    EXPECT_EQ(Request(NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &medium, 4, ring), 0u);
    EXPECT_EQ(medium, NDIS_MEDIUM_802_5);

    std::array<std::uint8_t, 32> answer;
    answer.fill(0xEE);
    EXPECT_EQ(Request(NDIS_REQUEST_QUERY_INFORMATION, OID_802_3_CURRENT_ADDRESS, answer.data(), 32,
                      adapter),
              0u);
    EXPECT_TRUE(std::equal(ADDRESS_PC.begin(), ADDRESS_PC.end(), answer.begin()));
    EXPECT_EQ(answer[6], 0xEE);
    EXPECT_NE(Request(NDIS_REQUEST_QUERY_INFORMATION, OID_802_3_CURRENT_ADDRESS, answer.data(), 5,
                      adapter),
              0u);
    EXPECT_NE(Request(NDIS_REQUEST_QUERY_INFORMATION, OID_FDDI_LONG_CURRENT_ADDR, answer.data(), 32,
                      adapter),
              0u);
    driver.FailRequests(true);
    EXPECT_NE(Request(NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &medium, 4, adapter),
              0u);
}

TEST_F(VirtualAdapterDriverTest, CloseAbandonsPostedReads)
{
    SetFilter(9);
    auto read = Post(adapter);
    driver.CloseAdapter(adapter);
    peer.Send(MakeFrame(ADDRESS_PC, ADDRESS_B, 1));
    kernel.Advance(1);
    EXPECT_FALSE(Completed(*read));
    EXPECT_EQ(read->slot.FrameLength, 0u);
    std::uint32_t filter = 9;
    EXPECT_NE(Request(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER, &filter, 4,
                      adapter),
              0u);
}

// Real time: the timer thread delivers and the peer answers from inside that delivery while
// this thread waits on the read's event. Only the outcome is checked, never a duration.
TEST(VirtualSegmentRealTime, ReplyFromTheTimerThreadCompletesAPostedRead)
{
    const std::unique_ptr<Machine> machine = OpenMachine();
    Kernel& kernel = machine->Clock();
    VirtualSegment segment(kernel, 0);
    VirtualAdapterDriver driver(kernel, segment);
    TestStation peer(segment, ADDRESS_B);
    peer.SetResponder([](std::span<const std::uint8_t>, TestStation& self) {
        self.Send(MakeFrame(ADDRESS_PC, ADDRESS_B, 2));
    });
    driver.AddAdapter("\\Device\\lab0", ADDRESS_PC);
    const std::int32_t adapter = driver.OpenAdapter("\\Device\\lab0");
    std::uint32_t filter = NDIS_PACKET_TYPE_DIRECTED;
    RequestRecord record =
        NdisRequest(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER, &filter, 4);
    Overlapped overlapped{};
    ASSERT_EQ(driver.MakeNdisRequest(adapter, &record, &overlapped, 1), 0u);

    ReadSlot slot{};
    std::uint32_t count = 0;
    Overlapped request{};
    request.Event = kernel.CreateEvent();
    driver.PacketRead(adapter, &slot, &count, &request, 0);
    const auto frame = MakeFrame(ADDRESS_B, ADDRESS_PC, 1);
    ASSERT_EQ(driver.PacketSend(adapter, frame.data(), 64, &count, &overlapped, 1), 0u);
    const std::array<EventHandle, 1> events{request.Event};
    ASSERT_EQ(kernel.WaitForAny(events, 60000), 0u);
    EXPECT_EQ(slot.FrameData[14], 2);
    driver.CloseAdapter(adapter);
}

}  // namespace
}  // namespace tarvik
