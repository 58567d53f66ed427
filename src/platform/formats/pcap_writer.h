#pragma once
// The classic pcap file as this program writes its traces, the same on every system: a 24-byte
// header, then each frame after a 16-byte record header, numbers least significant byte first,
// time stamps in microseconds, Ethernet frames. Wireshark, tshark, tcpdump and this program's
// own reader read it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvik {

inline constexpr std::size_t PCAP_FILE_HEADER_BYTES = 24;
inline constexpr std::size_t PCAP_RECORD_HEADER_BYTES = 16;

// The file's header; alone it already makes a readable, empty capture.
std::array<std::uint8_t, PCAP_FILE_HEADER_BYTES> PcapFileHeader();

// One frame's record, header and frame together, stamped microseconds since 1970 (UTC).
std::vector<std::uint8_t> PcapRecord(std::uint64_t microseconds,
                                     std::span<const std::uint8_t> frame);

}  // namespace tarvik
