#include "lab/device_station.h"

namespace tarvik {

void TransmitReplies(VirtualSegment& segment, SegmentStation& station,
                     const std::shared_ptr<SegmentStation*>& alive,
                     std::vector<DeviceReply> replies)
{
    for (auto& reply : replies) {
        if (reply.DelayMs == 0) {
            segment.Transmit(&station, reply.Frame);
            continue;
        }
        // A slow device: the reply goes on the wire later, unless the station is gone by then.
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::move(reply.Frame));
        std::weak_ptr<SegmentStation*> later = alive;
        segment.kernel().Schedule(reply.DelayMs, [&segment, later, bytes] {
            if (const auto still = later.lock()) {
                segment.Transmit(*still, *bytes);
            }
        });
    }
}

}  // namespace tarvik
