#include "platform/kernel/timer_thread.h"

namespace tarvik {

TimerThread::TimerThread(const ThreadStarter& starter) : thread_(starter([this] { Run(); })) {}

TimerThread::~TimerThread()
{
    Stop();
}

void TimerThread::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TimerThread::Schedule(std::uint32_t delayMilliseconds, std::function<void()> action)
{
    {
        std::lock_guard lock(mutex_);
        timed_.emplace(TimedKey{Clock::now() + std::chrono::milliseconds(delayMilliseconds),
                                scheduled_++},
                       std::move(action));
    }
    changed_.notify_all();
}

void TimerThread::Run()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (timed_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const auto due = timed_.begin()->first.first;
        if (Clock::now() < due) {
            changed_.wait_until(lock, due);
            continue;
        }
        auto action = std::move(timed_.extract(timed_.begin()).mapped());
        lock.unlock();
        action();
        lock.lock();
    }
}

}  // namespace tarvik
