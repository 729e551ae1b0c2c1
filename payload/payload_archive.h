// The carried archive: stored form, decoded form and the operations on it.
//
// Stored archive (the bytes of resource RCDATA 101), little-endian:
//   [0, 16)   RC4 key, plain
//   [16, 20)  entry count (enciphered)
//   [20, ...) entries back to back (enciphered): a 592-byte header with the
//             layout of WIN32_FIND_DATAW, whose nFileSizeHigh holds the length
//             of the compressed data that follows it, then that data.
// Everything from offset 16 to the end is one RC4 stream.
//
// Decoded archive (PayloadArchive): one block, [0,4) the count, then for each
// entry its header (nFileSizeHigh set to 0) and nFileSizeLow decoded bytes,
// back to back with no padding. Headers are therefore not aligned: every field
// is read through PayloadEntry's accessors, never through a struct cast.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "payload/decompress.h"
#include "state/payload_entry.h"
#include "state/text.h"

namespace quentar {

constexpr size_t kKeySize = 16;
constexpr size_t kCountOffset = 16;
constexpr size_t kFirstEntryOffset = 20;
// Error code raised when an entry cannot be decoded; the fatal-error path
// shows string (code - 777), "Unexpected error 1".
constexpr int32_t kPayloadDecodeError = 1040;

// The decoded block. Entry views handed out stay valid as long as the block.
class PayloadArchive {
public:
    PayloadArchive(std::unique_ptr<uint8_t[]> block, size_t size) : block_(std::move(block)), size_(size) {}

    uint32_t Count() const;
    const uint8_t* Block() const { return block_.get(); }
    size_t Size() const { return size_; }
    // The first entry, or none when the archive is empty.
    PayloadEntry First() const;
    // The entry after `e`, or none after the last one.
    PayloadEntry Next(PayloadEntry e) const;

private:
    std::unique_ptr<uint8_t[]> block_;
    size_t size_;
};

struct InstallState;

// ---- Decoding -------------------------------------------------------------

enum class DecodeStatus : uint8_t {
    NoArchive,  // resource of 20 bytes or less: nothing to load, not an error
    Ok,         // `archive` holds the decoded block
    Malformed,  // the caller raises kPayloadDecodeError; `fault` says why
};

enum class DecodeFault : uint8_t {
    None,
    CountTopBit,       // entry count >= 2^31
    HeaderPastEnd,     // an entry header runs past the end of the resource
    DataPastEnd,       // an entry's compressed data runs past the end
    SizeBeyondData,    // nFileSizeLow > 65 * nFileSizeHigh: can never decode
    TooLarge,          // 4 + sum(592 + nFileSizeLow) exceeds the address space or maxBlockSize
    OutOfMemory,       // an entry's deciphered data or the decoded block cannot be allocated
    Decompress,        // the entry's data is not a valid token stream (see `lz`)
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::NoArchive;
    DecodeFault fault = DecodeFault::None;
    // Zero-based index of the entry at fault (meaningful when Malformed and
    // fault is neither CountTopBit nor TooLarge nor a failed allocation of
    // the block, which report 0 and no name).
    uint32_t entryIndex = 0;
    // That entry's name when its header could be read, else empty.
    U16String entryName;
    // Details of a Decompress fault.
    LzResult lz;
    // The decoded archive when status is Ok, else null.
    std::unique_ptr<PayloadArchive> archive;

    // One line naming what is wrong and where, e.g.
    // "entry 2 (\"help.pdf\"): back-reference distance 9 reaches before the
    // output (5 bytes produced) at compressed offset 17".
    std::string Describe() const;
};

// Memory handed straight out by the system in whole pages, and handed back
// at once when released (VirtualAlloc, mmap). The decoder takes its larger
// temporary buffers from it, so that they leave the working set as soon as
// each entry is decoded. allocate returns null when the memory cannot be had;
// release gets the size that was allocated.
struct PageAllocator {
    void* (*allocate)(size_t size);
    void (*release)(void* memory, size_t size);
};

struct DecodeOptions {
    // When not null, receives every entry's stored nFileSizeHigh (the
    // compressed length), which the decoded block no longer holds; filled as
    // far as the walk got, also on failure.
    std::vector<uint32_t>* storedLengths = nullptr;
    // Largest decoded block accepted (TooLarge above it). The default is the
    // address space's limit; a caller with a tighter budget sets less.
    uint64_t maxBlockSize = static_cast<uint64_t>(PTRDIFF_MAX);
    // Where buffers of a quarter of a megabyte and more come from; null:
    // the heap, like every smaller buffer.
    const PageAllocator* pages = nullptr;
};

// Deciphers and decodes a stored archive (the whole resource, key included).
//
// Contract:
// - `resource` points to `size` readable bytes (may be null when size is 0);
//   it is only read, never changed.
// - size <= 20: NoArchive, nothing allocated.
// - Otherwise Ok with the decoded block, or Malformed. The count and every
//   length are checked against the resource and against the address space
//   before anything is read or allocated, so a hostile resource can neither
//   make the decoder read outside it nor crash it through a failed
//   allocation. Every entry must decompress to exactly nFileSizeLow bytes.
// - The block is at most 4 + 592 * count + 65 * (size - 20) bytes: an entry
//   whose size its compressed data cannot produce is refused before
//   allocating.
// - Bytes after the last entry are ignored (the format has no trailer).
// - One RC4 pass from the resource into private memory, held per entry (its
//   header and compressed data) until the block is sized; each entry's part
//   is released as soon as it is decoded.
// Peak memory: the block's pages decoded so far plus the deciphered entries
// not yet decoded: about the decoded size plus the largest compressed entry
// when entries compress, never more than the block plus the resource.
DecodeResult DecodeArchive(const uint8_t* resource, size_t size,
                           const DecodeOptions& options = DecodeOptions());

// The first entry whose cFileName equals `name`, folding only A-Z; none when
// no archive is loaded or no entry matches. The name is compared up to its
// NUL, or over all 260 units when the field holds no NUL.
PayloadEntry FindEntry(U16View name, const PayloadArchive* archive);
PayloadEntry FindEntry(U16View name, const InstallState& state);

// The components a payload lets the setup program offer: the application
// with its executable, the Arecont Vision runtime with its SDK, the Axis
// runtime with at least one of its packages (payload_names.h). Nothing
// without an archive.
struct CarriedComponents {
    bool application = false;
    bool arecont = false;
    bool axis = false;
};
CarriedComponents ComponentsCarried(const PayloadArchive* archive);
CarriedComponents ComponentsCarried(const InstallState& state);

}  // namespace quentar
