// Building stored archives: headers, compression and encipherment. Used by
// the archive tool, tests, benchmarks and fuzzers; not by the setup program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/compress.h"
#include "payload/payload_archive.h"
#include "state/text.h"

namespace quentar {

using ArchiveKey = std::array<uint8_t, kKeySize>;

constexpr uint32_t kFileAttributeReadonly = 0x01;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr size_t kMaxEntryNameUnits = entry_layout::kFileNameUnits - 1;  // 259

// Header fields other than the two sizes.
struct EntryFields {
    U16String name;           // 1..259 units, bare name
    uint32_t attributes = kFileAttributeArchive;
    uint64_t creationTime = 0;    // FILETIME counts
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
    uint32_t reserved0 = 0;
    uint32_t reserved1 = 0;
    U16String alternateName;  // 8.3 name, at most 13 units; may be empty
};

// One entry ready to be stored: its fields, its size and its token stream.
struct PackedEntry {
    EntryFields fields;
    uint32_t size = 0;
    std::vector<uint8_t> compressed;
};

// Compresses one file.
// Throws std::length_error when size > 4 GiB - 1 or the compressed stream
// would not fit in 32 bits, std::invalid_argument for an unusable name.
PackedEntry PackEntry(EntryFields fields, const uint8_t* data, size_t size,
                      ParseMode mode = ParseMode::Optimal);

// Writes a 592-byte header; nFileSizeHigh = storedLength, nFileSizeLow = size.
// Throws std::invalid_argument for an empty or too long name.
void EncodeHeader(const EntryFields& fields, uint32_t storedLength, uint32_t size, uint8_t* header);

// key, then RC4(key) over `plain` (count, headers and data as stored).
std::vector<uint8_t> SealArchive(const ArchiveKey& key, const std::vector<uint8_t>& plain);

// The whole stored archive of `entries`, in order.
std::vector<uint8_t> BuildArchive(const std::vector<PackedEntry>& entries, const ArchiveKey& key);

// Appends the little-endian 32-bit value (for hand-built plain streams).
void AppendLe32(std::vector<uint8_t>& out, uint32_t value);

}  // namespace quentar
