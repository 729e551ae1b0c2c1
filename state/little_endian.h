// Little-endian integers in byte buffers of any alignment (resources and
// archive headers are not aligned).
#pragma once

#include <cstdint>

namespace quentar {

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

inline void WriteLe32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

inline void WriteLe64(uint8_t* p, uint64_t v) {
    WriteLe32(p, static_cast<uint32_t>(v));
    WriteLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace quentar
