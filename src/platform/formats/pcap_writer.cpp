#include "platform/formats/pcap_writer.h"

#include <algorithm>

#include "platform/formats/byte_order.h"

namespace tarvik {
namespace {

constexpr std::uint32_t PCAP_MAGIC_MICROSECONDS = 0xA1B2C3D4;
constexpr std::uint16_t PCAP_VERSION_MAJOR = 2;
constexpr std::uint16_t PCAP_VERSION_MINOR = 4;
// Room for the longest frame any driver hands over; readers size their buffers by it.
constexpr std::uint32_t PCAP_SNAP_LENGTH = 65535;
constexpr std::uint32_t PCAP_LINK_TYPE_ETHERNET = 1;

}  // namespace

std::array<std::uint8_t, PCAP_FILE_HEADER_BYTES> PcapFileHeader()
{
    std::array<std::uint8_t, PCAP_FILE_HEADER_BYTES> header{};
    StoreLe32(header, 0, PCAP_MAGIC_MICROSECONDS);
    StoreLe16(header, 4, PCAP_VERSION_MAJOR);
    StoreLe16(header, 6, PCAP_VERSION_MINOR);
    // 8: the time zone's offset and 12: the stamps' accuracy, both 0 as every writer has them.
    StoreLe32(header, 16, PCAP_SNAP_LENGTH);
    StoreLe32(header, 20, PCAP_LINK_TYPE_ETHERNET);
    return header;
}

std::vector<std::uint8_t> PcapRecord(std::uint64_t microseconds,
                                     std::span<const std::uint8_t> frame)
{
    // A frame longer than the snap length is cut to it, as a capture would have cut it; the
    // record still says how long the frame was.
    const std::size_t kept = std::min<std::size_t>(frame.size(), PCAP_SNAP_LENGTH);
    std::vector<std::uint8_t> record(PCAP_RECORD_HEADER_BYTES + kept);
    // Seconds in 32 bits, as the format has them: enough until 2106.
    StoreLe32(record, 0, static_cast<std::uint32_t>(microseconds / 1000000));
    StoreLe32(record, 4, static_cast<std::uint32_t>(microseconds % 1000000));
    StoreLe32(record, 8, static_cast<std::uint32_t>(kept));
    StoreLe32(record, 12,
              static_cast<std::uint32_t>(std::min<std::size_t>(frame.size(), 0xFFFFFFFF)));
    std::copy_n(frame.begin(), kept, record.begin() + PCAP_RECORD_HEADER_BYTES);
    return record;
}

}  // namespace tarvik
