#pragma once
// Replies held back until they are due, for a device that sends its own (tarvik-target's
// loop). The rule is the kernel's, by which the lab's devices send theirs: a reply is due its
// delay after the frame it answers, counted on a clock that does not wrap, and replies due at
// the same time go in the order they were made. The 32-bit tick count is widened here to such
// a clock: a delay of 2^31 ms or more is waited out whole, across the tick count's wrap.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tarvik {

class ReplyQueue {
public:
    // Holds frame until delayMs after tick (the tick count when its request came). The tick
    // counts given to the queue are read from one clock, at most 2^32 ms apart.
    void Add(std::uint32_t tick, std::uint32_t delayMs, std::vector<std::uint8_t> frame);

    // Milliseconds from tick until the next reply is due, at most ceiling.
    std::uint32_t WaitMs(std::uint32_t tick, std::uint32_t ceiling);

    // Hands over, oldest due first, every reply due by tick.
    void TakeDue(std::uint32_t tick,
                 const std::function<void(std::span<const std::uint8_t>)>& send);

    std::size_t Size() const { return held_.size(); }

private:
    struct Held {
        std::uint64_t Due;
        std::uint64_t Order;  // among replies due at the same time
        std::vector<std::uint8_t> Frame;
    };
    // The earliest due on top of the heap.
    static bool Later(const Held& a, const Held& b)
    {
        return a.Due != b.Due ? a.Due > b.Due : a.Order > b.Order;
    }
    // Milliseconds since the first tick the queue saw.
    std::uint64_t Widen(std::uint32_t tick);

    std::vector<Held> held_;  // a heap ordered by Later
    std::uint64_t made_ = 0;
    std::uint64_t elapsed_ = 0;
    std::uint32_t lastTick_ = 0;
    bool started_ = false;
};

}  // namespace tarvik
