// A four-part file version (major, minor, build, revision), each part a
// 16-bit value held in 32 bits.
#pragma once

#include <array>
#include <cstdint>

namespace quentar {

struct FileVersion {
    std::array<uint32_t, 4> parts{0, 0, 0, 0};

    // Part by part from major to revision, each as a signed 32-bit number;
    // the first differing part decides. Negative, zero or positive.
    friend int Compare(const FileVersion& a, const FileVersion& b) {
        for (size_t i = 0; i < 4; ++i) {
            const auto x = static_cast<int32_t>(a.parts[i]);
            const auto y = static_cast<int32_t>(b.parts[i]);
            if (x != y) return x < y ? -1 : 1;
        }
        return 0;
    }
    friend bool operator<(const FileVersion& a, const FileVersion& b) { return Compare(a, b) < 0; }
    friend bool operator>(const FileVersion& a, const FileVersion& b) { return Compare(a, b) > 0; }
    friend bool operator==(const FileVersion& a, const FileVersion& b) { return Compare(a, b) == 0; }
    friend bool operator!=(const FileVersion& a, const FileVersion& b) { return Compare(a, b) != 0; }
    bool IsZero() const { return parts[0] == 0 && parts[1] == 0 && parts[2] == 0 && parts[3] == 0; }
};

}  // namespace quentar
