// The journal's text: what a run writes reads back exactly, an entry cut off
// by a kill is left out, and anything damaged makes the whole journal
// unreadable instead of being guessed from.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/journal_format.h"
#include "install/staged_names.h"

namespace quentar {
namespace {

const uint8_t kBytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                            0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

const U16String kExe = u"C:\\Program Files\\Quentar 2009\\Quentar.exe";
const U16String kLink = u"C:\\Users\\Public\\Desktop\\Quentar.lnk";

// One entry of every kind, as a run writes them.
std::vector<JournalEntry> EveryKind() {
    return {
        {JournalStep::Folder, u"C:\\Program Files\\Quentar 2009", u""},
        {JournalStep::Key, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{01234567-89AB-CDEF-0123-456789ABCDEF}", u""},
        {JournalStep::Write, kExe, TemporaryName(kExe, kBytes), true},
        {JournalStep::Aside, kExe, AsideName(kExe, kBytes)},
        {JournalStep::Write, kLink, TemporaryName(kLink, kBytes + 4), false},
        {JournalStep::Replace, kExe, kExe + u".tmp"},
        // Paths round-trip unit for unit, an unpaired surrogate included.
        {JournalStep::Write, u"C:\\Q\\\xD800x.dll", TemporaryName(u"C:\\Q\\\xD800x.dll", kBytes), false},
        {JournalStep::Complete, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{X}",
         u"C:\\Program Files\\Quentar 2009"},
        {JournalStep::Complete, u"", u""},
    };
}

U16String Journal(const std::vector<JournalEntry>& entries) {
    U16String text = EncodeJournalHeader(u"process 42, wizard");
    for (const JournalEntry& e : entries) {
        const U16String line = EncodeJournalEntry(e);
        EXPECT_FALSE(line.empty());
        text += line;
    }
    return text;
}

JournalReading Read(const U16String& text) { return ReadJournal(text.data(), text.size()); }

TEST(JournalFormat, WhatARunWritesReadsBackExactly) {
    const std::vector<JournalEntry> entries = EveryKind();
    const JournalReading reading = Read(Journal(entries));
    ASSERT_EQ(reading.status, JournalReading::Status::Ok) << ToUtf8(reading.problem);
    EXPECT_EQ(reading.description, u"process 42, wizard");
    EXPECT_EQ(reading.entries, entries);
    EXPECT_EQ(reading.unfinishedUnits, 0u);
}

TEST(JournalFormat, AnEntryCutOffAnywhereIsLeftOutAndTheRestRead) {
    const std::vector<JournalEntry> entries = EveryKind();
    const U16String whole = Journal(entries);
    const size_t lastStart = whole.size() - EncodeJournalEntry(entries.back()).size();
    for (size_t cut = lastStart + 1; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const JournalReading reading = ReadJournal(whole.data(), cut);
        ASSERT_EQ(reading.status, JournalReading::Status::Ok) << ToUtf8(reading.problem);
        EXPECT_EQ(reading.entries, std::vector<JournalEntry>(entries.begin(), entries.end() - 1));
        EXPECT_EQ(reading.unfinishedUnits, cut - lastStart);
    }
    // Without a whole header there is no journal to read at all.
    const size_t header = EncodeJournalHeader(u"process 42, wizard").size();
    for (size_t cut : {size_t{0}, size_t{1}, header - 1}) {
        EXPECT_EQ(ReadJournal(whole.data(), cut).status, JournalReading::Status::Damaged) << cut;
    }
    // A header alone is a run that changed nothing yet.
    const JournalReading empty = ReadJournal(whole.data(), header);
    EXPECT_EQ(empty.status, JournalReading::Status::Ok);
    EXPECT_TRUE(empty.entries.empty());
}

// `text` with the first occurrence of `from` replaced by `to`.
U16String Replaced(U16String text, const U16String& from, const U16String& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, U16String::npos) << ToUtf8(from);
    if (at != U16String::npos) text.replace(at, from.size(), to);
    return text;
}

// A line with a correct hash but `content` of the caller's choice: what a
// careless writer, not damage, would produce. The hash is computed as the
// format states it (FNV-1a over the little-endian bytes).
U16String SealedLine(const U16String& content) {
    uint32_t hash = 2166136261u;
    for (char16_t unit : content) {
        for (uint8_t byte : {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)}) {
            hash ^= byte;
            hash *= 16777619u;
        }
    }
    char digits[9];
    snprintf(digits, sizeof digits, "%08x", hash);
    return content + u"\t#" + FromUtf8(digits) + u"\r\n";
}

TEST(JournalFormat, DamageOrAnythingUnknownMakesTheWholeJournalUnreadable) {
    const U16String good = Journal(EveryKind());
    const U16String header = EncodeJournalHeader(u"process 42, wizard");
    const U16String asideLine = EncodeJournalEntry(EveryKind()[3]);
    struct Case {
        const char* what;
        U16String text;
        size_t line;
    };
    U16String flipped = good;
    // One bit of the folder's path in line 2: still a fine entry, but not
    // the one written.
    flipped[good.find(u"Program Files") + 2] ^= 1;
    const Case cases[] = {
        {"no byte-order mark", good.substr(1), 1},
        {"a bit flipped in a path", flipped, 2},
        {"the hash field dropped", Replaced(good, asideLine, asideLine.substr(0, asideLine.size() - 12) + u"\r\n"), 5},
        {"another version", u"\xFEFF" + SealedLine(u"quentar-setup-journal\t2\tx"), 1},
        {"an unknown kind", header + SealedLine(u"rename\tC:\\a\tC:\\b"), 2},
        {"a field too many", header + SealedLine(u"key\tSoftware\\K\textra"), 2},
        {"an empty path", header + SealedLine(u"folder\t"), 2},
        {"neither new nor earlier", header + SealedLine(u"write\t" + kExe + u"\t" + TemporaryName(kExe, kBytes) + u"\tmaybe"), 2},
        {"a temporary name of another file",
         header + SealedLine(u"write\t" + kExe + u"\t" + TemporaryName(kLink, kBytes) + u"\tnew"), 2},
        {"an aside name of another file", header + SealedLine(u"aside\t" + kExe + u"\t" + AsideName(kLink, kBytes)), 2},
        {"damage before the last line", Replaced(good, u"\r\nkey", u"\r\nkez"), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const JournalReading reading = Read(c.text);
        EXPECT_EQ(reading.status, JournalReading::Status::Damaged);
        EXPECT_EQ(reading.damagedLine, c.line) << ToUtf8(reading.problem);
        EXPECT_FALSE(reading.problem.empty());
    }
}

TEST(JournalFormat, EntriesThatCannotBeWrittenDownAreRefused) {
    const JournalEntry refused[] = {
        {JournalStep::Folder, u"", u""},
        {JournalStep::Key, u"Software\\a\tb", u""},
        {JournalStep::Write, kExe, kExe + u".~0123456", false},    // a digit short
        {JournalStep::Write, kExe, kExe + u".~0123456A", false},   // upper case
        {JournalStep::Aside, kExe, AsideName(kExe + u"x", kBytes)},
        {JournalStep::Aside, u"C:\\x\r\n", AsideName(u"C:\\x\r\n", kBytes)},
        {JournalStep::Replace, kExe, u""},
    };
    for (const JournalEntry& e : refused) EXPECT_TRUE(EncodeJournalEntry(e).empty()) << ToUtf8(e.path + u" " + e.other);
    // A description is made fit instead.
    const JournalReading reading = Read(EncodeJournalHeader(u"a\tb\r\nc"));
    ASSERT_EQ(reading.status, JournalReading::Status::Ok);
    EXPECT_EQ(reading.description, u"a b  c");
}

TEST(StagedNames, EachNameLeadsBackToItsFileAndNoOther) {
    const U16String temporary = TemporaryName(kExe, kBytes);
    EXPECT_EQ(temporary, kExe + u".~01234567");
    EXPECT_EQ(temporary.size(), kExe.size() + kTemporarySuffixLength);
    EXPECT_EQ(TargetOfTemporaryName(temporary), kExe);
    const U16String aside = AsideName(kExe, kBytes);
    EXPECT_EQ(aside.size(), kExe.size() + kAsideSuffixLength);
    EXPECT_EQ(OriginalNameOf(aside), kExe);
    // Neither is taken for the other, and names that only look alike lead
    // nowhere.
    EXPECT_EQ(OriginalNameOf(temporary), u"");
    EXPECT_EQ(TargetOfTemporaryName(aside), u"");
    for (const U16String& name : {U16String(u".~01234567"), kExe + u".~0123456G", kExe + u"~.01234567",
                                  kExe + u".~01234567 ", kExe + u".tmp"}) {
        EXPECT_EQ(TargetOfTemporaryName(name), u"") << ToUtf8(name);
    }
}

}  // namespace
}  // namespace quentar
