#pragma once
// The kernel services on Windows, where they are the system's own: the tick count, Sleep,
// auto-reset events and WaitForMultipleObjects, and a timer thread for scheduled actions. The
// system timer runs at 1 ms while the kernel exists, so that a 20 ms pause lasts 20 ms and not
// the next multiple of the default 15.6 ms. Captures have no descriptor to poll here: each
// watched source is read on a thread of its own, whose drain waits a moment for frames.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/kernel/timer_thread.h"
#include "platform/kernel/watching_kernel.h"

namespace tarvik {

class WindowsKernel final : public WatchingKernel {
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

    // fd is not used: the source is read by its drain alone, on a thread of its own.
    WatchId Watch(int fd, std::function<bool()> drain) override;
    void Unwatch(WatchId id) override;
    void ServedBy(EventHandle, WatchId) override {}

    // The system's handle of an event (a HANDLE), for a driver that waits on it together with
    // a handle of its own; null for a handle that is not open.
    void* SystemHandle(EventHandle event);

private:
    std::mutex eventMutex_;
    std::unordered_map<EventHandle, void*> events_;  // under eventMutex_
    EventHandle lastHandle_ = NO_EVENT;              // under eventMutex_

    struct Reader {
        std::atomic<bool> Stopping{false};
        std::thread Thread;
    };
    std::mutex readerMutex_;
    std::map<WatchId, std::unique_ptr<Reader>> readers_;  // under readerMutex_
    WatchId nextWatch_ = 1;                               // under readerMutex_

    TimerThread timer_;
};

}  // namespace tarvik
