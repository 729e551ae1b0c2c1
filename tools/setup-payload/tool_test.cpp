// Tests of the archive tool's helpers: SHA-256, entry-name rules, printable
// names and the resource lookup in executables. The commands themselves are
// tested end to end by cli_test.sh.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pe_resource.h"
#include "sha256.h"
#include "state/little_endian.h"
#include "tool_support.h"

namespace setup_payload {
namespace {

// ---- SHA-256 -------------------------------------------------------------------

TEST(Sha256, MatchesPublishedVectors) {
    EXPECT_EQ(Sha256::Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const char* twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256::Hex(twoBlocks, std::strlen(twoBlocks)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(Sha256::Hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    // Lengths around the block and padding boundaries, fed in pieces of
    // every size from 1 to 70 bytes.
    for (size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
        std::vector<uint8_t> data(length);
        for (size_t k = 0; k < length; ++k) data[k] = static_cast<uint8_t>(k * 131 + 7);
        const std::string whole = Sha256::Hex(data.data(), data.size());
        for (size_t piece = 1; piece <= 70; ++piece) {
            Sha256 h;
            for (size_t at = 0; at < length; at += piece) h.Update(data.data() + at, std::min(piece, length - at));
            ASSERT_EQ(Sha256::ToHex(h.Finish()), whole) << "length " << length << ", pieces of " << piece;
        }
    }
}

// ---- Entry names ------------------------------------------------------------------

TEST(EntryNames, RefuseWhatWindowsCannotCreateUnderThatName) {
    struct Case {
        const char16_t* name;
        const char* problem;  // a word of the reason, or null when the name is fine
    } cases[] = {
        {u"Quentar.exe", nullptr},
        {u".gitignore", nullptr},
        {u" leading space.txt", nullptr},
        {u"CONSOLE.txt", nullptr},
        {u"COM10", nullptr},
        {u"COM", nullptr},
        {u"auxiliary.dll", nullptr},
        {u"nul_", nullptr},
        {u"LPT\u00B4", nullptr},  // an accent, not a superscript digit
        {u"CON", "device"},
        {u"con", "device"},
        {u"nul.txt", "device"},
        {u"Aux.tar.gz", "device"},
        {u"NUL .txt", "device"},
        {u"PRN", "device"},
        {u"COM1", "device"},
        {u"com9.log", "device"},
        {u"LPT0", "device"},
        {u"COM\u00B9", "device"},
        {u"lpt\u00B3.txt", "device"},
        {u"CONOUT$", "device"},
        {u"readme.", "dot or a space"},
        {u"readme ", "dot or a space"},
        {u"...", "dot or a space"},
        {u".", "folder reference"},
        {u"..", "folder reference"},
        {u"a:b", "colon"},
        {u"a/b", "separator"},
        {u"a\\b", "separator"},
        {u"a?b", "refuses"},
        {u"tab\there", "refuses"},
        {u"", "empty"},
    };
    for (const Case& c : cases) {
        const char* problem = EntryNameProblem(c.name);
        SCOPED_TRACE(Printable(c.name, true));
        if (c.problem == nullptr) {
            EXPECT_EQ(problem, nullptr) << problem;
        } else {
            ASSERT_NE(problem, nullptr);
            EXPECT_NE(std::string(problem).find(c.problem), std::string::npos) << problem;
        }
    }
    EXPECT_EQ(EntryNameProblem(std::u16string(259, u'a')), nullptr);
    EXPECT_NE(EntryNameProblem(std::u16string(260, u'a')), nullptr);
}

TEST(PrintableText, EscapesWhatWouldActOnATerminal) {
    struct Case {
        std::u16string text;
        bool escapeBackslash;
        const char* shown;
    } cases[] = {
        {u"help.pdf", true, "help.pdf"},
        {u"caf\u00E9 \u65E5\u672C.txt", true, "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt"},
        {u"\U0001F600.png", true, "\xF0\x9F\x98\x80.png"},
        {u"a\tb\nc\rd", true, "a\\tb\\nc\\rd"},
        {u"\x1B[2J\x07", true, "\\x1B[2J\\x07"},
        {u"del\x7F", true, "del\\x7F"},
        {u"next\u0085line", true, "next\\u{0085}line"},
        {u"txt.\u202Eexe", true, "txt.\\u{202E}exe"},
        {u"iso\u2066late", true, "iso\\u{2066}late"},
        {std::u16string(u"lone") + char16_t(0xD800) + u"x", true, "lone\\u{D800}x"},
        {u"C:\\rel\\a.dll", false, "C:\\rel\\a.dll"},
        {u"a\\x41", true, "a\\\\x41"},
    };
    for (const Case& c : cases) EXPECT_EQ(Printable(c.text, c.escapeBackslash), c.shown);
}

// ---- Resources of executables ------------------------------------------------------

// A small PE32 (or PE32+) file with one section holding a resource tree of
// one resource, type `type`, id `id`, language 1033, data "hello".
struct PeImage {
    static constexpr size_t kPe = 0x40;
    static constexpr size_t kCoff = kPe + 4;
    static constexpr size_t kOptional = kCoff + 20;
    static constexpr size_t kRaw = 0x200;
    static constexpr uint32_t kSectionRva = 0x1000;

    explicit PeImage(bool plus = false, uint32_t type = 10, uint32_t id = 101) {
        const size_t optionalSize = plus ? 240 : 224;
        const size_t directories = plus ? 112 : 96;
        bytes.assign(kRaw + 0x60, 0);
        bytes[0] = 'M';
        bytes[1] = 'Z';
        Put32(0x3C, kPe);
        std::memcpy(&bytes[kPe], "PE\0\0", 4);
        Put16(kCoff, 0x14C);
        Put16(kCoff + 2, 1);  // sections
        Put16(kCoff + 16, static_cast<uint16_t>(optionalSize));
        Put16(kOptional, plus ? 0x20B : 0x10B);
        Put32(kOptional + directories - 4, 16);            // NumberOfRvaAndSizes
        Put32(kOptional + directories + 16, kSectionRva);  // resource directory
        Put32(kOptional + directories + 20, 0x5D);
        sectionHeader = kOptional + optionalSize;
        std::memcpy(&bytes[sectionHeader], ".rsrc", 5);
        Put32(sectionHeader + 8, 0x5D);          // VirtualSize
        Put32(sectionHeader + 12, kSectionRva);  // VirtualAddress
        Put32(sectionHeader + 16, 0x60);         // SizeOfRawData
        Put32(sectionHeader + 20, kRaw);         // PointerToRawData
        // Type, name and language directories, each with one id entry.
        Directory(0x00, type, 0x80000000u | 0x18);
        Directory(0x18, id, 0x80000000u | 0x30);
        Directory(0x30, 1033, 0x48);
        Put32(kRaw + 0x48, kSectionRva + 0x58);  // data RVA
        Put32(kRaw + 0x4C, 5);                   // data size
        std::memcpy(&bytes[kRaw + 0x58], "hello", 5);
    }

    void Put16(size_t at, uint16_t v) {
        bytes[at] = static_cast<uint8_t>(v);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void Put32(size_t at, uint32_t v) { quentar::WriteLe32(&bytes[at], v); }
    void Directory(size_t at, uint32_t name, uint32_t target) {
        Put16(kRaw + at + 14, 1);  // one id entry
        Put32(kRaw + at + 16, name);
        Put32(kRaw + at + 20, target);
    }

    PeResourceLookup Find() const { return FindPeResource(bytes.data(), bytes.size(), kResourceTypeRcData, kPayloadResourceId); }

    std::vector<uint8_t> bytes;
    size_t sectionHeader = 0;
};

TEST(PeResource, FindsTheResourceInPe32AndPe32Plus) {
    for (bool plus : {false, true}) {
        const PeImage image(plus);
        const PeResourceLookup r = image.Find();
        ASSERT_EQ(r.status, PeResourceLookup::Found) << r.problem;
        ASSERT_EQ(r.size, 5u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image.bytes[r.offset]), r.size), "hello");
    }
}

TEST(PeResource, DamagedOrOtherFilesAreToldApart) {
    using S = PeResourceLookup::Status;
    struct Case {
        const char* name;
        std::function<void(PeImage&)> change;
        S status;
    } cases[] = {
        {"not_mz", [](PeImage& p) { p.bytes[0] = 'X'; }, S::NotExecutable},
        {"lfanew_past_end", [](PeImage& p) { p.Put32(0x3C, 0xFFFFFFF0u); }, S::NotExecutable},
        {"no_pe_signature", [](PeImage& p) { p.bytes[PeImage::kPe + 1] = 'X'; }, S::NotExecutable},
        {"unknown_optional_header", [](PeImage& p) { p.Put16(PeImage::kOptional, 0x107); }, S::Malformed},
        {"optional_header_past_end", [](PeImage& p) { p.Put16(PeImage::kCoff + 16, 0xFFFF); }, S::Malformed},
        {"section_table_past_end", [](PeImage& p) { p.Put16(PeImage::kCoff + 2, 0xFFFF); }, S::Malformed},
        {"no_resource_directory", [](PeImage& p) { p.Put32(PeImage::kOptional + 96 + 16, 0); }, S::Missing},
        {"resource_directory_outside_sections", [](PeImage& p) { p.Put32(PeImage::kOptional + 96 + 16, 0x5000); },
         S::Malformed},
        {"raw_data_past_end", [](PeImage& p) { p.Put32(p.sectionHeader + 20, 0x10000); }, S::Malformed},
        {"subdirectory_outside_section", [](PeImage& p) { p.Put32(PeImage::kRaw + 20, 0x80007000u); }, S::Malformed},
        {"entry_count_past_section", [](PeImage& p) { p.Put16(PeImage::kRaw + 14, 0xFFFF); }, S::Malformed},
        {"leaf_instead_of_directory", [](PeImage& p) { p.Put32(PeImage::kRaw + 20, 0x18); }, S::Malformed},
        {"directory_instead_of_leaf", [](PeImage& p) { p.Put32(PeImage::kRaw + 0x30 + 20, 0x80000018u); },
         S::Malformed},
        {"data_past_end_of_file", [](PeImage& p) { p.Put32(PeImage::kRaw + 0x4C, 0x10000); }, S::Malformed},
        {"data_rva_wraps", [](PeImage& p) { p.Put32(PeImage::kRaw + 0x48, 0xFFFFFFFEu); }, S::Malformed},
        {"data_in_unstored_tail", [](PeImage& p) { p.Put32(p.sectionHeader + 8, 0x50); }, S::Malformed},
        {"named_type_only", [](PeImage& p) { p.Put32(PeImage::kRaw + 16, 0x80000000u | 10); }, S::Missing},
        {"another_id_only", [](PeImage& p) { p.Put32(PeImage::kRaw + 0x18 + 16, 102); }, S::Missing},
        {"another_type_only", [](PeImage& p) { p.Put32(PeImage::kRaw + 16, 3); }, S::Missing},
    };
    for (const Case& c : cases) {
        PeImage image;
        c.change(image);
        const PeResourceLookup r = image.Find();
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.problem;
        if (c.status != S::NotExecutable) {
            EXPECT_FALSE(r.problem.empty()) << c.name;
        }
    }
}

TEST(PeResource, CutFilesNeverYieldDataBeyondTheirEnd) {
    // Every prefix of a valid image: the lookup reads only what is there
    // (the sanitizer build watches) and finds the resource only when all of
    // it is present.
    const PeImage image;
    for (size_t size = 0; size <= image.bytes.size(); ++size) {
        const std::vector<uint8_t> cut(image.bytes.begin(), image.bytes.begin() + size);
        const PeResourceLookup r = FindPeResource(cut.data(), cut.size(), kResourceTypeRcData, kPayloadResourceId);
        if (size >= PeImage::kRaw + 0x5D) {
            EXPECT_EQ(r.status, PeResourceLookup::Found) << size;
        } else {
            EXPECT_NE(r.status, PeResourceLookup::Found) << size;
        }
    }
}

}  // namespace
}  // namespace setup_payload
