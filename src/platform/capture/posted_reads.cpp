#include "platform/capture/posted_reads.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarvik {

ReadCompletions::~ReadCompletions()
{
    for (std::size_t i = 0; i < inline_; ++i) {
        kernel_.SetEvent(events_[i]);
    }
    for (const EventHandle event : overflow_) {
        kernel_.SetEvent(event);
    }
}

void ReadCompletions::Add(EventHandle event)
{
    if (inline_ < events_.size()) {
        events_[inline_++] = event;
    } else {
        overflow_.push_back(event);
    }
}

void PostedReads::Post(const Read& read, ReadCompletions& completed)
{
    if (closed_) {
        return;
    }
    if (held_.empty()) {
        posted_.push_back(read);
        return;
    }
    Complete(read, held_.front(), completed);
    held_.pop_front();
}

bool PostedReads::Deliver(std::span<const std::uint8_t> frame, ReadCompletions& completed)
{
    if (closed_) {
        return false;
    }
    if (!posted_.empty()) {
        Complete(posted_.front(), frame, completed);
        posted_.pop_front();
        return true;
    }
    if (held_.size() >= holdLimit_) {
        return false;
    }
    held_.emplace_back(frame.begin(), frame.end());
    return true;
}

void PostedReads::Close()
{
    closed_ = true;
    posted_.clear();
    held_.clear();
}

void PostedReads::Complete(const Read& read, std::span<const std::uint8_t> frame,
                           ReadCompletions& completed)
{
    const std::size_t length = std::min(frame.size(), READ_SLOT_FRAME_BYTES);
    std::memcpy(read.Slot->FrameData, frame.data(), length);
    read.Slot->FrameLength = static_cast<std::uint32_t>(length);
    if (read.Count != nullptr) {
        *read.Count = static_cast<std::uint32_t>(length);
    }
    completed.Add(read.Request->Event);
}

bool ReadSlotRing::Allocate(std::size_t count)
{
    Release();
    // Value-initialised: the whole block starts zeroed, as a driver expects of a fresh slot.
    std::unique_ptr<ReadSlot[]> slots(new (std::nothrow) ReadSlot[count]());
    if (!slots) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        slots[i].Request.Event = kernel_.CreateEvent();
        if (slots[i].Request.Event == NO_EVENT) {
            for (std::size_t made = 0; made < i; ++made) {
                kernel_.CloseHandle(slots[made].Request.Event);
            }
            return false;
        }
    }
    slots_ = std::move(slots);
    size_ = count;
    next_ = 0;
    return true;
}

void ReadSlotRing::Release()
{
    if (!slots_) {
        return;
    }
    for (std::size_t i = 0; i < size_; ++i) {
        kernel_.CloseHandle(slots_[i].Request.Event);
    }
    slots_.reset();
    size_ = 0;
    next_ = 0;
}

std::span<const std::uint8_t> ReadSlotRing::Frame(std::size_t index) const
{
    const ReadSlot& slot = slots_[index];
    return {slot.FrameData, std::min<std::size_t>(slot.FrameLength, READ_SLOT_FRAME_BYTES)};
}

std::uint32_t ReadSlotRing::Post(std::int32_t adapter, std::size_t index)
{
    ReadSlot& slot = slots_[index];
    return driver_.PacketRead(adapter, &slot, &slot.CountWord, &slot.Request, PACKET_CALL_POSTED);
}

std::size_t ReadSlotRing::TakeInOrder(std::int32_t adapter, std::uint32_t timeoutMs,
                                      std::size_t limit, const FrameHandler& handle)
{
    std::size_t handed = 0;
    std::uint32_t wait = timeoutMs;
    while (slots_ && handed < limit) {
        const EventHandle landed[] = {Event(next_)};
        if (kernel_.WaitForAny(landed, wait) != WAIT_OBJECT_0) {
            break;
        }
        handle(Frame(next_));
        Post(adapter, next_);
        next_ = (next_ + 1) % size_;
        ++handed;
        // Whatever else has come is handed over now, without waiting again.
        wait = 0;
    }
    return handed;
}

}  // namespace tarvik
