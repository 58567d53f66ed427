#include "target/raw_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>

namespace tarvik::target {
namespace {

std::string FormatMac(const MacAddress& address)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}

}  // namespace

RawLink::~RawLink()
{
    if (handle_ != nullptr) {
        pcap_close(handle_);
    }
}

std::optional<std::string> RawLink::Open(const std::string& interface, const MacAddress& station)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    handle_ = pcap_create(interface.c_str(), error);
    if (handle_ == nullptr) {
        return std::string(error);
    }
    pcap_set_snaplen(handle_, 1600);
    pcap_set_promisc(handle_, 1);
    pcap_set_immediate_mode(handle_, 1);
    pcap_set_timeout(handle_, 10);
    if (const int status = pcap_activate(handle_); status < 0) {
        return std::string(pcap_statustostr(status)) + ": " + pcap_geterr(handle_);
    }
    if (pcap_datalink(handle_) != DLT_EN10MB) {
        return interface + " is not an Ethernet interface";
    }
    // Our own replies must not come back in as requests.
    pcap_setdirection(handle_, PCAP_D_IN);
    const std::string filter = "ether dst " + FormatMac(station) + " or ether broadcast";
    bpf_program program{};
    if (pcap_compile(handle_, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        return std::string("filter: ") + pcap_geterr(handle_);
    }
    const int set = pcap_setfilter(handle_, &program);
    pcap_freecode(&program);
    if (set != 0) {
        return std::string("filter: ") + pcap_geterr(handle_);
    }
    if (pcap_setnonblock(handle_, 1, error) != 0) {
        return std::string(error);
    }
    descriptor_ = pcap_get_selectable_fd(handle_);
    if (descriptor_ < 0) {
        return std::string("the capture cannot be polled");
    }
    return std::nullopt;
}

bool RawLink::Receive(int timeoutMs,
                      const std::function<void(std::span<const std::uint8_t>)>& receive)
{
    pollfd waiting{descriptor_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, timeoutMs);
    if (ready < 0) {
        return errno == EINTR;
    }
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const std::uint8_t* data = nullptr;
        const int got = pcap_next_ex(handle_, &header, &data);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            return false;
        }
        receive(std::span<const std::uint8_t>(data, header->caplen));
    }
}

bool RawLink::Send(std::span<const std::uint8_t> frame)
{
    return pcap_inject(handle_, frame.data(), frame.size()) == static_cast<int>(frame.size());
}

std::string RawLink::LastError() const
{
    return handle_ != nullptr ? pcap_geterr(handle_) : "not open";
}

std::optional<MacAddress> InterfaceAddress(const std::string& interface)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, error) != 0) {
        return std::nullopt;
    }
    std::optional<MacAddress> found;
    for (pcap_if_t* device = all; device != nullptr && !found; device = device->next) {
        if (interface != device->name) {
            continue;
        }
        for (pcap_addr_t* address = device->addresses; address != nullptr; address = address->next) {
            if (address->addr != nullptr && address->addr->sa_family == AF_PACKET) {
                const auto* link = reinterpret_cast<const sockaddr_ll*>(address->addr);
                if (link->sll_halen == 6) {
                    MacAddress mac{};
                    std::memcpy(mac.data(), link->sll_addr, mac.size());
                    found = mac;
                    break;
                }
            }
        }
    }
    pcap_freealldevs(all);
    return found;
}

}  // namespace tarvik::target
