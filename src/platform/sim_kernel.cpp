#include "platform/sim_kernel.h"

#include <algorithm>

namespace tarvik {

SimKernel::SimKernel(std::uint32_t startTick) : start_(startTick) {}

std::uint32_t SimKernel::GetTickCount()
{
    return static_cast<std::uint32_t>(start_ + now_);
}

std::uint64_t SimKernel::WallClockMicroseconds()
{
    return (start_ + now_) * 1000;
}

void SimKernel::Sleep(std::uint32_t milliseconds)
{
    ++sleepCalls_;
    sleptMilliseconds_ += milliseconds;
    Advance(milliseconds);
}

void SimKernel::Advance(std::uint32_t milliseconds)
{
    const std::uint64_t deadline = now_ + milliseconds;
    while (RunNextDue(deadline)) {
    }
    now_ = std::max(now_, deadline);
}

bool SimKernel::RunNextDue(std::uint64_t deadline)
{
    if (timed_.empty() || timed_.begin()->first.first > deadline) {
        return false;
    }
    auto node = timed_.extract(timed_.begin());
    // An action that itself slept may have carried the clock past this one's due time.
    now_ = std::max(now_, node.key().first);
    node.mapped()();
    return true;
}

bool SimKernel::Faults::Strike()
{
    if (failing == 0) {
        return false;
    }
    if (spared > 0) {
        --spared;
        return false;
    }
    --failing;
    return true;
}

EventHandle SimKernel::CreateEvent()
{
    if (createFaults_.Strike()) {
        return NO_EVENT;
    }
    return events_.Create();
}

bool SimKernel::SetEvent(EventHandle event)
{
    return events_.Set(event);
}

bool SimKernel::ResetEvent(EventHandle event)
{
    if (resetFaults_.Strike()) {
        return false;
    }
    return events_.Reset(event);
}

bool SimKernel::CloseHandle(EventHandle event)
{
    return events_.Close(event);
}

std::uint32_t SimKernel::WaitForAny(std::span<const EventHandle> events,
                                    std::uint32_t timeoutMilliseconds)
{
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) {
        return WAIT_FAILED;
    }
    const std::uint64_t deadline = now_ + timeoutMilliseconds;
    for (;;) {
        // An action may close a waited event; the wait then fails where it stands.
        if (!events_.AllOpen(events)) {
            return WAIT_FAILED;
        }
        const std::uint32_t taken = events_.TakeSignalled(events);
        if (taken != WAIT_TIMEOUT) {
            return taken;
        }
        if (!RunNextDue(deadline)) {
            now_ = std::max(now_, deadline);
            return WAIT_TIMEOUT;
        }
    }
}

void SimKernel::Schedule(std::uint32_t delayMilliseconds, std::function<void()> action)
{
    timed_.emplace(std::pair{now_ + delayMilliseconds, scheduled_++}, std::move(action));
}

}  // namespace tarvik
