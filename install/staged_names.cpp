#include "install/staged_names.h"

namespace quentar {
namespace {

U16String WithHex(const U16String& path, U16View marker, const uint8_t* bytes, size_t count) {
    U16String name = path;
    name += marker;
    name += LowerHexOfBytes(bytes, count);
    return name;
}

// The part of `name` before `marker` and `digits` hexadecimal digits at its
// end, or empty when it does not end so or nothing is left before them.
U16String PathBefore(U16View name, U16View marker, size_t digits) {
    const size_t suffix = marker.size() + digits;
    // Nothing is left of the original path unless the name is longer than
    // the suffix.
    if (name.size() <= suffix) return {};
    const size_t start = name.size() - suffix;
    if (name.substr(start, marker.size()) != marker) return {};
    for (size_t i = start + marker.size(); i < name.size(); ++i) {
        if (!IsLowerHexDigit(name[i])) return {};
    }
    return U16String(name.substr(0, start));
}

constexpr char16_t kAsideMarker[] = u".";
constexpr char16_t kTemporaryMarker[] = u".~";
constexpr size_t kAsideBytes = 16;
constexpr size_t kTemporaryBytes = 4;

static_assert(kAsideSuffixLength == 1 + 2 * kAsideBytes, "the aside suffix is its marker and digits");
static_assert(kTemporarySuffixLength == 2 + 2 * kTemporaryBytes, "the temporary suffix is its marker and digits");

}  // namespace

U16String AsideName(const U16String& path, const uint8_t bytes[16]) {
    return WithHex(path, kAsideMarker, bytes, kAsideBytes);
}

U16String OriginalNameOf(U16View asideName) { return PathBefore(asideName, kAsideMarker, 2 * kAsideBytes); }

U16String TemporaryName(const U16String& path, const uint8_t bytes[4]) {
    return WithHex(path, kTemporaryMarker, bytes, kTemporaryBytes);
}

U16String TargetOfTemporaryName(U16View temporaryName) {
    return PathBefore(temporaryName, kTemporaryMarker, 2 * kTemporaryBytes);
}

}  // namespace quentar
