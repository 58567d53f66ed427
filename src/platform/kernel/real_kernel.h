#pragma once
// The kernel services in real time: a monotonic millisecond clock, events under one mutex
// (the tool's threads, the timer thread and the captures signal them), and one timer thread
// that runs scheduled actions in due order.
//
// A wait for an event that another thread signals costs a wake-up: the scheduler has to
// notice the sleeping thread and run it again, tens of microseconds on a busy or virtual
// machine. In lockstep traffic (a frame out, its reply back, no pause) that is most of each
// round trip, so the frames are read by the threads that wait for them: a capture registers
// its descriptor (Watch), one waiting thread at a time sleeps in poll() on the descriptors and
// drains what arrives, completing reads and setting events, and the reply a thread waits for
// wakes that very thread. The other waiters sleep on condition variables of their own, and
// an event wakes only the threads that wait for it: with one run per device, a frame for one
// device must not wake them all. A wait that expects its event soon first spins, yielding the
// processor, for a moment before it sleeps; WaitLatencyPolicy decides when that pays.
//
// Locking. eventMutex_ guards the events, the waiters, the sources and which source serves
// which event, and who polls (the members marked "under eventMutex_"). The poller takes the
// mutex only to begin and to end its turn: in between it owns the poll table and the sources
// it stands for (pollTable_, polled_), sleeps in ppoll() and calls the drains without the
// mutex, so a drain may set events, and a source that leaves (Unwatch) is destroyed only
// after the turn that may have it in hand has ended. The packet drivers take their locks in
// one order, and the kernel's mutex comes last of all: the fan-out's lock, then the libpcap
// driver's table lock or an adapter's capture lock, then the adapter's queue lock, then
// eventMutex_. The kernel calls nothing of theirs under eventMutex_ (drains run without it,
// scheduled actions without timerMutex_), so it never closes a cycle. A drain reads what is
// there and returns; it must not block, wait for events, or unwatch a source (closing its
// own adapter from inside a drain would wait for its own turn to end, for ever).

#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/event_table.h"
#include "platform/kernel/timer_thread.h"
#include "platform/kernel/watching_kernel.h"

namespace tarvik {

// How long a wait spins before it blocks.
inline constexpr std::uint32_t WAIT_SPIN_MICROSECONDS = 100;
// A wait whose event came within this time of its start says that the next one will be
// quick too: the traffic is in lockstep (a reply comes some 30 us after its request over a
// veth pair when the wait spins, 60 to 80 us when it sleeps). Paced traffic (a frame every
// 20 ms) and a silent peer never come this fast, and their waits block at once; frames from
// many paced devices at random moments come this fast only now and then. On a loaded
// machine, where a reply takes longer, the waits stop spinning and leave the processor to
// others.
inline constexpr std::uint32_t QUICK_WAKE_MICROSECONDS = 150;

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

class RealKernel final : public WatchingKernel {
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

    WatchId Watch(int fd, std::function<bool()> drain) override;
    void Unwatch(WatchId id) override;
    void ServedBy(EventHandle event, WatchId id) override;

    // Where the threads are, for tests that must order threads by what they are doing rather
    // than by sleeping: a thread counts as waiting from the moment a set event would reach it.
    struct ThreadCounts {
        std::size_t Waiting = 0;     // in WaitForAny
        std::size_t Polling = 0;     // of those, in a turn as the poller (0 or 1)
        std::size_t Unwatching = 0;  // in Unwatch, for the running turn to end
    };
    ThreadCounts Threads();

private:
    using Clock = std::chrono::steady_clock;

    // A thread in WaitForAny: what it waits for, and how to wake it: its condition variable,
    // or the wake-up descriptor while it is the poller.
    struct Waiter {
        std::span<const EventHandle> Events;
        std::condition_variable Changed;
    };
    struct Source {
        WatchId Id;
        int Fd;
        std::function<bool()> Drain;
    };
    // The wait itself, with the waiter on the list and the lock held on entry and return.
    std::uint32_t WaitAs(Waiter& self, std::unique_lock<std::mutex>& lock,
                         std::uint32_t timeoutMilliseconds);
    // Until one of the waiter's events is signalled, the spin time passes or the deadline
    // comes: reads the sources without sleeping when no one else does, and otherwise yields.
    void Spin(Waiter& self, std::unique_lock<std::mutex>& lock, Clock::time_point deadline);
    // Wakes the waiters that wait for the event; under eventMutex_.
    void WakeWaitersFor(EventHandle event);
    // One turn as the poller: sleeps in poll() on the sources until one is readable, the
    // wake-up descriptor is written or the deadline passes (at once when `now`), and drains
    // the readable ones. Called and returns with the lock held; drains without it.
    void PollSources(Waiter& self, std::unique_lock<std::mutex>& lock, Clock::time_point deadline,
                     bool now);
    // Whether the waiter may read the sources now: no one else does, and it waits for an
    // event one of them serves.
    bool MayPoll(const Waiter& waiter) const;
    // When no one polls, hands the sources to a thread still waiting that may read them;
    // under eventMutex_.
    void HandOverPolling();
    // Forgets a source that is gone; under eventMutex_.
    void DropSource(WatchId id);
    void WakePoller();

    std::mutex eventMutex_;
    std::vector<Waiter*> waiters_;                       // under eventMutex_
    std::vector<std::unique_ptr<Source>> sources_;       // under eventMutex_
    std::unordered_map<EventHandle, WatchId> servedBy_;  // under eventMutex_
    WatchId nextWatch_ = 1;                              // under eventMutex_
    Waiter* poller_ = nullptr;      // the waiter in PollSources, if any; under eventMutex_
    std::thread::id pollerThread_;  // its thread; under eventMutex_
    std::uint64_t pollTurns_ = 0;   // turns begun; under eventMutex_
    bool sourcesChanged_ = true;    // since the poll table was built; under eventMutex_
    std::size_t unwatching_ = 0;    // threads in Unwatch waiting for a turn; under eventMutex_
    std::condition_variable pollTurnEnded_;
    EventTable events_;  // under eventMutex_
    // The poller's poll() table and the sources it stands for, kept between turns and built
    // anew when a source comes or goes. The poller's alone: built at the start of a turn under
    // eventMutex_, used during it without.
    std::vector<pollfd> pollTable_;
    std::vector<Source*> polled_;
    int wakeFd_ = -1;  // an eventfd that ends the poller's sleep
    WaitLatencyPolicy latency_;

    TimerThread timer_;  // stopped first of all when the kernel goes
};

}  // namespace tarvik
