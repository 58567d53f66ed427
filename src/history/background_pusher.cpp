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

BackgroundPusher::BackgroundPusher(Kernel& kernel, PushFunction push, PushBackOff backOff)
    : kernel_(kernel), push_(std::move(push)), backOff_(backOff), wake_(kernel.CreateEvent()),
      stop_(kernel.CreateEvent())
{
    thread_ = std::thread([this] { Loop(); });
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

void BackgroundPusher::Loop()
{
    // The stop comes first in the table: a wait that sees both ends the thread.
    const std::array<EventHandle, 2> events{stop_, wake_};
    constexpr std::uint32_t STOPPED = WAIT_OBJECT_0;
    // With nothing queued the thread waits for the next record or the stop (49 days at most).
    constexpr std::uint32_t NO_TIMEOUT = 0xFFFFFFFF;
    // Pushes once at the start too: records left queued by an earlier run go first.
    bool pending = true;
    for (;;) {
        if (pending) {
            ++tries_;
            if (push_()) {
                failures_ = 0;
                pending = false;
            } else {
                ++failures_;
            }
        }
        const std::uint32_t wait = pending ? PushPauseMs(backOff_, failures_) : NO_TIMEOUT;
        const std::uint32_t woken = kernel_.WaitForAny(events, wait);
        if (woken == STOPPED || woken == WAIT_FAILED) {
            return;
        }
        pending = true;
    }
}

}  // namespace tarvik
