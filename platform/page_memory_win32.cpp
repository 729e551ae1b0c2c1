#include <windows.h>

#include "platform/page_memory.h"

namespace quentar {

void* AllocateSystemPages(size_t size) {
    return ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void ReleaseSystemPages(void* memory, size_t) { ::VirtualFree(memory, 0, MEM_RELEASE); }

}  // namespace quentar
