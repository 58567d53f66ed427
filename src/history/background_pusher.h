#pragma once
// Pushes in the background while a station works: a thread of its own that pushes whenever
// it is woken (after each new record) and, while records remain queued, again after a pause
// that doubles after each failure up to a ceiling. Wake() only signals an event: the caller
// never waits for the server. Destroying the pusher stops the thread after the push in
// progress, if any, and joins it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/kernel/kernel.h"

namespace tarvik {

struct PushBackOff {
    std::uint32_t FirstMs = 1000;     // after the first failure
    std::uint32_t LongestMs = 60000;  // the pause never grows beyond this
};

// The pause before try number `failures + 1`, after `failures` failed tries in a row (at least
// one).
std::uint32_t PushPauseMs(const PushBackOff& backOff, std::uint32_t failures);

class BackgroundPusher {
public:
    // push pushes what is queued and says whether everything went.
    using PushFunction = std::function<bool()>;

    BackgroundPusher(Kernel& kernel, PushFunction push, PushBackOff backOff = {});
    ~BackgroundPusher();
    BackgroundPusher(const BackgroundPusher&) = delete;
    BackgroundPusher& operator=(const BackgroundPusher&) = delete;

    // A new record is queued: push it soon.
    void Wake();

    // Pushes tried and failed tries in a row, for a display.
    std::uint64_t Tries() const { return tries_; }
    std::uint32_t FailuresInARow() const { return failures_; }

private:
    void Loop();

    Kernel& kernel_;
    const PushFunction push_;
    const PushBackOff backOff_;
    EventHandle wake_ = NO_EVENT;
    EventHandle stop_ = NO_EVENT;
    std::atomic<std::uint64_t> tries_ = 0;
    std::atomic<std::uint32_t> failures_ = 0;
    std::thread thread_;
};

}  // namespace tarvik
