#pragma once
// The kernel services in real time: a monotonic millisecond clock, events on one mutex and
// condition variable (a capture thread and the timer thread signal them while the tool's
// thread waits), and one timer thread that runs scheduled actions in due order.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/event_table.h"
#include "platform/kernel.h"

namespace tarvik {

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

    std::mutex eventMutex_;
    std::condition_variable eventChanged_;
    EventTable events_;

    std::mutex timerMutex_;
    std::condition_variable timerChanged_;
    std::map<TimedKey, std::function<void()>> timed_;
    std::uint64_t scheduled_ = 0;
    bool stopping_ = false;
    std::thread timer_;
};

}  // namespace tarvik
