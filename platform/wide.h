// UTF-16 text between the portable core (char16_t) and the W functions
// (wchar_t, also 16 bits on Windows).
#pragma once

#include <windows.h>

#include "state/text.h"

namespace quentar {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline const wchar_t* AsWide(const U16String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline wchar_t* AsWide(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }
inline const wchar_t* AsWide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline U16String FromWide(const wchar_t* s) { return s ? U16String(reinterpret_cast<const char16_t*>(s)) : U16String(); }
inline U16String FromWide(const wchar_t* s, size_t n) { return U16String(reinterpret_cast<const char16_t*>(s), n); }

}  // namespace quentar
