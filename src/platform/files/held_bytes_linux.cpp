#include "platform/files/held_bytes.h"

#include <cstdlib>

#include <sys/mman.h>

namespace tarvik {
namespace {

// The size of a large page on the systems built for; a smaller block stays on small pages.
constexpr std::size_t LARGE_PAGE = std::size_t{2} << 20;

std::size_t Rounded(std::size_t size)
{
    return (size + LARGE_PAGE - 1) / LARGE_PAGE * LARGE_PAGE;
}

}  // namespace

void* AllocateHeldBlock(std::size_t size)
{
    if (size < LARGE_PAGE) {
        return ::operator new(size);
    }
    void* block = std::aligned_alloc(LARGE_PAGE, Rounded(size));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    // Only advice: without it (or where the system declines) the block has small pages.
    madvise(block, Rounded(size), MADV_HUGEPAGE);
    return block;
}

void FreeHeldBlock(void* block, std::size_t size) noexcept
{
    if (size < LARGE_PAGE) {
        ::operator delete(block);
    } else {
        std::free(block);
    }
}

}  // namespace tarvik
