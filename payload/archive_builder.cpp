#include "payload/archive_builder.h"

#include <cstring>
#include <limits>
#include <stdexcept>

#include "payload/rc4.h"
#include "state/little_endian.h"

namespace quentar {

namespace {

using namespace entry_layout;

// The units of `s` followed by NULs up to `units` units.
void PutName(uint8_t* field, const U16String& s, size_t units) {
    std::memset(field, 0, 2 * units);
    for (size_t k = 0; k < s.size(); ++k) {
        field[2 * k] = static_cast<uint8_t>(s[k]);
        field[2 * k + 1] = static_cast<uint8_t>(s[k] >> 8);
    }
}

}  // namespace

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t b[4];
    WriteLe32(b, value);
    out.insert(out.end(), b, b + 4);
}

void EncodeHeader(const EntryFields& fields, uint32_t storedLength, uint32_t size, uint8_t* header) {
    if (fields.name.empty() || fields.name.size() > kMaxEntryNameUnits) {
        throw std::invalid_argument("entry name must have 1 to 259 UTF-16 units");
    }
    if (fields.alternateName.size() >= kAlternateFileNameUnits) {
        throw std::invalid_argument("8.3 name must have at most 13 UTF-16 units");
    }
    std::memset(header, 0, kHeaderSize);
    WriteLe32(header + kAttributes, fields.attributes);
    WriteLe64(header + kCreationTime, fields.creationTime);
    WriteLe64(header + kLastAccessTime, fields.lastAccessTime);
    WriteLe64(header + kLastWriteTime, fields.lastWriteTime);
    WriteLe32(header + kFileSizeHigh, storedLength);
    WriteLe32(header + kFileSizeLow, size);
    WriteLe32(header + kReserved0, fields.reserved0);
    WriteLe32(header + kReserved1, fields.reserved1);
    PutName(header + kFileName, fields.name, kFileNameUnits);
    PutName(header + kAlternateFileName, fields.alternateName, kAlternateFileNameUnits);
}

PackedEntry PackEntry(EntryFields fields, const uint8_t* data, size_t size, ParseMode mode) {
    if (static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("file is larger than 4 GiB - 1 bytes");
    }
    uint8_t probe[kHeaderSize];
    EncodeHeader(fields, 0, 0, probe);  // refuses a bad name before the work
    PackedEntry entry;
    entry.fields = std::move(fields);
    entry.size = static_cast<uint32_t>(size);
    entry.compressed = CompressEntry(data, size, mode);
    if (entry.compressed.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("compressed data is larger than 4 GiB - 1 bytes");
    }
    return entry;
}

std::vector<uint8_t> SealArchive(const ArchiveKey& key, const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out(key.begin(), key.end());
    out.insert(out.end(), plain.begin(), plain.end());
    Rc4State rc4;
    Rc4KeySchedule(rc4, key.data(), key.size());
    Rc4Apply(rc4, out.data() + kKeySize, plain.size());
    return out;
}

std::vector<uint8_t> BuildArchive(const std::vector<PackedEntry>& entries, const ArchiveKey& key) {
    if (entries.size() >= 0x80000000u) throw std::length_error("too many entries");
    size_t total = kFirstEntryOffset;
    for (const PackedEntry& e : entries) total += kHeaderSize + e.compressed.size();
    std::vector<uint8_t> out;
    out.reserve(total);
    out.insert(out.end(), key.begin(), key.end());
    AppendLe32(out, static_cast<uint32_t>(entries.size()));
    for (const PackedEntry& e : entries) {
        const size_t at = out.size();
        out.resize(at + kHeaderSize);
        EncodeHeader(e.fields, static_cast<uint32_t>(e.compressed.size()), e.size, out.data() + at);
        out.insert(out.end(), e.compressed.begin(), e.compressed.end());
    }
    Rc4State rc4;
    Rc4KeySchedule(rc4, key.data(), key.size());
    Rc4Apply(rc4, out.data() + kKeySize, out.size() - kKeySize);
    return out;
}

}  // namespace quentar
