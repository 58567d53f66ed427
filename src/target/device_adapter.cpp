#include "target/device_adapter.h"

#include <algorithm>

namespace tarvik::target {

DeviceAdapter::DeviceAdapter(Kernel& kernel, PcapPacketDriver& driver)
    : kernel_(kernel), driver_(driver)
{
}

DeviceAdapter::~DeviceAdapter()
{
    if (adapter_ != INVALID_ADAPTER) {
        SetPacketFilter(0);
        // Reads still posted are abandoned here: the driver touches no slot after this.
        driver_.CloseAdapter(adapter_);
    }
    if (slots_) {
        for (std::size_t i = 0; i < DEVICE_READ_SLOTS; ++i) {
            if (slots_[i].Request.Event != NO_EVENT) {
                kernel_.CloseHandle(slots_[i].Request.Event);
            }
        }
    }
}

std::optional<std::string> DeviceAdapter::Open(const std::string& interfaceName)
{
    const std::string name = std::string(ADAPTER_NAME_PREFIX) + interfaceName;
    adapter_ = driver_.OpenAdapter(name.c_str());
    if (adapter_ == INVALID_ADAPTER) {
        return driver_.OpenError();
    }
    std::uint32_t medium = 0;
    RequestRecord request =
        NdisRequest(NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE, &medium, sizeof medium);
    if (driver_.MakeNdisRequest(adapter_, &request, nullptr, 0) != 0 ||
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
    if (driver_.MakeNdisRequest(adapter_, &request, nullptr, 0) != 0) {
        return std::nullopt;
    }
    return address;
}

std::optional<std::string> DeviceAdapter::StartReception()
{
    slots_.reset(new ReadSlot[DEVICE_READ_SLOTS]());
    for (std::size_t i = 0; i < DEVICE_READ_SLOTS; ++i) {
        ReadSlot& slot = slots_[i];
        slot.Request.Event = kernel_.CreateEvent();
        if (slot.Request.Event == NO_EVENT) {
            return "no event for a read";
        }
        if (driver_.PacketRead(adapter_, &slot, &slot.CountWord, &slot.Request, 0) != 0) {
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
    if (!slots_) {
        kernel_.Sleep(timeoutMs);
        return;
    }
    std::uint32_t wait = timeoutMs;
    for (std::size_t handed = 0; handed < DEVICE_READ_SLOTS; ++handed) {
        ReadSlot& slot = slots_[next_];
        const EventHandle landed[] = {slot.Request.Event};
        if (kernel_.WaitForAny(landed, wait) != WAIT_OBJECT_0) {
            return;
        }
        const std::size_t length = std::min<std::size_t>(slot.FrameLength, READ_SLOT_FRAME_BYTES);
        const std::span<const std::uint8_t> frame(slot.FrameData, length);
        if (trace_ != nullptr) {
            trace_->Record(frame);
        }
        handle(frame);
        driver_.PacketRead(adapter_, &slot, &slot.CountWord, &slot.Request, 0);
        next_ = (next_ + 1) % DEVICE_READ_SLOTS;
        wait = 0;
    }
}

bool DeviceAdapter::Send(std::span<const std::uint8_t> frame)
{
    std::uint32_t count = 0;
    if (driver_.PacketSend(adapter_, frame.data(), static_cast<std::uint32_t>(frame.size()), &count,
                           nullptr, 0) != 0) {
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
    return driver_.MakeNdisRequest(adapter_, &request, nullptr, 0) == 0;
}

}  // namespace tarvik::target
