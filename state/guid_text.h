// The registry text form of a GUID, as uninstall keys are named:
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hexadecimal digits.
#pragma once

#include <array>
#include <cstdint>

#include "state/text.h"

namespace quentar {

// The 16 bytes of a GUID in memory order: Data1 and Data2, Data3
// little-endian, then the eight bytes of Data4.
using GuidBytes = std::array<uint8_t, 16>;

// The 38-character text of the GUID whose 16 bytes are the four words w0..w3
// stored little-endian one after the other: w0 as eight digits, the low and
// then the high half of w1 as four digits each, then the bytes of w2 and w3
// from lowest to highest, two digits each (a dash after the second).
U16String FormatGuidText(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3);

// The same text for a GUID given as its 16 bytes in memory order.
U16String FormatGuidText(const GuidBytes& guid);

// Whether `name` begins with a GUID text: after leading blanks (U+0020 only),
// either the braced form above or the same without braces, every hex digit
// in either case. Text after the matched form is not examined. On success
// `out` holds the GUID's bytes in memory order; otherwise it is untouched.
bool ParseGuidText(U16View name, GuidBytes& out);

}  // namespace quentar
