#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <vector>

#include "netio/binding.h"
#include "platform/kernel/sim_kernel.h"
#include "segment/virtual_segment.h"
#include "support/test_station.h"

namespace tarvik {
namespace {

constexpr std::int32_t HANDLE = 5;

// The library as the binding sees it: records every call and completes reads on demand.
class FakeDriver final : public PacketDriver {
public:
    explicit FakeDriver(Kernel& kernel) : kernel_(kernel)
    {
        std::iota(answer.begin(), answer.end(), std::uint8_t{0x10});
    }

    struct Request {
        std::uint32_t type, oid, length, value;
        EventHandle event;
        std::vector<std::uint8_t> bytes;  // what the buffer held
        std::size_t sentBefore;           // frames sent before the request
    };

    std::int32_t OpenAdapter(const char*) override { return HANDLE; }
    void CloseAdapter(std::int32_t adapter) override
    {
        closed.push_back(adapter);
        posted.clear();
    }
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override
    {
        EXPECT_EQ(adapter, HANDLE);
        EXPECT_EQ(count, &slot->CountWord);
        EXPECT_EQ(request, &slot->Request);
        EXPECT_EQ(flags, 0u);
        posted.push_back(slot);
        return 0;
    }
    std::uint32_t PacketSend(std::int32_t, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t*, Overlapped* request, std::uint32_t flags) override
    {
        EXPECT_EQ(flags, 1u);
        const std::array<EventHandle, 1> event{request->Event};
        EXPECT_EQ(kernel_.WaitForAny(event, 0), WAIT_TIMEOUT) << "a fresh, reset event";
        sent.emplace_back(frame, frame + length);
        return sendResult;
    }
    std::uint32_t MakeNdisRequest(std::int32_t, RequestRecord* record, Overlapped* overlapped,
                                  std::uint32_t flags) override
    {
        EXPECT_EQ(flags, 1u);
        std::uint32_t value = 0;
        if (record->InformationBufferLength == 4) {
            std::memcpy(&value, record->InformationBuffer, 4);
        }
        const auto* bytes = static_cast<const std::uint8_t*>(record->InformationBuffer);
        requests.push_back({record->RequestType, record->Oid, record->InformationBufferLength,
                            value, overlapped->Event,
                            bytes == nullptr ? std::vector<std::uint8_t>{}
                                             : std::vector<std::uint8_t>(
                                                   bytes, bytes + record->InformationBufferLength),
                            sent.size()});
        if (failRequests || (record->Oid == OID_GEN_CURRENT_PACKET_FILTER && refuseFilter) ||
            (record->Oid == OID_TARVIK_SOURCE_ADDRESSES && refuseSources)) {
            return 1;
        }
        if (record->Oid == OID_TARVIK_SOURCE_ADDRESSES) {
            return 0;
        }
        if (record->Oid == OID_GEN_MEDIA_IN_USE) {
            std::memcpy(record->InformationBuffer, &medium, 4);
        } else if (record->Oid != OID_GEN_CURRENT_PACKET_FILTER) {
            std::memcpy(record->InformationBuffer, answer.data(), record->InformationBufferLength);
        }
        return 0;
    }

    // What the library does when a frame lands in a posted slot.
    void Complete(ReadSlot& slot, std::uint32_t length, std::uint8_t fill)
    {
        std::memset(slot.FrameData, fill, std::min<std::size_t>(length, READ_SLOT_FRAME_BYTES));
        slot.FrameLength = length;
        kernel_.SetEvent(slot.Request.Event);
    }

    std::vector<std::uint32_t> FiltersSet() const
    {
        std::vector<std::uint32_t> filters;
        for (const Request& request : requests) {
            if (request.oid == OID_GEN_CURRENT_PACKET_FILTER) {
                filters.push_back(request.value);
            }
        }
        return filters;
    }

    std::vector<ReadSlot*> posted;
    std::vector<std::int32_t> closed;
    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<Request> requests;
    std::array<std::uint8_t, 32> answer{};
    std::uint32_t medium = NDIS_MEDIUM_802_3;
    std::uint32_t sendResult = 0;
    bool failRequests = false;
    bool refuseFilter = false;
    bool refuseSources = false;

private:
    Kernel& kernel_;
};

class BindingTest : public ::testing::Test {
protected:
    void Open() { ASSERT_EQ(binding.OpenAdapter("\\Device\\lab0"), HANDLE); }
    void StartReceiving()
    {
        Open();
        ASSERT_EQ(binding.OpenRequestEvent(), 0);
        ASSERT_EQ(binding.StartReception(), 0);
    }

    SimKernel kernel;
    FakeDriver driver{kernel};
    Binding binding{kernel, driver};
    std::array<std::uint8_t, 1520> buffer{};
};

// --- reception ---

TEST_F(BindingTest, StartPostsEverySlotInOrderThenSetsDirectedThenBroadcast)
{
    StartReceiving();
    ASSERT_EQ(driver.posted.size(), READ_SLOT_COUNT);
    for (std::size_t i = 0; i < READ_SLOT_COUNT; ++i) {
        EXPECT_EQ(driver.posted[i], &binding.Slots()[i]);
        EXPECT_EQ(binding.EventTable()[i], binding.Slots()[i].Request.Event);
        EXPECT_NE(binding.EventTable()[i], NO_EVENT);
    }
    EXPECT_EQ(driver.FiltersSet(), (std::vector<std::uint32_t>{1, 9}));
    EXPECT_EQ(driver.requests.back().event, binding.RequestEvent);
    EXPECT_EQ(kernel.OpenEvents(), READ_SLOT_COUNT + 1);
}

// A device's run on a shared adapter posts fewer reads: only those are posted and waited on,
// and a slot beyond them is never handed out.
TEST_F(BindingTest, AShorterRingPostsAndWaitsOnItsOwnSlotsAlone)
{
    binding.SetReadSlotCount(8);
    StartReceiving();
    ASSERT_EQ(driver.posted.size(), 8u);
    EXPECT_EQ(kernel.OpenEvents(), 8u + 1);
    driver.posted.clear();
    driver.Complete(binding.Slots()[7], 40, 0x47);
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 40u);
    EXPECT_EQ(buffer[39], 0x47);
    EXPECT_EQ(driver.posted, (std::vector<ReadSlot*>{&binding.Slots()[7]}));
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(kernel.Now(), RECEIVE_WAIT_MS);
}

TEST_F(BindingTest, CompletedSlotsComeOutLowestFirstAndArePostedAgain)
{
    StartReceiving();
    driver.posted.clear();
    driver.Complete(binding.Slots()[7], 70, 0x77);
    driver.Complete(binding.Slots()[3], 30, 0x33);
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 30u);
    EXPECT_EQ(buffer[29], 0x33);
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 70u);
    EXPECT_EQ(buffer[69], 0x77);
    EXPECT_EQ(driver.posted, (std::vector<ReadSlot*>{&binding.Slots()[3], &binding.Slots()[7]}));
    EXPECT_EQ(kernel.Now(), 0u);
}

TEST_F(BindingTest, WaitWithNothingPendingTakesExactlyTenMilliseconds)
{
    StartReceiving();
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(kernel.Now(), RECEIVE_WAIT_MS);
}

TEST_F(BindingTest, LongDeliveryIsCutToTheCallersBuffer)
{
    StartReceiving();
    std::array<std::uint8_t, 1540> guarded{};
    driver.Complete(binding.Slots()[0], 1532, 0xAB);
    EXPECT_EQ(binding.WaitFrame(guarded.data(), 1520), 1520u);
    EXPECT_EQ(guarded[1519], 0xAB);
    EXPECT_EQ(guarded[1520], 0x00);
    // A length beyond the slot itself is never believed.
    driver.Complete(binding.Slots()[1], 4000, 0xCD);
    EXPECT_EQ(binding.WaitFrame(guarded.data(), guarded.size()), READ_SLOT_FRAME_BYTES);
    EXPECT_EQ(guarded[1532], 0x00);
}

TEST_F(BindingTest, FailedResetHandsTheFrameOverButLeavesTheSlotUnposted)
{
    StartReceiving();
    driver.posted.clear();
    driver.Complete(binding.Slots()[2], 64, 0x22);
    kernel.FailNextResetEvents(1);
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 1u);
    EXPECT_EQ(buffer[63], 0x22);
    EXPECT_TRUE(driver.posted.empty());
}

TEST_F(BindingTest, WithoutAnAdapterNeitherCallWaits)
{
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(binding.SendFrame(buffer.data(), 64), SEND_FAILED);
    EXPECT_EQ(kernel.Now(), 0u);
    EXPECT_EQ(kernel.SleepCalls(), 0u);
    EXPECT_TRUE(driver.sent.empty());
}

// --- sending ---

TEST_F(BindingTest, SuccessfulSendPausesTwentyMilliseconds)
{
    Open();
    const std::vector<std::uint8_t> frame(64, 0x5A);
    EXPECT_EQ(binding.SendFrame(frame.data(), 64), SEND_OK);
    EXPECT_EQ(driver.sent, std::vector<std::vector<std::uint8_t>>{frame});
    EXPECT_EQ(kernel.Now(), SEND_PAUSE_MS);
    EXPECT_EQ(kernel.SleepCalls(), 1u);
    EXPECT_EQ(kernel.OpenEvents(), 0u);
}

TEST_F(BindingTest, SendFailuresReturnTheirCodesWithoutPausing)
{
    Open();
    driver.sendResult = 3;
    EXPECT_EQ(binding.SendFrame(buffer.data(), 64), SEND_FAILED);
    kernel.FailNextCreateEvents(1);
    EXPECT_EQ(binding.SendFrame(buffer.data(), 64), SEND_EVENT_NOT_CREATED);
    kernel.FailNextResetEvents(1);
    EXPECT_EQ(binding.SendFrame(buffer.data(), 64), SEND_EVENT_NOT_RESET);
    EXPECT_EQ(driver.sent.size(), 1u);
    EXPECT_EQ(kernel.Now(), 0u);
    EXPECT_EQ(kernel.OpenEvents(), 0u);
}

// --- trace ---

// Keeps what the binding records, with the simulated time of each record.
class RecordedFrames final : public FrameTrace {
public:
    explicit RecordedFrames(SimKernel& kernel) : kernel_(kernel) {}
    void Record(std::span<const std::uint8_t> frame) override
    {
        frames.emplace_back(frame.begin(), frame.end());
        times.push_back(kernel_.Now());
    }
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::uint64_t> times;

private:
    SimKernel& kernel_;
};

TEST_F(BindingTest, TraceHoldsFramesThatWentOutStampedBeforeThePause)
{
    RecordedFrames trace(kernel);
    binding.SetTrace(&trace);
    Open();
    const std::vector<std::uint8_t> frame(34, 0x5A);
    ASSERT_EQ(binding.SendFrame(frame.data(), 34), SEND_OK);
    ASSERT_EQ(binding.SendFrame(frame.data(), 34), SEND_OK);
    EXPECT_EQ(trace.frames, (std::vector<std::vector<std::uint8_t>>{frame, frame}));
    EXPECT_EQ(trace.times, (std::vector<std::uint64_t>{0, SEND_PAUSE_MS}));

    // A frame the driver refused never was on the wire.
    driver.sendResult = 3;
    EXPECT_EQ(binding.SendFrame(frame.data(), 34), SEND_FAILED);
    EXPECT_EQ(trace.frames.size(), 2u);
}

TEST_F(BindingTest, TraceHoldsFramesHandedUpAsTheProtocolGetsThem)
{
    RecordedFrames trace(kernel);
    binding.SetTrace(&trace);
    StartReceiving();
    driver.Complete(binding.Slots()[4], 60, 0x44);
    driver.Complete(binding.Slots()[0], 1532, 0xAB);
    ASSERT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 1520u);
    ASSERT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 60u);
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(trace.frames,
              (std::vector<std::vector<std::uint8_t>>{std::vector<std::uint8_t>(1520, 0xAB),
                                                      std::vector<std::uint8_t>(60, 0x44)}));

    binding.SetTrace(nullptr);
    driver.Complete(binding.Slots()[1], 60, 0x11);
    ASSERT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 60u);
    EXPECT_EQ(trace.frames.size(), 2u);
}

// --- station address and medium ---

// --- the sources the driver passes up ---

class AdmittedSourcesTest : public BindingTest {
protected:
    // The buffers of the source requests made, with how many frames had gone out before each.
    std::vector<std::pair<std::vector<std::uint8_t>, std::size_t>> SourcesAsked() const
    {
        std::vector<std::pair<std::vector<std::uint8_t>, std::size_t>> asked;
        for (const FakeDriver::Request& request : driver.requests) {
            if (request.oid == OID_TARVIK_SOURCE_ADDRESSES) {
                EXPECT_EQ(request.type, NDIS_REQUEST_SET_INFORMATION);
                asked.emplace_back(request.bytes, request.sentBefore);
            }
        }
        return asked;
    }
    void SendTo(const MacAddress& destination)
    {
        std::array<std::uint8_t, 64> frame{};
        std::copy(destination.begin(), destination.end(), frame.begin());
        ASSERT_EQ(binding.SendFrame(frame.data(), frame.size()), SEND_OK);
    }

    static constexpr MacAddress DEVICE_A = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0A};
    static constexpr MacAddress DEVICE_B = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
    static constexpr MacAddress MULTICAST = {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
};

// Every source after a frame to a group (the broadcast address stands for every source);
// only the station a frame went to after that frame. Each asked once, before the frame that
// changes it; nothing before the first frame.
TEST_F(AdmittedSourcesTest, FollowWhatWasSentLastAndAreAskedBeforeTheFrameGoesOut)
{
    StartReceiving();
    EXPECT_TRUE(SourcesAsked().empty());
    SendTo(BROADCAST_ADDRESS);
    SendTo(BROADCAST_ADDRESS);
    SendTo(DEVICE_A);
    SendTo(DEVICE_A);
    SendTo(DEVICE_B);
    SendTo(MULTICAST);
    const std::vector<std::uint8_t> every(BROADCAST_ADDRESS.begin(), BROADCAST_ADDRESS.end());
    using Asked = std::vector<std::pair<std::vector<std::uint8_t>, std::size_t>>;
    EXPECT_EQ(SourcesAsked(), (Asked{{every, 0},
                                     {{DEVICE_A.begin(), DEVICE_A.end()}, 2},
                                     {{DEVICE_B.begin(), DEVICE_B.end()}, 4},
                                     {every, 5}}));
    EXPECT_EQ(binding.AdmittedSources(), std::nullopt);
}

// A driver without the request passes every source; it is asked once, and every frame still
// goes out.
TEST_F(AdmittedSourcesTest, ADriverThatRefusesIsNotAskedAgain)
{
    driver.refuseSources = true;
    StartReceiving();
    SendTo(DEVICE_A);
    SendTo(BROADCAST_ADDRESS);
    SendTo(DEVICE_B);
    EXPECT_EQ(SourcesAsked().size(), 1u);
    EXPECT_EQ(driver.sent.size(), 3u);
}

TEST_F(BindingTest, StationAddressIsTheFirstSixBytesOfTheAnswer)
{
    StartReceiving();
    std::array<std::uint8_t, 8> destination;
    destination.fill(0xEE);
    EXPECT_EQ(binding.QueryStationAddress(destination.data()), 0);
    EXPECT_EQ(destination,
              (std::array<std::uint8_t, 8>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0xEE, 0xEE}));
    const auto& request = driver.requests.back();
    EXPECT_EQ(request.type, NDIS_REQUEST_QUERY_INFORMATION);
    EXPECT_EQ(request.oid, OID_802_3_CURRENT_ADDRESS);
    EXPECT_EQ(request.length, 32u);
    EXPECT_EQ(request.event, binding.RequestEvent);

    driver.failRequests = true;
    destination.fill(0xEE);
    EXPECT_EQ(binding.QueryStationAddress(destination.data()), 2);
    EXPECT_EQ(destination[0], 0xEE);
}

TEST_F(BindingTest, TokenRingIsRefusedAndLeavesTheVerdictAlone)
{
    Open();
    driver.medium = NDIS_MEDIUM_802_5;
    EXPECT_EQ(binding.CheckMedium(), 1);
    EXPECT_FALSE(binding.MediumVerified);
    EXPECT_EQ(binding.MediumInUse, NDIS_MEDIUM_802_5);
    EXPECT_TRUE(driver.closed.empty());
    EXPECT_EQ(kernel.OpenEvents(), 0u);
    std::array<std::uint8_t, 6> address{};
    binding.QueryStationAddress(address.data());
    EXPECT_EQ(driver.requests.back().oid, OID_802_5_CURRENT_ADDRESS);
}

TEST_F(BindingTest, OnceVerifiedEveryRequestTakesThe8023Choice)
{
    Open();
    EXPECT_EQ(binding.CheckMedium(), 0);
    EXPECT_TRUE(binding.MediumVerified);
    driver.medium = NDIS_MEDIUM_802_5;
    EXPECT_EQ(binding.CheckMedium(), 1);
    EXPECT_TRUE(binding.MediumVerified);

    std::array<std::uint8_t, 6> address{};
    EXPECT_EQ(binding.QueryStationAddress(address.data()), 0);
    EXPECT_EQ(driver.requests.back().oid, OID_802_3_CURRENT_ADDRESS);
    EXPECT_EQ(binding.MediumInUse, NDIS_MEDIUM_802_3);

    binding.MediumInUse = NDIS_MEDIUM_LOCALTALK;
    EXPECT_TRUE(binding.EnablePacketFilter());
    EXPECT_EQ(driver.FiltersSet(), (std::vector<std::uint32_t>{1, 9}));
}

TEST_F(BindingTest, FilterStepsFollowTheMedium)
{
    Open();
    binding.MediumInUse = NDIS_MEDIUM_LOCALTALK;
    EXPECT_TRUE(binding.EnablePacketFilter());
    EXPECT_EQ(driver.FiltersSet(), std::vector<std::uint32_t>{9});
    binding.MediumInUse = 2;  // FDDI
    EXPECT_FALSE(binding.EnablePacketFilter());
    EXPECT_EQ(driver.requests.size(), 1u);
    binding.MediumInUse = NDIS_MEDIUM_DIX;
    driver.refuseFilter = true;
    EXPECT_FALSE(binding.EnablePacketFilter());
    EXPECT_EQ(driver.FiltersSet(), (std::vector<std::uint32_t>{9, 1}));
}

TEST_F(BindingTest, MediumCheckFailuresReportSixAndSeven)
{
    Open();
    kernel.FailNextCreateEvents(1);
    EXPECT_EQ(binding.CheckMedium(), 6);
    kernel.FailNextResetEvents(1);
    EXPECT_EQ(binding.CheckMedium(), 6);
    EXPECT_TRUE(driver.requests.empty());
    driver.failRequests = true;
    EXPECT_EQ(binding.CheckMedium(), 7);
    EXPECT_EQ(binding.MediumInUse, 0xFFFFFFFFu);
    EXPECT_EQ(kernel.OpenEvents(), 0u);
    EXPECT_EQ(binding.AdapterHandle, HANDLE);
}

// --- set-up failures ---

TEST_F(BindingTest, RequestEventNeedsAnAdapterAndClosesItWhenNoEventCanBeMade)
{
    EXPECT_EQ(binding.OpenRequestEvent(), 1);
    EXPECT_EQ(binding.StartReception(), 1);
    Open();
    kernel.FailNextCreateEvents(1);
    EXPECT_EQ(binding.OpenRequestEvent(), 2);
    EXPECT_EQ(driver.closed, std::vector<std::int32_t>{HANDLE});
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
}

TEST_F(BindingTest, SlotEventFailureClosesWhatWasMadeAndTheAdapter)
{
    Open();
    ASSERT_EQ(binding.OpenRequestEvent(), 0);
    kernel.FailNextCreateEvents(1, 10);
    EXPECT_EQ(binding.StartReception(), 3);
    EXPECT_FALSE(binding.ReceptionStarted());
    EXPECT_TRUE(driver.posted.empty());
    EXPECT_EQ(binding.RequestEvent, NO_EVENT);
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
    EXPECT_EQ(driver.closed, std::vector<std::int32_t>{HANDLE});
    EXPECT_EQ(kernel.OpenEvents(), 0u);
}

TEST_F(BindingTest, RefusedFilterClosesTheAdapterAndReleasesTheSlots)
{
    Open();
    ASSERT_EQ(binding.OpenRequestEvent(), 0);
    driver.refuseFilter = true;
    EXPECT_EQ(binding.StartReception(), 4);
    EXPECT_FALSE(binding.ReceptionStarted());
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
    EXPECT_EQ(kernel.OpenEvents(), 0u);
    EXPECT_EQ(binding.WaitFrame(buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(kernel.Now(), 0u) << "the wait on the emptied table fails at once";
}

TEST_F(BindingTest, FailedResetStopsPostingButReceptionStillStarts)
{
    Open();
    ASSERT_EQ(binding.OpenRequestEvent(), 0);
    kernel.FailNextResetEvents(1, 10);
    EXPECT_EQ(binding.StartReception(), 0);
    EXPECT_EQ(driver.posted.size(), 10u);
    EXPECT_EQ(driver.FiltersSet(), (std::vector<std::uint32_t>{1, 9}));
}

// --- tear-down ---

TEST_F(BindingTest, TearDownCallsAreSafeTwiceAndInAnyOrder)
{
    StartReceiving();
    binding.StopReception();
    EXPECT_EQ(driver.FiltersSet().back(), 0u);
    binding.CloseRequestEvent();
    binding.CloseRequestEvent();
    EXPECT_EQ(kernel.OpenEvents(), READ_SLOT_COUNT);
    binding.CloseAdapter();
    binding.CloseAdapter();
    EXPECT_EQ(driver.closed, std::vector<std::int32_t>{HANDLE});
    EXPECT_EQ(kernel.OpenEvents(), 0u);
    const std::size_t requests = driver.requests.size();
    binding.StopReception();
    EXPECT_EQ(driver.requests.size(), requests);
}

TEST(BindingTearDown, DestroyingTheBindingStopsReceptionAndClosesEverything)
{
    SimKernel kernel;
    FakeDriver driver(kernel);
    {
        Binding binding(kernel, driver);
        binding.OpenAdapter("\\Device\\lab0");
        ASSERT_EQ(binding.OpenRequestEvent(), 0);
        ASSERT_EQ(binding.StartReception(), 0);
    }
    EXPECT_EQ(driver.FiltersSet(), (std::vector<std::uint32_t>{1, 9, 0}));
    EXPECT_EQ(driver.closed, std::vector<std::int32_t>{HANDLE});
    EXPECT_EQ(kernel.OpenEvents(), 0u);
}

// --- over the virtual segment ---

TEST(BindingOnSegment, FramesGoOutAndComeBackThroughTheFilter)
{
    constexpr MacAddress OWN = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    constexpr MacAddress PEER = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x01};
    constexpr MacAddress OTHER = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x02};
    SimKernel kernel;
    VirtualSegment segment(kernel, 1);
    VirtualAdapterDriver driver(kernel, segment);
    TestStation peer(segment, PEER);
    driver.AddAdapter("\\Device\\lab0", OWN);
    Binding binding(kernel, driver);
    ASSERT_GE(binding.OpenAdapter("\\Device\\lab0"), 0);
    ASSERT_EQ(binding.OpenRequestEvent(), 0);
    ASSERT_EQ(binding.StartReception(), 0);

    std::array<std::uint8_t, 64> frame{};
    ASSERT_EQ(binding.QueryStationAddress(frame.data() + 6), 0);
    EXPECT_TRUE(std::equal(OWN.begin(), OWN.end(), frame.begin() + 6));
    std::copy(PEER.begin(), PEER.end(), frame.begin());
    ASSERT_EQ(binding.SendFrame(frame.data(), 64), SEND_OK);
    EXPECT_EQ(peer.ReceivedCount(), 1u) << "delivered during the pause after the send";

    for (const MacAddress& to : {OTHER, BROADCAST_ADDRESS, OWN}) {
        std::array<std::uint8_t, 60> reply{};
        std::copy(to.begin(), to.end(), reply.begin());
        peer.Send(reply);
    }
    std::array<std::uint8_t, 1520> received{};
    ASSERT_EQ(binding.WaitFrame(received.data(), received.size()), 60u);
    EXPECT_EQ(received[0], 0xFF);
    ASSERT_EQ(binding.WaitFrame(received.data(), received.size()), 60u);
    EXPECT_EQ(received[5], OWN[5]);
    EXPECT_EQ(binding.WaitFrame(received.data(), received.size()), 0u);
}

}  // namespace
}  // namespace tarvik
