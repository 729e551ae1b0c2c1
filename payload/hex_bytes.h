// Hexadecimal text to bytes: archive keys given to the archive tool, the
// payload's SHA-256 stored beside it. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quentar {

// Reads exactly 2 * count hexadecimal digits (either case) from the `size`
// characters at `text` into out[0..count). Anything else (another length,
// a sign, a space or line break) is refused with false; `out` may then be
// partly written.
inline bool ParseHexBytes(const char* text, size_t size, uint8_t* out, size_t count) {
    const auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text == nullptr || size != 2 * count) return false;
    for (size_t i = 0; i < count; ++i) {
        const int high = value(text[2 * i]);
        const int low = value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace quentar
