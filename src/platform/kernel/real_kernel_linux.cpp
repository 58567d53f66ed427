#include "platform/kernel/real_kernel.h"

#include "platform/host/capabilities.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

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

RealKernel::RealKernel()
    : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), timer_(StartThreadWithoutCapabilities)
{
}

RealKernel::~RealKernel()
{
    timer_.Stop();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
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
        servedBy_.erase(event);
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
    HandOverPolling();
    return result;
}

std::uint32_t RealKernel::WaitAs(Waiter& self, std::unique_lock<std::mutex>& lock,
                                 std::uint32_t timeoutMilliseconds)
{
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMilliseconds);
    bool waited = false;
    bool timedOut = false;
    bool looked = false;
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
        const bool mayPoll = MayPoll(self);
        if (timeoutMilliseconds == 0) {
            // Whatever has come already counts, even when no thread has read it yet.
            if (mayPoll && !looked) {
                looked = true;
                PollSources(self, lock, deadline, true);
                continue;
            }
            return WAIT_TIMEOUT;
        }
        if (!waited && latency_.BeginSpin()) {
            Spin(self, lock, deadline);
            latency_.SpinEnded();
            waited = true;
            continue;
        }
        waited = true;
        if (mayPoll) {
            PollSources(self, lock, deadline, false);
            timedOut = Clock::now() >= deadline;
            continue;
        }
        timedOut = self.Changed.wait_until(lock, deadline) == std::cv_status::timeout;
    }
}

void RealKernel::Spin(Waiter& self, std::unique_lock<std::mutex>& lock, Clock::time_point deadline)
{
    const auto until =
        std::min(deadline, Clock::now() + std::chrono::microseconds(WAIT_SPIN_MICROSECONDS));
    while (events_.AllOpen(self.Events) && !events_.AnySignalled(self.Events) &&
           Clock::now() < until) {
        if (MayPoll(self)) {
            PollSources(self, lock, deadline, true);
        }
        // Yielding rather than only pausing: the thread that will set the event may need
        // this very processor.
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
    }
}

void RealKernel::PollSources(Waiter& self, std::unique_lock<std::mutex>& lock,
                             Clock::time_point deadline, bool now)
{
    poller_ = &self;
    pollerThread_ = std::this_thread::get_id();
    ++pollTurns_;
    if (sourcesChanged_) {
        sourcesChanged_ = false;
        pollTable_.assign(1, {wakeFd_, POLLIN, 0});
        polled_.clear();
        for (const std::unique_ptr<Source>& source : sources_) {
            pollTable_.push_back({source->Fd, POLLIN, 0});
            polled_.push_back(source.get());
        }
    }
    lock.unlock();

    timespec wait{};
    if (!now) {
        const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        wait.tv_sec = static_cast<time_t>(seconds.count());
        wait.tv_nsec = static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
    }
    std::vector<WatchId> spent;
    // The tables are the poller's alone until the turn ends: no other thread polls meanwhile.
    if (::ppoll(pollTable_.data(), pollTable_.size(), &wait, nullptr) > 0) {
        if (pollTable_[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 0; i < polled_.size(); ++i) {
            // A broken descriptor is drained too: the drain is what notices it is broken.
            if (pollTable_[i + 1].revents != 0 && !polled_[i]->Drain()) {
                spent.push_back(polled_[i]->Id);
            }
        }
    }

    lock.lock();
    for (const WatchId id : spent) {
        DropSource(id);
    }
    poller_ = nullptr;
    pollTurnEnded_.notify_all();
}

bool RealKernel::MayPoll(const Waiter& waiter) const
{
    if (poller_ != nullptr || sources_.empty()) {
        return false;
    }
    return std::any_of(waiter.Events.begin(), waiter.Events.end(),
                       [&](EventHandle event) { return servedBy_.contains(event); });
}

void RealKernel::HandOverPolling()
{
    const auto next = std::find_if(waiters_.begin(), waiters_.end(),
                                   [&](const Waiter* waiter) { return MayPoll(*waiter); });
    if (next != waiters_.end()) {
        (*next)->Changed.notify_one();
    }
}

void RealKernel::DropSource(WatchId id)
{
    std::erase_if(sources_,
                  [&](const std::unique_ptr<Source>& source) { return source->Id == id; });
    std::erase_if(servedBy_, [&](const auto& served) { return served.second == id; });
    sourcesChanged_ = true;
}

void RealKernel::ServedBy(EventHandle event, WatchId id)
{
    std::lock_guard lock(eventMutex_);
    const bool known = servedBy_.contains(event);
    servedBy_[event] = id;
    // A thread already waiting for it may have gone to sleep with no one reading.
    if (!known) {
        HandOverPolling();
    }
}

void RealKernel::WakePoller()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

RealKernel::WatchId RealKernel::Watch(int fd, std::function<bool()> drain)
{
    std::lock_guard lock(eventMutex_);
    if (wakeFd_ < 0 || fd < 0) {
        return 0;
    }
    const WatchId id = nextWatch_++;
    sources_.push_back(std::make_unique<Source>(Source{id, fd, std::move(drain)}));
    sourcesChanged_ = true;
    // A poller asleep on the old list wakes to take the new one; without a poller, a thread
    // that already waits becomes one.
    if (poller_ != nullptr) {
        WakePoller();
    }
    HandOverPolling();
    return id;
}

void RealKernel::Unwatch(WatchId id)
{
    std::unique_ptr<Source> leaving;
    std::unique_lock lock(eventMutex_);
    const auto found = std::find_if(sources_.begin(), sources_.end(),
                                    [&](const auto& source) { return source->Id == id; });
    if (found == sources_.end()) {
        return;
    }
    leaving = std::move(*found);
    sources_.erase(found);
    std::erase_if(servedBy_, [&](const auto& served) { return served.second == id; });
    sourcesChanged_ = true;
    // The turn under way may have it in hand; later turns do not see it.
    if (poller_ != nullptr) {
        const std::uint64_t turn = pollTurns_;
        WakePoller();
        ++unwatching_;
        pollTurnEnded_.wait(lock, [&] { return poller_ == nullptr || pollTurns_ != turn; });
        --unwatching_;
    }
}

RealKernel::ThreadCounts RealKernel::Threads()
{
    std::lock_guard lock(eventMutex_);
    return {waiters_.size(), poller_ != nullptr ? 1u : 0u, unwatching_};
}

void RealKernel::WakeWaitersFor(EventHandle event)
{
    // Notified under the lock: a waiter that has timed out may leave, and its condition
    // variable with it, as soon as the lock is free.
    for (Waiter* waiter : waiters_) {
        if (std::find(waiter->Events.begin(), waiter->Events.end(), event) ==
            waiter->Events.end()) {
            continue;
        }
        if (waiter == poller_) {
            // The poller that drains this very frame looks at its events when the turn ends.
            if (std::this_thread::get_id() != pollerThread_) {
                WakePoller();
            }
        } else {
            waiter->Changed.notify_one();
        }
    }
}

void RealKernel::Schedule(std::uint32_t delayMilliseconds, std::function<void()> action)
{
    timer_.Schedule(delayMilliseconds, std::move(action));
}

}  // namespace tarvik
