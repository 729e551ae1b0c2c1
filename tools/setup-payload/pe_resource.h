// Finds a resource in a Windows executable's bytes, so the archive tool can
// read the payload that a built Setup.exe carries. Portable: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace setup_payload {

constexpr uint32_t kResourceTypeRcData = 10;  // RT_RCDATA
constexpr uint32_t kPayloadResourceId = 101;
// The payload's SHA-256 as 64 hexadecimal digits, which Setup.exe checks
// its payload against before decoding it.
constexpr uint32_t kPayloadDigestResourceId = 103;

struct PeResourceLookup {
    enum Status {
        NotExecutable,  // no "MZ" header leading to a "PE\0\0" signature: not a PE file at all
        Found,          // [offset, offset + size) of the file holds the resource's data
        Missing,        // a readable executable without that resource
        Malformed,      // headers, sections or the resource tree point outside the file
    };
    Status status = NotExecutable;
    size_t offset = 0;
    size_t size = 0;
    std::string problem;  // what is wrong (Malformed) or missing (Missing), one line
};

// Looks up the resource of numeric `type` and `id` (the first language
// present) in the `size` bytes at `image`, a whole PE32 or PE32+ file as
// stored on disk. Every header, directory entry and data range is checked
// against `size` before it is read; a directory tree that points outside the
// resource section, or data that lies outside the file, is Malformed.
PeResourceLookup FindPeResource(const uint8_t* image, size_t size, uint32_t type, uint32_t id);

}  // namespace setup_payload
