#include "history/background_pusher.h"

#include <algorithm>
#include <array>

namespace tarvik {

std::uint32_t PushPauseMs(const PushBackOff& backOff, std::uint32_t failures)
{
    std::uint64_t pause = backOff.FirstMs;
    for (std::uint32_t i = 1; i < failures && pause < backOff.LongestMs; ++i) {
        pause *= 2;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(pause, backOff.LongestMs));
}

void RunPushLoop(Kernel& kernel, EventHandle stop, EventHandle wake, const PushFunction& push,
                 const PushTiming& timing, PushCounters& counters)
{
    // The stop comes first in the table: a wait that sees both ends the loop.
    const std::array<EventHandle, 2> events{stop, wake};
    constexpr std::uint32_t STOPPED = WAIT_OBJECT_0;
    // Pushes once at the start too: records left queued by an earlier run go first.
    bool pending = true;
    for (;;) {
        if (pending) {
            ++counters.Tries;
            if (push(false)) {
                counters.FailuresInARow = 0;
                pending = false;
            } else {
                ++counters.FailuresInARow;
            }
        }
        // Every push is a heartbeat: the interval runs from the last one, tried or not.
        const std::uint32_t wait =
            pending
                ? std::min(PushPauseMs(timing.BackOff, counters.FailuresInARow), timing.HeartbeatMs)
                : timing.HeartbeatMs;
        const std::uint32_t woken = kernel.WaitForAny(events, wait);
        if (woken == WAIT_FAILED) {
            return;
        }
        if (woken == STOPPED) {
            // Once, whatever the server does: a server that is down costs at most the
            // connection's timeout.
            ++counters.Tries;
            push(true);
            return;
        }
        pending = true;  // a record, a retry, or the heartbeat
    }
}

BackgroundPusher::BackgroundPusher(Kernel& kernel, PushFunction push, PushTiming timing)
    : kernel_(kernel), push_(std::move(push)), timing_(timing), wake_(kernel.CreateEvent()),
      stop_(kernel.CreateEvent())
{
    thread_ =
        std::thread([this] { RunPushLoop(kernel_, stop_, wake_, push_, timing_, counters_); });
}

BackgroundPusher::~BackgroundPusher()
{
    kernel_.SetEvent(stop_);
    thread_.join();
    kernel_.CloseHandle(wake_);
    kernel_.CloseHandle(stop_);
}

void BackgroundPusher::Wake()
{
    kernel_.SetEvent(wake_);
}

}  // namespace tarvik
