// The libpcap packet driver without a network: names it refuses, calls on handles it never
// gave out, (with the privilege to capture) requests it must refuse on the loopback
// interface, and its frame path over a capture that a socket pair stands in for. Frames on a
// real link are covered by the end-to-end tests.

#include "platform/capture/pcap_driver.h"

#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/real_kernel.h"

namespace tarvik {
namespace {

class PcapDriverTest : public ::testing::Test {
protected:
    RealKernel kernel;
    PcapPacketDriver driver{kernel};

    std::uint32_t Request(std::int32_t adapter, std::uint32_t type, std::uint32_t oid, void* buffer,
                          std::uint32_t length)
    {
        RequestRecord request = NdisRequest(type, oid, buffer, length);
        Overlapped overlapped;
        return driver.MakeNdisRequest(adapter, &request, &overlapped, 1);
    }

    std::uint32_t SetFilter(std::int32_t adapter, std::uint32_t filter)
    {
        return Request(adapter, NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER,
                       &filter, sizeof filter);
    }

    // The loopback interface, or INVALID_ADAPTER where this process may not capture.
    std::int32_t OpenLoopback() { return driver.OpenAdapter("\\Device\\lo"); }
};

TEST_F(PcapDriverTest, AdapterNamesNameOneInterfaceAfterTheDevicePrefix)
{
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\eth0"), "eth0");
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\enp3s0f1"), "enp3s0f1");
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\abcdefghijklmno"), "abcdefghijklmno");

    EXPECT_EQ(InterfaceOfAdapterName(nullptr), "");
    EXPECT_EQ(InterfaceOfAdapterName("eth0"), "");
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\"), "");
    EXPECT_EQ(InterfaceOfAdapterName("\\DEVICE\\eth0"), "");
    EXPECT_EQ(InterfaceOfAdapterName("Device\\eth0"), "");
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\abcdefghijklmnop"), "");  // longer than IFNAMSIZ
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\a/b"), "");
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\..\\eth0"), "");
    EXPECT_EQ(InterfaceOfAdapterName("\\Device\\eth 0"), "");
}

TEST_F(PcapDriverTest, PacketFiltersCompileToProgramsForTheStationAddress)
{
    const MacAddress station = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
    EXPECT_EQ(PacketFilterProgram(0, station), "less 1");
    EXPECT_EQ(PacketFilterProgram(0, std::nullopt), "less 1");
    EXPECT_EQ(PacketFilterProgram(NDIS_PACKET_TYPE_DIRECTED, station),
              "ether dst 02:5a:17:00:00:0b");
    EXPECT_EQ(PacketFilterProgram(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST, station),
              "ether dst 02:5a:17:00:00:0b or ether broadcast");

    // With an admission, only frames that can be the program's pass: of its types, and long
    // enough for its header (bytes 12-13 as BPF reads them, high byte first).
    const FrameAdmission protocol{{0x0000, 0x8888}, 24};
    EXPECT_EQ(PacketFilterProgram(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST, station,
                                  protocol),
              "(ether dst 02:5a:17:00:00:0b or ether broadcast) and (ether[12:2] = 0x0000 or "
              "ether[12:2] = 0x8888) and greater 24");
    EXPECT_EQ(PacketFilterProgram(0, station, protocol), "less 1");

    // Without an address there is nothing to direct frames to; what NDIS has beyond these
    // (broadcast alone, multicast, promiscuous) is not offered.
    EXPECT_EQ(PacketFilterProgram(NDIS_PACKET_TYPE_DIRECTED, std::nullopt), std::nullopt);
    EXPECT_EQ(PacketFilterProgram(NDIS_PACKET_TYPE_BROADCAST, station), std::nullopt);
    EXPECT_EQ(PacketFilterProgram(0x20, station), std::nullopt);
    EXPECT_EQ(PacketFilterProgram(0xFFFFFFFF, station), std::nullopt);
}

TEST_F(PcapDriverTest, OpeningAnythingButAnExistingInterfaceFails)
{
    EXPECT_EQ(driver.OpenAdapter(nullptr), INVALID_ADAPTER);
    EXPECT_EQ(driver.OpenAdapter(""), INVALID_ADAPTER);
    EXPECT_EQ(driver.OpenAdapter("eth0"), INVALID_ADAPTER);
    EXPECT_EQ(driver.OpenAdapter("\\Device\\"), INVALID_ADAPTER);
    EXPECT_EQ(driver.OpenAdapter("\\Device\\tvk-no-such0"), INVALID_ADAPTER);
}

TEST_F(PcapDriverTest, CallsOnHandlesNeverGivenOutFailWithoutTouchingTheirRecords)
{
    ReadSlot slot{};
    slot.Request.Event = kernel.CreateEvent();
    std::uint32_t count = 0;
    for (const std::int32_t handle : {INVALID_ADAPTER, 0, 1, 4711}) {
        SCOPED_TRACE(handle);
        EXPECT_NE(driver.PacketRead(handle, &slot, &slot.CountWord, &slot.Request, 0), 0u);

        const std::uint8_t frame[60] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        EXPECT_NE(driver.PacketSend(handle, frame, sizeof frame, &count, nullptr, 1), 0u);

        std::uint8_t address[32];
        std::memset(address, 0xAA, sizeof address);
        EXPECT_NE(Request(handle, NDIS_REQUEST_QUERY_INFORMATION, OID_802_3_CURRENT_ADDRESS,
                          address, sizeof address),
                  0u);
        EXPECT_EQ(address[0], 0xAA);
        EXPECT_NE(SetFilter(handle, 9), 0u);

        driver.CloseAdapter(handle);
    }
    EXPECT_EQ(slot.FrameLength, 0u);
    EXPECT_EQ(count, 0u);
    const EventHandle events[] = {slot.Request.Event};
    EXPECT_EQ(kernel.WaitForAny(events, 0), WAIT_TIMEOUT);
    kernel.CloseHandle(slot.Request.Event);
}

TEST_F(PcapDriverTest, LoopbackRefusesWhatNoAdapterCanDo)
{
    const std::int32_t adapter = OpenLoopback();
    if (adapter == INVALID_ADAPTER) {
        GTEST_SKIP() << "cannot capture on lo here (needs CAP_NET_RAW)";
    }
    std::uint32_t medium = 0xFFFFFFFF;
    EXPECT_EQ(Request(adapter, NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &medium,
                      sizeof medium),
              0u);
    EXPECT_EQ(medium, NDIS_MEDIUM_802_3);
    std::uint16_t tooShort = 0;
    EXPECT_NE(Request(adapter, NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &tooShort,
                      sizeof tooShort),
              0u);

    EXPECT_EQ(SetFilter(adapter, 0), 0u);
    EXPECT_NE(SetFilter(adapter, 2), 0u);
    EXPECT_NE(SetFilter(adapter, 8), 0u);
    EXPECT_NE(SetFilter(adapter, 0xFFFFFFFF), 0u);
    std::uint32_t filter = 9;
    EXPECT_NE(Request(adapter, NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER,
                      &filter, sizeof filter),
              0u);
    EXPECT_NE(Request(adapter, NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER, nullptr,
                      4),
              0u);
    std::uint8_t address[32] = {};
    EXPECT_NE(Request(adapter, NDIS_REQUEST_QUERY_INFORMATION, OID_802_5_CURRENT_ADDRESS, address,
                      sizeof address),
              0u);
    EXPECT_NE(Request(adapter, NDIS_REQUEST_QUERY_INFORMATION, OID_802_3_CURRENT_ADDRESS, address,
                      5),
              0u);
    EXPECT_NE(driver.MakeNdisRequest(adapter, nullptr, nullptr, 1), 0u);

    const std::uint8_t frame[MAX_FRAME_BYTES + 1] = {};
    std::uint32_t count = 0;
    EXPECT_NE(driver.PacketSend(adapter, frame, 0, &count, nullptr, 1), 0u);
    EXPECT_NE(driver.PacketSend(adapter, frame, MAX_FRAME_BYTES + 1, &count, nullptr, 1), 0u);
    EXPECT_NE(driver.PacketSend(adapter, nullptr, 60, &count, nullptr, 1), 0u);
    EXPECT_NE(driver.PacketRead(adapter, nullptr, nullptr, nullptr, 0), 0u);

    driver.CloseAdapter(adapter);
    EXPECT_NE(SetFilter(adapter, 0), 0u);
    driver.CloseAdapter(adapter);
}

TEST_F(PcapDriverTest, AStationAddressOfItsOwnIsReportedAndFilteredFor)
{
    const MacAddress own = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x05};
    PcapPacketDriver emulating(kernel, own);
    const std::int32_t adapter = emulating.OpenAdapter("\\Device\\lo");
    if (adapter == INVALID_ADAPTER) {
        GTEST_SKIP() << "cannot capture on lo here (needs CAP_NET_RAW)";
    }
    std::uint8_t address[6] = {};
    RequestRecord query = NdisRequest(NDIS_REQUEST_QUERY_INFORMATION, OID_802_3_CURRENT_ADDRESS,
                                      address, sizeof address);
    ASSERT_EQ(emulating.MakeNdisRequest(adapter, &query, nullptr, 1), 0u);
    EXPECT_TRUE(std::equal(own.begin(), own.end(), address));

    // The loopback interface has no Ethernet address of its own; this adapter has one.
    std::uint32_t filter = NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST;
    RequestRecord set = NdisRequest(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER,
                                    &filter, sizeof filter);
    EXPECT_EQ(emulating.MakeNdisRequest(adapter, &set, nullptr, 1), 0u);
    emulating.CloseAdapter(adapter);

    // The socket filter takes the program that also admits only the protocol's frames.
    emulating.SetFrameAdmission({{0x0000, 0x8888}, 24});
    const std::int32_t admitting = emulating.OpenAdapter("\\Device\\lo");
    ASSERT_NE(admitting, INVALID_ADAPTER);
    EXPECT_EQ(emulating.MakeNdisRequest(admitting, &set, nullptr, 1), 0u);
    emulating.CloseAdapter(admitting);
}

TEST_F(PcapDriverTest, AFailedOpenSaysWhy)
{
    EXPECT_EQ(driver.OpenAdapter("\\Device\\tvk-no-such0"), INVALID_ADAPTER);
    EXPECT_FALSE(driver.OpenError().empty());
}

TEST_F(PcapDriverTest, EveryOpenGetsItsOwnHandle)
{
    const std::int32_t first = OpenLoopback();
    if (first == INVALID_ADAPTER) {
        GTEST_SKIP() << "cannot capture on lo here (needs CAP_NET_RAW)";
    }
    const std::int32_t second = driver.OpenAdapter("\\Device\\lo");
    ASSERT_NE(second, INVALID_ADAPTER);
    EXPECT_NE(first, second);
    driver.CloseAdapter(first);
    EXPECT_EQ(SetFilter(second, 0), 0u);
    // The driver closes what is still open when it goes.
}

// A capture a test feeds: each datagram written to the peer end of a socket pair is one frame,
// run through the BPF program the driver installed, as the OS would run it.
struct FakeWire {
    int Peer = -1;
    std::mutex Lock;
    std::vector<std::string> Programs;  // every program installed, in order
    std::vector<std::string> Opened;    // the interfaces captures were opened on
    std::vector<std::vector<std::uint8_t>> Injected;
    std::atomic<bool> HoldDispatch{false};
    std::atomic<bool> InDispatch{false};
    std::atomic<bool> CaptureGone{false};
    std::atomic<bool> GoneDuringDispatch{false};
};

class FakeCapture final : public CaptureSource {
public:
    FakeCapture(FakeWire& wire, int fd) : wire_(wire), fd_(fd) {}
    ~FakeCapture() override
    {
        pcap_freecode(&program_);
        ::close(fd_);
        wire_.CaptureGone = true;
    }

    int SelectableFd() override { return fd_; }
    int LinkType() override { return DLT_EN10MB; }
    bool SetFilter(const std::string& text) override
    {
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, PCAP_SNAP_LENGTH);
        pcap_freecode(&program_);
        const bool compiled =
            pcap_compile(dead, &program_, text.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
        pcap_close(dead);
        std::lock_guard lock(wire_.Lock);
        wire_.Programs.push_back(text);
        return compiled;
    }
    bool Dispatch(const FrameSink& sink) override
    {
        wire_.InDispatch = true;
        while (wire_.HoldDispatch) {
            std::this_thread::yield();
        }
        wire_.GoneDuringDispatch = wire_.CaptureGone.load();
        std::uint8_t frame[2048];
        for (;;) {
            const ssize_t got = ::recv(fd_, frame, sizeof frame, MSG_DONTWAIT);
            if (got == 0) {
                return false;  // the peer has gone: as an interface that went away
            }
            if (got < 0) {
                return true;
            }
            pcap_pkthdr header{};
            header.caplen = static_cast<bpf_u_int32>(got);
            header.len = header.caplen;
            if (pcap_offline_filter(&program_, &header, frame) != 0) {
                sink(std::span<const std::uint8_t>(frame, static_cast<std::size_t>(got)));
            }
        }
    }
    bool Inject(const std::uint8_t* frame, std::size_t length) override
    {
        std::lock_guard lock(wire_.Lock);
        wire_.Injected.emplace_back(frame, frame + length);
        return true;
    }
    std::string Error() override { return "fake"; }

private:
    FakeWire& wire_;
    const int fd_;
    bpf_program program_{};
};

constexpr MacAddress FAKE_STATION = {0x02, 0x54, 0x56, 0x00, 0x00, 0x0A};
constexpr MacAddress FAKE_DEVICE = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr MacAddress STRANGER = {0x02, 0x99, 0x00, 0x00, 0x00, 0x01};

std::vector<std::uint8_t> BytesOf(const MacAddress& address)
{
    return {address.begin(), address.end()};
}

class PcapFramePathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.SetFrameAdmission({{0x0000, 0x8888}, 24});
        adapter = driver.OpenAdapter("\\Device\\fake0");
        ASSERT_NE(adapter, INVALID_ADAPTER) << driver.OpenError();
        for (ReadSlot& slot : slots) {
            slot.Request.Event = kernel.CreateEvent();
        }
    }
    void TearDown() override
    {
        driver.CloseAdapter(adapter);
        ::close(wire.Peer);
    }

    std::uint32_t SetFilter(std::uint32_t filter)
    {
        RequestRecord request = NdisRequest(NDIS_REQUEST_SET_INFORMATION,
                                            OID_GEN_CURRENT_PACKET_FILTER, &filter, sizeof filter);
        return driver.MakeNdisRequest(adapter, &request, nullptr, PACKET_CALL_COMPLETE);
    }
    std::uint32_t Post(std::size_t i)
    {
        return driver.PacketRead(adapter, &slots[i], &slots[i].CountWord, &slots[i].Request, 0);
    }
    std::uint32_t SetSources(std::vector<std::uint8_t> bytes)
    {
        RequestRecord request = NdisRequest(NDIS_REQUEST_SET_INFORMATION,
                                            OID_TARVIK_SOURCE_ADDRESSES, bytes.data(),
                                            static_cast<std::uint32_t>(bytes.size()));
        return driver.MakeNdisRequest(adapter, &request, nullptr, PACKET_CALL_COMPLETE);
    }
    // A frame of the protocol's untyped layout to the station, its byte 20 marking it.
    static std::vector<std::uint8_t> Frame(std::uint8_t mark, std::size_t length = 60,
                                           std::uint8_t typeHigh = 0x00,
                                           const MacAddress& source = FAKE_DEVICE)
    {
        std::vector<std::uint8_t> frame(length, 0);
        std::copy(FAKE_STATION.begin(), FAKE_STATION.end(), frame.begin());
        std::copy(source.begin(), source.end(), frame.begin() + 6);
        frame[12] = typeHigh;
        frame[20] = mark;
        return frame;
    }
    void Arrive(const std::vector<std::uint8_t>& frame)
    {
        ASSERT_EQ(::send(wire.Peer, frame.data(), frame.size(), 0),
                  static_cast<ssize_t>(frame.size()));
    }
    // The mark of the frame slot i holds once its read has completed within timeout.
    int Completed(std::size_t i, std::uint32_t timeout = 10000)
    {
        if (kernel.WaitForAny(std::span(&slots[i].Request.Event, 1), timeout) != 0) {
            return -1;
        }
        EXPECT_EQ(slots[i].CountWord, slots[i].FrameLength);
        return slots[i].FrameLength > 20 ? slots[i].FrameData[20] : -2;
    }

    RealKernel kernel;
    FakeWire wire;
    PcapPacketDriver driver{
        kernel, FAKE_STATION,
        [this](const std::string& name, bool,
               std::string& error) -> std::unique_ptr<CaptureSource> {
            {
                std::lock_guard lock(wire.Lock);
                wire.Opened.push_back(name);
            }
            int ends[2];
            if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
                error = "no socket pair";
                return nullptr;
            }
            wire.Peer = ends[1];
            return std::make_unique<FakeCapture>(wire, ends[0]);
        }};
    std::int32_t adapter = INVALID_ADAPTER;
    std::array<ReadSlot, 4> slots{};
};

// Frames complete the posted reads in the order they were posted; frames that come before a
// read is posted wait for it; whatever the filter turns away never takes a read.
TEST_F(PcapFramePathTest, FramesCompleteThePostedReadsInOrder)
{
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST), 0u);
    ASSERT_EQ(Post(0), 0u);
    Arrive(Frame(1));
    Arrive(Frame(99, 60, 0x08));  // IPv4: the filter keeps it out
    Arrive(Frame(2, 1514));
    Arrive(Frame(3));
    EXPECT_EQ(Completed(0), 1);
    // The rest came in the same drain: held, and handed to the reads as they are posted.
    ASSERT_EQ(Post(1), 0u);
    ASSERT_EQ(Post(2), 0u);
    ASSERT_EQ(Post(3), 0u);
    EXPECT_EQ(Completed(1, 0), 2);
    EXPECT_EQ(slots[1].FrameLength, 1514u);
    EXPECT_EQ(Completed(2, 0), 3);
    EXPECT_EQ(Completed(3, 20), -1) << "no frame left for the fourth read";
}

// With filter 0 nothing is passed up, and setting the filter the adapter already has does not
// install its program again (libpcap empties the socket's queue when it installs one).
TEST_F(PcapFramePathTest, TheFilterDecidesWhatReachesTheReads)
{
    ASSERT_EQ(Post(0), 0u);
    Arrive(Frame(1));
    EXPECT_EQ(Completed(0, 20), -1) << "an adapter passes nothing before its filter is set";
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED), 0u);
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED), 0u);
    Arrive(Frame(2));
    EXPECT_EQ(Completed(0), 2);
    std::lock_guard lock(wire.Lock);
    EXPECT_EQ(wire.Programs.size(), 2u) << "the adapter's first program, then DIRECTED's once";
}

// Once told which sources to pass, the adapter passes only their frames, under the packet
// filter it has; the broadcast address lets every source in again, an empty list none.
TEST_F(PcapFramePathTest, OnlyTheSourcesAskedForReachTheReads)
{
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED), 0u);
    ASSERT_EQ(SetSources(BytesOf(FAKE_DEVICE)), 0u);
    ASSERT_EQ(Post(0), 0u);
    Arrive(Frame(1, 60, 0x00, STRANGER));
    Arrive(Frame(2));
    EXPECT_EQ(Completed(0), 2);

    ASSERT_EQ(SetSources(BytesOf(BROADCAST_ADDRESS)), 0u);
    ASSERT_EQ(Post(1), 0u);
    Arrive(Frame(3, 60, 0x00, STRANGER));
    EXPECT_EQ(Completed(1), 3);

    ASSERT_EQ(SetSources({}), 0u);
    ASSERT_EQ(Post(2), 0u);
    Arrive(Frame(4));
    EXPECT_EQ(Completed(2, 20), -1);

    // The packet filter set later keeps the sources: still none.
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST), 0u);
    Arrive(Frame(5));
    EXPECT_EQ(Completed(2, 20), -1);

    EXPECT_NE(SetSources({0x02, 0x5A, 0x17}), 0u) << "not a whole address";
    EXPECT_NE(SetSources(std::vector<std::uint8_t>(6 * (SOURCE_ADDRESSES_MAX + 1), 0x02)), 0u);
}

// An empty admission, for measuring what the narrowing saves, passes every source whatever
// sources are named.
TEST_F(PcapFramePathTest, AnEmptyAdmissionPassesEverySource)
{
    driver.CloseAdapter(adapter);
    ::close(wire.Peer);
    driver.SetFrameAdmission({});
    adapter = driver.OpenAdapter("\\Device\\fake0");
    ASSERT_NE(adapter, INVALID_ADAPTER);
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED), 0u);
    ASSERT_EQ(SetSources(BytesOf(FAKE_DEVICE)), 0u);
    ASSERT_EQ(Post(0), 0u);
    Arrive(Frame(1, 60, 0x00, STRANGER));
    EXPECT_EQ(Completed(0), 1);
}

// IFACE.VID, where the system has no such interface, captures on IFACE and speaks on the VLAN:
// the kernel filter admits that VLAN alone, frames come up without their tag, sends carry it.
TEST_F(PcapFramePathTest, AVlanNameCapturesOnTheTrunkAndTagsItsFrames)
{
    driver.CloseAdapter(adapter);
    ::close(wire.Peer);
    adapter = driver.OpenAdapter("\\Device\\fake0.7");
    ASSERT_NE(adapter, INVALID_ADAPTER) << driver.OpenError();
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST), 0u);
    {
        std::lock_guard lock(wire.Lock);
        EXPECT_EQ(wire.Opened.back(), "fake0");
        EXPECT_TRUE(wire.Programs.back().starts_with("vlan 7 and ")) << wire.Programs.back();
    }
    const auto tagged = [](std::vector<std::uint8_t> frame, std::uint8_t vid) {
        const std::uint8_t tag[] = {0x81, 0x00, 0x00, vid};
        frame.insert(frame.begin() + 12, std::begin(tag), std::end(tag));
        return frame;
    };
    ASSERT_EQ(Post(0), 0u);
    ASSERT_EQ(Post(1), 0u);
    Arrive(Frame(1));                 // untagged
    Arrive(tagged(Frame(2), 8));      // another VLAN
    Arrive(tagged(Frame(3, 60), 7));  // this one
    Arrive(tagged(Frame(4, 1514), 7));
    EXPECT_EQ(Completed(0), 3);
    EXPECT_EQ(slots[0].FrameLength, 60u) << "handed up without its tag";
    EXPECT_EQ(Completed(1), 4);
    EXPECT_EQ(slots[1].FrameLength, 1514u);

    const std::vector<std::uint8_t> request = Frame(5, 24);
    std::uint32_t count = 0;
    ASSERT_EQ(driver.PacketSend(adapter, request.data(), static_cast<std::uint32_t>(request.size()),
                                &count, nullptr, PACKET_CALL_COMPLETE),
              0u);
    std::lock_guard lock(wire.Lock);
    ASSERT_EQ(wire.Injected.size(), 1u);
    std::vector<std::uint8_t> expected = tagged(request, 7);
    expected.resize(64, 0);
    EXPECT_EQ(wire.Injected[0], expected);
}

// Closing an adapter while a waiting thread drains it waits for the drain to end before the
// capture goes; the frame that drain read still completes its read.
TEST_F(PcapFramePathTest, CloseDuringADrainWaitsForItToEnd)
{
    ASSERT_EQ(SetFilter(NDIS_PACKET_TYPE_DIRECTED), 0u);
    ASSERT_EQ(Post(0), 0u);
    wire.HoldDispatch = true;
    int mark = 0;
    std::thread waiting([&] { mark = Completed(0); });
    Arrive(Frame(7));
    while (!wire.InDispatch) {
        std::this_thread::yield();
    }
    std::atomic<bool> closed{false};
    std::thread closing([&] {
        driver.CloseAdapter(adapter);
        closed = true;
    });
    while (kernel.Threads().Unwatching == 0 && !closed) {
        std::this_thread::yield();
    }
    wire.HoldDispatch = false;
    closing.join();
    waiting.join();
    EXPECT_FALSE(wire.GoneDuringDispatch);
    EXPECT_TRUE(wire.CaptureGone);
    EXPECT_EQ(mark, 7);
}

}  // namespace
}  // namespace tarvik
