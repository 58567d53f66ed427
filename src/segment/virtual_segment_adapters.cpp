#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "platform/capture/posted_reads.h"
#include "segment/virtual_segment.h"

namespace tarvik {

namespace {

// One opened adapter: a station of the segment whose packet filter decides what reaches it.
// A fresh adapter takes nothing until a filter is set.
class Port final : public SegmentStation {
public:
    Port(Kernel& kernel, std::mutex& driverMutex, const MacAddress& stationAddress,
         std::uint32_t mediumInUse)
        : address(stationAddress), medium(mediumInUse), kernel_(kernel), mutex_(driverMutex)
    {
    }

    MacAddress StationAddress() const override { return address; }
    bool ReceivesBroadcast() const override { return (filter & NDIS_PACKET_TYPE_BROADCAST) != 0; }
    bool ReceivesDirected() const override { return (filter & NDIS_PACKET_TYPE_DIRECTED) != 0; }

    void ReceiveFrame(std::span<const std::uint8_t> frame) override
    {
        ReadCompletions completed(kernel_);
        std::lock_guard lock(mutex_);
        reads.Deliver(frame, completed);
    }

    const MacAddress address;
    const std::uint32_t medium;
    std::atomic<std::uint32_t> filter{0};
    // Guarded by the driver's mutex: frames that land while no read is posted wait here, as
    // in an adapter's receive ring.
    PostedReads reads;

private:
    Kernel& kernel_;
    std::mutex& mutex_;
};

struct AdapterModel {
    MacAddress address;
    std::uint32_t medium;
};

bool AnswerQuery(RequestRecord& request, const void* value, std::uint32_t length)
{
    if (request.RequestType != NDIS_REQUEST_QUERY_INFORMATION ||
        request.InformationBuffer == nullptr || request.InformationBufferLength < length) {
        request.BytesNeeded = length;
        return false;
    }
    std::memcpy(request.InformationBuffer, value, length);
    request.BytesTransferred = length;
    return true;
}

}  // namespace

struct VirtualAdapterDriver::State {
    State(Kernel& k, VirtualSegment& s) : kernel(k), segment(s) {}

    Port* Find(std::int32_t adapter) const
    {
        const auto found = ports.find(adapter);
        return found == ports.end() ? nullptr : found->second.get();
    }

    Kernel& kernel;
    VirtualSegment& segment;
    mutable std::mutex mutex;
    std::map<std::string, AdapterModel> models;
    std::map<std::int32_t, std::unique_ptr<Port>> ports;
    std::int32_t nextHandle = 0;
    bool failOpens = false;
    bool failSends = false;
    bool failRequests = false;
    std::uint64_t framesSent = 0;
};

VirtualAdapterDriver::VirtualAdapterDriver(Kernel& kernel, VirtualSegment& segment)
    : state_(std::make_unique<State>(kernel, segment))
{
}

VirtualAdapterDriver::~VirtualAdapterDriver()
{
    std::map<std::int32_t, std::unique_ptr<Port>> ports;
    {
        std::lock_guard lock(state_->mutex);
        ports.swap(state_->ports);
    }
    for (auto& [handle, port] : ports) {
        state_->segment.Detach(port.get());
    }
}

void VirtualAdapterDriver::AddAdapter(const std::string& name, const MacAddress& address,
                                      std::uint32_t medium)
{
    std::lock_guard lock(state_->mutex);
    state_->models[name] = AdapterModel{address, medium};
}

void VirtualAdapterDriver::FailOpens(bool fail)
{
    std::lock_guard lock(state_->mutex);
    state_->failOpens = fail;
}

void VirtualAdapterDriver::FailSends(bool fail)
{
    std::lock_guard lock(state_->mutex);
    state_->failSends = fail;
}

void VirtualAdapterDriver::FailRequests(bool fail)
{
    std::lock_guard lock(state_->mutex);
    state_->failRequests = fail;
}

std::uint32_t VirtualAdapterDriver::PacketFilter(std::int32_t adapter) const
{
    std::lock_guard lock(state_->mutex);
    const Port* port = state_->Find(adapter);
    return port == nullptr ? 0 : port->filter.load();
}

std::uint64_t VirtualAdapterDriver::FramesSent() const
{
    std::lock_guard lock(state_->mutex);
    return state_->framesSent;
}

std::int32_t VirtualAdapterDriver::OpenAdapter(const char* name)
{
    Port* port = nullptr;
    std::int32_t handle = INVALID_ADAPTER;
    {
        std::lock_guard lock(state_->mutex);
        const auto model = name == nullptr ? state_->models.end() : state_->models.find(name);
        if (state_->failOpens || model == state_->models.end()) {
            return INVALID_ADAPTER;
        }
        handle = state_->nextHandle++;
        auto made = std::make_unique<Port>(state_->kernel, state_->mutex, model->second.address,
                                           model->second.medium);
        port = made.get();
        state_->ports.emplace(handle, std::move(made));
    }
    state_->segment.Attach(port);
    return handle;
}

void VirtualAdapterDriver::CloseAdapter(std::int32_t adapter)
{
    std::unique_ptr<Port> port;
    {
        std::lock_guard lock(state_->mutex);
        const auto found = state_->ports.find(adapter);
        if (found == state_->ports.end()) {
            return;
        }
        port = std::move(found->second);
        state_->ports.erase(found);
        // Posted reads are abandoned: their slots are never written again.
        port->reads.Close();
    }
    // Waits for a delivery to this port that another thread may be making.
    state_->segment.Detach(port.get());
}

std::uint32_t VirtualAdapterDriver::PacketRead(std::int32_t adapter, ReadSlot* slot,
                                               std::uint32_t* count, Overlapped* request,
                                               std::uint32_t /*flags*/)
{
    if (slot == nullptr || request == nullptr) {
        return DRIVER_FAILED;
    }
    ReadCompletions completed(state_->kernel);
    std::lock_guard lock(state_->mutex);
    Port* port = state_->Find(adapter);
    if (port == nullptr) {
        return DRIVER_FAILED;
    }
    port->reads.Post({slot, count, request}, completed);
    return DRIVER_OK;
}

std::uint32_t VirtualAdapterDriver::PacketSend(std::int32_t adapter, const std::uint8_t* frame,
                                               std::uint32_t length, std::uint32_t* count,
                                               Overlapped* /*request*/, std::uint32_t /*flags*/)
{
    Port* port = nullptr;
    {
        std::lock_guard lock(state_->mutex);
        port = state_->Find(adapter);
        if (state_->failSends || port == nullptr || frame == nullptr || length == 0 ||
            length > MAX_FRAME_BYTES) {
            return DRIVER_FAILED;
        }
        ++state_->framesSent;
    }
    state_->segment.Transmit(port, std::span(frame, length));
    if (count != nullptr) {
        *count = length;
    }
    return DRIVER_OK;
}

std::uint32_t VirtualAdapterDriver::MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                                    Overlapped* /*overlapped*/,
                                                    std::uint32_t /*flags*/)
{
    std::lock_guard lock(state_->mutex);
    Port* port = state_->Find(adapter);
    if (request == nullptr || port == nullptr || state_->failRequests) {
        return DRIVER_FAILED;
    }
    switch (request->Oid) {
    case OID_GEN_MEDIA_IN_USE:
        return AnswerQuery(*request, &port->medium, sizeof port->medium) ? DRIVER_OK
                                                                         : DRIVER_FAILED;
    case OID_802_3_CURRENT_ADDRESS:
        return AnswerQuery(*request, port->address.data(), 6) ? DRIVER_OK : DRIVER_FAILED;
    case OID_GEN_CURRENT_PACKET_FILTER:
        if (request->RequestType == NDIS_REQUEST_QUERY_INFORMATION) {
            const std::uint32_t filter = port->filter;
            return AnswerQuery(*request, &filter, sizeof filter) ? DRIVER_OK : DRIVER_FAILED;
        }
        if (request->InformationBuffer == nullptr || request->InformationBufferLength < 4) {
            request->BytesNeeded = 4;
            return DRIVER_FAILED;
        }
        std::uint32_t filter;
        std::memcpy(&filter, request->InformationBuffer, sizeof filter);
        port->filter = filter;
        request->BytesTransferred = sizeof filter;
        return DRIVER_OK;
    default:
        return DRIVER_FAILED;
    }
}

}  // namespace tarvik
