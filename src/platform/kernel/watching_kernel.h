#pragma once
// Kernel services for packet drivers whose frames arrive on a descriptor: the threads that
// wait for events read the descriptor themselves (see RealKernel). A driver takes this
// interface, so that a test can feed it frames through any descriptor it likes.

#include <cstdint>
#include <functional>

#include "platform/kernel/kernel.h"

namespace tarvik {

class WatchingKernel : public Kernel {
public:
    using WatchId = std::uint64_t;

    // From now on the waiting threads watch fd, and when it is readable (or broken) one of
    // them calls drain, which reads what is there without blocking; drain answers false when
    // the descriptor is of no more use, and is not called again. A source id for Unwatch, or
    // 0 when the descriptor cannot be watched.
    virtual WatchId Watch(int fd, std::function<bool()> drain) = 0;
    // When it returns, drain is not running and never runs again. Never called from a drain:
    // it would wait for its own turn to end.
    virtual void Unwatch(WatchId id) = 0;
    // The event is set by what the source's drain reads (a read posted on that capture): a
    // thread waiting for it may read the source. Threads that wait only for other events
    // (set by a thread that hands frames on) leave the reading to others.
    virtual void ServedBy(EventHandle event, WatchId id) = 0;
};

}  // namespace tarvik
