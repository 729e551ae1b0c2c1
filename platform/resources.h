// Reading the program's own resources and those of modules loaded as data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "state/file_version.h"

namespace quentar {

// A resource's bytes inside a loaded module (read-only, valid while the
// module is loaded). Empty when the resource is missing or cannot be loaded.
struct ResourceBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};
ResourceBytes FindResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type);

// The file version from the version resource (RT_VERSION, id 1) of `module`
// (null: this program). Leaves `out` untouched and returns false when there
// is no readable version record.
bool ReadFileVersion(HMODULE module, FileVersion& out);

}  // namespace quentar
