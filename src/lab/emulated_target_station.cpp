#include "lab/emulated_target_station.h"

namespace tarvik {

EmulatedTargetStation::EmulatedTargetStation(VirtualSegment& segment, TargetConfig config)
    : segment_(segment), target_(std::move(config)),
      self_(std::make_shared<EmulatedTargetStation*>(this))
{
    segment_.Attach(this);
}

EmulatedTargetStation::~EmulatedTargetStation()
{
    segment_.Detach(this);
    self_.reset();
}

void EmulatedTargetStation::ReceiveFrame(std::span<const std::uint8_t> frame)
{
    for (auto& reply : target_.HandleFrame(frame)) {
        if (reply.DelayMs == 0) {
            segment_.Transmit(this, reply.Frame);
            continue;
        }
        // A slow device: the reply goes on the wire later, unless the station is gone by
        // then. The segment outlives its stations in every lab.
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::move(reply.Frame));
        std::weak_ptr<EmulatedTargetStation*> station = self_;
        segment_.kernel().Schedule(reply.DelayMs, [station, bytes] {
            if (const auto alive = station.lock()) {
                (*alive)->segment_.Transmit(*alive, *bytes);
            }
        });
    }
}

}  // namespace tarvik
