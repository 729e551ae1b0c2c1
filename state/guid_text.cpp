#include "state/guid_text.h"

#include "state/little_endian.h"

namespace quentar {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

void AppendHex(U16String& out, uint32_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out.push_back(kHexDigits[(value >> shift) & 0xF]);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads a field of exactly `digits` hex digits at `pos`; false when the text
// ends first or a character is no hex digit.
bool ReadHexField(U16View text, size_t& pos, int digits, uint32_t& value) {
    // The field must lie wholly inside the text.
    if (text.size() - pos < static_cast<size_t>(digits)) return false;
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = HexValue(text[pos + i]);
        if (digit < 0) return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    pos += digits;
    return true;
}

bool ReadLiteral(U16View text, size_t& pos, char16_t c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

U16String FormatGuidText(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
    U16String text;
    text.reserve(38);
    text.push_back(u'{');
    AppendHex(text, w0, 8);
    text.push_back(u'-');
    AppendHex(text, w1 & 0xFFFF, 4);
    text.push_back(u'-');
    AppendHex(text, w1 >> 16, 4);
    text.push_back(u'-');
    AppendHex(text, w2 & 0xFF, 2);
    AppendHex(text, (w2 >> 8) & 0xFF, 2);
    text.push_back(u'-');
    AppendHex(text, (w2 >> 16) & 0xFF, 2);
    AppendHex(text, w2 >> 24, 2);
    for (int shift = 0; shift < 32; shift += 8) AppendHex(text, (w3 >> shift) & 0xFF, 2);
    text.push_back(u'}');
    return text;
}

U16String FormatGuidText(const GuidBytes& guid) {
    return FormatGuidText(ReadLe32(&guid[0]), ReadLe32(&guid[4]), ReadLe32(&guid[8]), ReadLe32(&guid[12]));
}

bool ParseGuidText(U16View name, GuidBytes& out) {
    size_t pos = 0;
    while (pos < name.size() && name[pos] == u' ') ++pos;
    const bool braced = pos < name.size() && name[pos] == u'{';
    if (braced) ++pos;

    GuidBytes guid{};
    uint32_t value = 0;
    if (!ReadHexField(name, pos, 8, value)) return false;
    WriteLe32(&guid[0], value);
    for (size_t offset : {4, 6}) {
        if (!ReadLiteral(name, pos, u'-') || !ReadHexField(name, pos, 4, value)) return false;
        guid[offset] = static_cast<uint8_t>(value);
        guid[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
    for (size_t i = 8; i < 16; ++i) {
        // A dash before the first and the third byte of Data4.
        if ((i == 8 || i == 10) && !ReadLiteral(name, pos, u'-')) return false;
        if (!ReadHexField(name, pos, 2, value)) return false;
        guid[i] = static_cast<uint8_t>(value);
    }
    if (braced && !ReadLiteral(name, pos, u'}')) return false;
    out = guid;
    return true;
}

}  // namespace quentar
