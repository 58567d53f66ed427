#include "lab/replay_target_station.h"

#include "lab/device_station.h"

namespace tarvik {

ReplayTargetStation::ReplayTargetStation(VirtualSegment& segment, ReplayTarget device)
    : segment_(segment), device_(std::move(device)), self_(std::make_shared<SegmentStation*>(this))
{
    segment_.Attach(this);
}

ReplayTargetStation::~ReplayTargetStation()
{
    segment_.Detach(this);
    self_.reset();
}

void ReplayTargetStation::ReceiveFrame(std::span<const std::uint8_t> frame)
{
    TransmitReplies(segment_, *this, self_, device_.HandleFrame(frame));
}

}  // namespace tarvik
