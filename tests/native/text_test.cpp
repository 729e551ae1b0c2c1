#include "state/text.h"

#include <gtest/gtest.h>

#include "state/fatal_error.h"
#include "state/file_version.h"

namespace quentar {
namespace {

TEST(TextRules, CaseFoldingTouchesOnlyAsciiLetters) {
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"quentar.EXE", u"Quentar.exe"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u00C9t\u00E9", u"\u00E9t\u00E9"));  // É vs é
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"abc", u"abcd"));
    EXPECT_EQ(ToAsciiLower(u"C:\\PROGRAM Files\\\u00C4"), u"c:\\program files\\\u00C4");
    EXPECT_EQ(FoldAsciiLower(u'@'), u'@');  // just below 'A'
    EXPECT_EQ(FoldAsciiLower(u'['), u'[');  // just above 'Z'
}

TEST(TextRules, TrimRemovesRuntimeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(Trim(u"  Quentar 2009 \t"), u"Quentar 2009");
    EXPECT_EQ(Trim(u"\u3000\u00A0x\u2003\r\n"), u"x");
    EXPECT_EQ(Trim(u" \t "), u"");
    EXPECT_EQ(Trim(u"a b"), u"a b");
    EXPECT_EQ(TrimChar(u"\"\"C:\\x\"", u'"'), u"C:\\x");
    EXPECT_EQ(TrimChar(u"\"", u'"'), u"");
}

TEST(TextRules, AddUniqueKeepsListsFreeOfCaseDuplicates) {
    StringList folders{u"c:\\program files\\QUENTAR 2009"};
    EXPECT_FALSE(AddUnique(folders, u"C:\\Program Files\\Quentar 2009"));
    EXPECT_EQ(folders.size(), 1u);
    EXPECT_TRUE(AddUnique(folders, u"C:\\Program Files\\Quentar 2010"));
    // Non-ASCII letters differing in case are different entries.
    EXPECT_TRUE(AddUnique(folders, u"C:\\\u00C4"));
    EXPECT_TRUE(AddUnique(folders, u"C:\\\u00E4"));
    EXPECT_EQ(folders.back(), u"C:\\\u00E4");  // appended at the end
    EXPECT_EQ(folders.size(), 4u);
}

TEST(TextRules, HexadecimalDigitsAreLowerCaseHighFirst) {
    const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(ToUtf8(LowerHexOfBytes(bytes, sizeof(bytes))), "000fa5ff");
    EXPECT_EQ(ToUtf8(LowerHexOfBytes(bytes, 0)), "");
    EXPECT_EQ(ToUtf8(LowerHexOfNumber(0x1a2bu, 8)), "00001a2b");
    EXPECT_EQ(ToUtf8(LowerHexOfNumber(0xfedcba9876543210ull, 16)), "fedcba9876543210");
    EXPECT_EQ(ToUtf8(LowerHexOfNumber(0x12345u, 2)), "45") << "only the lowest digits";
    for (char16_t c : U16View(u"0189abcdef")) EXPECT_TRUE(IsLowerHexDigit(c) && IsHexDigit(c));
    for (char16_t c : U16View(u"ABCDEF")) EXPECT_TRUE(!IsLowerHexDigit(c) && IsHexDigit(c));
    for (char16_t c : U16View(u"gG/:@`~ \xff10")) EXPECT_FALSE(IsHexDigit(c));
}

TEST(TextRules, JoinPathPutsOneBackslash) {
    EXPECT_EQ(JoinPath(u"C:\\Program Files", u"Quentar 2009"), u"C:\\Program Files\\Quentar 2009");
    EXPECT_EQ(JoinPath(u"C:\\", u"Quentar.exe"), u"C:\\Quentar.exe");
    EXPECT_EQ(JoinPath(u"", u"Quentar.exe"), u"Quentar.exe");
}

// The root of each full path, and the paths that are not full (0).
TEST(TextRules, FullPathRootLengthTellsFullPathsFromTheRest) {
    const struct {
        const char16_t* path;
        size_t root;
    } cases[] = {
        {u"C:\\Quentar", 3},
        {u"c:\\", 3},
        {u"\\\\server\\share\\Quentar", 15},
        {u"\\\\server\\share", 14},
        {u"\\\\?\\C:\\Quentar", 7},
        {u"\\\\?\\UNC\\server\\share\\Quentar", 21},
        {u"\\\\?\\unc\\server\\share", 20},
        {u"Quentar", 0},
        {u".\\Quentar", 0},
        {u"..\\Quentar", 0},
        {u"C:Quentar", 0},
        {u"C:", 0},
        {u"\\Quentar", 0},
        {u"1:\\Quentar", 0},
        {u"C:/Quentar", 0},
        {u"\\\\server", 0},
        {u"\\\\server\\", 0},
        {u"\\\\server\\\\Quentar", 0},
        {u"\\\\\\share\\Quentar", 0},
        {u"\\\\.\\C:\\Quentar", 0},
        {u"\\\\?\\Quentar", 0},
        {u"\\\\?\\UNC\\server", 0},
        {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", 0},
        {u"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FullPathRootLength(c.path), c.root) << ToUtf8(c.path);
        EXPECT_EQ(IsFullPath(c.path), c.root != 0) << ToUtf8(c.path);
    }
}

TEST(TextRules, FormatPositionalFillsNumberedArguments) {
    EXPECT_EQ(FormatPositional(u"Unable to create file %1\n%2", {u"C:\\a.dll", u"Access is denied."}),
              u"Unable to create file C:\\a.dll\nAccess is denied.");
    EXPECT_EQ(FormatPositional(u"%2 before %1", {u"one", u"two"}), u"two before one");
    EXPECT_EQ(FormatPositional(u"100% sure, %3 missing", {u"x"}), u"100% sure, %3 missing");
    // An argument holding "%1" is not expanded again.
    EXPECT_EQ(FormatPositional(u"[%1]", {u"%1"}), u"[%1]");
}

TEST(TextRules, OneLineMessageJoinsLinesAndTrims) {
    EXPECT_EQ(OneLineMessage(u"The system cannot find the file specified.\r\n"),
              u"The system cannot find the file specified.");
    EXPECT_EQ(OneLineMessage(u"Line one.\r\nLine two.\r\n"), u"Line one. Line two.");
    EXPECT_EQ(OneLineMessage(u""), u"");
}

TEST(TextRules, Utf8RoundTrip) {
    const U16String s = u"Axis Communications \u00AE \U0001F4F7 \u3000";
    EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
    EXPECT_EQ(ToUtf8(u"\u00AE"), "\xC2\xAE");
    EXPECT_EQ(FromUtf8("\xFF"), u"\uFFFD");
}

TEST(FileVersionOrder, ComparesPartsAsSignedNumbers) {
    const FileVersion v5164{{5, 1, 6, 4}}, v5165{{5, 1, 6, 5}}, v52{{5, 2, 0, 0}}, zero{};
    EXPECT_LT(v5164, v5165);
    EXPECT_LT(v5165, v52);
    EXPECT_EQ(v5165, (FileVersion{{5, 1, 6, 5}}));
    EXPECT_GT(v5165, zero);
    EXPECT_TRUE(zero.IsZero());
    // The parts compare as signed 32-bit numbers.
    EXPECT_LT((FileVersion{{0x80000000u, 0, 0, 0}}), zero);
}

TEST(FatalErrorCodes, MessageIdIsCodeMinus777In16Bits) {
    EXPECT_EQ(FatalError::MessageId(1040), 263);
    EXPECT_EQ(FatalError::MessageId(777), 0);
    EXPECT_EQ(FatalError::MessageId(776), 0xFFFF);
    EXPECT_EQ(FatalError::MessageId(777 + 0x10000 + 5), 5);
    const FatalError text = FatalError::Text(u"boom");
    EXPECT_FALSE(text.IsCode());
    EXPECT_EQ(text.text(), u"boom");
    EXPECT_EQ(FatalError::Code(1040).code(), 1040);
}

}  // namespace
}  // namespace quentar
