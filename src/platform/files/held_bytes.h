#pragma once
// Bytes held in memory for the length of a run: a whole image, read once. The block is taken
// from the system untouched (growing it writes nothing before the bytes are read into it) and,
// where the system has them, on large pages, so that filling 64 MiB costs a few dozen page
// faults rather than sixteen thousand.

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace tarvik {

// A block of at least size bytes, suitably aligned for any type; released by FreeHeldBlock.
void* AllocateHeldBlock(std::size_t size);
void FreeHeldBlock(void* block, std::size_t size) noexcept;

template <class T>
struct HeldBlockAllocator {
    using value_type = T;

    HeldBlockAllocator() = default;
    template <class U>
    HeldBlockAllocator(const HeldBlockAllocator<U>& /*other*/) noexcept
    {
    }

    T* allocate(std::size_t count) { return static_cast<T*>(AllocateHeldBlock(count * sizeof(T))); }
    void deallocate(T* block, std::size_t count) noexcept { FreeHeldBlock(block, count * sizeof(T)); }

    // Growing leaves the new elements as they are: they are written before they are read.
    template <class U>
    void construct(U* at) noexcept
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }

    friend bool operator==(const HeldBlockAllocator&, const HeldBlockAllocator&) { return true; }
};

using HeldBytes = std::vector<std::uint8_t, HeldBlockAllocator<std::uint8_t>>;

}  // namespace tarvik
