#pragma once
// The events of one Kernel: unnamed, auto-reset, named by small non-zero handles. The table
// itself does not lock; a Kernel whose events are signalled from other threads locks around it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>

#include "platform/kernel/kernel.h"

namespace tarvik {

class EventTable {
public:
    EventHandle Create();
    bool Set(EventHandle event);
    bool Reset(EventHandle event);
    bool Close(EventHandle event);

    bool AllOpen(std::span<const EventHandle> events) const;
    // Index of the lowest signalled event, which is reset (a satisfied wait on an auto-reset
    // event); WAIT_TIMEOUT when none is signalled. Every event must be open.
    std::uint32_t TakeSignalled(std::span<const EventHandle> events);
    // Whether one of them is signalled, leaving it so. Every event must be open.
    bool AnySignalled(std::span<const EventHandle> events) const;

    std::size_t Size() const { return signalled_.size(); }

private:
    std::unordered_map<EventHandle, bool> signalled_;
    EventHandle lastHandle_ = NO_EVENT;
};

}  // namespace tarvik
