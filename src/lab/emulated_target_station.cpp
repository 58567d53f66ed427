#include "lab/emulated_target_station.h"

#include "lab/device_station.h"

namespace tarvik {

EmulatedTargetStation::EmulatedTargetStation(VirtualSegment& segment, TargetConfig config)
    : segment_(segment), target_(std::move(config)), self_(std::make_shared<SegmentStation*>(this))
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
    TransmitReplies(segment_, *this, self_, target_.HandleFrame(frame));
}

}  // namespace tarvik
