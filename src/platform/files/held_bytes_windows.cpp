#include "platform/files/held_bytes.h"

namespace tarvik {

// Large pages on Windows need a privilege an operator's account does not have: small pages.
void* AllocateHeldBlock(std::size_t size)
{
    return ::operator new(size);
}

void FreeHeldBlock(void* block, std::size_t /*size*/) noexcept
{
    ::operator delete(block);
}

}  // namespace tarvik
