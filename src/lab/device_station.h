#pragma once
// Puts a device's replies on the virtual segment, for the stations that stand for devices.

#include <memory>
#include <vector>

#include "lab/device_side.h"
#include "segment/virtual_segment.h"

namespace tarvik {

// Sends each reply from station: at once, or after its delay unless the station is gone by
// then (alive is reset when it goes). The segment outlives its stations in every lab.
void TransmitReplies(VirtualSegment& segment, SegmentStation& station,
                     const std::shared_ptr<SegmentStation*>& alive,
                     std::vector<DeviceReply> replies);

}  // namespace tarvik
