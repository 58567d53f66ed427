#pragma once
// The kernel services the tool was built on: a 32-bit millisecond tick count, sleep, unnamed
// auto-reset events and a wait for any one of up to 64 events. Two implementations: real time
// (RealKernel) and a deterministic simulated clock (SimKernel). Everything that waits or
// measures time goes through one Kernel passed in by its owner; nothing reads a clock directly.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tarvik {

// Handle of an event; NO_EVENT stands for "no event" (a failed creation, an empty table entry).
using EventHandle = std::uint32_t;
inline constexpr EventHandle NO_EVENT = 0;

inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr std::size_t MAXIMUM_WAIT_OBJECTS = 64;

class Kernel {
public:
    virtual ~Kernel() = default;

    // Milliseconds since an arbitrary origin; wraps at 2^32.
    virtual std::uint32_t GetTickCount() = 0;
    // Microseconds since 1970 (UTC), for time stamps a person reads beside other records
    // (frame traces); never for measuring an interval, which is the tick count's job.
    virtual std::uint64_t WallClockMicroseconds() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;

    // An unnamed auto-reset event, not signalled. NO_EVENT when none can be made.
    virtual EventHandle CreateEvent() = 0;
    virtual bool SetEvent(EventHandle event) = 0;
    virtual bool ResetEvent(EventHandle event) = 0;
    virtual bool CloseHandle(EventHandle event) = 0;

    // Waits until one of the events is signalled or the timeout passes. Returns the index of
    // the lowest signalled event (which the wait resets, the events being auto-reset),
    // WAIT_TIMEOUT, or WAIT_FAILED when the table is empty, longer than 64 or holds a handle
    // that is not an open event.
    virtual std::uint32_t WaitForAny(std::span<const EventHandle> events,
                                     std::uint32_t timeoutMilliseconds) = 0;

    // Runs the action about delayMilliseconds from now. Simulated time runs it while the
    // owner sleeps or waits; real time runs it on a timer thread. Stand-ins for hardware
    // (the virtual segment, emulated devices) deliver their frames this way.
    virtual void Schedule(std::uint32_t delayMilliseconds, std::function<void()> action) = 0;

    // Runs every task, each on a thread of its own, at most `limit` at once (0: all at once),
    // and returns when all have ended. Tasks start in their order. Real time runs them as
    // ordinary threads; simulated time runs one at a time, handing over whenever the running
    // one sleeps or waits, so that several runs still share one deterministic clock.
    virtual void RunConcurrently(std::span<const std::function<void()>> tasks, std::size_t limit);
};

}  // namespace tarvik
