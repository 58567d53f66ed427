#pragma once
// Where a program's frames are written as they go out and come in, for reading later in a
// capture viewer. Whoever sends or hands frames up records them here; the trace stamps them.

#include <cstdint>
#include <span>

namespace tarvik {

class FrameTrace {
public:
    virtual ~FrameTrace() = default;
    // Records one whole frame, from its destination address on, with the present time.
    virtual void Record(std::span<const std::uint8_t> frame) = 0;
};

}  // namespace tarvik
