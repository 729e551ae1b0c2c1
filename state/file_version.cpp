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
