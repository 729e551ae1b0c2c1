// The test program's replacement of the global operator new and delete, with
// the limit that AllocationLimit sets. The array and nothrow forms of the
// runtime call these.
#include "allocation_limit.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace quentar::testing {
namespace {

std::size_t g_failFrom = SIZE_MAX;  // no limit

}  // namespace

AllocationLimit::AllocationLimit(std::size_t failFrom) : outer_(g_failFrom) { g_failFrom = failFrom; }
AllocationLimit::~AllocationLimit() { g_failFrom = outer_; }

}  // namespace quentar::testing

void* operator new(std::size_t size) {
    if (size >= quentar::testing::g_failFrom) throw std::bad_alloc();
    for (;;) {
        if (void* block = std::malloc(size != 0 ? size : 1)) return block;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
