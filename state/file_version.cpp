#include "state/file_version.h"

#include <cstring>
#include <string>

#include "state/little_endian.h"

namespace quentar {
namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
// The record after the signature: struct version (4), file version MS (4),
// file version LS (4); everything read lies within 16 bytes of the signature,
// and the scan stops 52 bytes before the end (the record is 52 bytes long).
constexpr size_t kFixedInfoSize = 52;

}  // namespace

bool ScanFixedFileVersion(const uint8_t* resource, size_t size, FileVersion& out) {
    if (resource == nullptr || size <= kFixedInfoSize) return false;
    for (size_t pos = 0; pos + kFixedInfoSize < size; ++pos) {
        if (ReadLe32(resource + pos) != kFixedInfoSignature) continue;
        const uint8_t* record = resource + pos;
        out.parts = {ReadLe16(record + 10), ReadLe16(record + 8), ReadLe16(record + 14), ReadLe16(record + 12)};
        return true;
    }
    return false;
}

namespace {

// Bytes `offset` .. `offset` + `length` lie inside an image of `size` bytes.
bool Inside(uint64_t offset, uint64_t length, size_t size) { return offset <= size && length <= size - offset; }

// Offsets inside a PE image, as its headers give them.
constexpr size_t kNewHeaderOffset = 0x3C;       // e_lfanew in the DOS header
constexpr size_t kFileHeaderSize = 20;          // after the "PE\0\0" signature
constexpr size_t kSectionHeaderSize = 40;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kVersionType = 16;           // RT_VERSION
constexpr uint32_t kVersionId = 1;              // VS_VERSION_INFO
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;     // IMAGE_RESOURCE_DIRECTORY
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;           // IMAGE_RESOURCE_DATA_ENTRY

struct Image {
    const uint8_t* bytes;
    size_t size;
    size_t sections;       // offset of the section table
    uint32_t sectionCount;

    // The file offset of relative virtual address `rva` spanning `length`
    // bytes, when a section holds all of it in the file.
    bool FileOffset(uint32_t rva, uint32_t length, uint64_t& offset) const {
        for (uint32_t i = 0; i < sectionCount; ++i) {
            const uint8_t* section = bytes + sections + static_cast<size_t>(i) * kSectionHeaderSize;
            const uint32_t address = ReadLe32(section + 12);
            const uint32_t rawSize = ReadLe32(section + 16);
            const uint32_t rawOffset = ReadLe32(section + 20);
            if (rva < address || static_cast<uint64_t>(rva) + length > static_cast<uint64_t>(address) + rawSize) continue;
            offset = static_cast<uint64_t>(rawOffset) + (rva - address);
            return Inside(offset, length, size);
        }
        return false;
    }
};

// The entry with numeric id `id` of the resource directory at file offset
// `directory`: its word that leads to a subdirectory (bit 31 set) or a data
// entry, as an offset from the resource root. With id 0 the first entry
// with a numeric id is taken.
bool FindResourceEntry(const Image& image, uint64_t directory, uint32_t id, uint32_t& target) {
    if (!Inside(directory, kDirectoryHeaderSize, image.size)) return false;
    const uint8_t* header = image.bytes + directory;
    const uint32_t named = ReadLe16(header + 12);
    const uint32_t numbered = ReadLe16(header + 14);
    const uint64_t entries = directory + kDirectoryHeaderSize;
    if (!Inside(entries, (static_cast<uint64_t>(named) + numbered) * kDirectoryEntrySize, image.size)) return false;
    // Entries with names come first; numbered ones follow.
    for (uint32_t i = named; i < named + numbered; ++i) {
        const uint8_t* entry = image.bytes + entries + static_cast<uint64_t>(i) * kDirectoryEntrySize;
        const uint32_t name = ReadLe32(entry);
        if ((name & kSubdirectoryBit) != 0 || (id != 0 && name != id)) continue;
        target = ReadLe32(entry + 4);
        return true;
    }
    return false;
}

}  // namespace

bool ReadImageFileVersion(const uint8_t* bytes, size_t size, FileVersion& out) {
    if (bytes == nullptr || !Inside(0, kNewHeaderOffset + 4, size) || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    const uint64_t pe = ReadLe32(bytes + kNewHeaderOffset);
    if (!Inside(pe, 4 + kFileHeaderSize + 2, size) || ReadLe32(bytes + pe) != 0x00004550) return false;
    const uint8_t* fileHeader = bytes + pe + 4;
    const uint32_t sectionCount = ReadLe16(fileHeader + 2);
    const uint32_t optionalSize = ReadLe16(fileHeader + 16);
    const uint64_t optional = pe + 4 + kFileHeaderSize;
    if (!Inside(optional, optionalSize, size) || optionalSize < 2) return false;
    const uint16_t magic = ReadLe16(bytes + optional);
    // Where the data directories start and how many there are differs
    // between 32-bit and 64-bit images.
    size_t countOffset;
    if (magic == kMagicPe32) {
        countOffset = 92;
    } else if (magic == kMagicPe32Plus) {
        countOffset = 108;
    } else {
        return false;
    }
    if (optionalSize < countOffset + 4) return false;
    const uint32_t directoryCount = ReadLe32(bytes + optional + countOffset);
    const uint64_t resourceDirectory = optional + countOffset + 4 + kResourceDirectoryIndex * 8;
    if (directoryCount <= kResourceDirectoryIndex || resourceDirectory + 8 > optional + optionalSize) return false;
    const uint32_t resourceRva = ReadLe32(bytes + resourceDirectory);

    const Image image{bytes, size, static_cast<size_t>(optional + optionalSize), sectionCount};
    if (!Inside(image.sections, static_cast<uint64_t>(sectionCount) * kSectionHeaderSize, size)) return false;
    uint64_t root = 0;
    if (resourceRva == 0 || !image.FileOffset(resourceRva, kDirectoryHeaderSize, root)) return false;

    // Type, then id, then language: the first two lead to subdirectories,
    // the last to the data entry.
    uint32_t target = 0;
    if (!FindResourceEntry(image, root, kVersionType, target) || (target & kSubdirectoryBit) == 0) return false;
    if (!FindResourceEntry(image, root + (target & ~kSubdirectoryBit), kVersionId, target) ||
        (target & kSubdirectoryBit) == 0) {
        return false;
    }
    if (!FindResourceEntry(image, root + (target & ~kSubdirectoryBit), 0, target) ||
        (target & kSubdirectoryBit) != 0) {
        return false;
    }
    const uint64_t dataEntry = root + target;
    if (!Inside(dataEntry, kDataEntrySize, size)) return false;
    const uint32_t dataRva = ReadLe32(bytes + dataEntry);
    const uint32_t dataSize = ReadLe32(bytes + dataEntry + 4);
    uint64_t data = 0;
    if (!image.FileOffset(dataRva, dataSize, data)) return false;
    return ScanFixedFileVersion(bytes + data, dataSize, out);
}

U16String FormatVersionText(U16View format, const FileVersion& version) {
    U16String out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'%') {
                out.push_back(u'%');
                ++i;
                continue;
            }
            if (format[i + 1] == u'i' && next < 4) {
                for (char c : std::to_string(static_cast<int32_t>(version.parts[next++]))) out.push_back(static_cast<char16_t>(c));
                ++i;
                continue;
            }
        }
        out.push_back(format[i]);
    }
    return out;
}

}  // namespace quentar
