#pragma once
// The kernel services on Windows, where they are the system's own: the tick count, Sleep,
// auto-reset events and WaitForMultipleObjects, and a timer thread for scheduled actions. The
// system timer runs at 1 ms while the kernel exists, so that a 20 ms pause lasts 20 ms and not
// the next multiple of the default 15.6 ms.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/kernel.h"

namespace tarvik {

class WindowsKernel final : public Kernel {
public:
    WindowsKernel();
    ~WindowsKernel() override;
    WindowsKernel(const WindowsKernel&) = delete;
    WindowsKernel& operator=(const WindowsKernel&) = delete;

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

    // The system's handle of an event (a HANDLE), for a driver that waits on it together with
    // a handle of its own; null for a handle that is not open.
    void* SystemHandle(EventHandle event);

private:
    using Clock = std::chrono::steady_clock;
    using TimedKey = std::pair<Clock::time_point, std::uint64_t>;

    void RunTimer();

    std::mutex eventMutex_;
    std::unordered_map<EventHandle, void*> events_;  // under eventMutex_
    EventHandle lastHandle_ = NO_EVENT;              // under eventMutex_

    std::mutex timerMutex_;
    std::condition_variable timerChanged_;
    std::map<TimedKey, std::function<void()>> timed_;
    std::uint64_t scheduled_ = 0;
    bool stopping_ = false;
    std::thread timer_;
};

}  // namespace tarvik
