#include "payload/payload_archive.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "payload/payload_names.h"
#include "payload/rc4.h"
#include "state/little_endian.h"
#include "state/install_state.h"

namespace quentar {

namespace {

using namespace entry_layout;

// One entry's deciphered header and compressed data, held from the moment it
// is deciphered until the entry is decoded. Large buffers come from the
// caller's page allocator when it gives one, so that releasing a buffer hands
// its pages back at once: a general-purpose heap may keep a freed block
// resident (glibc does for blocks under its adaptive mmap threshold), which
// would undo the point of holding the stream per entry. Small ones, and all
// of them without a page allocator, come from the heap.
class EntryBuffer {
public:
    explicit EntryBuffer(const PageAllocator* pages) : pages_(pages) {}
    EntryBuffer(const EntryBuffer&) = delete;
    EntryBuffer& operator=(const EntryBuffer&) = delete;
    EntryBuffer(EntryBuffer&& other) noexcept : pages_(other.pages_), data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ~EntryBuffer() { Release(); }

    // False when the memory cannot be had; never throws.
    bool Allocate(size_t size) {
        Release();
        if (FromPages(size)) {
            data_ = static_cast<uint8_t*>(pages_->allocate(size));
        } else {
            data_ = new (std::nothrow) uint8_t[size];
        }
        if (data_ == nullptr) return false;
        size_ = size;
        return true;
    }

    void Release() {
        if (data_ == nullptr) return;
        if (FromPages(size_)) {
            pages_->release(data_, size_);
        } else {
            delete[] data_;
        }
        data_ = nullptr;
        size_ = 0;
    }

    uint8_t* Get() const { return data_; }

private:
    static constexpr size_t kPageThreshold = 256 * 1024;
    bool FromPages(size_t size) const { return pages_ != nullptr && size >= kPageThreshold; }

    const PageAllocator* pages_;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace

// ---- PayloadEntry / PayloadArchive -----------------------------------------

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
        if (header) result.entryName = PayloadEntry(header).FileName();
        return std::move(result);
    };

    // 1. One RC4 pass, in stream order, straight from the read-only resource
    //    into private memory: the count, then for each entry one buffer that
    //    holds its header and its compressed data. The block's size is known
    //    only after the last header, so the deciphered stream has to be held
    //    until then; held per entry, each part can be released as soon as its
    //    entry is decoded, and the peak stays near the decoded size plus the
    //    largest compressed entry instead of the two sizes added up.
    //    `at` is the stream offset of the next byte to decipher, <= streamSize.
    const uint8_t* const stream = resource + kCountOffset;
    const size_t streamSize = size - kCountOffset;  // > 4 since size > 20
    Rc4State rc4;
    Rc4KeySchedule(rc4, resource, kKeySize);
    uint8_t countBytes[4];
    Rc4Xor(rc4, stream, countBytes, 4);
    const uint32_t count = ReadLe32(countBytes);
    if (count & 0x80000000u) return fail(DecodeFault::CountTopBit, 0, nullptr);

    // 2. Size the block; every header and its data must lie inside the stream.
    //    Every buffer holds at least a header that is present in the stream,
    //    so a hostile count cannot make the entries outgrow the resource.
    std::vector<EntryBuffer> entries;  // header, then compressed data
    uint64_t total = 4;
    size_t at = kFirstEntryOffset - kCountOffset;  // 4
    for (uint32_t k = 0; k < count; ++k) {
        // The whole header must be present before any field is read.
        if (streamSize - at < kHeaderSize) return fail(DecodeFault::HeaderPastEnd, k, nullptr);
        uint8_t header[kHeaderSize];
        Rc4Xor(rc4, stream + at, header, kHeaderSize);
        at += kHeaderSize;
        const uint32_t stored = ReadLe32(header + kFileSizeHigh);
        if (storedLengths) storedLengths->push_back(stored);
        // The compressed data must end inside the stream.
        if (stored > streamSize - at) return fail(DecodeFault::DataPastEnd, k, header);
        // A token yields at most 65 bytes per input byte (130 from a
        // two-byte back-reference): a larger size can never be reached, and
        // refusing it here keeps the block within 65 times the resource.
        const uint32_t decoded = ReadLe32(header + kFileSizeLow);
        if (decoded > kLzMaxExpansion * static_cast<uint64_t>(stored)) {
            return fail(DecodeFault::SizeBeyondData, k, header);
        }
        // No overflow: count < 2^31 and each term < 2^33, so total < 2^64.
        total += kHeaderSize + static_cast<uint64_t>(decoded);

        // kHeaderSize + stored <= streamSize (checked above): no overflow.
        // Allocation failures are reported, never thrown.
        EntryBuffer entry(options.pages);
        if (!entry.Allocate(kHeaderSize + static_cast<size_t>(stored))) {
            return fail(DecodeFault::OutOfMemory, k, header);
        }
        std::memcpy(entry.Get(), header, kHeaderSize);
        Rc4Xor(rc4, stream + at, entry.Get() + kHeaderSize, stored);
        at += stored;
        try {
            entries.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            return fail(DecodeFault::OutOfMemory, k, header);
        }
    }
    // The block must be addressable (size_t is 32 bits on the Windows build)
    // and allocatable; either failure is reported, never thrown.
    const uint64_t limit = std::min<uint64_t>(options.maxBlockSize, std::numeric_limits<std::ptrdiff_t>::max());
    if (total > limit) return fail(DecodeFault::TooLarge, 0, nullptr);
    const size_t blockSize = static_cast<size_t>(total);
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockSize]);
    if (!block) return fail(DecodeFault::OutOfMemory, 0, nullptr);

    // 3. Copy headers and decompress each entry into its final place, then
    //    release its buffer. The walk above proved the block holds every
    //    header and nFileSizeLow bytes after it.
    std::memcpy(block.get(), countBytes, 4);
    uint8_t* out = block.get() + 4;
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* const in = entries[k].Get();
        const uint32_t stored = ReadLe32(in + kFileSizeHigh);
        const uint32_t decoded = ReadLe32(in + kFileSizeLow);
        std::memcpy(out, in, kHeaderSize);
        std::memset(out + kFileSizeHigh, 0, 4);
        const LzResult lz = DecompressEntryChecked(in + kHeaderSize, stored, out + kHeaderSize, decoded);
        if (lz.fault != LzFault::None) {
            result.lz = lz;
            return fail(DecodeFault::Decompress, k, in);
        }
        entries[k].Release();
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
        if (EntryNameLength(field) != name.size()) continue;
        size_t k = 0;
        while (k < name.size() && FoldAsciiLower(EntryNameUnit(field, k)) == FoldAsciiLower(name[k])) ++k;
        if (k == name.size()) return e;
    }
    return PayloadEntry();
}

PayloadEntry FindEntry(U16View name, const InstallState& state) {
    return FindEntry(name, state.payload.get());
}

CarriedComponents ComponentsCarried(const PayloadArchive* archive) {
    CarriedComponents carried;
    if (!archive) return carried;
    for (PayloadEntry e = archive->First(); e; e = archive->Next(e)) {
        switch (RoleOfEntry(e.FileName())) {
            case EntryRole::Application: carried.application = true; break;
            case EntryRole::ArecontSdk: carried.arecont = true; break;
            case EntryRole::AxisPackage: carried.axis = true; break;
            case EntryRole::Companion:
            case EntryRole::None: break;
        }
    }
    return carried;
}

CarriedComponents ComponentsCarried(const InstallState& state) { return ComponentsCarried(state.payload.get()); }

}  // namespace quentar
