#pragma once
// A capture file read back: every frame with its time, from a pcap or pcapng file of Ethernet
// frames, as this program's traces, tcpdump -w and Wireshark write them, in either byte order
// and at any time stamp precision.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

struct CapturedFrame {
    std::uint64_t Microseconds = 0;   // since the epoch, as the capture stamped it
    std::vector<std::uint8_t> Bytes;  // what was captured of it, from the destination on
};

// The frames in file order; nothing and the reason in error when the file cannot be read or
// holds anything but Ethernet frames. A file cut off in a record is refused rather than read in
// part: a replay of part of a session would mislead more than none.
std::optional<std::vector<CapturedFrame>> ParseCaptureFile(std::span<const std::uint8_t> bytes,
                                                           std::string& error);
// The same, of the file at path.
std::optional<std::vector<CapturedFrame>> ReadPcapFrames(const std::string& path,
                                                         std::string& error);

}  // namespace tarvik
