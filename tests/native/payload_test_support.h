// Helpers shared by the payload tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "payload/decompress.h"

namespace quentar::testing {

// The token rules applied one byte at a time, written independently of the
// fast decoder: the oracle of the differential tests.
inline LzFault ReferenceDecode(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, size_t capacity) {
    out.clear();
    size_t n = 0;
    while (n < in.size()) {
        const uint8_t c = in[n++];
        if (c >= 0x80) {
            if (n == in.size()) return LzFault::MissingDistance;
            const size_t length = (c & 0x7F) + 3;
            const size_t distance = in[n++];
            if (distance > out.size()) return LzFault::DistanceBeforeOutput;
            if (distance < length) return LzFault::DistanceBelowLength;
            if (out.size() + length > capacity) return LzFault::ReferencePastCapacity;
            for (size_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
        } else {
            if (out.size() + c > capacity) return LzFault::LiteralPastCapacity;
            if (n + c > in.size()) return LzFault::LiteralPastInput;
            out.insert(out.end(), in.begin() + n, in.begin() + n + c);
            n += c;
        }
    }
    return out.size() == capacity ? LzFault::None : LzFault::ShortOutput;
}

// Bytes with a given character: few distinct values make long matches.
inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n, unsigned alphabet) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng() % alphabet);
    return v;
}

inline std::vector<uint8_t> TextBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace quentar::testing
