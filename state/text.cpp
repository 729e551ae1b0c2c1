#include "state/text.h"

#include <algorithm>

namespace quentar {

namespace {

constexpr char16_t LowerHexDigit(unsigned value) {
    return static_cast<char16_t>(value < 10 ? u'0' + value : u'a' + value - 10);
}

}  // namespace

U16String LowerHexOfBytes(const uint8_t* bytes, size_t count) {
    U16String text;
    text.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        text += LowerHexDigit(bytes[i] >> 4);
        text += LowerHexDigit(bytes[i] & 0xF);
    }
    return text;
}

U16String LowerHexOfNumber(uint64_t value, size_t digits) {
    U16String text(digits, u'0');
    for (size_t i = digits; i-- > 0; value >>= 4) text[i] = LowerHexDigit(static_cast<unsigned>(value & 0xF));
    return text;
}

U16String ToAsciiLower(U16View s) {
    U16String out(s);
    for (auto& c : out) c = FoldAsciiLower(c);
    return out;
}

bool EqualsIgnoreAsciiCase(U16View a, U16View b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiLower(a[i]) != FoldAsciiLower(b[i])) return false;
    }
    return true;
}

bool IsWhiteSpace(char16_t c) noexcept {
    // The classification of the Windows C runtime: the C0 controls TAB..CR,
    // SPACE, and the Unicode separators it marks as spaces.
    switch (c) {
        case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
        case 0x0020: case 0x00A0: case 0x1680:
        case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

U16String Trim(U16View s) {
    size_t end = s.size();
    while (end > 0 && IsWhiteSpace(s[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsWhiteSpace(s[begin])) ++begin;
    return U16String(s.substr(begin, end - begin));
}

U16String TrimChar(U16View s, char16_t c) {
    size_t end = s.size();
    while (end > 0 && s[end - 1] == c) --end;
    size_t begin = 0;
    while (begin < end && s[begin] == c) ++begin;
    return U16String(s.substr(begin, end - begin));
}

bool AddUnique(StringList& list, U16View item) {
    const bool present = std::any_of(list.begin(), list.end(), [&](const U16String& e) {
        return EqualsIgnoreAsciiCase(e, item);
    });
    if (present) return false;
    list.emplace_back(item);
    return true;
}

U16String JoinPath(U16View folder, U16View name) {
    U16String out(folder);
    if (!out.empty() && out.back() != u'\\') out.push_back(u'\\');
    out.append(name);
    return out;
}

namespace {

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "X:\" at the start of `path`: 3, else 0.
size_t DriveRootLength(U16View path) {
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == u':' && path[2] == u'\\' ? 3 : 0;
}

// "server\share", and the backslash after it when there is one, at the start
// of `path` (what follows the two backslashes of a share's name): its length,
// or 0 when either name is empty. A server named "." or "?" is the device or
// the long-path prefix of a mistyped path, not a server.
size_t ShareRootLength(U16View path) {
    const size_t serverEnd = path.find(u'\\');
    if (serverEnd == 0 || serverEnd == U16View::npos) return 0;
    const U16View server = path.substr(0, serverEnd);
    if (server == u"." || server == u"?") return 0;
    const size_t shareEnd = std::min(path.find(u'\\', serverEnd + 1), path.size());
    if (shareEnd == serverEnd + 1) return 0;
    return shareEnd < path.size() ? shareEnd + 1 : shareEnd;
}

}  // namespace

size_t FullPathRootLength(U16View path) {
    constexpr U16View kLongShare = u"UNC\\";
    constexpr U16View kShare = u"\\\\";
    if (path.substr(0, kLongPathPrefix.size()) == kLongPathPrefix) {
        const U16View rest = path.substr(kLongPathPrefix.size());
        if (const size_t drive = DriveRootLength(rest)) return kLongPathPrefix.size() + drive;
        if (!EqualsIgnoreAsciiCase(rest.substr(0, kLongShare.size()), kLongShare)) return 0;
        const size_t share = ShareRootLength(rest.substr(kLongShare.size()));
        return share != 0 ? kLongPathPrefix.size() + kLongShare.size() + share : 0;
    }
    if (const size_t drive = DriveRootLength(path)) return drive;
    if (path.substr(0, kShare.size()) != kShare) return 0;
    const size_t share = ShareRootLength(path.substr(kShare.size()));
    return share != 0 ? kShare.size() + share : 0;
}

U16String FormatPositional(U16View format, const std::vector<U16String>& args) {
    U16String out;
    out.reserve(format.size());
    for (size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c == u'%' && i + 1 < format.size()) {
            const char16_t d = format[i + 1];
            if (d >= u'1' && d <= u'9' && static_cast<size_t>(d - u'1') < args.size()) {
                out.append(args[d - u'1']);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

U16String OneLineMessage(U16View message) {
    U16String joined;
    joined.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == u'\r' && i + 1 < message.size() && message[i + 1] == u'\n') {
            joined.push_back(u' ');
            ++i;
        } else {
            joined.push_back(message[i]);
        }
    }
    return Trim(joined);
}

U16String FromUtf8(std::string_view s) {
    U16String out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (b0 < 0x80) {
            cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            // A truncated or malformed sequence becomes one U+FFFD per lead byte.
            if (i + len > s.size()) {
                len = 1;
            } else {
                cp = b0 & (0x7F >> len);
                for (size_t k = 1; k < len; ++k) {
                    const auto b = static_cast<unsigned char>(s[i + k]);
                    if ((b & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        len = 1;
                        break;
                    }
                    cp = (cp << 6) | (b & 0x3F);
                }
            }
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(cp > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string ToUtf8(U16View s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace quentar
