#pragma once
// The kernel services in real time: a monotonic millisecond clock, events under one mutex (a
// capture thread and the timer thread signal them while the tool's threads wait), and one
// timer thread that runs scheduled actions in due order. Each waiting thread sleeps on a
// condition variable of its own, and setting an event wakes only the threads that wait for
// it: with one run per device, a frame for one device must not wake them all.
//
// A wait for an event that is signalled from another thread costs a wake-up: the scheduler
// has to notice the sleeping thread and run it again, tens of microseconds on a busy or
// virtual machine. In lockstep traffic (a frame out, its reply back, no pause) that is most
// of each round trip, twice over: once for the capture thread, once for the waiting one. So
// a wait that expects its event soon first spins, yielding the processor, for a moment
// before it blocks; WaitLatencyPolicy decides when that pays.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/event_table.h"
#include "platform/kernel.h"

namespace tarvik {

// How long a wait spins before it blocks.
inline constexpr std::uint32_t WAIT_SPIN_MICROSECONDS = 100;
// A wait whose event came within this time of its start says that the next one will be
// quick too: the traffic is in lockstep. Paced traffic (a frame every 20 ms) and a silent
// peer never come this fast, and their waits block at once.
inline constexpr std::uint32_t QUICK_WAKE_MICROSECONDS = 1000;

// Decides whether the next wait spins, from how the last waits that had to wait ended. A
// wait that finds its event already signalled says nothing about the traffic and is not
// told. Safe to use from several threads; only one of them spins at a time, so a process
// never spends more than one processor on it however many runs it has.
class WaitLatencyPolicy {
public:
    // True when this wait should spin; a true answer must be followed by SpinEnded.
    bool BeginSpin();
    void SpinEnded();
    // How a wait that found nothing signalled at its start ended.
    void Observe(bool signalled, std::uint64_t waitedMicroseconds);

private:
    std::atomic<bool> quick_{false};
    std::atomic<bool> spinning_{false};
};

class RealKernel final : public Kernel {
public:
    RealKernel();
    ~RealKernel() override;
    RealKernel(const RealKernel&) = delete;
    RealKernel& operator=(const RealKernel&) = delete;

    std::uint32_t GetTickCount() override;
    std::uint64_t WallClockMicroseconds() override;
    void Sleep(std::uint32_t milliseconds) override;

    EventHandle CreateEvent() override;
    bool SetEvent(EventHandle event) override;
    bool ResetEvent(EventHandle event) override;
    bool CloseHandle(EventHandle event) override;
    std::uint32_t WaitForAny(std::span<const EventHandle> events,
                             std::uint32_t timeoutMilliseconds) override;

    // Actions still pending when the kernel is destroyed never run.
    void Schedule(std::uint32_t delayMilliseconds, std::function<void()> action) override;

private:
    using Clock = std::chrono::steady_clock;
    // Keyed by due time, then by scheduling order, so equal times keep their order.
    using TimedKey = std::pair<Clock::time_point, std::uint64_t>;

    void RunTimer();
    // Spins until an event changes, the spin time passes or the deadline comes.
    void SpinForChange(Clock::time_point deadline);

    // A thread in WaitForAny: what it waits for, and how to wake it.
    struct Waiter {
        std::span<const EventHandle> Events;
        std::condition_variable Changed;
    };
    // The wait itself, with the waiter on the list and the lock held on entry and return.
    std::uint32_t WaitAs(Waiter& self, std::unique_lock<std::mutex>& lock,
                         std::uint32_t timeoutMilliseconds);
    // Wakes the waiters that wait for the event; under eventMutex_.
    void WakeWaitersFor(EventHandle event);

    std::mutex eventMutex_;
    std::vector<Waiter*> waiters_;
    EventTable events_;
    // Counts every SetEvent, so a spinning wait sees a change without taking the lock.
    std::atomic<std::uint64_t> setCount_{0};
    WaitLatencyPolicy latency_;

    std::mutex timerMutex_;
    std::condition_variable timerChanged_;
    std::map<TimedKey, std::function<void()>> timed_;
    std::uint64_t scheduled_ = 0;
    bool stopping_ = false;
    std::thread timer_;
};

}  // namespace tarvik
