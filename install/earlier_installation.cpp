#include "install/earlier_installation.h"

#include <windows.h>

#include <cwchar>

#include "install/uninstall_record.h"
#include "platform/resources.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/guid_text.h"

namespace quentar {
namespace {

// A record's display name and file paths are read into buffers of this many
// characters (terminator included); longer ones count as missing.
constexpr DWORD kRecordTextCapacity = 500;

// How this product's records begin their lower-cased display name.
constexpr wchar_t kDisplayNamePrefix[] = L"quentar";
constexpr size_t kDisplayNamePrefixLength = sizeof(kDisplayNamePrefix) / sizeof(wchar_t) - 1;

// The application's executable, as file values name it (A-Z lower-cased).
constexpr char16_t kApplicationFileName[] = u"quentar.exe";

// The file version of the executable `path`, read from its version resource
// with the file loaded as data only; 0.0.0.0 when it has none. False when
// the file cannot be loaded.
bool ReadInstalledVersion(const wchar_t* path, FileVersion& version) {
    UniqueModule module(Sys().LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return false;
    version = FileVersion{};
    ReadFileVersion(module.get(), version);
    return true;
}

// Looks into the "File" values of one record (an open key) and raises the
// installed version to each higher one found.
void ExamineRecordFiles(HKEY record, InstallState& state) {
    wchar_t path[kRecordTextCapacity];
    for (uint32_t n = 0;; ++n) {
        DWORD length = kRecordTextCapacity;
        if (ReadStringValue(record, AsWide(UninstallRecord::FileValueName(n)), path, length) != ERROR_SUCCESS) return;
        // Only an executable in some folder is one of the application's; a
        // bare file name says nothing about where it is.
        const size_t at = ToAsciiLower(FromWide(path, length - 1)).find(kApplicationFileName);
        if (at == U16String::npos || at == 0) continue;
        FileVersion version;
        if (!ReadInstalledVersion(path, version)) continue;
        if (version > state.installedVersion) {
            state.installedVersion = version;
            state.installedFound = true;
        }
    }
}

}  // namespace

bool DetectEarlierInstallation(InstallState& state) {
    state.installedFound = false;
    state.installedVersion = FileVersion{};

    const StringList candidates = ListRecordCandidates();
    for (size_t i = 0; i < candidates.size(); ++i) {
        // Candidate 0 is the product-name key, which needs no GUID form.
        GuidBytes guid;
        if (i > 0 && !ParseGuidText(candidates[i], guid)) continue;
        UniqueKey record;
        if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(UninstallRecord::KeyPath(candidates[i])), 0,
                                UninstallRecord::kReadAccess, record.put()) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t displayName[kRecordTextCapacity];
        DWORD length = kRecordTextCapacity;
        if (ReadStringValue(record.get(), AsWide(UninstallRecord::kDisplayName), displayName, length) !=
            ERROR_SUCCESS) {
            continue;
        }
        ::CharLowerBuffW(displayName, length - 1);
        if (std::wcsncmp(displayName, kDisplayNamePrefix, kDisplayNamePrefixLength) != 0) continue;
        ExamineRecordFiles(record.get(), state);
    }
    return !state.installedFound || state.installedVersion < state.setupVersion;
}

}  // namespace quentar
