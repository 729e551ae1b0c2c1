// The decoder's page allocator over the system's pages.
#pragma once

#include "payload/payload_archive.h"
#include "platform/page_memory.h"

namespace quentar {

inline const PageAllocator& SystemPageAllocator() {
    static const PageAllocator pages{&AllocateSystemPages, &ReleaseSystemPages};
    return pages;
}

}  // namespace quentar
