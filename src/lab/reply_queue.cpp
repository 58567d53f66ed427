#include "lab/reply_queue.h"

#include <algorithm>

namespace tarvik {

std::uint64_t ReplyQueue::Widen(std::uint32_t tick)
{
    if (started_) {
        // Unsigned: the step is right across the wrap as long as the ticks are read less than
        // 2^32 ms apart.
        elapsed_ += static_cast<std::uint32_t>(tick - lastTick_);
    }
    started_ = true;
    lastTick_ = tick;
    return elapsed_;
}

void ReplyQueue::Add(std::uint32_t tick, std::uint32_t delayMs, std::vector<std::uint8_t> frame)
{
    held_.push_back({Widen(tick) + delayMs, made_++, std::move(frame)});
    std::push_heap(held_.begin(), held_.end(), Later);
}

std::uint32_t ReplyQueue::WaitMs(std::uint32_t tick, std::uint32_t ceiling)
{
    const std::uint64_t now = Widen(tick);
    if (held_.empty()) {
        return ceiling;
    }
    const std::uint64_t due = held_.front().Due;
    return due <= now ? 0 : static_cast<std::uint32_t>(std::min<std::uint64_t>(due - now, ceiling));
}

void ReplyQueue::TakeDue(std::uint32_t tick,
                         const std::function<void(std::span<const std::uint8_t>)>& send)
{
    const std::uint64_t now = Widen(tick);
    while (!held_.empty() && held_.front().Due <= now) {
        std::pop_heap(held_.begin(), held_.end(), Later);
        const std::vector<std::uint8_t> frame = std::move(held_.back().Frame);
        held_.pop_back();
        send(frame);
    }
}

}  // namespace tarvik
