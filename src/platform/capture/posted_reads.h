#pragma once
// The receive side every packet driver shares: the reads a program has posted and the frames
// that came while none was posted, and the program's own ring of slots that it keeps posted.
// A driver keeps only its source of frames and its own lock; how a read completes (the copy,
// the length, the count word, the event) and when the event is signalled is decided here.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/kernel/kernel.h"
#include "platform/capture/packet_driver.h"

namespace tarvik {

// Frames held for reads not yet posted; beyond this the newest are dropped, as an adapter with
// no receive buffers left would drop them.
inline constexpr std::size_t HELD_FRAME_LIMIT = 4096;

// The events of reads completed under a driver's lock, signalled once that lock is released:
// a thread woken by the event must not find the lock still held by the one that woke it.
// Declare it before the lock it is filled under; it signals when it goes out of scope.
class ReadCompletions {
public:
    explicit ReadCompletions(Kernel& kernel) : kernel_(kernel) {}
    ~ReadCompletions();
    ReadCompletions(const ReadCompletions&) = delete;
    ReadCompletions& operator=(const ReadCompletions&) = delete;

    void Add(EventHandle event);
    std::size_t Size() const { return inline_ + overflow_.size(); }

private:
    // A drain completes a read or a few; the heap is touched only by a burst.
    static constexpr std::size_t INLINE_EVENTS = 16;

    Kernel& kernel_;
    std::array<EventHandle, INLINE_EVENTS> events_{};
    std::size_t inline_ = 0;
    std::vector<EventHandle> overflow_;
};

// The reads posted on one adapter and the frames held for reads not yet posted. Not locked:
// the driver calls it under its own lock and signals the completions after releasing it.
class PostedReads {
public:
    struct Read {
        ReadSlot* Slot;
        std::uint32_t* Count;  // written with the frame's length; may be null
        Overlapped* Request;   // its event is signalled
    };

    explicit PostedReads(std::size_t holdLimit = HELD_FRAME_LIMIT) : holdLimit_(holdLimit) {}

    // Completes the read at once with the oldest held frame, or keeps it posted.
    void Post(const Read& read, ReadCompletions& completed);
    // Completes the oldest posted read with the frame, or holds the frame while fewer than the
    // limit are held. False when the frame was dropped.
    bool Deliver(std::span<const std::uint8_t> frame, ReadCompletions& completed);
    // Abandons the posted reads (their slots are never written again) and the held frames;
    // from now on nothing completes and nothing is held.
    void Close();

    std::size_t Posted() const { return posted_.size(); }
    std::size_t Held() const { return held_.size(); }

private:
    static void Complete(const Read& read, std::span<const std::uint8_t> frame,
                         ReadCompletions& completed);

    const std::size_t holdLimit_;
    bool closed_ = false;
    std::deque<Read> posted_;
    std::deque<std::vector<std::uint8_t>> held_;
};

// A program's block of read slots, each with an event of its own, kept posted on one adapter.
// Drivers complete posted reads in posting order, so a reader that takes them in that order
// waits on one event at a time: the next one.
class ReadSlotRing {
public:
    using FrameHandler = std::function<void(std::span<const std::uint8_t> frame)>;

    ReadSlotRing(Kernel& kernel, PacketDriver& driver) : kernel_(kernel), driver_(driver) {}
    ~ReadSlotRing() { Release(); }
    ReadSlotRing(const ReadSlotRing&) = delete;
    ReadSlotRing& operator=(const ReadSlotRing&) = delete;

    // Makes count zeroed slots, each with a fresh event, none posted yet. False, with nothing
    // kept, when the memory or an event cannot be had.
    bool Allocate(std::size_t count);
    // Closes the events and frees the slots. The adapter they were posted on must be closed
    // first: its reads are then abandoned and no slot is written again.
    void Release();

    bool Allocated() const { return slots_ != nullptr; }
    std::size_t Size() const { return size_; }
    ReadSlot& Slot(std::size_t index) { return slots_[index]; }
    EventHandle Event(std::size_t index) const { return slots_[index].Request.Event; }
    // What landed in the slot, never more than the slot holds.
    std::span<const std::uint8_t> Frame(std::size_t index) const;

    // Posts the slot's read (with its count word and its own request) on the adapter.
    std::uint32_t Post(std::int32_t adapter, std::size_t index);

    // Waits at most timeoutMs for the oldest outstanding read, hands its frame over and posts
    // the slot again; then goes on, without waiting, while the next has landed too, at most
    // limit frames in all. Returns how many were handed over.
    std::size_t TakeInOrder(std::int32_t adapter, std::uint32_t timeoutMs, std::size_t limit,
                            const FrameHandler& handle);

private:
    Kernel& kernel_;
    PacketDriver& driver_;
    std::unique_ptr<ReadSlot[]> slots_;
    std::size_t size_ = 0;
    std::size_t next_ = 0;  // the slot posted longest ago
};

}  // namespace tarvik
