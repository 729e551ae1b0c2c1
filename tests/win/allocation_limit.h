// Out of memory on demand: while an AllocationLimit lives, operator new of
// this test program fails with std::bad_alloc for every request of at least
// the given size, as it does on a machine whose memory has run out. Smaller
// requests, and every request outside a limit, are served as usual.
#pragma once

#include <cstddef>

namespace quentar::testing {

class AllocationLimit {
public:
    explicit AllocationLimit(std::size_t failFrom);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

private:
    std::size_t outer_;
};

}  // namespace quentar::testing
