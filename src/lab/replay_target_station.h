#pragma once
// A device replaying a capture, attached to the virtual segment as a station.

#include <memory>

#include "lab/replay_target.h"
#include "segment/virtual_segment.h"

namespace tarvik {

class ReplayTargetStation final : public SegmentStation {
public:
    ReplayTargetStation(VirtualSegment& segment, ReplayTarget device);
    ~ReplayTargetStation() override;
    ReplayTargetStation(const ReplayTargetStation&) = delete;
    ReplayTargetStation& operator=(const ReplayTargetStation&) = delete;

    ReplayTarget& Device() { return device_; }

    MacAddress StationAddress() const override { return device_.Address(); }
    bool ReceivesBroadcast() const override { return true; }
    void ReceiveFrame(std::span<const std::uint8_t> frame) override;

private:
    VirtualSegment& segment_;
    ReplayTarget device_;
    std::shared_ptr<SegmentStation*> self_;  // lets late replies find out we are gone
};

}  // namespace tarvik
