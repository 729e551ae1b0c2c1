#include "state/guid_text.h"

#include <gtest/gtest.h>

#include "state/little_endian.h"

namespace quentar {
namespace {

// {4F1D0C59-5ECC-4028-87F3-482191D2230F} in memory order.
constexpr GuidBytes kSampleBytes = {0x59, 0x0C, 0x1D, 0x4F, 0xCC, 0x5E, 0x28, 0x40,
                                    0x87, 0xF3, 0x48, 0x21, 0x91, 0xD2, 0x23, 0x0F};

TEST(GuidText, FormatsTheFourWordsAsTheirLittleEndianBytes) {
    EXPECT_EQ(FormatGuidText(0x4F1D0C59, 0x40285ECC, 0x2148F387, 0x0F23D291), u"{4F1D0C59-5ECC-4028-87F3-482191D2230F}");
    EXPECT_EQ(FormatGuidText(kSampleBytes), u"{4F1D0C59-5ECC-4028-87F3-482191D2230F}");
    EXPECT_EQ(FormatGuidText(0, 0, 0, 0), u"{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(FormatGuidText(0x0000000A, 0x000B000C, 0x0000000D, 0x0E000000), u"{0000000A-000C-000B-0D00-00000000000E}");
}

TEST(GuidText, ParsingGivesBackWhatWasFormatted) {
    const uint32_t words[][4] = {{0, 0, 0, 0},
                                 {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
                                 {0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210},
                                 {0x80000001, 0x00018000, 0x01000080, 0x80000001}};
    for (const auto& w : words) {
        const U16String text = FormatGuidText(w[0], w[1], w[2], w[3]);
        ASSERT_EQ(text.size(), 38u);
        GuidBytes guid{};
        ASSERT_TRUE(ParseGuidText(text, guid)) << ToUtf8(text);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadLe32(&guid[4 * i]), w[i]) << ToUtf8(text) << " word " << i;
        EXPECT_EQ(FormatGuidText(guid), text);
    }
}

TEST(GuidText, AcceptsTheRegistryFormsAndRefusesTheRest) {
    struct Case {
        const char16_t* name;
        bool accepted;
    };
    const Case cases[] = {
        {u"{4F1D0C59-5ECC-4028-87F3-482191D2230F}", true},
        {u"{4f1d0c59-5ecc-4028-87f3-482191d2230f}", true},   // lower-case digits
        {u"{4f1D0c59-5eCC-4028-87f3-482191D2230f}", true},   // mixed
        {u"4F1D0C59-5ECC-4028-87F3-482191D2230F", true},     // without braces
        {u"   {4F1D0C59-5ECC-4028-87F3-482191D2230F}", true},  // leading blanks
        {u"{4F1D0C59-5ECC-4028-87F3-482191D2230F}x", true},  // text after the form is not examined
        {u"{4F1D0C59-5ECC-4028-87F3-482191D2230F} Quentar 2009", true},
        {u"4F1D0C59-5ECC-4028-87F3-482191D2230F}", true},    // unbraced, then anything
        {u"4F1D0C59-5ECC-4028-87F3-482191D2230Fzz", true},
        {u"", false},
        {u"Quentar", false},
        {u"{}", false},
        {u"\t{4F1D0C59-5ECC-4028-87F3-482191D2230F}", false},       // only U+0020 is skipped
        {u"\u00A0{4F1D0C59-5ECC-4028-87F3-482191D2230F}", false},
        {u"{4F1D0C59-5ECC-4028-87F3-482191D2230F", false},          // closing brace missing
        {u"{4F1D0C59-5ECC-4028-87F3-482191D2230}", false},          // a digit short at the end
        {u"{4F1D0C5-5ECC-4028-87F3-482191D2230F}", false},          // a digit short in a field
        {u"{4F1D0C590-5ECC-4028-87F3-482191D2230F}", false},        // a digit too many
        {u"{4F1D0C59-5ECC-4028-87F3482191D2230F}", false},          // dash missing
        {u"{4F1D0C59-5ECC-4028-87-F3482191D2230F}", false},         // dash misplaced
        {u"{4F1D0C59+5ECC-4028-87F3-482191D2230F}", false},
        {u"{4F1D0C5G-5ECC-4028-87F3-482191D2230F}", false},         // no hex digit
        {u"{+F1D0C59-5ECC-4028-87F3-482191D2230F}", false},         // no sign
        {u"{ 4F1D0C5-5ECC-4028-87F3-482191D2230F}", false},         // no blank inside
        {u"{0x1D0C59-5ECC-4028-87F3-482191D2230F}", false},
        {u"{4F1D0C59-5ECC-4028-87F3-482191D2230\uFF10}", false},    // fullwidth digit
        {u"{{4F1D0C59-5ECC-4028-87F3-482191D2230F}", false},
    };
    for (const Case& c : cases) {
        GuidBytes guid;
        guid.fill(0xEE);
        EXPECT_EQ(ParseGuidText(c.name, guid), c.accepted) << ToUtf8(c.name);
        if (c.accepted) {
            EXPECT_EQ(guid, kSampleBytes) << ToUtf8(c.name);
        } else {
            EXPECT_EQ(guid[0], 0xEE) << ToUtf8(c.name) << ": refused, yet the output was changed";
        }
    }
}

}  // namespace
}  // namespace quentar
