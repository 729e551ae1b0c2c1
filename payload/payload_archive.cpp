#include "payload/payload_archive.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "payload/rc4.h"
#include "state/install_state.h"

namespace quentar {

namespace {

using namespace entry_layout;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

char16_t ReadUnit(const uint8_t* p) {
    return static_cast<char16_t>(p[0] | p[1] << 8);
}

// Number of units of the NUL-terminated name at `field` (260 when unterminated).
size_t NameLength(const uint8_t* field) {
    size_t n = 0;
    while (n < kFileNameUnits && ReadUnit(field + 2 * n) != 0) ++n;
    return n;
}

U16String ReadName(const uint8_t* header) {
    const uint8_t* const field = header + kFileName;
    const size_t length = NameLength(field);
    U16String name(length, u'\0');
    for (size_t k = 0; k < length; ++k) name[k] = ReadUnit(field + 2 * k);
    return name;
}

// Deciphering goes through the cache in pieces of this size: the keystream
// is applied while the piece just copied is still hot.
constexpr size_t kDecipherPiece = 64 * 1024;

}  // namespace

// ---- PayloadEntry / PayloadArchive -----------------------------------------

uint32_t PayloadEntry::Attributes() const { return ReadLe32(header_ + kAttributes); }
uint64_t PayloadEntry::CreationTime() const { return ReadLe64(header_ + kCreationTime); }
uint64_t PayloadEntry::LastAccessTime() const { return ReadLe64(header_ + kLastAccessTime); }
uint64_t PayloadEntry::LastWriteTime() const { return ReadLe64(header_ + kLastWriteTime); }
uint32_t PayloadEntry::FileSizeLow() const { return ReadLe32(header_ + kFileSizeLow); }
U16String PayloadEntry::FileName() const { return ReadName(header_); }

uint32_t PayloadArchive::Count() const { return ReadLe32(block_.get()); }

PayloadEntry PayloadArchive::First() const {
    return Count() == 0 ? PayloadEntry() : PayloadEntry(block_.get() + 4);
}

PayloadEntry PayloadArchive::Next(PayloadEntry e) const {
    // The block was sized from these very headers by DecodeArchive, so the
    // next header is either inside the block or exactly at its end.
    const uint8_t* const next = e.Header() + kHeaderSize + e.FileSizeLow();
    return next < block_.get() + size_ ? PayloadEntry(next) : PayloadEntry();
}

// ---- Decoding ---------------------------------------------------------------

DecodeResult DecodeArchive(const uint8_t* resource, size_t size, const DecodeOptions& options) {
    DecodeResult result;
    std::vector<uint32_t>* const storedLengths = options.storedLengths;
    if (storedLengths) storedLengths->clear();
    if (size <= kFirstEntryOffset) return result;  // NoArchive

    result.status = DecodeStatus::Malformed;
    auto fail = [&](DecodeFault fault, uint32_t index, const uint8_t* header) -> DecodeResult {
        result.fault = fault;
        result.entryIndex = index;
        if (header) result.entryName = ReadName(header);
        return std::move(result);
    };

    // 1. One RC4 pass over offsets 16..size into a private copy (the
    //    resource is read-only).
    const size_t streamSize = size - kCountOffset;  // > 4 since size > 20
    std::unique_ptr<uint8_t[]> stream(new (std::nothrow) uint8_t[streamSize]);
    if (!stream) return fail(DecodeFault::OutOfMemory, 0, nullptr);
    Rc4State rc4;
    Rc4KeySchedule(rc4, resource, kKeySize);
    for (size_t at = 0; at < streamSize; at += kDecipherPiece) {
        const size_t piece = streamSize - at < kDecipherPiece ? streamSize - at : kDecipherPiece;
        Rc4Xor(rc4, resource + kCountOffset + at, stream.get() + at, piece);
    }

    // 2. Size the block; every header and its data must lie inside the stream.
    const uint32_t count = ReadLe32(stream.get());
    if (count & 0x80000000u) return fail(DecodeFault::CountTopBit, 0, nullptr);
    const size_t firstHeader = kFirstEntryOffset - kCountOffset;  // 4
    uint64_t total = 4;
    size_t at = firstHeader;  // at <= streamSize throughout
    for (uint32_t k = 0; k < count; ++k) {
        // The whole header must be present before any field is read.
        if (streamSize - at < kHeaderSize) return fail(DecodeFault::HeaderPastEnd, k, nullptr);
        const uint8_t* const header = stream.get() + at;
        const uint32_t stored = ReadLe32(header + kFileSizeHigh);
        if (storedLengths) storedLengths->push_back(stored);
        // The compressed data must end inside the stream.
        if (stored > streamSize - at - kHeaderSize) return fail(DecodeFault::DataPastEnd, k, header);
        // A token yields at most 65 bytes per input byte (130 from a
        // two-byte back-reference): a larger size can never be reached, and
        // refusing it here keeps the block within 65 times the resource.
        const uint32_t decoded = ReadLe32(header + kFileSizeLow);
        if (decoded > kLzMaxExpansion * static_cast<uint64_t>(stored)) {
            return fail(DecodeFault::SizeBeyondData, k, header);
        }
        // No overflow: count < 2^31 and each term < 2^33, so total < 2^64.
        total += kHeaderSize + static_cast<uint64_t>(decoded);
        at += kHeaderSize + stored;
    }
    // The block must be addressable (size_t is 32 bits on the Windows build)
    // and allocatable; either failure is reported, never thrown.
    const uint64_t limit = std::min<uint64_t>(options.maxBlockSize, std::numeric_limits<std::ptrdiff_t>::max());
    if (total > limit) return fail(DecodeFault::TooLarge, 0, nullptr);
    const size_t blockSize = static_cast<size_t>(total);
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockSize]);
    if (!block) return fail(DecodeFault::OutOfMemory, 0, nullptr);

    // 3. Copy headers and decompress each entry into its final place. The
    //    walk above proved every offset used here lies inside both buffers.
    std::memcpy(block.get(), stream.get(), 4);
    const uint8_t* in = stream.get() + firstHeader;
    uint8_t* out = block.get() + 4;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t stored = ReadLe32(in + kFileSizeHigh);
        const uint32_t decoded = ReadLe32(in + kFileSizeLow);
        std::memcpy(out, in, kHeaderSize);
        std::memset(out + kFileSizeHigh, 0, 4);
        const LzResult lz = DecompressEntryChecked(in + kHeaderSize, stored, out + kHeaderSize, decoded);
        if (lz.fault != LzFault::None) {
            result.lz = lz;
            return fail(DecodeFault::Decompress, k, in);
        }
        in += kHeaderSize + stored;
        out += kHeaderSize + decoded;
    }

    result.status = DecodeStatus::Ok;
    result.archive = std::make_unique<PayloadArchive>(std::move(block), blockSize);
    return result;
}

std::string DecodeResult::Describe() const {
    if (status == DecodeStatus::NoArchive) return "no archive (20 bytes or less)";
    if (status == DecodeStatus::Ok) return "ok";
    std::string where = "entry " + std::to_string(entryIndex);
    if (!entryName.empty()) where += " (\"" + ToUtf8(entryName) + "\")";
    switch (fault) {
        case DecodeFault::None: return "malformed archive";
        case DecodeFault::CountTopBit: return "entry count has its top bit set";
        case DecodeFault::HeaderPastEnd: return where + ": header runs past the end of the archive";
        case DecodeFault::DataPastEnd: return where + ": compressed data runs past the end of the archive";
        case DecodeFault::SizeBeyondData:
            return where + ": size exceeds what its compressed data can produce";
        case DecodeFault::TooLarge: return "decoded size does not fit in the address space";
        case DecodeFault::OutOfMemory: return "not enough memory for the decoded archive";
        case DecodeFault::Decompress:
            return where + ": " + LzFaultText(lz.fault) + " (token at compressed offset " +
                   std::to_string(lz.inputPosition) + ", " + std::to_string(lz.outputPosition) +
                   " bytes produced)";
    }
    return "malformed archive";
}

// ---- Lookup -----------------------------------------------------------------

PayloadEntry FindEntry(U16View name, const PayloadArchive* archive) {
    if (!archive) return PayloadEntry();
    for (PayloadEntry e = archive->First(); e; e = archive->Next(e)) {
        const uint8_t* const field = e.Header() + kFileName;
        if (NameLength(field) != name.size()) continue;
        size_t k = 0;
        while (k < name.size() && FoldAsciiLower(ReadUnit(field + 2 * k)) == FoldAsciiLower(name[k])) ++k;
        if (k == name.size()) return e;
    }
    return PayloadEntry();
}

PayloadEntry FindEntry(U16View name, const InstallState& state) {
    return FindEntry(name, state.payload.get());
}

}  // namespace quentar
