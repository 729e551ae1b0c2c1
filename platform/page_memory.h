// The system's pages: memory handed out in whole pages and given back to the
// system the moment it is released.
#pragma once

#include <cstddef>

namespace quentar {

// VirtualAlloc/VirtualFree on Windows, mmap/munmap elsewhere. Allocation
// answers null when the memory cannot be had; release takes the size that was
// allocated.
void* AllocateSystemPages(size_t size);
void ReleaseSystemPages(void* memory, size_t size);

}  // namespace quentar
