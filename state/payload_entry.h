// One entry of the decoded payload, as the install state and the engine see
// it: a view of its header (the layout of WIN32_FIND_DATAW) followed by its
// decoded data. The decoder that makes the block lives in payload/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/text.h"

namespace quentar {

// Layout of one entry header (the fields of WIN32_FIND_DATAW).
namespace entry_layout {
constexpr size_t kAttributes = 0;
constexpr size_t kCreationTime = 4;
constexpr size_t kLastAccessTime = 12;
constexpr size_t kLastWriteTime = 20;
constexpr size_t kFileSizeHigh = 28;
constexpr size_t kFileSizeLow = 32;
constexpr size_t kReserved0 = 36;
constexpr size_t kReserved1 = 40;
constexpr size_t kFileName = 44;           // 260 UTF-16 units, NUL-terminated
constexpr size_t kFileNameUnits = 260;
constexpr size_t kAlternateFileName = 564; // 14 UTF-16 units
constexpr size_t kAlternateFileNameUnits = 14;
constexpr size_t kHeaderSize = 592;
}  // namespace entry_layout

// A view of one decoded entry: a pointer to its header inside the decoded
// block. The empty value (no header) stands for "none".
class PayloadEntry {
public:
    PayloadEntry() = default;
    explicit PayloadEntry(const uint8_t* header) : header_(header) {}

    explicit operator bool() const { return header_ != nullptr; }
    const uint8_t* Header() const { return header_; }

    uint32_t Attributes() const;
    uint64_t CreationTime() const;     // FILETIME as one 64-bit count
    uint64_t LastAccessTime() const;
    uint64_t LastWriteTime() const;
    uint32_t FileSizeLow() const;      // decoded data length
    // The name up to its NUL (at most 260 units are read).
    U16String FileName() const;
    // The decoded data: FileSizeLow() bytes.
    const uint8_t* Data() const { return header_ + entry_layout::kHeaderSize; }

    friend bool operator==(const PayloadEntry& a, const PayloadEntry& b) { return a.header_ == b.header_; }
    friend bool operator!=(const PayloadEntry& a, const PayloadEntry& b) { return !(a == b); }

private:
    const uint8_t* header_ = nullptr;
};

// Number of units of the NUL-terminated name in the 260-unit field at
// `field` (260 when it holds no NUL).
size_t EntryNameLength(const uint8_t* field);

// Unit k of the name field at `field` (k < 260).
char16_t EntryNameUnit(const uint8_t* field, size_t k);

}  // namespace quentar
