#include "install/journal_format.h"

#include <string>

#include "install/staged_names.h"

namespace quentar {
namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr char16_t kMagic[] = u"quentar-setup-journal";
constexpr char16_t kVersion[] = u"1";
constexpr char16_t kLineEnd[] = u"\r\n";
constexpr char16_t kHashMarker[] = u"\t#";
constexpr size_t kHashDigits = 8;

struct StepName {
    JournalStep step;
    const char16_t* name;
    size_t fields;  // after the kind
};
constexpr StepName kSteps[] = {
    {JournalStep::Key, u"key", 1},         {JournalStep::Folder, u"folder", 1},
    {JournalStep::Write, u"write", 3},     {JournalStep::Aside, u"aside", 2},
    {JournalStep::Replace, u"replace", 2}, {JournalStep::Complete, u"complete", 2},
};

constexpr char16_t kNew[] = u"new";
constexpr char16_t kEarlier[] = u"earlier";

uint32_t Fnv1a(U16View text) {
    uint32_t hash = 2166136261u;
    for (char16_t unit : text) {
        for (const uint8_t byte : {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)}) {
            hash ^= byte;
            hash *= 16777619u;
        }
    }
    return hash;
}

U16String HashText(uint32_t hash) {
    U16String text(kHashDigits, u'0');
    for (size_t i = 0; i < kHashDigits; ++i) {
        const unsigned digit = (hash >> (4 * (kHashDigits - 1 - i))) & 0xF;
        text[i] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
    }
    return text;
}

bool HoldsSeparator(U16View field) { return field.find_first_of(u"\t\r\n") != U16View::npos; }

// The content's line: the content, its hash and CR LF.
U16String Sealed(const U16String& content) { return content + kHashMarker + HashText(Fnv1a(content)) + kLineEnd; }

std::vector<U16View> Fields(U16View content) {
    std::vector<U16View> fields;
    for (size_t start = 0;;) {
        const size_t tab = content.find(u'\t', start);
        fields.push_back(content.substr(start, tab == U16View::npos ? U16View::npos : tab - start));
        if (tab == U16View::npos) return fields;
        start = tab + 1;
    }
}

// Whether the entry's fields are what its kind needs: the empty ones only
// where allowed, and the made-up names belonging to their path.
bool Fits(const JournalEntry& entry) {
    if (HoldsSeparator(entry.path) || HoldsSeparator(entry.other)) return false;
    switch (entry.step) {
        case JournalStep::Key:
        case JournalStep::Folder:
            return !entry.path.empty() && entry.other.empty();
        case JournalStep::Write:
            return !entry.path.empty() && TargetOfTemporaryName(entry.other) == entry.path;
        case JournalStep::Aside:
            return !entry.path.empty() && OriginalNameOf(entry.other) == entry.path;
        case JournalStep::Replace:
            return !entry.path.empty() && !entry.other.empty();
        case JournalStep::Complete:
            return true;
    }
    return false;
}

// The entry in `content` (a line without its hash and CR LF), or a problem.
bool ParseEntry(U16View content, JournalEntry& entry, U16String& problem) {
    const std::vector<U16View> fields = Fields(content);
    const StepName* kind = nullptr;
    for (const StepName& s : kSteps) {
        if (fields[0] == s.name) kind = &s;
    }
    if (kind == nullptr) {
        problem = u"unknown entry \"" + U16String(fields[0]) + u"\"";
        return false;
    }
    if (fields.size() != 1 + kind->fields) {
        problem = U16String(kind->name) + u" entry with " + FromUtf8(std::to_string(fields.size() - 1)) + u" fields";
        return false;
    }
    entry = JournalEntry{};
    entry.step = kind->step;
    entry.path = U16String(fields[1]);
    if (kind->fields >= 2) entry.other = U16String(fields[2]);
    if (kind->step == JournalStep::Write) {
        if (fields[3] != kNew && fields[3] != kEarlier) {
            problem = u"write entry neither new nor earlier";
            return false;
        }
        entry.earlier = fields[3] == kEarlier;
    }
    if (!Fits(entry)) {
        problem = U16String(kind->name) + u" entry whose names do not fit";
        return false;
    }
    return true;
}

}  // namespace

U16String EncodeJournalHeader(U16View description) {
    U16String cleaned(description);
    for (char16_t& c : cleaned) {
        if (c == u'\t' || c == u'\r' || c == u'\n') c = u' ';
    }
    return U16String(1, kByteOrderMark) + Sealed(U16String(kMagic) + u'\t' + kVersion + u'\t' + cleaned);
}

U16String EncodeJournalEntry(const JournalEntry& entry) {
    if (!Fits(entry)) return {};
    const StepName* kind = nullptr;
    for (const StepName& s : kSteps) {
        if (s.step == entry.step) kind = &s;
    }
    U16String content = U16String(kind->name) + u'\t' + entry.path;
    if (kind->fields >= 2) content += u'\t' + entry.other;
    if (entry.step == JournalStep::Write) content += U16String(u"\t") + (entry.earlier ? kEarlier : kNew);
    return Sealed(content);
}

JournalReading ReadJournal(const char16_t* units, size_t count) {
    JournalReading reading;
    const U16View text(units, count);
    if (text.empty() || text[0] != kByteOrderMark) {
        reading.damagedLine = 1;
        reading.problem = u"no byte-order mark";
        return reading;
    }
    size_t start = 1;
    for (size_t line = 1;; ++line) {
        const size_t end = text.find(kLineEnd, start);
        if (end == U16View::npos) {
            // Only a complete header makes a journal.
            if (line == 1) {
                reading.damagedLine = 1;
                reading.problem = u"no complete header";
                return reading;
            }
            reading.unfinishedUnits = text.size() - start;
            reading.status = JournalReading::Status::Ok;
            reading.damagedLine = 0;
            return reading;
        }
        const U16View whole = text.substr(start, end - start);
        start = end + 2;  // past CR LF
        reading.damagedLine = line;
        // The hash field: the marker and its digits end the line.
        const size_t hashField = U16View(kHashMarker).size() + kHashDigits;
        if (whole.size() < hashField || whole.substr(whole.size() - hashField, 2) != kHashMarker) {
            reading.problem = u"a line without its hash";
            return reading;
        }
        const U16View content = whole.substr(0, whole.size() - hashField);
        if (whole.substr(whole.size() - kHashDigits) != HashText(Fnv1a(content))) {
            reading.problem = u"a line whose hash does not match";
            return reading;
        }
        if (line == 1) {
            const std::vector<U16View> fields = Fields(content);
            if (fields.size() != 3 || fields[0] != kMagic || fields[1] != kVersion) {
                reading.problem = u"not a journal header of version 1";
                return reading;
            }
            reading.description = U16String(fields[2]);
            continue;
        }
        JournalEntry entry;
        if (!ParseEntry(content, entry, reading.problem)) return reading;
        reading.entries.push_back(std::move(entry));
    }
}

}  // namespace quentar
