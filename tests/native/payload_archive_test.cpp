#include "payload/payload_archive.h"
#include "payload/system_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

// Address space limits do not mix with the sanitizers' shadow memory.
#if defined(__SANITIZE_ADDRESS__)
#define PAYLOAD_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PAYLOAD_TEST_ASAN 1
#endif
#endif

#include "payload/archive_builder.h"
#include "payload_test_support.h"
#include "state/install_state.h"

namespace quentar {
namespace {

using namespace entry_layout;
using testing::RandomBytes;
using testing::TextBytes;

const ArchiveKey kKey = {0x3a, 0x91, 0x07, 0xfe, 0x55, 0x10, 0xc2, 0x6d, 0x88, 0x01, 0xbb, 0x4e, 0x19, 0x70, 0xe3, 0x2f};

EntryFields Fields(const std::u16string& name, uint64_t time = 0x01D9000000000000ull) {
    EntryFields f;
    f.name = name;
    f.creationTime = time;
    f.lastAccessTime = time + 1;
    f.lastWriteTime = time + 2;
    f.reserved0 = 0x11223344;
    f.alternateName = u"QUENTA~1.EXE";
    return f;
}

PackedEntry Pack(const std::u16string& name, const std::vector<uint8_t>& data) {
    return PackEntry(Fields(name), data.data(), data.size());
}

DecodeResult Decode(const std::vector<uint8_t>& resource, const DecodeOptions& options = {}) {
    return DecodeArchive(resource.data(), resource.size(), options);
}

// A plain stream built by hand: count, then (header, stored bytes) pairs.
struct PlainEntry {
    std::u16string name;
    uint32_t storedLength;  // written as nFileSizeHigh
    uint32_t size;          // written as nFileSizeLow
    std::vector<uint8_t> data;
};

std::vector<uint8_t> HandBuilt(uint32_t count, const std::vector<PlainEntry>& entries) {
    std::vector<uint8_t> plain;
    AppendLe32(plain, count);
    for (const PlainEntry& e : entries) {
        uint8_t header[kHeaderSize];
        EncodeHeader(Fields(e.name), e.storedLength, e.size, header);
        plain.insert(plain.end(), header, header + kHeaderSize);
        plain.insert(plain.end(), e.data.begin(), e.data.end());
    }
    return SealArchive(kKey, plain);
}

TEST(DecodeArchive, DecodedBlockHasTheStoredLayout) {
    std::mt19937 rng(3);
    std::string text;
    while (text.size() < 20000) text += "Quentar camera " + std::to_string(text.size()) + "\n";
    const std::vector<std::pair<std::u16string, std::vector<uint8_t>>> files = {
        {u"Quentar.exe", TextBytes(text)},
        {u"empty.txt", {}},
        {u"\u00C9t\u00E9.bin", RandomBytes(rng, 3000, 256)},
        {u"zeros", std::vector<uint8_t>(70000, 0)},
    };
    std::vector<PackedEntry> packed;
    for (const auto& [name, data] : files) packed.push_back(Pack(name, data));
    const std::vector<uint8_t> resource = BuildArchive(packed, kKey);

    std::vector<uint32_t> stored;
    DecodeOptions options;
    options.storedLengths = &stored;
    const DecodeResult r = Decode(resource, options);
    ASSERT_EQ(r.status, DecodeStatus::Ok) << r.Describe();
    const PayloadArchive& a = *r.archive;
    ASSERT_EQ(a.Count(), files.size());
    size_t expectedSize = 4;
    for (const auto& f : files) expectedSize += kHeaderSize + f.second.size();
    EXPECT_EQ(a.Size(), expectedSize);

    PayloadEntry e = a.First();
    for (size_t k = 0; k < files.size(); ++k, e = a.Next(e)) {
        ASSERT_TRUE(e) << "entry " << k;
        EXPECT_EQ(e.Header(), a.Block() + 4 + k * kHeaderSize + [&] { size_t s = 0; for (size_t m = 0; m < k; ++m) s += files[m].second.size(); return s; }());
        EXPECT_EQ(e.FileName(), files[k].first);
        EXPECT_EQ(e.FileSizeLow(), files[k].second.size());
        EXPECT_EQ(std::vector<uint8_t>(e.Data(), e.Data() + e.FileSizeLow()), files[k].second) << "entry " << k;
        EXPECT_EQ(stored[k], packed[k].compressed.size());
        // The header is the stored one with nFileSizeHigh cleared.
        uint8_t header[kHeaderSize];
        EncodeHeader(packed[k].fields, 0, packed[k].size, header);
        EXPECT_EQ(std::memcmp(e.Header(), header, kHeaderSize), 0) << "entry " << k;
        // The three FILETIMEs of WIN32_FIND_DATAW at offsets 4, 12 and 20,
        // each carried over as its own field.
        const struct {
            size_t offset;
            uint64_t (PayloadEntry::*read)() const;
            uint64_t expected;
        } times[] = {{4, &PayloadEntry::CreationTime, 0x01D9000000000000ull},
                     {12, &PayloadEntry::LastAccessTime, 0x01D9000000000001ull},
                     {20, &PayloadEntry::LastWriteTime, 0x01D9000000000002ull}};
        for (const auto& t : times) {
            uint64_t stored = 0;
            for (int b = 7; b >= 0; --b) stored = stored << 8 | e.Header()[t.offset + b];
            EXPECT_EQ(stored, t.expected) << "entry " << k << ", time at offset " << t.offset;
            EXPECT_EQ((e.*t.read)(), t.expected) << "entry " << k << ", time at offset " << t.offset;
        }
        EXPECT_EQ(e.Attributes(), kFileAttributeArchive);
    }
    EXPECT_FALSE(e) << "Next after the last entry is none";
}

// The system's page allocator, counting what goes through it.
struct CountedPages {
    static inline int live = 0;
    static inline int total = 0;
    static void* Allocate(size_t size) {
        void* p = SystemPageAllocator().allocate(size);
        if (p) ++live, ++total;
        return p;
    }
    static void Release(void* p, size_t size) {
        --live;
        SystemPageAllocator().release(p, size);
    }
    static const PageAllocator& Get() {
        static const PageAllocator pages{&Allocate, &Release};
        return pages;
    }
};

// Entries whose compressed data is large are held in page-allocated buffers
// while the block is sized, small ones on the heap; both kinds, mixed, must
// come out intact and in order, every page buffer is given back, and a fault
// in a large entry is still named.
TEST(DecodeArchive, LargeAndSmallEntriesMixed) {
    std::mt19937 rng(17);
    const std::vector<std::pair<std::u16string, std::vector<uint8_t>>> files = {
        {u"noise1.bin", RandomBytes(rng, 400000, 256)},  // incompressible: ~400 KB stored
        {u"small.txt", TextBytes("a small file between two large ones")},
        {u"noise2.bin", RandomBytes(rng, 300000, 256)},
        {u"few.bin", std::vector<uint8_t>(2000000, 'x')},  // 2 MB from about 31 KB stored
    };
    std::vector<PackedEntry> packed;
    for (const auto& [name, data] : files) packed.push_back(Pack(name, data));
    ASSERT_GT(packed[0].compressed.size(), 256u * 1024);
    ASSERT_GT(packed[2].compressed.size(), 256u * 1024);
    ASSERT_LT(packed[1].compressed.size(), 256u * 1024);
    ASSERT_LT(packed[3].compressed.size(), 256u * 1024);
    const std::vector<uint8_t> resource = BuildArchive(packed, kKey);

    DecodeOptions withPages;
    withPages.pages = &CountedPages::Get();
    const DecodeResult r = Decode(resource, withPages);
    ASSERT_EQ(r.status, DecodeStatus::Ok) << r.Describe();
    EXPECT_EQ(CountedPages::total, 2) << "the two large entries go through the page allocator";
    EXPECT_EQ(CountedPages::live, 0);
    PayloadEntry e = r.archive->First();
    for (size_t k = 0; k < files.size(); ++k, e = r.archive->Next(e)) {
        ASSERT_TRUE(e) << "entry " << k;
        EXPECT_EQ(e.FileName(), files[k].first);
        ASSERT_EQ(e.FileSizeLow(), files[k].second.size());
        EXPECT_EQ(std::memcmp(e.Data(), files[k].second.data(), files[k].second.size()), 0) << "entry " << k;
    }
    EXPECT_FALSE(e);

    // The same archive with the last entry one byte larger than its stream
    // produces: the large entries before it are decoded and released, and
    // the fault names the last one.
    std::vector<PlainEntry> plain;
    for (const PackedEntry& p : packed) plain.push_back({p.fields.name, static_cast<uint32_t>(p.compressed.size()), static_cast<uint32_t>(p.size), p.compressed});
    plain.back().size += 1;
    const DecodeResult bad = Decode(HandBuilt(static_cast<uint32_t>(plain.size()), plain), withPages);
    EXPECT_EQ(CountedPages::live, 0) << "a failed decode gives back what it held";
    EXPECT_EQ(bad.status, DecodeStatus::Malformed);
    EXPECT_EQ(bad.fault, DecodeFault::Decompress) << bad.Describe();
    EXPECT_EQ(bad.entryIndex, 3u);
    EXPECT_EQ(bad.entryName, u"few.bin");
    EXPECT_EQ(bad.lz.fault, LzFault::ShortOutput);
}

TEST(DecodeArchive, ShortResourcesAndEmptyArchives) {
    EXPECT_EQ(DecodeArchive(nullptr, 0).status, DecodeStatus::NoArchive);
    // 20 bytes: key and count only, ignored.
    std::vector<uint8_t> twenty = HandBuilt(0, {});
    ASSERT_EQ(twenty.size(), 20u);
    EXPECT_EQ(Decode(twenty).status, DecodeStatus::NoArchive);
    // 21 bytes: deciphered and decoded; the byte after the (empty) entry
    // list is ignored.
    std::vector<uint8_t> plain;
    AppendLe32(plain, 0);
    plain.push_back(0x99);
    const DecodeResult r = Decode(SealArchive(kKey, plain));
    ASSERT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.archive->Size(), 4u);
    EXPECT_EQ(r.archive->Count(), 0u);
    EXPECT_FALSE(r.archive->First());
    EXPECT_FALSE(FindEntry(u"Quentar.exe", r.archive.get()));
    // The count itself is enciphered: a count of 0 in plain bytes is not 0.
    std::vector<uint8_t> notEnciphered(kKey.begin(), kKey.end());
    notEnciphered.resize(21, 0);
    EXPECT_EQ(Decode(notEnciphered).status, DecodeStatus::Malformed);
}

TEST(DecodeArchive, EntryWithNoDataDecodesToNothing) {
    const DecodeResult r = Decode(HandBuilt(1, {{u"a", 0, 0, {}}}));
    ASSERT_EQ(r.status, DecodeStatus::Ok) << r.Describe();
    EXPECT_EQ(r.archive->Size(), 4u + kHeaderSize);
    EXPECT_EQ(r.archive->First().FileSizeLow(), 0u);
}

TEST(DecodeArchive, RejectsMalformedArchivesWithoutReadingPastThem) {
    const std::vector<uint8_t> abc = {0x03, 'a', 'b', 'c'};
    struct Case {
        const char* what;
        std::vector<uint8_t> resource;
        DecodeFault fault;
        uint32_t entry;
        LzFault lz;
    };
    std::vector<uint8_t> cutHeader = HandBuilt(1, {{u"a", 4, 3, abc}});
    cutHeader.resize(20 + 591);
    const Case cases[] = {
        {"count with its top bit set", HandBuilt(0x80000001u, {{u"a", 4, 3, abc}}), DecodeFault::CountTopBit, 0, LzFault::None},
        {"count larger than the entries present", HandBuilt(3, {{u"a", 4, 3, abc}, {u"b", 4, 3, abc}}), DecodeFault::HeaderPastEnd, 2, LzFault::None},
        {"header cut short", cutHeader, DecodeFault::HeaderPastEnd, 0, LzFault::None},
        {"data length one past the end", HandBuilt(1, {{u"a", 5, 3, abc}}), DecodeFault::DataPastEnd, 0, LzFault::None},
        {"data length near 2^32", HandBuilt(2, {{u"a", 4, 3, abc}, {u"b", 0xFFFFFFF0u, 3, abc}}), DecodeFault::DataPastEnd, 1, LzFault::None},
        {"size its data cannot produce", HandBuilt(1, {{u"a", 4, 4 * 65 + 1, abc}}), DecodeFault::SizeBeyondData, 0, LzFault::None},
        {"bad token in the second entry", HandBuilt(2, {{u"a", 4, 3, abc}, {u"b", 2, 3, {0x80, 0x03}}}), DecodeFault::Decompress, 1, LzFault::DistanceBeforeOutput},
        {"stream shorter than the size", HandBuilt(1, {{u"a", 4, 4, abc}}), DecodeFault::Decompress, 0, LzFault::ShortOutput},
        {"size smaller than the stream", HandBuilt(1, {{u"a", 4, 2, abc}}), DecodeFault::Decompress, 0, LzFault::LiteralPastCapacity},
    };
    for (const Case& c : cases) {
        // An exact-size heap copy lets the sanitizer build catch any read
        // past the resource.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[c.resource.size()]);
        std::memcpy(exact.get(), c.resource.data(), c.resource.size());
        const DecodeResult r = DecodeArchive(exact.get(), c.resource.size());
        EXPECT_EQ(r.status, DecodeStatus::Malformed) << c.what;
        EXPECT_EQ(r.fault, c.fault) << c.what << ": " << r.Describe();
        EXPECT_EQ(r.entryIndex, c.entry) << c.what;
        EXPECT_EQ(r.lz.fault, c.lz) << c.what;
        EXPECT_FALSE(r.archive) << c.what;
    }
}

TEST(DecodeArchive, FaultDescriptionNamesTheEntry) {
    const DecodeResult r = Decode(HandBuilt(2, {{u"a", 4, 3, {0x03, 'a', 'b', 'c'}}, {u"help.pdf", 2, 3, {0x80, 0x03}}}));
    EXPECT_EQ(r.Describe(),
              "entry 1 (\"help.pdf\"): back-reference reaches before the start of the output "
              "(token at compressed offset 0, 0 bytes produced)");
}

// An entry of 4 GiB - 1 bytes: 4 + 592 + size overflows a 32-bit size_t,
// which the Windows build has. The sum is kept in 64 bits and compared with
// the limit, so the 32-bit case is refused instead of allocating a wrapped,
// tiny block. The data itself is never looked at.
std::vector<uint8_t> HugeEntryArchive() {
    const uint32_t size = 0xFFFFFFFFu;
    const uint32_t stored = static_cast<uint32_t>((size + 64ull) / 65);
    return HandBuilt(1, {{u"big", stored, size, std::vector<uint8_t>(stored, 0)}});
}

TEST(DecodeArchive, SizesBeyondAThirtyTwoBitAddressSpaceAreRefused) {
    const std::vector<uint8_t> resource = HugeEntryArchive();
    DecodeOptions thirtyTwoBit;
    thirtyTwoBit.maxBlockSize = 0xFFFFFFFFu;
    const DecodeResult r = Decode(resource, thirtyTwoBit);
    EXPECT_EQ(r.status, DecodeStatus::Malformed);
    EXPECT_EQ(r.fault, DecodeFault::TooLarge) << r.Describe();
}

#if defined(__linux__) && !defined(PAYLOAD_TEST_ASAN)
// A block the process cannot allocate is reported, not thrown: run in a child
// whose address space is capped well below the 4 GiB the entry asks for.
TEST(DecodeArchiveDeathTest, UnallocatableBlockIsReportedNotThrown) {
    const std::vector<uint8_t> resource = HugeEntryArchive();
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
            setrlimit(RLIMIT_AS, &limit);
            const DecodeResult r = Decode(resource);
            std::exit(r.status == DecodeStatus::Malformed && r.fault == DecodeFault::OutOfMemory ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST(FindEntry, FoldsOnlyAsciiLettersAndReturnsTheFirstMatch) {
    std::vector<PackedEntry> packed = {
        Pack(u"Quentar.exe", TextBytes("first")),
        Pack(u"\u00C4rger.dll", TextBytes("umlaut")),
        Pack(u"quentar.exe", TextBytes("second")),
        Pack(std::u16string(259, u'n'), TextBytes("long")),
        Pack(u"Zorbel.dll", TextBytes("zorbel")),
        Pack(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ", TextBytes("capitals")),
        Pack(u"abcdefghijklmnopqrstuvwxyz.txt", TextBytes("small letters")),
        Pack(u"@[", TextBytes("next to the letters")),
    };
    DecodeResult r = Decode(BuildArchive(packed, kKey));
    ASSERT_EQ(r.status, DecodeStatus::Ok);
    InstallState state;
    EXPECT_FALSE(FindEntry(u"Quentar.exe", state)) << "no payload loaded";
    state.payload = std::move(r.archive);

    auto dataOf = [](PayloadEntry e) { return std::string(e.Data(), e.Data() + e.FileSizeLow()); };
    const struct {
        std::u16string name;
        const char* data;  // null: not found
    } cases[] = {
        {u"quentar.EXE", "first"},
        {u"QUENTAR.EXE", "first"},
        {u"ÄRGER.DLL", "umlaut"},
        {u"ärger.dll", nullptr},  // a-umlaut differs from A-umlaut
        {u"Quentar.ex", nullptr},
        {u"Quentar.exe ", nullptr},
        {std::u16string(259, u'N'), "long"},
        // Every letter A-Z folds, in both directions, and nothing next to them.
        {u"zorbel.dll", "zorbel"},
        {u"abcdefghijklmnopqrstuvwxyz", "capitals"},
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ.TXT", "small letters"},
        {u"`{", nullptr},
        {std::u16string(258, u'n'), nullptr},
        {u"", nullptr},
    };
    for (const auto& c : cases) {
        const PayloadEntry e = FindEntry(c.name, state);
        if (c.data) {
            ASSERT_TRUE(e) << ToUtf8(c.name);
            EXPECT_EQ(dataOf(e), c.data) << ToUtf8(c.name);
        } else {
            EXPECT_FALSE(e) << ToUtf8(c.name);
        }
    }
}

}  // namespace
}  // namespace quentar
