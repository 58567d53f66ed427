#include "platform/capture/pcap_driver.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/capture/driver_vlan_handling.h"
#include "platform/capture/posted_reads.h"
#include "platform/capture/vlan_tagging.h"

namespace tarvik {

namespace {

// What the medium query answers for a link without Ethernet framing (a tunnel, the "any"
// pseudo-device): anything but 802.3 keeps the program off it.
constexpr std::uint32_t MEDIUM_NOT_ETHERNET = 3;  // WAN

// The program without its VLAN test; tagged: the frames may carry a tag in front of their type
// field.
std::optional<std::string> UntaggedProgram(std::uint32_t packetFilter,
                                           const std::optional<MacAddress>& station,
                                           const FrameAdmission& admission,
                                           const SourceAddresses& sources, bool tagged)
{
    if (packetFilter == 0 || (sources && sources->empty())) {
        return "less 1";
    }
    if (packetFilter != NDIS_PACKET_TYPE_DIRECTED &&
        packetFilter != (NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST)) {
        return std::nullopt;
    }
    if (!station) {
        return std::nullopt;
    }
    std::string program = "ether dst " + FormatMacAddress(*station);
    if (packetFilter & NDIS_PACKET_TYPE_BROADCAST) {
        program += " or ether broadcast";
    }
    if (admission.Empty() && !sources) {
        return program;
    }
    program = "(" + program + ")";
    if (!admission.TypeFields.empty()) {
        std::string types;
        for (const std::uint16_t field : admission.TypeFields) {
            char test[32];
            std::snprintf(test, sizeof test, "ether[12:2] = 0x%04x", field);
            types += (types.empty() ? "" : " or ") + std::string(test);
            if (tagged) {
                std::snprintf(test, sizeof test, "ether[16:2] = 0x%04x", field);
                types += " or " + std::string(test);
            }
        }
        program += " and (" + types + ")";
    }
    if (admission.MinimumLength > 0) {
        program += " and greater " + std::to_string(admission.MinimumLength);
    }
    if (sources) {
        std::string from;
        for (const MacAddress& source : *sources) {
            from += (from.empty() ? "ether src " : " or ether src ") + FormatMacAddress(source);
        }
        program += " and (" + from + ")";
    }
    return program;
}

}  // namespace

std::optional<std::string> PacketFilterProgram(std::uint32_t packetFilter,
                                               const std::optional<MacAddress>& station,
                                               const FrameAdmission& admission,
                                               const SourceAddresses& sources)
{
    const std::optional<std::string> program =
        UntaggedProgram(packetFilter, station, admission, sources, admission.VlanId != 0);
    if (!program || admission.VlanId == 0 || *program == "less 1") {
        return program;
    }
    // libpcap's vlan test takes the tag where the OS left it: in the frame, or beside it (the
    // socket's auxiliary data on Linux). The type field then lies four bytes on in the first
    // case and not in the second, so the type test accepts either place; the tagging capture
    // above judges each frame exactly.
    return "vlan " + std::to_string(admission.VlanId) + " and (" + *program + ")";
}

class PcapPacketDriver::Adapter {
public:
    // The opened adapter, or nothing (and why in error) when the interface cannot be
    // captured on. A station address of its own puts the interface in promiscuous mode.
    // A name IFACE.VID that the system has no interface of opens IFACE, tagged on VLAN VID.
    static std::unique_ptr<Adapter> Open(WatchingKernel& kernel, const CaptureOpener& opener,
                                         const std::string& interfaceName,
                                         const std::optional<MacAddress>& stationAddress,
                                         FrameAdmission admission, std::string& error)
    {
        std::string captured = interfaceName;
        const std::optional<VlanName> vlan = ParseVlanName(interfaceName);
        if (vlan && !InterfaceExists(interfaceName)) {
            // A trunk whose driver takes the tags off would pass up no reply of the VLAN.
            if (std::optional<std::string> refusal = VlanTaggingRefusal(vlan->Trunk, vlan->Id)) {
                error = std::move(*refusal);
                return nullptr;
            }
            captured = vlan->Trunk;
            admission.VlanId = vlan->Id;
        }
        std::unique_ptr<CaptureSource> source =
            opener(captured, stationAddress.has_value(), error);
        if (!source) {
            return nullptr;
        }
        if (admission.VlanId != 0) {
            source = std::make_unique<VlanTaggedCapture>(std::move(source), admission.VlanId);
        }
        const int captureFd = source->SelectableFd();
        std::unique_ptr<Adapter> adapter(new Adapter(kernel, captured, stationAddress,
                                                     std::move(admission), std::move(source)));
        // An adapter passes nothing up until the program sets its packet filter.
        if (!adapter->InstallFilter(0, std::nullopt)) {
            error = "filter: " + adapter->PcapError();
            return nullptr;
        }
        adapter->watch_ = kernel.Watch(captureFd, [raw = adapter.get()] { return raw->Drain(); });
        if (adapter->watch_ == 0) {
            error = "the capture cannot be watched";
            return nullptr;
        }
        return adapter;
    }

    ~Adapter()
    {
        source_->StopWaiting();
        if (watch_ != 0) {
            kernel_.Unwatch(watch_);
        }
    }

    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    std::uint32_t Read(ReadSlot* slot, std::uint32_t* count, Overlapped* request)
    {
        // The thread that waits for this read may read the capture itself.
        kernel_.ServedBy(request->Event, watch_);
        ReadCompletions completed(kernel_);
        std::lock_guard lock(queueLock_);
        reads_.Post({slot, count, request}, completed);
        return DRIVER_OK;
    }

    std::uint32_t Send(const std::uint8_t* frame, std::uint32_t length)
    {
        std::lock_guard lock(pcapLock_);
        return source_->Inject(frame, length) ? DRIVER_OK : DRIVER_FAILED;
    }

    std::uint32_t Request(RequestRecord& request)
    {
        const auto type = request.RequestType;
        const auto oid = request.Oid;
        auto* buffer = static_cast<std::uint8_t*>(request.InformationBuffer);
        const std::uint32_t length = request.InformationBufferLength;

        if (type == NDIS_REQUEST_QUERY_INFORMATION && oid == OID_GEN_MEDIA_IN_USE) {
            if (buffer == nullptr || length < sizeof(std::uint32_t)) {
                return DRIVER_FAILED;
            }
            const std::uint32_t medium = datalink_ == DLT_EN10MB ? NDIS_MEDIUM_802_3
                                                                 : MEDIUM_NOT_ETHERNET;
            std::memcpy(buffer, &medium, sizeof medium);
            request.BytesTransferred = sizeof medium;
            return DRIVER_OK;
        }
        if (type == NDIS_REQUEST_QUERY_INFORMATION && oid == OID_802_3_CURRENT_ADDRESS) {
            if (buffer == nullptr || length < std::tuple_size_v<MacAddress>) {
                return DRIVER_FAILED;
            }
            const std::optional<MacAddress> address = StationAddress();
            if (!address) {
                return DRIVER_FAILED;
            }
            std::memset(buffer, 0, length);
            std::memcpy(buffer, address->data(), address->size());
            request.BytesTransferred = static_cast<std::uint32_t>(address->size());
            return DRIVER_OK;
        }
        if (type == NDIS_REQUEST_SET_INFORMATION && oid == OID_GEN_CURRENT_PACKET_FILTER) {
            if (buffer == nullptr || length < sizeof(std::uint32_t)) {
                return DRIVER_FAILED;
            }
            std::uint32_t filter = 0;
            std::memcpy(&filter, buffer, sizeof filter);
            if (!InstallFilter(filter, Sources())) {
                return DRIVER_FAILED;
            }
            request.BytesTransferred = sizeof filter;
            return DRIVER_OK;
        }
        if (type == NDIS_REQUEST_SET_INFORMATION && oid == OID_TARVIK_SOURCE_ADDRESSES) {
            SourceAddresses sources;
            if (!ReadSourceAddresses(request, sources) || !InstallFilter(Filter(), sources)) {
                return DRIVER_FAILED;
            }
            request.BytesTransferred = length;
            return DRIVER_OK;
        }
        return DRIVER_FAILED;
    }

private:
    Adapter(WatchingKernel& kernel, std::string interfaceName,
            std::optional<MacAddress> stationAddress, FrameAdmission admission,
            std::unique_ptr<CaptureSource> source)
        : kernel_(kernel), interface_(std::move(interfaceName)), stationAddress_(stationAddress),
          admission_(std::move(admission)), source_(std::move(source)),
          datalink_(source_->LinkType()), probe_(interface_)
    {
    }

    std::optional<MacAddress> StationAddress() const
    {
        if (datalink_ != DLT_EN10MB) {
            return std::nullopt;
        }
        return stationAddress_ ? stationAddress_ : probe_.Current();
    }

    std::string PcapError()
    {
        std::lock_guard lock(pcapLock_);
        return source_->Error();
    }

    std::uint32_t Filter()
    {
        std::lock_guard lock(pcapLock_);
        return packetFilter_;
    }

    SourceAddresses Sources()
    {
        std::lock_guard lock(pcapLock_);
        return sources_;
    }

    // Multicast and promiscuous reception are never asked for: an adapter with an address
    // of its own runs promiscuously, but its filter still passes only what is meant for it.
    bool InstallFilter(std::uint32_t packetFilter, const SourceAddresses& sources)
    {
        const std::optional<MacAddress> address =
            packetFilter & NDIS_PACKET_TYPE_DIRECTED ? StationAddress() : std::nullopt;
        const std::optional<std::string> expression = PacketFilterProgram(
            packetFilter, address, admission_, admission_.Empty() ? std::nullopt : sources);
        if (!expression) {
            return false;
        }

        std::lock_guard lock(pcapLock_);
        // libpcap empties the socket's queue whenever it installs a program, so that no frame
        // the old one let in is read under the new one. Setting the same filter again must not
        // throw away the replies already waiting: several bindings sharing one adapter set
        // their filters while the others' replies arrive.
        if (installed_ != *expression) {
            if (!source_->SetFilter(*expression)) {
                return false;
            }
            installed_ = *expression;
        }
        packetFilter_ = packetFilter;
        sources_ = sources;
        return true;
    }

    // Reads every frame the capture holds, without blocking; called by the waiting thread the
    // Kernel chose. False once the interface is gone or broken: posted reads then simply
    // never complete.
    bool Drain()
    {
        // Declared before the capture lock: the reads this drain completes are signalled once
        // it is released, so a woken thread that sends at once does not wait for the drain.
        source_->AwaitFrames();
        ReadCompletions completed(kernel_);
        std::lock_guard lock(pcapLock_);
        return source_->Dispatch([this, &completed](std::span<const std::uint8_t> frame) {
            Deliver(frame.data(), std::min(frame.size(), READ_SLOT_FRAME_BYTES), completed);
        });
    }

    void Deliver(const std::uint8_t* bytes, std::size_t length, ReadCompletions& completed)
    {
        std::lock_guard lock(queueLock_);
        reads_.Deliver(std::span(bytes, length), completed);
    }

    WatchingKernel& kernel_;
    const std::string interface_;
    const std::optional<MacAddress> stationAddress_;
    const FrameAdmission admission_;
    std::optional<std::string> installed_;  // the program the OS runs now; under pcapLock_
    std::uint32_t packetFilter_ = 0;        // what it was made of; under pcapLock_
    SourceAddresses sources_;               // under pcapLock_
    const std::unique_ptr<CaptureSource> source_;
    const int datalink_;
    const InterfaceAddressProbe probe_;
    WatchingKernel::WatchId watch_ = 0;

    // Held around every use of the capture handle: a waiting thread reads it while the
    // binding's thread sends and sets filters.
    std::mutex pcapLock_;
    // Held around the posted reads and the frames waiting for one.
    std::mutex queueLock_;
    PostedReads reads_;
};

PcapPacketDriver::PcapPacketDriver(WatchingKernel& kernel, std::optional<MacAddress> stationAddress,
                                   CaptureOpener opener)
    : kernel_(kernel), stationAddress_(stationAddress),
      opener_(opener ? std::move(opener) : CaptureOpener(OpenPcapCapture))
{
}

PcapPacketDriver::~PcapPacketDriver() = default;

void PcapPacketDriver::SetFrameAdmission(FrameAdmission admission)
{
    std::lock_guard lock(tableLock_);
    admission_ = std::move(admission);
}

FrameAdmission PcapPacketDriver::Admission()
{
    std::lock_guard lock(tableLock_);
    return admission_;
}

PcapPacketDriver::Adapter* PcapPacketDriver::Find(std::int32_t adapter)
{
    std::lock_guard lock(tableLock_);
    const auto found = adapters_.find(adapter);
    return found == adapters_.end() ? nullptr : found->second.get();
}

std::int32_t PcapPacketDriver::OpenAdapter(const char* name)
{
    const std::string interfaceName = InterfaceOfAdapterName(name);
    if (interfaceName.empty()) {
        std::lock_guard lock(tableLock_);
        openError_ = "not an adapter name";
        return INVALID_ADAPTER;
    }
    std::unique_ptr<Adapter> adapter;
    {
        std::lock_guard lock(tableLock_);
        if (const auto found = prepared_.find(interfaceName); found != prepared_.end()) {
            adapter = std::move(found->second);
            prepared_.erase(found);
        }
    }
    std::string error;
    if (!adapter) {
        adapter =
            Adapter::Open(kernel_, opener_, interfaceName, stationAddress_, Admission(), error);
    }
    std::lock_guard lock(tableLock_);
    if (!adapter) {
        openError_ = error;
        return INVALID_ADAPTER;
    }
    while (adapters_.contains(nextHandle_)) {
        nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
    }
    const std::int32_t handle = nextHandle_;
    nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
    adapters_.emplace(handle, std::move(adapter));
    return handle;
}

bool PcapPacketDriver::Prepare(const char* name)
{
    const std::string interfaceName = InterfaceOfAdapterName(name);
    if (interfaceName.empty()) {
        return false;
    }
    std::string error;
    std::unique_ptr<Adapter> adapter =
        Adapter::Open(kernel_, opener_, interfaceName, stationAddress_, Admission(), error);
    if (!adapter) {
        return false;
    }
    std::lock_guard lock(tableLock_);
    prepared_[interfaceName] = std::move(adapter);
    return true;
}

void PcapPacketDriver::ForgetPrepared()
{
    std::map<std::string, std::unique_ptr<Adapter>> unused;
    {
        std::lock_guard lock(tableLock_);
        unused.swap(prepared_);
    }
}

std::string PcapPacketDriver::OpenError()
{
    std::lock_guard lock(tableLock_);
    return openError_;
}

void PcapPacketDriver::CloseAdapter(std::int32_t adapter)
{
    std::unique_ptr<Adapter> closing;
    {
        std::lock_guard lock(tableLock_);
        const auto found = adapters_.find(adapter);
        if (found == adapters_.end()) {
            return;
        }
        closing = std::move(found->second);
        adapters_.erase(found);
    }
    // Destroying it outside the table's lock: it waits for a poll under way to end.
    closing.reset();
}

std::uint32_t PcapPacketDriver::PacketRead(std::int32_t adapter, ReadSlot* slot,
                                           std::uint32_t* count, Overlapped* request,
                                           std::uint32_t /*flags*/)
{
    Adapter* open = Find(adapter);
    if (open == nullptr || slot == nullptr || request == nullptr) {
        return DRIVER_FAILED;
    }
    return open->Read(slot, count, request);
}

std::uint32_t PcapPacketDriver::PacketSend(std::int32_t adapter, const std::uint8_t* frame,
                                           std::uint32_t length, std::uint32_t* count,
                                           Overlapped* /*request*/, std::uint32_t /*flags*/)
{
    Adapter* open = Find(adapter);
    if (open == nullptr || frame == nullptr || length == 0 || length > MAX_FRAME_BYTES) {
        return DRIVER_FAILED;
    }
    const std::uint32_t result = open->Send(frame, length);
    if (result == DRIVER_OK && count != nullptr) {
        *count = length;
    }
    return result;
}

std::uint32_t PcapPacketDriver::MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                                Overlapped* /*overlapped*/, std::uint32_t /*flags*/)
{
    Adapter* open = Find(adapter);
    if (open == nullptr || request == nullptr) {
        return DRIVER_FAILED;
    }
    return open->Request(*request);
}

}  // namespace tarvik
