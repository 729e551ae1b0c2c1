#include <sys/mman.h>

#include "platform/page_memory.h"

namespace quentar {

void* AllocateSystemPages(size_t size) {
    void* const p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void ReleaseSystemPages(void* memory, size_t size) { ::munmap(memory, size); }

}  // namespace quentar
