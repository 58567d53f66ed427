#pragma once
// A packet driver in front of another that stops sending once the user has asked to stop.
// Discovery and the information query have no way to be cancelled, but a probe or a request
// that fails to go out ends them at their next send, so Ctrl-C takes effect within a try.

#include "commands/command_extras.h"
#include "platform/packet_driver.h"

namespace tarvik {

class StopAwareDriver final : public PacketDriver {
public:
    StopAwareDriver(PacketDriver& inner, StopRequested stopRequested)
        : inner_(inner), stopRequested_(std::move(stopRequested))
    {
    }

    std::int32_t OpenAdapter(const char* name) override { return inner_.OpenAdapter(name); }
    void CloseAdapter(std::int32_t adapter) override { inner_.CloseAdapter(adapter); }
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override
    {
        return inner_.PacketRead(adapter, slot, count, request, flags);
    }
    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override
    {
        if (stopRequested_ && stopRequested_()) {
            return 1;
        }
        return inner_.PacketSend(adapter, frame, length, count, request, flags);
    }
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override
    {
        return inner_.MakeNdisRequest(adapter, request, overlapped, flags);
    }

private:
    PacketDriver& inner_;
    StopRequested stopRequested_;
};

}  // namespace tarvik
