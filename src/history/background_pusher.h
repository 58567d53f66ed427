#pragma once
// Pushes in the background while a station works: a thread of its own that pushes whenever
// it is woken (after each new record), at least once every heartbeat interval with nothing
// to push (each push says the station is alive), and, while records remain queued, again
// after a pause that doubles after each failure up to a ceiling. Wake() only signals an event:
// the caller never waits for the server. Destroying the pusher stops the thread after the
// push in progress, if any, and one last push that says the station stopped, then joins it.

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

// How often a station that pushes nothing still says it is alive.
inline constexpr std::uint32_t PUSH_HEARTBEAT_MS = 60000;

struct PushTiming {
    PushBackOff BackOff;
    std::uint32_t HeartbeatMs = PUSH_HEARTBEAT_MS;  // the longest wait between two pushes
};

// The pause before try number `failures + 1`, after `failures` failed tries in a row (at least
// one).
std::uint32_t PushPauseMs(const PushBackOff& backOff, std::uint32_t failures);

// push pushes what is queued and says whether everything went; stopping is set on the last
// push, made as the pusher ends.
using PushFunction = std::function<bool(bool stopping)>;

struct PushCounters {
    std::atomic<std::uint64_t> Tries = 0;
    std::atomic<std::uint32_t> FailuresInARow = 0;
};

// The pusher's loop on the caller's thread, until stop is signalled (then the last push) or a
// wait fails: what BackgroundPusher runs on its own thread, and a test in simulated time.
void RunPushLoop(Kernel& kernel, EventHandle stop, EventHandle wake, const PushFunction& push,
                 const PushTiming& timing, PushCounters& counters);

class BackgroundPusher {
public:
    BackgroundPusher(Kernel& kernel, PushFunction push, PushTiming timing = {});
    ~BackgroundPusher();
    BackgroundPusher(const BackgroundPusher&) = delete;
    BackgroundPusher& operator=(const BackgroundPusher&) = delete;

    // A new record is queued: push it soon.
    void Wake();

    // Pushes tried and failed tries in a row, for a display.
    std::uint64_t Tries() const { return counters_.Tries; }
    std::uint32_t FailuresInARow() const { return counters_.FailuresInARow; }

private:
    Kernel& kernel_;
    const PushFunction push_;
    const PushTiming timing_;
    EventHandle wake_ = NO_EVENT;
    EventHandle stop_ = NO_EVENT;
    PushCounters counters_;
    std::thread thread_;
};

}  // namespace tarvik
