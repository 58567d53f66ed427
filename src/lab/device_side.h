#pragma once
// What the segment and tarvik-target's loop drive a device through: each frame seen on the
// wire goes in, the replies to send come out, each with the delay after which it goes. The
// emulated device and the device that replays a trace both answer this way.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/formats/mac_address.h"

namespace tarvik {

struct DeviceReply {
    std::vector<std::uint8_t> Frame;
    std::uint32_t DelayMs = 0;
};

class DeviceSide {
public:
    virtual ~DeviceSide() = default;
    virtual const MacAddress& Address() const = 0;
    // Handles one frame seen on the wire; returns the replies to send, each after its delay.
    virtual std::vector<DeviceReply> HandleFrame(std::span<const std::uint8_t> frame) = 0;
};

}  // namespace tarvik
