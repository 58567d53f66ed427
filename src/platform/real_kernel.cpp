#include "platform/real_kernel.h"

#include "platform/capabilities.h"

#include <algorithm>

namespace tarvik {

bool WaitLatencyPolicy::BeginSpin()
{
    return quick_.load(std::memory_order_relaxed) &&
           !spinning_.exchange(true, std::memory_order_acquire);
}

void WaitLatencyPolicy::SpinEnded()
{
    spinning_.store(false, std::memory_order_release);
}

void WaitLatencyPolicy::Observe(bool signalled, std::uint64_t waitedMicroseconds)
{
    quick_.store(signalled && waitedMicroseconds <= QUICK_WAKE_MICROSECONDS,
                 std::memory_order_relaxed);
}

RealKernel::RealKernel() : timer_(StartThreadWithoutCapabilities([this] { RunTimer(); })) {}

RealKernel::~RealKernel()
{
    {
        std::lock_guard lock(timerMutex_);
        stopping_ = true;
    }
    timerChanged_.notify_all();
    timer_.join();
}

std::uint32_t RealKernel::GetTickCount()
{
    const auto since =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(since.count());
}

std::uint64_t RealKernel::WallClockMicroseconds()
{
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(since.count());
}

void RealKernel::Sleep(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

EventHandle RealKernel::CreateEvent()
{
    std::lock_guard lock(eventMutex_);
    return events_.Create();
}

bool RealKernel::SetEvent(EventHandle event)
{
    {
        std::lock_guard lock(eventMutex_);
        if (!events_.Set(event)) {
            return false;
        }
        setCount_.fetch_add(1, std::memory_order_release);
        WakeWaitersFor(event);
    }
    return true;
}

bool RealKernel::ResetEvent(EventHandle event)
{
    std::lock_guard lock(eventMutex_);
    return events_.Reset(event);
}

bool RealKernel::CloseHandle(EventHandle event)
{
    {
        std::lock_guard lock(eventMutex_);
        if (!events_.Close(event)) {
            return false;
        }
        // A wait on the closed handle has to notice it is gone.
        WakeWaitersFor(event);
    }
    return true;
}

std::uint32_t RealKernel::WaitForAny(std::span<const EventHandle> events,
                                     std::uint32_t timeoutMilliseconds)
{
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) {
        return WAIT_FAILED;
    }
    std::unique_lock lock(eventMutex_);
    Waiter self{events, {}};
    waiters_.push_back(&self);
    const std::uint32_t result = WaitAs(self, lock, timeoutMilliseconds);
    std::erase(waiters_, &self);
    return result;
}

std::uint32_t RealKernel::WaitAs(Waiter& self, std::unique_lock<std::mutex>& lock,
                                 std::uint32_t timeoutMilliseconds)
{
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMilliseconds);
    bool waited = false;
    bool timedOut = false;
    for (;;) {
        if (!events_.AllOpen(self.Events)) {
            return WAIT_FAILED;
        }
        // Looked at once more after the time runs out: an event set at that moment counts.
        const std::uint32_t taken = events_.TakeSignalled(self.Events);
        if (taken != WAIT_TIMEOUT || timedOut) {
            if (waited) {
                const auto took =
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
                latency_.Observe(taken != WAIT_TIMEOUT, static_cast<std::uint64_t>(took.count()));
            }
            return taken;
        }
        if (timeoutMilliseconds == 0) {
            return WAIT_TIMEOUT;
        }
        if (!waited && latency_.BeginSpin()) {
            lock.unlock();
            SpinForChange(deadline);
            latency_.SpinEnded();
            lock.lock();
            waited = true;
            continue;
        }
        waited = true;
        timedOut = self.Changed.wait_until(lock, deadline) == std::cv_status::timeout;
    }
}

void RealKernel::WakeWaitersFor(EventHandle event)
{
    // Notified under the lock: a waiter that has timed out may leave, and its condition
    // variable with it, as soon as the lock is free.
    for (Waiter* waiter : waiters_) {
        if (std::find(waiter->Events.begin(), waiter->Events.end(), event) !=
            waiter->Events.end()) {
            waiter->Changed.notify_one();
        }
    }
}

void RealKernel::SpinForChange(Clock::time_point deadline)
{
    const std::uint64_t seen = setCount_.load(std::memory_order_acquire);
    const auto until =
        std::min(deadline, Clock::now() + std::chrono::microseconds(WAIT_SPIN_MICROSECONDS));
    // Yielding rather than only pausing: the capture thread that will set the event may need
    // this very processor.
    while (setCount_.load(std::memory_order_acquire) == seen && Clock::now() < until) {
        std::this_thread::yield();
    }
}

void RealKernel::Schedule(std::uint32_t delayMilliseconds, std::function<void()> action)
{
    {
        std::lock_guard lock(timerMutex_);
        timed_.emplace(TimedKey{Clock::now() + std::chrono::milliseconds(delayMilliseconds),
                                scheduled_++},
                       std::move(action));
    }
    timerChanged_.notify_all();
}

void RealKernel::RunTimer()
{
    std::unique_lock lock(timerMutex_);
    while (!stopping_) {
        if (timed_.empty()) {
            timerChanged_.wait(lock);
            continue;
        }
        const auto due = timed_.begin()->first.first;
        if (Clock::now() < due) {
            timerChanged_.wait_until(lock, due);
            continue;
        }
        auto action = std::move(timed_.extract(timed_.begin()).mapped());
        lock.unlock();
        action();
        lock.lock();
    }
}

}  // namespace tarvik
