#include "device_daemon/device_adapter.h"

namespace tarvik::target {

DeviceAdapter::DeviceAdapter(Kernel& kernel, PacketDriver& driver, OpenErrorText openError)
    : kernel_(kernel), driver_(driver), openError_(std::move(openError)), slots_(kernel, driver)
{
}

DeviceAdapter::~DeviceAdapter()
{
    if (adapter_ != INVALID_ADAPTER) {
        SetPacketFilter(0);
        // Reads still posted are abandoned here: the driver touches no slot after this.
        driver_.CloseAdapter(adapter_);
    }
    slots_.Release();
}

std::optional<std::string> DeviceAdapter::Open(const std::string& interfaceName)
{
    const std::string name = AdapterNameOf(interfaceName);
    adapter_ = driver_.OpenAdapter(name.c_str());
    if (adapter_ == INVALID_ADAPTER) {
        return openError_ ? openError_() : "the adapter cannot be opened";
    }
    std::uint32_t medium = 0;
    RequestRecord request =
        NdisRequest(NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &medium, sizeof medium);
    if (driver_.MakeNdisRequest(adapter_, &request, nullptr, PACKET_CALL_COMPLETE) != DRIVER_OK ||
        medium != NDIS_MEDIUM_802_3) {
        return interfaceName + " is not an Ethernet interface";
    }
    return std::nullopt;
}

std::optional<MacAddress> DeviceAdapter::StationAddress()
{
    MacAddress address{};
    RequestRecord request = NdisRequest(NDIS_REQUEST_QUERY_INFORMATION, OID_802_3_CURRENT_ADDRESS,
                                        address.data(), static_cast<std::uint32_t>(address.size()));
    if (driver_.MakeNdisRequest(adapter_, &request, nullptr, PACKET_CALL_COMPLETE) != DRIVER_OK) {
        return std::nullopt;
    }
    return address;
}

std::optional<std::string> DeviceAdapter::StartReception()
{
    if (!slots_.Allocate(DEVICE_READ_SLOTS)) {
        return "no event for a read";
    }
    for (std::size_t i = 0; i < DEVICE_READ_SLOTS; ++i) {
        if (slots_.Post(adapter_, i) != DRIVER_OK) {
            return "a read was refused";
        }
    }
    if (!SetPacketFilter(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST)) {
        return "the packet filter was refused";
    }
    return std::nullopt;
}

void DeviceAdapter::Receive(std::uint32_t timeoutMs, const FrameHandler& handle)
{
    if (!slots_.Allocated()) {
        kernel_.Sleep(timeoutMs);
        return;
    }
    slots_.TakeInOrder(adapter_, timeoutMs, DEVICE_READ_SLOTS,
                       [this, &handle](std::span<const std::uint8_t> frame) {
        if (trace_ != nullptr) {
            trace_->Record(frame);
        }
        handle(frame);
    });
}

bool DeviceAdapter::Send(std::span<const std::uint8_t> frame)
{
    std::uint32_t count = 0;
    if (driver_.PacketSend(adapter_, frame.data(), static_cast<std::uint32_t>(frame.size()), &count,
                           nullptr, PACKET_CALL_COMPLETE) != DRIVER_OK) {
        return false;
    }
    if (trace_ != nullptr) {
        trace_->Record(frame);
    }
    return true;
}

bool DeviceAdapter::SetPacketFilter(std::uint32_t filter)
{
    RequestRecord request = NdisRequest(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER,
                                        &filter, sizeof filter);
    return driver_.MakeNdisRequest(adapter_, &request, nullptr, PACKET_CALL_COMPLETE) == DRIVER_OK;
}

}  // namespace tarvik::target
