// The write plan of the application executable: every byte covered exactly
// once, chunk lengths, the shuffle, and small sizes that have no length of
// size / 200.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "install/chunk_plan.h"

namespace quentar {
namespace {

// Counts how often each byte of [0, size) is written by the chunks of `plan`
// from index `first` on; every chunk must lie inside the size.
std::vector<int> Coverage(const ChunkPlan& plan, size_t first, uint32_t size) {
    std::vector<int> hits(size, 0);
    for (size_t i = first; i < plan.size(); ++i) {
        const CPosSize c = plan[i];
        EXPECT_GT(c.size, 0u) << "chunk " << i << " has no length";
        EXPECT_LE(static_cast<uint64_t>(c.position) + c.size, size) << "chunk " << i << " runs past the end";
        for (uint32_t b = c.position; b < c.position + c.size && b < size; ++b) ++hits[b];
    }
    return hits;
}

struct PlanCase {
    uint32_t size;
    size_t chunks;
    uint32_t longest;   // the common chunk length
    uint32_t shortest;  // the last chunk's length
};

TEST(PlanChunks, CoversEveryByteOnceWithTheExpectedChunks) {
    const PlanCase cases[] = {
        {1000000, 200, 5000, 5000},
        {1000001, 201, 5000, 1},
        {200, 200, 1, 1},
        {399, 399, 1, 1},
        {401, 201, 2, 1},
        // Below 200 bytes: one chunk with the whole size.
        {199, 1, 199, 199},
        {1, 1, 1, 1},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.size);
        std::srand(c.size);
        ChunkPlan plan;
        PlanChunks(c.size, plan);
        ASSERT_EQ(plan.size(), c.chunks);
        const std::vector<int> hits = Coverage(plan, 0, c.size);
        EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }));
        uint32_t longest = 0, shortest = UINT32_MAX;
        for (const CPosSize& chunk : plan) {
            longest = std::max(longest, chunk.size);
            shortest = std::min(shortest, chunk.size);
        }
        EXPECT_EQ(longest, c.longest);
        EXPECT_EQ(shortest, c.shortest);
    }
}

TEST(PlanChunks, EmptyFileGivesNoChunk) {
    ChunkPlan plan;
    PlanChunks(0, plan);
    EXPECT_TRUE(plan.empty());
}

TEST(PlanChunks, ShufflesAndWhateverTheOrderEveryByteIsWrittenOnce) {
    for (unsigned seed : {1u, 2u, 3u, 12345u}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        ChunkPlan plan;
        PlanChunks(1000001, plan);
        // 500 exchanges among 201 chunks leave the plan in position order
        // with a vanishing chance: a plan in order means no shuffle.
        EXPECT_FALSE(std::is_sorted(plan.begin(), plan.end(),
                                    [](const CPosSize& a, const CPosSize& b) { return a.position < b.position; }));
        const std::vector<int> hits = Coverage(plan, 0, 1000001);
        EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }));
    }
}

TEST(PlanChunks, AppendsAfterWhatThePlanHolds) {
    ChunkPlan plan{{7, 3}};
    PlanChunks(1000, plan);
    ASSERT_EQ(plan.size(), 201u);
    EXPECT_EQ(plan[0].position, 7u);
    EXPECT_EQ(plan[0].size, 3u);
    const std::vector<int> hits = Coverage(plan, 1, 1000);
    EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }));
}

}  // namespace
}  // namespace quentar
