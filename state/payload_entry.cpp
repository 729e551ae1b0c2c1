#include "state/payload_entry.h"

#include "state/little_endian.h"

namespace quentar {

using namespace entry_layout;

size_t EntryNameLength(const uint8_t* field) {
    size_t n = 0;
    while (n < kFileNameUnits && EntryNameUnit(field, n) != 0) ++n;
    return n;
}

char16_t EntryNameUnit(const uint8_t* field, size_t k) { return static_cast<char16_t>(ReadLe16(field + 2 * k)); }

uint32_t PayloadEntry::Attributes() const { return ReadLe32(header_ + kAttributes); }
uint64_t PayloadEntry::CreationTime() const { return ReadLe64(header_ + kCreationTime); }
uint64_t PayloadEntry::LastAccessTime() const { return ReadLe64(header_ + kLastAccessTime); }
uint64_t PayloadEntry::LastWriteTime() const { return ReadLe64(header_ + kLastWriteTime); }
uint32_t PayloadEntry::FileSizeLow() const { return ReadLe32(header_ + kFileSizeLow); }

U16String PayloadEntry::FileName() const {
    const uint8_t* const field = header_ + kFileName;
    const size_t length = EntryNameLength(field);
    U16String name(length, u'\0');
    for (size_t k = 0; k < length; ++k) name[k] = EntryNameUnit(field, k);
    return name;
}

}  // namespace quentar
