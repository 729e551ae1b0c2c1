// A four-part file version (major, minor, build, revision), each part a
// 16-bit value held in 32 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "state/text.h"

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

namespace quentar {

// Reads the file version out of the bytes of a version resource: the first
// fixed-file-information signature 0xFEEF04BD found while the scan position
// plus 52 stays below the size. The resource must be longer than 52 bytes.
// Returns false (and leaves `out` alone) when there is no such record.
bool ScanFixedFileVersion(const uint8_t* resource, size_t size, FileVersion& out);

// Reads the file version of an executable or library held in memory as the
// bytes of its file (a payload entry, say), without the file system: the
// version resource (type 16, id 1, its first language) found through the
// image's resource directory, then ScanFixedFileVersion over it, as the
// system's loader would find it. Every offset is checked against `size`.
// Returns false (and leaves `out` alone) for anything that is not such an
// image or has no version.
bool ReadImageFileVersion(const uint8_t* image, size_t size, FileVersion& out);

// Replaces the first four "%i" of `format` with major, minor, build and
// revision ("%%" stands for one "%").
U16String FormatVersionText(U16View format, const FileVersion& version);

}  // namespace quentar
