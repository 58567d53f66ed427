#include "netio/fan_out_driver.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tarvik {
namespace {

// How long the pump waits for a frame before it looks whether the tasks have ended.
constexpr std::uint32_t PUMP_WAIT_MS = 10;

MacAddress AddressAt(std::span<const std::uint8_t> frame, std::size_t offset)
{
    MacAddress address{};
    std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(offset), address.size(),
                address.begin());
    return address;
}

}  // namespace

struct FanOutDriver::Logical {
    std::optional<MacAddress> Device;  // none: the frames nobody claimed
    std::uint32_t Filter = 0;
    // The sources its binding asked to be passed up; nothing until it asks.
    std::optional<SourceAddresses> Sources;
    // The kind of shared question it asked its device and got no answer to yet.
    SharedQuestion::Kind Awaits;
    PostedReads Reads;
};

// Every call but the open goes to the fan-out as it is; the open claims the device.
class FanOutDriver::DeviceView final : public ForwardingPacketDriver {
public:
    DeviceView(FanOutDriver& owner, const MacAddress& device)
        : ForwardingPacketDriver(owner), owner_(owner), device_(device)
    {
    }

    std::int32_t OpenAdapter(const char* name) override { return owner_.Open(name, device_); }

private:
    FanOutDriver& owner_;
    MacAddress device_;
};

FanOutDriver::FanOutDriver(Kernel& kernel, PacketDriver& inner)
    : kernel_(kernel), inner_(inner), slots_(kernel, inner)
{
}

FanOutDriver::~FanOutDriver()
{
    std::lock_guard lock(lock_);
    logical_.clear();
    ReleaseShared();
}

PacketDriver& FanOutDriver::ForDevice(const MacAddress& device)
{
    std::lock_guard lock(lock_);
    views_.push_back(std::make_unique<DeviceView>(*this, device));
    return *views_.back();
}

std::int32_t FanOutDriver::OpenAdapter(const char* name)
{
    return Open(name, std::nullopt);
}

std::int32_t FanOutDriver::Open(const char* name, std::optional<MacAddress> device)
{
    std::lock_guard lock(lock_);
    if (shared_ == INVALID_ADAPTER) {
        const std::int32_t opened = inner_.OpenAdapter(name);
        if (opened == INVALID_ADAPTER) {
            return INVALID_ADAPTER;
        }
        shared_ = opened;
        sharedName_ = name;
        if (!slots_.Allocate(FAN_OUT_READ_SLOTS)) {
            ReleaseShared();
            return INVALID_ADAPTER;
        }
        sharedFilter_.reset();
        sharedSources_.reset();
        for (std::size_t i = 0; i < FAN_OUT_READ_SLOTS; ++i) {
            slots_.Post(shared_, i);
        }
    } else if (sharedName_ != name) {
        return INVALID_ADAPTER;
    }
    const std::int32_t handle = nextHandle_++;
    logical_[handle].Device = device;
    return handle;
}

void FanOutDriver::CloseAdapter(std::int32_t adapter)
{
    std::lock_guard lock(lock_);
    if (logical_.erase(adapter) == 0) {
        return;
    }
    if (logical_.empty() && !pumping_) {
        ReleaseShared();
    }
}

void FanOutDriver::ReleaseShared()
{
    if (shared_ != INVALID_ADAPTER) {
        // Reads still posted are abandoned by the close, so the slots can go after it.
        inner_.CloseAdapter(shared_);
        shared_ = INVALID_ADAPTER;
    }
    slots_.Release();
    sharedName_.clear();
}

std::uint32_t FanOutDriver::PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                                       Overlapped* request, std::uint32_t)
{
    ReadCompletions completed(kernel_);
    std::lock_guard lock(lock_);
    const auto found = logical_.find(adapter);
    if (found == logical_.end() || slot == nullptr || request == nullptr) {
        return DRIVER_FAILED;
    }
    found->second.Reads.Post({slot, count, request}, completed);
    return DRIVER_OK;
}

std::uint32_t FanOutDriver::PacketSend(std::int32_t adapter, const std::uint8_t* frame,
                                       std::uint32_t length, std::uint32_t* count,
                                       Overlapped* request, std::uint32_t flags)
{
    std::int32_t shared = INVALID_ADAPTER;
    {
        std::lock_guard lock(lock_);
        const auto found = logical_.find(adapter);
        if (found == logical_.end()) {
            return DRIVER_FAILED;
        }
        // Marked before the frame goes out: the answer may come before the send returns.
        if (found->second.Device && question_.Asks && frame != nullptr) {
            if (const SharedQuestion::Kind asks = question_.Asks(std::span(frame, length))) {
                found->second.Awaits = asks;
            }
        }
        shared = shared_;
    }
    return inner_.PacketSend(shared, frame, length, count, request, flags);
}

std::uint32_t FanOutDriver::MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                            Overlapped* overlapped, std::uint32_t flags)
{
    std::lock_guard lock(lock_);
    const auto found = logical_.find(adapter);
    if (found == logical_.end()) {
        return DRIVER_FAILED;
    }
    if (request->RequestType == NDIS_REQUEST_SET_INFORMATION &&
        request->Oid == OID_TARVIK_SOURCE_ADDRESSES) {
        SourceAddresses sources;
        if (!ReadSourceAddresses(*request, sources)) {
            return DRIVER_FAILED;
        }
        const std::optional<SourceAddresses> before = found->second.Sources;
        found->second.Sources = std::move(sources);
        if (SetSharedSources() != DRIVER_OK) {
            found->second.Sources = before;
            return DRIVER_FAILED;
        }
        return DRIVER_OK;
    }
    if (request->RequestType != NDIS_REQUEST_SET_INFORMATION ||
        request->Oid != OID_GEN_CURRENT_PACKET_FILTER) {
        return inner_.MakeNdisRequest(shared_, request, overlapped, flags);
    }
    if (request->InformationBuffer == nullptr ||
        request->InformationBufferLength < sizeof(std::uint32_t)) {
        return DRIVER_FAILED;
    }
    const std::uint32_t before = found->second.Filter;
    std::memcpy(&found->second.Filter, request->InformationBuffer, sizeof(std::uint32_t));
    if (SetSharedFilter() != DRIVER_OK) {
        found->second.Filter = before;
        return DRIVER_FAILED;
    }
    // Sources are only narrowed where the shared adapter takes the request; routing still
    // keeps each device's frames to its own run.
    SetSharedSources();
    return DRIVER_OK;
}

void FanOutDriver::PassEverySource()
{
    std::lock_guard lock(lock_);
    everySource_ = true;
    if (shared_ != INVALID_ADAPTER && sharedSources_) {
        SetSharedSources();
    }
}

void FanOutDriver::RouteSharedAnswers(SharedQuestion question)
{
    std::lock_guard lock(lock_);
    question_ = std::move(question);
}

void FanOutDriver::ExpectDevices(std::span<const MacAddress> devices)
{
    std::lock_guard lock(lock_);
    expected_.assign(devices.begin(), devices.end());
    if (shared_ != INVALID_ADAPTER && sharedSources_) {
        SetSharedSources();
    }
}

SourceAddresses FanOutDriver::CombinedSources() const
{
    if (everySource_) {
        return std::nullopt;
    }
    std::vector<MacAddress> combined;
    for (const MacAddress& device : expected_) {
        if (std::find(combined.begin(), combined.end(), device) == combined.end()) {
            combined.push_back(device);
        }
    }
    for (const auto& [handle, logical] : logical_) {
        if (logical.Filter == 0) {
            continue;
        }
        if (logical.Device) {
            // A device's run gets only that device's frames anyway: whatever its binding asks,
            // the device is all it can use.
            if (std::find(combined.begin(), combined.end(), *logical.Device) == combined.end()) {
                combined.push_back(*logical.Device);
            }
            continue;
        }
        if (!logical.Sources || !expected_.empty()) {
            // Has sent nothing, so no frame can be a reply to it; or the devices to upgrade
            // are known, and its browsing is over.
            continue;
        }
        if (!*logical.Sources) {
            return std::nullopt;  // discovery: replies come from stations nobody knows yet
        }
        for (const MacAddress& source : **logical.Sources) {
            if (std::find(combined.begin(), combined.end(), source) == combined.end()) {
                combined.push_back(source);
            }
        }
    }
    if (combined.size() > SOURCE_ADDRESSES_MAX) {
        return std::nullopt;
    }
    // In one order, so that the same sources are never asked for twice.
    std::sort(combined.begin(), combined.end());
    return combined;
}

std::uint32_t FanOutDriver::SetSharedSources()
{
    const SourceAddresses combined = CombinedSources();
    // Asked only when the answer changes: a new program may cost the others their queued
    // replies, as a new packet filter may. Until asked, the shared adapter passes every source.
    if (sharedSources_ ? *sharedSources_ == combined : !combined) {
        return DRIVER_OK;
    }
    Overlapped overlapped{};
    const std::uint32_t result = AskSourceAddresses(inner_, shared_, combined, &overlapped);
    if (result == DRIVER_OK) {
        sharedSources_ = combined;
    }
    return result;
}

std::uint32_t FanOutDriver::SetSharedFilter()
{
    std::uint32_t combined = 0;
    for (const auto& [handle, logical] : logical_) {
        combined |= logical.Filter;
    }
    // A real adapter may drop the frames it holds when its filter is set: asked again for
    // the filter it has, it is left alone, so one run starting does not cost another a reply.
    if (sharedFilter_ == combined) {
        return DRIVER_OK;
    }
    RequestRecord request = NdisRequest(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER,
                                        &combined, sizeof combined);
    Overlapped overlapped{};
    const std::uint32_t result =
        inner_.MakeNdisRequest(shared_, &request, &overlapped, PACKET_CALL_COMPLETE);
    if (result == DRIVER_OK) {
        sharedFilter_ = combined;
    }
    return result;
}

void FanOutDriver::RunAll(std::span<const std::function<void()>> tasks, std::size_t limit)
{
    FanOutDriver* const self = this;
    RunTogether(kernel_, std::span(&self, 1), tasks, limit);
}

void FanOutDriver::RunTogether(Kernel& kernel, std::span<FanOutDriver* const> drivers,
                               std::span<const std::function<void()>> tasks, std::size_t limit)
{
    std::atomic<std::size_t> running{tasks.size()};
    std::vector<std::function<void()>> all;
    all.reserve(tasks.size() + drivers.size());
    // The pumps first: a limit leaves room for them.
    for (FanOutDriver* const driver : drivers) {
        all.emplace_back([driver, &running] {
            while (running > 0) {
                driver->Pump(PUMP_WAIT_MS);
            }
        });
    }
    for (const std::function<void()>& task : tasks) {
        all.emplace_back([&task, &running] {
            task();
            --running;
        });
    }
    for (FanOutDriver* const driver : drivers) {
        std::lock_guard lock(driver->lock_);
        driver->pumping_ = true;
    }
    kernel.RunConcurrently(all, limit == 0 ? 0 : limit + drivers.size());
    for (FanOutDriver* const driver : drivers) {
        std::lock_guard lock(driver->lock_);
        driver->pumping_ = false;
        if (driver->logical_.empty()) {
            driver->ReleaseShared();
        }
    }
}

void FanOutDriver::Pump(std::uint32_t timeoutMs)
{
    std::int32_t shared = INVALID_ADAPTER;
    {
        std::lock_guard lock(lock_);
        if (slots_.Allocated()) {
            shared = shared_;
        }
    }
    if (shared == INVALID_ADAPTER) {
        kernel_.Sleep(timeoutMs);
        return;
    }
    // The slots stay while the pump runs (see pumping_), so only the routing needs the lock.
    slots_.TakeInOrder(shared, timeoutMs, FAN_OUT_READ_SLOTS,
                       [this](std::span<const std::uint8_t> frame) {
        ReadCompletions completed(kernel_);
        std::lock_guard lock(lock_);
        Route(frame, completed);
    });
}

void FanOutDriver::Route(std::span<const std::uint8_t> frame, ReadCompletions& completed)
{
    if (frame.size() < 12) {
        return;
    }
    const MacAddress source = AddressAt(frame, 6);
    const bool broadcast = AddressAt(frame, 0) == BROADCAST_ADDRESS;
    const std::uint32_t wanted = broadcast ? NDIS_PACKET_TYPE_BROADCAST : NDIS_PACKET_TYPE_DIRECTED;
    auto claimer = std::find_if(logical_.begin(), logical_.end(),
                                [&](const auto& entry) { return entry.second.Device == source; });
    bool claimed = claimer != logical_.end();
    if (claimed && question_.Answers) {
        if (const SharedQuestion::Kind answers = question_.Answers(frame)) {
            // An answer the device's run does not wait for answers a probe.
            claimed = claimer->second.Awaits == answers;
            if (claimed) {
                claimer->second.Awaits.reset();
            }
        }
    }
    for (auto& [handle, logical] : logical_) {
        const bool ours = claimed ? logical.Device == source : !logical.Device;
        if (ours && (logical.Filter & wanted) != 0) {
            logical.Reads.Deliver(frame, completed);
        }
    }
}

std::string FanOutDriver::SharedAdapterName()
{
    std::lock_guard lock(lock_);
    return sharedName_;
}

std::size_t FanOutDriver::PendingFrames()
{
    std::lock_guard lock(lock_);
    std::size_t pending = 0;
    for (const auto& [handle, logical] : logical_) {
        pending += logical.Reads.Held();
    }
    return pending;
}

}  // namespace tarvik
