#include <windows.h>

#include "platform/page_memory.h"

namespace quentar {
namespace {

void* AllocatePages(size_t size) { return ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }
void ReleasePages(void* memory, size_t) { ::VirtualFree(memory, 0, MEM_RELEASE); }

}  // namespace

const PageAllocator& SystemPageAllocator() {
    static const PageAllocator pages{&AllocatePages, &ReleasePages};
    return pages;
}

}  // namespace quentar
