#include "platform/pcap_reader.h"

#include <pcap/pcap.h>

#include <memory>

namespace tarvik {

std::optional<std::vector<CapturedFrame>> ReadPcapFrames(const std::string& path,
                                                         std::string& error)
{
    char reason[PCAP_ERRBUF_SIZE] = {};
    // Stamps in microseconds whatever precision the file holds: a nanosecond capture is
    // rounded down, which is finer than any delay a device's reply carries.
    std::unique_ptr<pcap_t, decltype(&pcap_close)> capture(
        pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_MICRO, reason),
        &pcap_close);
    if (!capture) {
        error = reason[0] != '\0' ? reason : "libpcap cannot read it";
        return std::nullopt;
    }
    if (const int linkType = pcap_datalink(capture.get()); linkType != DLT_EN10MB) {
        const char* name = pcap_datalink_val_to_name(linkType);
        error = "it holds " + std::string(name != nullptr ? name : "unknown") +
                " frames, not Ethernet";
        return std::nullopt;
    }
    std::vector<CapturedFrame> frames;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = 0;
    while ((result = pcap_next_ex(capture.get(), &header, &data)) == 1) {
        CapturedFrame frame;
        frame.Microseconds = static_cast<std::uint64_t>(header->ts.tv_sec) * 1000000 +
                             static_cast<std::uint64_t>(header->ts.tv_usec);
        frame.Bytes.assign(data, data + header->caplen);
        frames.push_back(std::move(frame));
    }
    if (result != PCAP_ERROR_BREAK) {
        // A record cut off or a block libpcap cannot read: a replay of part of a session would
        // mislead more than no replay.
        error = pcap_geterr(capture.get());
        return std::nullopt;
    }
    return frames;
}

}  // namespace tarvik
