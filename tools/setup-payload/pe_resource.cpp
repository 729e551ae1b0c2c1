#include "pe_resource.h"

#include <cstdint>
#include <vector>

#include "state/little_endian.h"

namespace setup_payload {

namespace {

using quentar::ReadLe16;
using quentar::ReadLe32;

constexpr size_t kDosLfanew = 0x3C;
constexpr size_t kCoffSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class Image {
public:
    Image(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Has(size_t offset, size_t length) const { return offset <= size_ && length <= size_ - offset; }
    uint16_t U16(size_t offset) const { return ReadLe16(data_ + offset); }
    uint32_t U32(size_t offset) const { return ReadLe32(data_ + offset); }

    // The file offset of `length` bytes at `rva`, which must lie within the
    // stored data of one section. (Sums of 32-bit fields are taken in 64
    // bits, so no check wraps.)
    bool FileOffset(uint64_t rva, uint64_t length, size_t& offset) const {
        for (const Section& s : sections) {
            if (rva < s.virtualAddress) continue;
            const uint64_t into = rva - s.virtualAddress;
            // Past its stored data a section reads as zeros in memory, and
            // past its virtual size it is not mapped: neither holds resources.
            const uint64_t stored = s.virtualSize != 0 && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
            if (into + length > stored) continue;
            const uint64_t at = s.rawOffset + into;
            if (at > SIZE_MAX || !Has(static_cast<size_t>(at), static_cast<size_t>(length))) return false;
            offset = static_cast<size_t>(at);
            return true;
        }
        return false;
    }

    std::vector<Section> sections;

private:
    const uint8_t* data_;
    size_t size_;
};

PeResourceLookup Fail(PeResourceLookup::Status status, std::string problem) {
    PeResourceLookup r;
    r.status = status;
    r.problem = std::move(problem);
    return r;
}

}  // namespace

PeResourceLookup FindPeResource(const uint8_t* data, size_t size, uint32_t type, uint32_t id) {
    Image image(data, size);
    if (!image.Has(0, kDosLfanew + 4) || data[0] != 'M' || data[1] != 'Z') return PeResourceLookup();
    const size_t pe = image.U32(kDosLfanew);
    if (!image.Has(pe, 4) || data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] != 0 || data[pe + 3] != 0) {
        return PeResourceLookup();
    }
    using S = PeResourceLookup::Status;
    const size_t coff = pe + 4;
    if (!image.Has(coff, kCoffSize)) return Fail(S::Malformed, "file header runs past the end");
    const uint16_t sectionCount = image.U16(coff + 2);
    const uint16_t optionalSize = image.U16(coff + 16);
    const size_t optional = coff + kCoffSize;
    if (!image.Has(optional, optionalSize) || optionalSize < 2) return Fail(S::Malformed, "optional header runs past the end");

    // PE32 and PE32+ differ in where the data directories start.
    const uint16_t magic = image.U16(optional);
    size_t directoryCountAt;
    if (magic == 0x10B) {
        directoryCountAt = 92;
    } else if (magic == 0x20B) {
        directoryCountAt = 108;
    } else {
        return Fail(S::Malformed, "optional header of an unknown kind");
    }
    if (optionalSize < directoryCountAt + 4) return Fail(S::Malformed, "optional header too short");
    const uint32_t directoryCount = image.U32(optional + directoryCountAt);
    const size_t resourceEntry = directoryCountAt + 4 + 8 * kResourceDirectoryIndex;
    if (directoryCount <= kResourceDirectoryIndex || optionalSize < resourceEntry + 8) {
        return Fail(S::Missing, "no resources");
    }
    const uint32_t resourceRva = image.U32(optional + resourceEntry);
    if (resourceRva == 0) return Fail(S::Missing, "no resources");

    const size_t sectionTable = optional + optionalSize;
    if (!image.Has(sectionTable, static_cast<size_t>(sectionCount) * kSectionHeaderSize)) {
        return Fail(S::Malformed, "section table runs past the end");
    }
    for (size_t k = 0; k < sectionCount; ++k) {
        const size_t at = sectionTable + k * kSectionHeaderSize;
        image.sections.push_back({image.U32(at + 12), image.U32(at + 8), image.U32(at + 16), image.U32(at + 20)});
    }

    // Three levels: type, name, language. Offsets inside the tree count from
    // its root; each directory is 16 bytes followed by 8-byte entries.
    uint32_t directory = 0;
    const uint32_t wanted[2] = {type, id};
    for (int level = 0; level < 3; ++level) {
        size_t header;
        if (!image.FileOffset(uint64_t{resourceRva} + directory, 16, header)) {
            return Fail(S::Malformed, "resource directory lies outside the file's sections");
        }
        const uint32_t count = static_cast<uint32_t>(image.U16(header + 12)) + image.U16(header + 14);
        size_t entries;
        if (!image.FileOffset(uint64_t{resourceRva} + directory + 16, 8 * count, entries)) {
            return Fail(S::Malformed, "resource directory entries lie outside the file's sections");
        }
        bool found = false;
        for (uint32_t k = 0; k < count && !found; ++k) {
            const uint32_t name = image.U32(entries + 8 * k);
            const uint32_t target = image.U32(entries + 8 * k + 4);
            // Named entries (top bit set) never match a numeric id; at the
            // language level any entry will do.
            if (level < 2 && name != wanted[level]) continue;
            const bool subdirectory = (target & kSubdirectoryBit) != 0;
            if (subdirectory != (level < 2)) return Fail(S::Malformed, "resource tree of an unexpected shape");
            directory = target & ~kSubdirectoryBit;
            found = true;
        }
        if (!found) {
            if (level == 0) return Fail(S::Missing, "no resource of type " + std::to_string(type));
            return Fail(S::Missing, "no resource " + std::to_string(id) + " of type " + std::to_string(type));
        }
    }
    size_t entry;
    if (!image.FileOffset(uint64_t{resourceRva} + directory, 16, entry)) {
        return Fail(S::Malformed, "resource data entry lies outside the file's sections");
    }
    const uint32_t dataRva = image.U32(entry);
    const uint32_t dataSize = image.U32(entry + 4);
    PeResourceLookup r;
    if (!image.FileOffset(dataRva, dataSize, r.offset)) return Fail(S::Malformed, "resource data lies outside the file");
    r.status = S::Found;
    r.size = dataSize;
    return r;
}

}  // namespace setup_payload
