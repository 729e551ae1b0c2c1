// The write plan of the application executable: its data cut into about two
// hundred chunks, written in shuffled order so that the progress bar moves
// evenly whatever the file's size.
#pragma once

#include <cstdint>
#include <vector>

namespace quentar {

// One write: `size` bytes at `position`, both in the file and in the entry's
// data.
struct CPosSize {
    uint32_t position;
    uint32_t size;
};

using ChunkPlan = std::vector<CPosSize>;

// Appends the chunks of a file of `size` bytes to `plan` and shuffles the
// chunks just appended (500 exchanges of two chunks picked with rand(); the
// generator is not seeded here).
//
// Chunks are size / 200 bytes long, the last one shorter when 200 does not
// divide the size, so there are 200 chunks or more. A size below 200 bytes,
// which would give chunks of no length, gives one chunk holding the whole
// size, and a size of 0 gives no chunk at all. Whatever the size, the chunks
// appended cover every byte of [0, size) exactly once.
void PlanChunks(uint32_t size, ChunkPlan& plan);

}  // namespace quentar
