// The names the installation makes beside a file it installs, in the file's
// own folder:
// - the temporary name a new file is written under until it is whole:
//   the path, ".~" and 8 lower-case hexadecimal digits;
// - the name an earlier file is moved aside to, so that a failed installation
//   can put it back: the path, "." and 32 lower-case hexadecimal digits.
// Both are made from fresh random bytes; both lead back to the path they
// belong to, which is how the removal and the journal of a run check them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/text.h"

namespace quentar {

// What a moved-aside name adds to the original full path: "." and 32 digits.
constexpr size_t kAsideSuffixLength = 33;
// What a temporary name adds to the full path of the file it becomes: ".~"
// and 8 digits.
constexpr size_t kTemporarySuffixLength = 10;
// The most that a name the installation makes beside a file (its temporary
// name or its moved-aside name) adds to the file's full path: the longest
// path the installation makes in a folder is the longest name it installs
// there plus this.
constexpr size_t kLongestNameSuffix = kAsideSuffixLength > kTemporarySuffixLength ? kAsideSuffixLength
                                                                                   : kTemporarySuffixLength;

// path + "." + the 16 bytes in memory order, each as two lower-case
// hexadecimal digits.
U16String AsideName(const U16String& path, const uint8_t bytes[16]);

// The original full path of a name made by AsideName, or empty when
// `asideName` does not end in "." and 32 lower-case hexadecimal digits after
// at least one character of path.
U16String OriginalNameOf(U16View asideName);

// path + ".~" + the first 4 bytes in memory order as lower-case hexadecimal
// digits.
U16String TemporaryName(const U16String& path, const uint8_t bytes[4]);

// The full path of the file a name made by TemporaryName becomes, or empty
// when `temporaryName` does not end in ".~" and 8 lower-case hexadecimal
// digits after at least one character of path.
U16String TargetOfTemporaryName(U16View temporaryName);

}  // namespace quentar
