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
    std::lock_guard lock(plugLock_);
    if (plugged_) {
        segment_.Detach(this);
    }
    self_.reset();
}

void EmulatedTargetStation::Unplug()
{
    std::lock_guard lock(plugLock_);
    if (!plugged_) {
        return;
    }
    // Once Detach returns, no frame reaches the device; then its late replies lose their way.
    segment_.Detach(this);
    self_ = std::make_shared<SegmentStation*>(this);
    plugged_ = false;
}

void EmulatedTargetStation::Plug()
{
    std::lock_guard lock(plugLock_);
    if (!plugged_) {
        segment_.Attach(this);
        plugged_ = true;
    }
}

void EmulatedTargetStation::ReceiveFrame(std::span<const std::uint8_t> frame)
{
    TransmitReplies(segment_, *this, self_, target_.HandleFrame(frame));
}

}  // namespace tarvik
