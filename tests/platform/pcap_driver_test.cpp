// The libpcap packet driver without a network: names it refuses, calls on handles it never
// gave out, and (with the privilege to capture) requests it must refuse on the loopback
// interface. Frames on a real link are covered by the end-to-end tests.

#include "platform/pcap_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/real_kernel.h"

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

    // The kernel takes the program that also admits only the protocol's frames.
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

}  // namespace
}  // namespace tarvik
