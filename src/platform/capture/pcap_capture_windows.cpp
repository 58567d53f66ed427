#include "platform/windows_api.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <vector>

#include "platform/capture/npcap_library.h"
#include "platform/capture/pcap_driver.h"

// Last: the IP Helper API's headers define as macros names the driver's header declares.
#include "platform/host/ip_helper_windows.h"

namespace tarvik {
namespace {

// How long a read waits for frames before it looks again whether the capture is still wanted:
// also how late a frame can be handed up where the library cannot deliver at once (Wine's).
constexpr int READ_TIMEOUT_MILLISECONDS = 1;
// Npcap opens an adapter by its service name under this prefix.
constexpr std::string_view NPCAP_DEVICE_PREFIX = "\\Device\\NPF_";

class NpcapCapture final : public CaptureSource {
public:
    NpcapCapture(std::shared_ptr<const NpcapLibrary> library, pcap_t* pcap)
        : library_(std::move(library)), pcap_(pcap)
    {
    }
    ~NpcapCapture() override { library_->Close(pcap_); }
    NpcapCapture(const NpcapCapture&) = delete;
    NpcapCapture& operator=(const NpcapCapture&) = delete;

    // Windows captures have no descriptor: the kernel reads each on a thread of its own.
    int SelectableFd() override { return -1; }
    int LinkType() override { return library_->Datalink(pcap_); }

    bool SetFilter(const std::string& program) override
    {
        bpf_program compiled{};
        if (library_->Compile(pcap_, &compiled, program.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
            return false;
        }
        const bool installed = library_->SetFilter(pcap_, &compiled) == 0;
        library_->FreeCode(&compiled);
        return installed;
    }

    // Waits for frames and keeps what came, without the capture lock: the library's receive
    // and send paths are apart, and a send must not wait for a read. The wait ends with the
    // read timeout where the library keeps it; where it does not (libpcap under Wine, whose
    // kernel buffer hands frames up only as they come), it lasts until a frame comes or
    // StopWaiting breaks it.
    void AwaitFrames() override
    {
        if (stopping_) {
            std::lock_guard lock(arrivedLock_);
            broken_ = true;
            return;
        }
        // One frame a turn: a second read would wait again where the library has nothing
        // more at hand, with the first frame still held back.
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int result = library_->NextEx(pcap_, &header, &bytes);
        std::lock_guard lock(arrivedLock_);
        if (result == 1) {
            arrived_.emplace_back(bytes, bytes + header->caplen);
        }
        broken_ = broken_ || result < 0;
    }

    void StopWaiting() override
    {
        stopping_ = true;
        library_->BreakLoop(pcap_);
    }

    bool Dispatch(const FrameSink& sink) override
    {
        std::vector<std::vector<std::uint8_t>> frames;
        bool broken = false;
        {
            std::lock_guard lock(arrivedLock_);
            frames.swap(arrived_);
            broken = broken_;
        }
        for (const auto& frame : frames) {
            // The library may hand back what this capture sent (no direction filter under
            // every version): a frame from an address it sends from is its own.
            if (frame.size() >= 12 && sentFrom_.contains(SourceOf(frame))) {
                continue;
            }
            sink(frame);
        }
        return !broken;
    }

    bool Inject(const std::uint8_t* frame, std::size_t length) override
    {
        if (length >= 12) {
            sentFrom_.insert(SourceOf({frame, length}));
        }
        return library_->SendPacket(pcap_, frame, static_cast<int>(length)) == 0;
    }

    std::string Error() override { return library_->GetErr(pcap_); }

private:
    static MacAddress SourceOf(std::span<const std::uint8_t> frame)
    {
        MacAddress source{};
        std::copy_n(frame.begin() + 6, source.size(), source.begin());
        return source;
    }

    const std::shared_ptr<const NpcapLibrary> library_;
    pcap_t* const pcap_;
    std::set<MacAddress> sentFrom_;  // under the adapter's capture lock, as every call
    std::mutex arrivedLock_;
    std::vector<std::vector<std::uint8_t>> arrived_;  // under arrivedLock_
    bool broken_ = false;                             // under arrivedLock_
    std::atomic<bool> stopping_{false};
};

}  // namespace

std::string InterfaceOfAdapterName(const char* name)
{
    if (name == nullptr) {
        return {};
    }
    const std::optional<std::string_view> named = InterfaceNameOf(name);
    if (!named) {
        return {};
    }
    const std::string_view service = *named;
    if (service.empty() || service.size() > 64 ||
        service.find_first_of("\\/:") != std::string_view::npos) {
        return {};
    }
    return std::string(service);
}

bool InterfaceExists(const std::string& interfaceName)
{
    return AdapterAddressList::Read().ByServiceName(interfaceName) != nullptr;
}

InterfaceAddressProbe::InterfaceAddressProbe(std::string interfaceName)
    : interface_(std::move(interfaceName))
{
    const AdapterAddressList list = AdapterAddressList::Read();
    const IP_ADAPTER_ADDRESSES* adapter = list.ByServiceName(interface_);
    if (adapter != nullptr && adapter->PhysicalAddressLength == std::tuple_size_v<MacAddress>) {
        MacAddress address{};
        std::memcpy(address.data(), adapter->PhysicalAddress, address.size());
        known_ = address;
    }
}

InterfaceAddressProbe::~InterfaceAddressProbe() = default;

std::optional<MacAddress> InterfaceAddressProbe::Current() const
{
    return known_;
}

bool CaptureOpenErrorsGuideUsers()
{
    return true;
}

std::unique_ptr<CaptureSource> OpenPcapCapture(const std::string& interfaceName, bool promiscuous,
                                               std::string& error)
{
    std::shared_ptr<const NpcapLibrary> library = NpcapLibrary::Load(error);
    if (!library) {
        return nullptr;
    }
    const std::string device = std::string(NPCAP_DEVICE_PREFIX) + interfaceName;
    char pcapError[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = library->Create(device.c_str(), pcapError);
    if (pcap == nullptr) {
        error = pcapError;
        return nullptr;
    }
    const auto fail = [&](std::string why) {
        error = std::move(why);
        library->Close(pcap);
        return nullptr;
    };
    if (library->SetSnaplen(pcap, PCAP_SNAP_LENGTH) != 0 ||
        library->SetPromisc(pcap, promiscuous ? 1 : 0) != 0 ||
        library->SetTimeout(pcap, READ_TIMEOUT_MILLISECONDS) != 0 ||
        (library->SetImmediateMode && library->SetImmediateMode(pcap, 1) != 0) ||
        (library->SetBufferSize && library->SetBufferSize(pcap, PCAP_CAPTURE_BUFFER_BYTES) != 0)) {
        return fail(library->GetErr(pcap));
    }
    if (const int status = library->Activate(pcap); status < 0) {
        std::string why = std::string(library->StatusToStr(status)) + ": " + library->GetErr(pcap);
        if (status == PCAP_ERROR_PERM_DENIED) {
            why += " (Npcap was installed for administrators only: run this program as "
                   "administrator, or install Npcap again without \"Restrict Npcap driver's "
                   "access to Administrators only\")";
        }
        return fail(why);
    }
    // Npcap hands frames up as they come rather than when its buffer fills.
    if (library->SetMinToCopy) {
        library->SetMinToCopy(pcap, 0);
    }
    return std::make_unique<NpcapCapture>(std::move(library), pcap);
}

}  // namespace tarvik
