#include "platform/kernel/event_table.h"

#include <algorithm>

namespace tarvik {

EventHandle EventTable::Create()
{
    do {
        ++lastHandle_;
    } while (lastHandle_ == NO_EVENT || signalled_.contains(lastHandle_));
    signalled_.emplace(lastHandle_, false);
    return lastHandle_;
}

bool EventTable::Set(EventHandle event)
{
    const auto found = signalled_.find(event);
    if (found == signalled_.end()) {
        return false;
    }
    found->second = true;
    return true;
}

bool EventTable::Reset(EventHandle event)
{
    const auto found = signalled_.find(event);
    if (found == signalled_.end()) {
        return false;
    }
    found->second = false;
    return true;
}

bool EventTable::Close(EventHandle event)
{
    return signalled_.erase(event) != 0;
}

bool EventTable::AllOpen(std::span<const EventHandle> events) const
{
    return std::all_of(events.begin(), events.end(),
                       [this](EventHandle event) { return signalled_.contains(event); });
}

std::uint32_t EventTable::TakeSignalled(std::span<const EventHandle> events)
{
    for (std::size_t i = 0; i < events.size(); ++i) {
        bool& signalled = signalled_.find(events[i])->second;
        if (signalled) {
            signalled = false;
            return WAIT_OBJECT_0 + static_cast<std::uint32_t>(i);
        }
    }
    return WAIT_TIMEOUT;
}

bool EventTable::AnySignalled(std::span<const EventHandle> events) const
{
    return std::any_of(events.begin(), events.end(),
                       [this](EventHandle event) { return signalled_.find(event)->second; });
}

}  // namespace tarvik
