#pragma once
// The kernel services in simulated time: a discrete-event clock on one thread. Nothing runs
// by itself; sleeping or waiting moves the clock forward and runs, each at its own due time,
// whatever was scheduled meanwhile. A 59-second timeout costs no real time, and the clock
// can start anywhere, just before the 32-bit tick count wraps for instance.
//
// RunConcurrently gives each task a thread, but only one thread holds the clock at a time:
// the running task keeps it until it sleeps or waits, then the clock goes to the next task
// that can go on, in task order, and time moves only when none can. Runs on several threads
// stay as deterministic as a single one.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/kernel/event_table.h"
#include "platform/kernel/kernel.h"

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
    void RunConcurrently(std::span<const std::function<void()>> tasks, std::size_t limit) override;

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
    struct Strand;

    // Hands the clock to the strand and waits until it sleeps, waits or ends.
    void HandOver(Strand& strand);
    // Gives the clock back and waits until the strand is handed it again.
    void Yield(Strand& strand);
    bool CanGoOn(const Strand& strand) const;

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

    // Set while RunConcurrently runs: the strand holding the clock, none while the caller does.
    std::mutex turnLock_;
    std::condition_variable turnChanged_;  // the scheduler waits on it for the clock back
    Strand* running_ = nullptr;
};

}  // namespace tarvik
