// Text rules shared by every layer.
//
// Strings are UTF-16 code units everywhere, held as char16_t. On Windows
// wchar_t is the same 16-bit unit, so platform code hands these buffers to the
// W functions through AsWide()/FromWide() in platform/wide.h without copying;
// on the native build char16_t keeps the exact same units (wchar_t is 32-bit
// there and is never used by the core).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quentar {

using U16String = std::u16string;
using U16View = std::u16string_view;
using StringList = std::vector<U16String>;

// Lower-cases the letters A-Z only; every other code unit is left as it is.
constexpr char16_t FoldAsciiLower(char16_t c) noexcept {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Hexadecimal digits: 0-9 and a-f, or either case of a-f.
constexpr bool IsLowerHexDigit(char16_t c) noexcept { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); }
constexpr bool IsHexDigit(char16_t c) noexcept { return IsLowerHexDigit(FoldAsciiLower(c)); }

// The `count` bytes at `bytes` as lower-case hexadecimal digits, two a byte,
// the high digit first.
U16String LowerHexOfBytes(const uint8_t* bytes, size_t count);
// The lowest `digits` hexadecimal digits of `value`, lower case, the highest
// first, with zeros in front.
U16String LowerHexOfNumber(uint64_t value, size_t digits);

// Copy of s with A-Z lower-cased (no other case mapping).
U16String ToAsciiLower(U16View s);

// Equality that folds only A-Z; all other code units compare exactly.
bool EqualsIgnoreAsciiCase(U16View a, U16View b) noexcept;

// White space as the Windows C runtime's iswspace classifies a UTF-16 unit.
bool IsWhiteSpace(char16_t c) noexcept;

// Removes white space from the end first, then from the start.
U16String Trim(U16View s);

// Removes every occurrence of `c` at the end, then at the start.
U16String TrimChar(U16View s, char16_t c);

// Appends `item` unless an entry equal to it (folding A-Z only) is present.
// Returns true when it was appended.
bool AddUnique(StringList& list, U16View item);

// folder + "\" + name; no backslash is put in when the folder is empty or
// already ends with one.
U16String JoinPath(U16View folder, U16View name);

// The length of the root of a full path, 0 when `path` is not one. A full
// path starts with a drive letter, a colon and a backslash ("C:\", root
// length 3) or names a share ("\\server\share", its backslash after the
// share included when there is one); either may follow the "\\?\" prefix
// ("\\?\C:\", "\\?\UNC\server\share"). Relative paths, paths relative to a
// drive's current folder ("C:Quentar"), to the current drive ("\Quentar"),
// device paths ("\\.\") and shares without a name are not full.
size_t FullPathRootLength(U16View path);
// The prefix of a path handed to the system without its parsing ("\\?\").
inline constexpr U16View kLongPathPrefix = u"\\\\?\\";
inline bool IsFullPath(U16View path) { return FullPathRootLength(path) != 0; }

// Positional formatting: "%1".."%9" are replaced by args[0..8]; a "%" not
// followed by a digit naming a given argument is kept as it is.
U16String FormatPositional(U16View format, const std::vector<U16String>& args);

// A system message made one line: every CR LF becomes one space, then trimmed.
U16String OneLineMessage(U16View message);

// Conversions for tests, tools and logs (UTF-8 <-> UTF-16, unpaired
// surrogates become U+FFFD when going to UTF-8).
U16String FromUtf8(std::string_view s);
std::string ToUtf8(U16View s);

}  // namespace quentar
