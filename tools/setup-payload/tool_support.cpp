#include "tool_support.h"

#include "payload/hex_bytes.h"

#include <cstdio>

namespace setup_payload {

namespace {

constexpr uint64_t kFileTimeOfUnixEpoch = 116444736000000000ull;
constexpr uint64_t kTicksPerSecond = 10000000ull;

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's
// civil_from_days).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

// Device names Windows reserves in every folder, with any extension ("nul.txt"
// opens the null device): the part before the first dot, trailing spaces
// dropped, compared without regard to the case of A-Z.
bool IsReservedDeviceName(quentar::U16View name) {
    quentar::U16View stem = name.substr(0, name.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
    static const char16_t* const kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t* device : kDevices) {
        if (quentar::EqualsIgnoreAsciiCase(stem, device)) return true;
    }
    // COM and LPT with one digit, superscripts 1-3 included.
    if (stem.size() != 4) return false;
    const char16_t last = stem[3];
    const bool portDigit = (last >= u'0' && last <= u'9') || last == u'\u00B9' || last == u'\u00B2' || last == u'\u00B3';
    return portDigit && (quentar::EqualsIgnoreAsciiCase(stem.substr(0, 3), u"COM") ||
                         quentar::EqualsIgnoreAsciiCase(stem.substr(0, 3), u"LPT"));
}

// Characters that move the cursor, change colours or reorder text on a
// terminal: C0 and C1 controls, DEL, the line and paragraph separators and
// the bidirectional marks, embeddings, overrides and isolates.
bool IsUnprintable(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

bool ParseKey(const std::string& hex, quentar::ArchiveKey& key) {
    return quentar::ParseHexBytes(hex.data(), hex.size(), key.data(), key.size());
}

bool ParseEpoch(const std::string& text, uint64_t& seconds) {
    // The largest FILETIME is 2^64 - 1 ticks; stay below it.
    const uint64_t limit = (UINT64_MAX - kFileTimeOfUnixEpoch) / kTicksPerSecond;
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (v > (limit - static_cast<uint64_t>(c - '0')) / 10) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    seconds = v;
    return true;
}

uint64_t FileTimeFromUnix(uint64_t seconds) { return kFileTimeOfUnixEpoch + seconds * kTicksPerSecond; }

std::string FormatFileTime(uint64_t fileTime) {
    const int64_t ticks = static_cast<int64_t>(fileTime / kTicksPerSecond) - static_cast<int64_t>(kFileTimeOfUnixEpoch / kTicksPerSecond);
    const uint64_t fraction = fileTime % kTicksPerSecond;
    int64_t days = ticks / 86400;
    int64_t rest = ticks % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u", static_cast<long long>(y), m, d,
                  static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60));
    std::string out = text;
    if (fraction != 0) {
        std::snprintf(text, sizeof text, ".%07llu", static_cast<unsigned long long>(fraction));
        out += text;
    }
    return out + "Z";
}

const char* EntryNameProblem(quentar::U16View name) {
    if (name.empty()) return "is empty";
    if (name.size() > quentar::kMaxEntryNameUnits) return "is longer than 259 UTF-16 units";
    if (name == u"." || name == u"..") return "is a folder reference";
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\') return "contains a path separator";
        if (c == u':') return "contains a drive colon";
        if (c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*') {
            return "contains a character Windows refuses in file names";
        }
    }
    if (name.back() == u'.' || name.back() == u' ') return "ends with a dot or a space, which Windows strips from file names";
    if (IsReservedDeviceName(name)) return "is a device name Windows reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9), with or without an extension";
    return nullptr;
}

const char* StoredNameProblem(quentar::PayloadEntry entry) {
    const quentar::U16String name = entry.FileName();
    if (name.size() >= quentar::entry_layout::kFileNameUnits) return "is not NUL-terminated";
    return EntryNameProblem(name);
}

std::string Printable(quentar::U16View text, bool escapeBackslash) {
    std::string out;
    char escape[16];
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += quentar::ToUtf8(text.substr(i, 2));
            ++i;
            continue;
        }
        if (c == u'\\' && escapeBackslash) {
            out += "\\\\";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c < 0x80 && IsUnprintable(c)) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            out += escape;
        } else if (IsUnprintable(c) || (c >= 0xD800 && c <= 0xDFFF)) {  // a lone surrogate too
            std::snprintf(escape, sizeof escape, "\\u{%04X}", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += quentar::ToUtf8(text.substr(i, 1));
        }
    }
    return out;
}

}  // namespace setup_payload
