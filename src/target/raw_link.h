#pragma once
// The daemon's own hold on a real interface, straight through libpcap: frames for one MAC
// address (or broadcast) come in, replies go out with pcap_inject. The interface is put in
// promiscuous mode, so several emulated devices with addresses of their own can share one
// end of a link.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include <pcap/pcap.h>

#include "platform/mac_address.h"

namespace tarvik::target {

class RawLink {
public:
    RawLink() = default;
    ~RawLink();
    RawLink(const RawLink&) = delete;
    RawLink& operator=(const RawLink&) = delete;

    // Opens the interface for frames to station or to broadcast; an error text on failure.
    std::optional<std::string> Open(const std::string& interface, const MacAddress& station);

    // Waits at most timeoutMs for frames and hands each to receive; false when the wait or
    // the capture failed (an interrupting signal is no failure).
    bool Receive(int timeoutMs, const std::function<void(std::span<const std::uint8_t>)>& receive);
    bool Send(std::span<const std::uint8_t> frame);

    std::string LastError() const;

private:
    pcap_t* handle_ = nullptr;
    int descriptor_ = -1;
};

// The interface's own hardware address, when it has one.
std::optional<MacAddress> InterfaceAddress(const std::string& interface);

}  // namespace tarvik::target
