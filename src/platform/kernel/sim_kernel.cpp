#include "platform/kernel/sim_kernel.h"

#include <algorithm>
#include <thread>

namespace tarvik {

// One thread of RunConcurrently, and what it waits for while it does not hold the clock.
struct SimKernel::Strand {
    enum class Stage { Starting, Sleeping, Waiting, Ended };
    Stage At = Stage::Starting;
    std::uint64_t WakeAt = 0;         // the sleep's end or the wait's timeout
    std::vector<EventHandle> Events;  // what a wait waits for
    // Signalled when the clock is handed to this strand: only it wakes, however many wait.
    std::condition_variable Turn;
    std::thread Thread;
};

SimKernel::SimKernel(std::uint32_t startTick) : start_(startTick) {}

std::uint32_t SimKernel::GetTickCount()
{
    return static_cast<std::uint32_t>(start_ + now_);
}

std::uint64_t SimKernel::WallClockMicroseconds()
{
    return (start_ + now_) * 1000;
}

void SimKernel::Sleep(std::uint32_t milliseconds)
{
    ++sleepCalls_;
    sleptMilliseconds_ += milliseconds;
    if (Strand* strand = running_) {
        strand->At = Strand::Stage::Sleeping;
        strand->WakeAt = now_ + milliseconds;
        Yield(*strand);
        return;
    }
    Advance(milliseconds);
}

void SimKernel::Advance(std::uint32_t milliseconds)
{
    const std::uint64_t deadline = now_ + milliseconds;
    while (RunNextDue(deadline)) {
    }
    now_ = std::max(now_, deadline);
}

bool SimKernel::RunNextDue(std::uint64_t deadline)
{
    if (timed_.empty() || timed_.begin()->first.first > deadline) {
        return false;
    }
    auto node = timed_.extract(timed_.begin());
    // An action that itself slept may have carried the clock past this one's due time.
    now_ = std::max(now_, node.key().first);
    node.mapped()();
    return true;
}

bool SimKernel::Faults::Strike()
{
    if (failing == 0) {
        return false;
    }
    if (spared > 0) {
        --spared;
        return false;
    }
    --failing;
    return true;
}

EventHandle SimKernel::CreateEvent()
{
    if (createFaults_.Strike()) {
        return NO_EVENT;
    }
    return events_.Create();
}

bool SimKernel::SetEvent(EventHandle event)
{
    return events_.Set(event);
}

bool SimKernel::ResetEvent(EventHandle event)
{
    if (resetFaults_.Strike()) {
        return false;
    }
    return events_.Reset(event);
}

bool SimKernel::CloseHandle(EventHandle event)
{
    return events_.Close(event);
}

std::uint32_t SimKernel::WaitForAny(std::span<const EventHandle> events,
                                    std::uint32_t timeoutMilliseconds)
{
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) {
        return WAIT_FAILED;
    }
    const std::uint64_t deadline = now_ + timeoutMilliseconds;
    if (Strand* strand = running_) {
        for (;;) {
            if (!events_.AllOpen(events)) {
                return WAIT_FAILED;
            }
            const std::uint32_t taken = events_.TakeSignalled(events);
            if (taken != WAIT_TIMEOUT || now_ >= deadline) {
                return taken;
            }
            strand->At = Strand::Stage::Waiting;
            strand->WakeAt = deadline;
            strand->Events.assign(events.begin(), events.end());
            Yield(*strand);
        }
    }
    for (;;) {
        // An action may close a waited event; the wait then fails where it stands.
        if (!events_.AllOpen(events)) {
            return WAIT_FAILED;
        }
        const std::uint32_t taken = events_.TakeSignalled(events);
        if (taken != WAIT_TIMEOUT) {
            return taken;
        }
        if (!RunNextDue(deadline)) {
            now_ = std::max(now_, deadline);
            return WAIT_TIMEOUT;
        }
    }
}

void SimKernel::Schedule(std::uint32_t delayMilliseconds, std::function<void()> action)
{
    timed_.emplace(std::pair{now_ + delayMilliseconds, scheduled_++}, std::move(action));
}

void SimKernel::RunConcurrently(std::span<const std::function<void()>> tasks, std::size_t limit)
{
    const std::size_t count = limit == 0 ? tasks.size() : std::min(limit, tasks.size());
    std::size_t next = 0;
    std::vector<std::unique_ptr<Strand>> strands;
    for (std::size_t i = 0; i < count; ++i) {
        auto strand = std::make_unique<Strand>();
        strand->Thread = std::thread([this, raw = strand.get(), &tasks, &next] {
            {
                std::unique_lock lock(turnLock_);
                raw->Turn.wait(lock, [&] { return running_ == raw; });
            }
            // Only the strand holding the clock runs, so the shared count needs no lock.
            while (next < tasks.size()) {
                tasks[next++]();
            }
            raw->At = Strand::Stage::Ended;
            std::lock_guard lock(turnLock_);
            running_ = nullptr;
            turnChanged_.notify_one();
        });
        strands.push_back(std::move(strand));
    }
    for (;;) {
        std::erase_if(strands, [](const std::unique_ptr<Strand>& strand) {
            if (strand->At != Strand::Stage::Ended) {
                return false;
            }
            strand->Thread.join();
            return true;
        });
        if (strands.empty()) {
            break;
        }
        // What was due by now runs before a strand goes on, as it would within its sleep.
        if (RunNextDue(now_)) {
            continue;
        }
        const auto ready = std::find_if(strands.begin(), strands.end(),
                                        [this](const auto& strand) { return CanGoOn(*strand); });
        if (ready != strands.end()) {
            HandOver(**ready);
            continue;
        }
        std::uint64_t wake = UINT64_MAX;
        for (const auto& strand : strands) {
            wake = std::min(wake, strand->WakeAt);
        }
        if (!RunNextDue(wake)) {
            now_ = std::max(now_, wake);
        }
    }
}

bool SimKernel::CanGoOn(const Strand& strand) const
{
    switch (strand.At) {
    case Strand::Stage::Starting:
        return true;
    case Strand::Stage::Sleeping:
        return now_ >= strand.WakeAt;
    case Strand::Stage::Waiting:
        return now_ >= strand.WakeAt || !events_.AllOpen(strand.Events) ||
               events_.AnySignalled(strand.Events);
    case Strand::Stage::Ended:
        break;
    }
    return false;
}

void SimKernel::HandOver(Strand& strand)
{
    std::unique_lock lock(turnLock_);
    running_ = &strand;
    strand.Turn.notify_one();
    turnChanged_.wait(lock, [this] { return running_ == nullptr; });
}

void SimKernel::Yield(Strand& strand)
{
    std::unique_lock lock(turnLock_);
    running_ = nullptr;
    turnChanged_.notify_one();  // only the scheduler waits on it
    strand.Turn.wait(lock, [&] { return running_ == &strand; });
}

}  // namespace tarvik
