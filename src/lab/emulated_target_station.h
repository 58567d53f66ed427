#pragma once
// An emulated target attached to the virtual segment as a station.

#include <memory>
#include <mutex>

#include "lab/emulated_target.h"
#include "segment/virtual_segment.h"

namespace tarvik {

class EmulatedTargetStation final : public SegmentStation {
public:
    EmulatedTargetStation(VirtualSegment& segment, TargetConfig config);
    ~EmulatedTargetStation() override;
    EmulatedTargetStation(const EmulatedTargetStation&) = delete;
    EmulatedTargetStation& operator=(const EmulatedTargetStation&) = delete;

    EmulatedTarget& Device() { return target_; }
    const EmulatedTarget& Device() const { return target_; }

    // Takes the device off the segment, as a board pulled from its fixture, and puts it back:
    // it keeps what its memory holds, and replies it had not sent yet are lost. Any thread.
    void Unplug();
    void Plug();

    MacAddress StationAddress() const override { return target_.Address(); }
    bool ReceivesBroadcast() const override { return true; }
    void ReceiveFrame(std::span<const std::uint8_t> frame) override;

private:
    VirtualSegment& segment_;
    EmulatedTarget target_;
    std::mutex plugLock_;
    bool plugged_ = true;
    std::shared_ptr<SegmentStation*> self_;  // lets late replies find out we are gone
};

}  // namespace tarvik
