#include "platform/resources.h"

#include "platform/module_text.h"

namespace quentar {

ResourceBytes FindResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = ::FindResourceW(module, name, type);
    if (found == nullptr) return {};
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr) return {};
    const void* bytes = ::LockResource(loaded);
    if (bytes == nullptr) return {};
    return {static_cast<const uint8_t*>(bytes), size};
}

bool ReadFileVersion(HMODULE module, FileVersion& out) {
    const ResourceBytes version =
        FindResourceBytes(module ? module : ResourceModule(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    return ScanFixedFileVersion(version.data, version.size, out);
}

}  // namespace quentar
