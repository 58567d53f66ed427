#pragma once
// The real-time kernels' timer: one thread that runs scheduled actions in due order, actions
// due at the same time in the order they were scheduled. Actions still pending when it is
// destroyed never run.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace tarvik {

class TimerThread {
public:
    // Starts the thread with starter (which may, say, give up the thread's rights first).
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;
    explicit TimerThread(const ThreadStarter& starter);
    ~TimerThread();
    TimerThread(const TimerThread&) = delete;
    TimerThread& operator=(const TimerThread&) = delete;

    void Schedule(std::uint32_t delayMilliseconds, std::function<void()> action);
    // Ends the thread once the action running, if any, has returned; what is pending never
    // runs. The owner calls it before it takes apart what the actions use.
    void Stop();

private:
    using Clock = std::chrono::steady_clock;
    // Keyed by due time, then by scheduling order, so equal times keep their order.
    using TimedKey = std::pair<Clock::time_point, std::uint64_t>;

    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<TimedKey, std::function<void()>> timed_;  // under mutex_
    std::uint64_t scheduled_ = 0;                      // under mutex_
    bool stopping_ = false;                            // under mutex_
    std::thread thread_;
};

}  // namespace tarvik
