#pragma once
// The kernel services in simulated time: a discrete-event clock on one thread. Nothing runs
// by itself; sleeping or waiting moves the clock forward and runs, each at its own due time,
// whatever was scheduled meanwhile. A 59-second timeout costs no real time, and the clock
// can start anywhere, just before the 32-bit tick count wraps for instance.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "platform/event_table.h"
#include "platform/kernel.h"

namespace tarvik {

class SimKernel final : public Kernel {
public:
    explicit SimKernel(std::uint32_t startTick = 0);

    std::uint32_t GetTickCount() override;
    // The simulated tick count in microseconds, as if the clock had started in 1970: a trace
    // made in simulated time shows the simulated times.
    std::uint64_t WallClockMicroseconds() override;
    void Sleep(std::uint32_t milliseconds) override;

    EventHandle CreateEvent() override;
    bool SetEvent(EventHandle event) override;
    bool ResetEvent(EventHandle event) override;
    bool CloseHandle(EventHandle event) override;
    std::uint32_t WaitForAny(std::span<const EventHandle> events,
                             std::uint32_t timeoutMilliseconds) override;
    void Schedule(std::uint32_t delayMilliseconds, std::function<void()> action) override;

    // Milliseconds since construction; never wraps.
    std::uint64_t Now() const { return now_; }
    // Moves the clock like Sleep, without counting as a sleep of the program.
    void Advance(std::uint32_t milliseconds);
    std::size_t PendingActions() const { return timed_.size(); }
    std::uint64_t SleepCalls() const { return sleepCalls_; }
    std::uint64_t SleptMilliseconds() const { return sleptMilliseconds_; }
    std::size_t OpenEvents() const { return events_.Size(); }

    // After `after` more successful calls, the next n creations return NO_EVENT (or the next
    // n resets fail).
    void FailNextCreateEvents(int n, int after = 0) { createFaults_ = {after, n}; }
    void FailNextResetEvents(int n, int after = 0) { resetFaults_ = {after, n}; }

private:
    // Runs the earliest action due at or before the deadline; false when there is none.
    bool RunNextDue(std::uint64_t deadline);

    std::uint64_t start_;
    std::uint64_t now_ = 0;
    std::uint64_t sleepCalls_ = 0;
    std::uint64_t sleptMilliseconds_ = 0;

    EventTable events_;
    struct Faults {
        int spared = 0;
        int failing = 0;
        bool Strike();  // true when this call is to fail
    };
    Faults createFaults_;
    Faults resetFaults_;

    // Keyed by due time, then by scheduling order, so equal times keep their order.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> timed_;
    std::uint64_t scheduled_ = 0;
};

}  // namespace tarvik
