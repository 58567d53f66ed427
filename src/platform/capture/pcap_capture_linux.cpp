#include "platform/capture/pcap_driver.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tarvik {
namespace {

struct PcapCloser {
    void operator()(pcap_t* pcap) const { pcap_close(pcap); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapCloser>;

}  // namespace

InterfaceAddressProbe::InterfaceAddressProbe(std::string interfaceName)
    : interface_(std::move(interfaceName)), socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
}

InterfaceAddressProbe::~InterfaceAddressProbe()
{
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

std::optional<MacAddress> InterfaceAddressProbe::Current() const
{
    if (socket_ < 0) {
        return std::nullopt;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, interface_.data(),
                std::min(interface_.size(), sizeof(request.ifr_name) - 1));
    if (::ioctl(socket_, SIOCGIFHWADDR, &request) != 0 ||
        request.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        return std::nullopt;
    }
    MacAddress address{};
    std::memcpy(address.data(), request.ifr_hwaddr.sa_data, address.size());
    return address;
}

std::string InterfaceOfAdapterName(const char* name)
{
    if (name == nullptr) {
        return {};
    }
    const std::optional<std::string_view> named = InterfaceNameOf(name);
    if (!named) {
        return {};
    }
    const std::string_view interfaceName = *named;
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ || interfaceName == "." ||
        interfaceName == "..") {
        return {};
    }
    for (const char c : interfaceName) {
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) <= ' ') {
            return {};
        }
    }
    return std::string(interfaceName);
}

bool InterfaceExists(const std::string& interfaceName)
{
    return ::if_nametoindex(interfaceName.c_str()) != 0;
}

namespace {

class PcapCapture final : public CaptureSource {
public:
    explicit PcapCapture(PcapHandle pcap) : pcap_(std::move(pcap)) {}

    int SelectableFd() override { return pcap_get_selectable_fd(pcap_.get()); }
    int LinkType() override { return pcap_datalink(pcap_.get()); }

    bool SetFilter(const std::string& program) override
    {
        bpf_program compiled{};
        if (pcap_compile(pcap_.get(), &compiled, program.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
            return false;
        }
        const bool installed = pcap_setfilter(pcap_.get(), &compiled) == 0;
        pcap_freecode(&compiled);
        return installed;
    }

    bool Dispatch(const FrameSink& sink) override
    {
        auto* context = const_cast<FrameSink*>(&sink);
        return pcap_dispatch(pcap_.get(), -1, &PcapCapture::OnFrame,
                             reinterpret_cast<u_char*>(context)) >= 0;
    }

    bool Inject(const std::uint8_t* frame, std::size_t length) override
    {
        return pcap_inject(pcap_.get(), frame, length) == static_cast<int>(length);
    }

    std::string Error() override { return pcap_geterr(pcap_.get()); }

private:
    static void OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes)
    {
        const auto& sink = *reinterpret_cast<const FrameSink*>(user);
        sink(std::span<const std::uint8_t>(bytes, header->caplen));
    }

    PcapHandle pcap_;
};

}  // namespace

bool CaptureOpenErrorsGuideUsers()
{
    return false;
}

std::unique_ptr<CaptureSource> OpenPcapCapture(const std::string& interfaceName, bool promiscuous,
                                               std::string& error)
{
    char pcapError[PCAP_ERRBUF_SIZE] = {};
    PcapHandle pcap(pcap_create(interfaceName.c_str(), pcapError));
    if (!pcap) {
        error = pcapError;
        return nullptr;
    }
    if (pcap_set_snaplen(pcap.get(), PCAP_SNAP_LENGTH) != 0 ||
        pcap_set_promisc(pcap.get(), promiscuous ? 1 : 0) != 0 ||
        pcap_set_immediate_mode(pcap.get(), 1) != 0 ||
        pcap_set_buffer_size(pcap.get(), PCAP_CAPTURE_BUFFER_BYTES) != 0) {
        error = pcap_geterr(pcap.get());
        return nullptr;
    }
    if (const int status = pcap_activate(pcap.get()); status < 0) {
        error = std::string(pcap_statustostr(status)) + ": " + pcap_geterr(pcap.get());
        return nullptr;
    }
    // The program must never see its own frames come back as received ones.
    if (pcap_setdirection(pcap.get(), PCAP_D_IN) != 0) {
        error = pcap_geterr(pcap.get());
        return nullptr;
    }
    if (pcap_setnonblock(pcap.get(), 1, pcapError) != 0) {
        error = pcapError;
        return nullptr;
    }
    if (pcap_get_selectable_fd(pcap.get()) < 0) {
        error = "the capture cannot be polled";
        return nullptr;
    }
    return std::make_unique<PcapCapture>(std::move(pcap));
}

}  // namespace tarvik
