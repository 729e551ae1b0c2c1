// The encoder of the archive's LZ scheme (see decompress.h for the tokens).
// Used by the archive tool, the tests, the benchmarks and the fuzzers; the
// setup program itself only decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quentar {

enum class ParseMode : uint8_t {
    // The smallest token stream the format allows (an exact shortest path).
    Optimal,
    // Longest match at every position, literals otherwise; for comparison.
    Greedy,
};

// Largest output for `length` input bytes: one control byte per 127 literals.
constexpr uint64_t CompressBound(uint64_t length) { return length + (length + 126) / 127; }

// Compresses input[0, length) into a token stream that DecompressEntry turns
// back into exactly those bytes with outputCapacity = length.
// Contract: input has `length` readable bytes (may be null when 0).
// Memory: 2 bytes per input byte besides the output.
// Throws std::bad_alloc when that memory is not available.
std::vector<uint8_t> CompressEntry(const uint8_t* input, size_t length,
                                   ParseMode mode = ParseMode::Optimal);

}  // namespace quentar
