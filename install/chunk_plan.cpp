#include "install/chunk_plan.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quentar {

namespace {
constexpr uint32_t kTargetChunks = 200;
constexpr int kShuffleExchanges = 500;
}  // namespace

void PlanChunks(uint32_t size, ChunkPlan& plan) {
    if (size == 0) return;
    // Below 200 bytes size / 200 is 0: one chunk instead of no progress.
    const uint32_t length = size < kTargetChunks ? size : size / kTargetChunks;
    const size_t first = plan.size();
    for (uint32_t position = 0; position < size;) {
        // size - position > 0 here, so every chunk has a length.
        const uint32_t chunk = std::min(length, size - position);
        plan.push_back({position, chunk});
        position += chunk;
    }
    const size_t n = plan.size() - first;
    for (int k = 0; k < kShuffleExchanges; ++k) {
        const size_t d = static_cast<size_t>(std::rand()) % n;
        const size_t e = static_cast<size_t>(std::rand()) % n;
        std::swap(plan[first + d], plan[first + e]);
    }
}

}  // namespace quentar
