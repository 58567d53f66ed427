// The socket filter the libpcap driver installs, run on frames: the program text compiled by
// libpcap as the driver compiles it, and each frame put through it as the OS would.

#include <pcap/pcap.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/pcap_driver.h"
#include "protocol/frame.h"

namespace tarvik {
namespace {

constexpr MacAddress STATION = {0x02, 0x54, 0x56, 0x00, 0x00, 0x0A};
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};
constexpr MacAddress OTHER = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0C};
constexpr std::uint32_t DIRECTED = NDIS_PACKET_TYPE_DIRECTED;
constexpr std::uint32_t BOTH = NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST;

struct PcapCloser {
    void operator()(pcap_t* pcap) const { pcap_close(pcap); }
};

// Whether the program the driver makes for the filter, admission and sources passes the frame.
bool Passes(std::uint32_t packetFilter, const FrameAdmission& admission,
            const std::vector<std::uint8_t>& frame, const SourceAddresses& sources = std::nullopt)
{
    const std::optional<std::string> text =
        PacketFilterProgram(packetFilter, STATION, admission, sources);
    if (!text) {
        ADD_FAILURE() << "no program for filter " << packetFilter;
        return false;
    }
    std::unique_ptr<pcap_t, PcapCloser> dead(pcap_open_dead(DLT_EN10MB, PCAP_SNAP_LENGTH));
    bpf_program program{};
    if (pcap_compile(dead.get(), &program, text->c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        ADD_FAILURE() << *text << ": " << pcap_geterr(dead.get());
        return false;
    }
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    const bool passes = pcap_offline_filter(&program, &header, frame.data()) != 0;
    pcap_freecode(&program);
    return passes;
}

// A frame of length bytes from source to destination whose bytes 12-13 hold typeBytes.
std::vector<std::uint8_t> Frame(const MacAddress& destination, const MacAddress& source,
                                std::array<std::uint8_t, 2> typeBytes, std::size_t length)
{
    std::vector<std::uint8_t> frame(length, 0x5A);
    std::copy(destination.begin(), destination.end(), frame.begin());
    std::copy(source.begin(), source.end(), frame.begin() + 6);
    frame[12] = typeBytes[0];
    frame[13] = typeBytes[1];
    return frame;
}

// A reply of the protocol from the device, of either variant, encoded by the protocol's codec.
std::vector<std::uint8_t> Reply(const MacAddress& destination, std::uint16_t frameType,
                                std::size_t length)
{
    std::vector<std::uint8_t> frame(length, 0);
    FrameHeader header;
    header.Destination = destination;
    header.Source = DEVICE;
    header.FrameType = frameType;
    header.Opcode = OP_WRITE;
    header.DataLength = STATUS_BYTES;
    EncodeHeader(frame, header);
    return frame;
}

TEST(SocketFilterTest, PassesTheProtocolsFramesToTheStationAndNothingElse)
{
    const FrameAdmission protocol = ProtocolFrameAdmission();
    const std::array<std::uint8_t, 2> untyped = {0x00, 0x00};
    const struct {
        const char* Name;
        std::uint32_t Filter;
        std::vector<std::uint8_t> Frame;
        bool Passes;
    } rows[] = {
        {"untyped reply to the station", BOTH, Reply(STATION, FRAME_TYPE_UNTYPED, 60), true},
        {"typed reply to the station", BOTH, Reply(STATION, FRAME_TYPE_TYPED, 60), true},
        {"untyped broadcast", BOTH, Reply(BROADCAST_ADDRESS, FRAME_TYPE_UNTYPED, 60), true},
        {"typed broadcast", BOTH, Reply(BROADCAST_ADDRESS, FRAME_TYPE_TYPED, 60), true},
        {"1514-byte untyped reply", BOTH, Reply(STATION, FRAME_TYPE_UNTYPED, 1514), true},
        {"1514-byte typed reply", BOTH, Reply(STATION, FRAME_TYPE_TYPED, 1514), true},
        {"directed only: a reply", DIRECTED, Reply(STATION, FRAME_TYPE_TYPED, 60), true},
        {"directed only: a broadcast", DIRECTED, Reply(BROADCAST_ADDRESS, FRAME_TYPE_TYPED, 60),
         false},
        {"just a header: 24 bytes", BOTH, Frame(STATION, DEVICE, untyped, 24), true},
        {"shorter than a header: 23 bytes", BOTH, Frame(STATION, DEVICE, untyped, 23), false},
        {"IPv4 to the station", BOTH, Frame(STATION, DEVICE, {0x08, 0x00}, 60), false},
        {"ARP broadcast", BOTH, Frame(BROADCAST_ADDRESS, DEVICE, {0x08, 0x06}, 60), false},
        {"a reply to another station", BOTH, Reply(OTHER, FRAME_TYPE_UNTYPED, 60), false},
        {"typed, one byte wrong", BOTH, Frame(STATION, DEVICE, {0x88, 0x89}, 60), false},
        {"filter 0: a reply", 0, Reply(STATION, FRAME_TYPE_UNTYPED, 60), false},
        {"filter 0: a broadcast", 0, Reply(BROADCAST_ADDRESS, FRAME_TYPE_TYPED, 60), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Passes(row.Filter, protocol, row.Frame), row.Passes) << row.Name;
    }
}

// Once a run talks to one device, its replies pass and the same frames from anyone else do
// not; during discovery (every source) they all pass; with no source nothing does.
TEST(SocketFilterTest, OnlyTheSourcesNamedPass)
{
    std::vector<std::uint8_t> fromOther = Reply(STATION, FRAME_TYPE_TYPED, 60);
    std::copy(OTHER.begin(), OTHER.end(), fromOther.begin() + 6);
    std::vector<std::uint8_t> broadcastFromOther = Reply(BROADCAST_ADDRESS, FRAME_TYPE_UNTYPED, 60);
    std::copy(OTHER.begin(), OTHER.end(), broadcastFromOther.begin() + 6);
    const std::vector<MacAddress> device{DEVICE};
    const std::vector<MacAddress> two{OTHER, DEVICE};
    const struct {
        const char* Name;
        SourceAddresses Sources;
        std::vector<std::uint8_t> Frame;
        bool Passes;
    } rows[] = {
        {"the device's reply", device, Reply(STATION, FRAME_TYPE_TYPED, 60), true},
        {"the device's broadcast", device, Reply(BROADCAST_ADDRESS, FRAME_TYPE_UNTYPED, 60), true},
        {"another's reply", device, fromOther, false},
        {"another's broadcast", device, broadcastFromOther, false},
        {"the device's IPv4", device, Frame(STATION, DEVICE, {0x08, 0x00}, 60), false},
        {"two devices: the second's reply", two, Reply(STATION, FRAME_TYPE_TYPED, 60), true},
        {"two devices: the first's reply", two, fromOther, true},
        {"every source: another's reply", std::nullopt, fromOther, true},
        {"no source: the device's reply", std::vector<MacAddress>{},
         Reply(STATION, FRAME_TYPE_TYPED, 60), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Passes(BOTH, ProtocolFrameAdmission(), row.Frame, row.Sources), row.Passes)
            << row.Name;
    }
}

// The admission names the type field as the filter reads it, high byte first, while the frame
// stores it low byte first: a field whose two bytes differ shows which way round it went.
TEST(SocketFilterTest, TheTypeFieldIsAdmittedInTheFramesByteOrder)
{
    const FrameAdmission admission{{FrameTypeAsFilterField(0x1234)}, FRAME_HEADER_BYTES};
    EXPECT_TRUE(Passes(BOTH, admission, Reply(STATION, 0x1234, 60)));
    EXPECT_FALSE(Passes(BOTH, admission, Frame(STATION, DEVICE, {0x12, 0x34}, 60)));
}

// On a trunk the program tags its own frames on, the filter passes the protocol's frames of the
// adapter's VLAN alone (the tag in the frame, as a capture file or a kernel that leaves it there
// shows it), and never an untagged frame or another VLAN's.
TEST(SocketFilterTest, OnATaggedAdapterOnlyTheVlansFramesPass)
{
    const auto tagged = [](std::vector<std::uint8_t> frame, std::uint16_t vid) {
        const std::uint8_t tag[] = {0x81, 0x00, static_cast<std::uint8_t>(vid >> 8),
                                    static_cast<std::uint8_t>(vid & 0xFF)};
        frame.insert(frame.begin() + 12, std::begin(tag), std::end(tag));
        return frame;
    };
    FrameAdmission admission = ProtocolFrameAdmission();
    admission.VlanId = 12;
    const std::vector<MacAddress> device{DEVICE};
    const struct {
        const char* Name;
        std::vector<std::uint8_t> Frame;
        bool Passes;
    } rows[] = {
        {"untyped reply on the VLAN", tagged(Reply(STATION, FRAME_TYPE_UNTYPED, 60), 12), true},
        {"typed reply on the VLAN", tagged(Reply(STATION, FRAME_TYPE_TYPED, 1514), 12), true},
        {"broadcast on the VLAN", tagged(Reply(BROADCAST_ADDRESS, FRAME_TYPE_TYPED, 60), 12),
         true},
        {"reply on another VLAN", tagged(Reply(STATION, FRAME_TYPE_UNTYPED, 60), 13), false},
        {"reply untagged", Reply(STATION, FRAME_TYPE_UNTYPED, 60), false},
        {"IPv4 on the VLAN", tagged(Frame(STATION, DEVICE, {0x08, 0x00}, 60), 12), false},
        {"reply to another station on the VLAN",
         tagged(Reply(OTHER, FRAME_TYPE_UNTYPED, 60), 12), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Passes(BOTH, admission, row.Frame), row.Passes) << row.Name;
        EXPECT_EQ(Passes(BOTH, admission, row.Frame, device), row.Passes) << row.Name;
    }
    // Filter 0 still passes nothing, on any VLAN.
    EXPECT_EQ(PacketFilterProgram(0, STATION, admission), "less 1");
    // Admitting every frame still keeps to the VLAN.
    FrameAdmission everyFrame;
    everyFrame.VlanId = 12;
    EXPECT_TRUE(Passes(BOTH, everyFrame, tagged(Frame(STATION, DEVICE, {0x08, 0x00}, 60), 12)));
    EXPECT_FALSE(Passes(BOTH, everyFrame, Frame(STATION, DEVICE, {0x08, 0x00}, 60)));
}

}  // namespace
}  // namespace tarvik
