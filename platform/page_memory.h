// The system's page allocator: memory handed out in whole pages and given
// back to the system the moment it is released.
#pragma once

#include "payload/payload_archive.h"

namespace quentar {

// VirtualAlloc/VirtualFree on Windows, mmap/munmap elsewhere.
const PageAllocator& SystemPageAllocator();

}  // namespace quentar
