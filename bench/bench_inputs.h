// The benchmark's set of real files and the archive built from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/archive_builder.h"

namespace payload_bench {

struct InputFile {
    std::string path;
    std::string name;
    std::vector<uint8_t> bytes;
};

// Windows PE binaries, a PDF, a JPEG and an MSI: the kinds of files the
// setup program carries. Missing files are skipped; the list of what was
// used goes to stderr.
std::vector<InputFile> LoadInputs();

// Header fields of an entry called `name` (UTF-8), the rest left default.
quentar::EntryFields NamedFields(const std::string& name);

}  // namespace payload_bench
