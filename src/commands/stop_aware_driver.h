#pragma once
// A packet driver in front of another that stops sending once the user has asked to stop.
// Discovery and the information query have no way to be cancelled, but a probe or a request
// that fails to go out ends them at their next send, so Ctrl-C takes effect within a try.

#include "commands/command_line_flows.h"
#include "platform/capture/packet_driver.h"

namespace tarvik {

class StopAwareDriver final : public ForwardingPacketDriver {
public:
    StopAwareDriver(PacketDriver& inner, StopRequested stopRequested)
        : ForwardingPacketDriver(inner), stopRequested_(std::move(stopRequested))
    {
    }

    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override
    {
        if (stopRequested_ && stopRequested_()) {
            return DRIVER_FAILED;
        }
        return Inner().PacketSend(adapter, frame, length, count, request, flags);
    }

private:
    StopRequested stopRequested_;
};

}  // namespace tarvik
