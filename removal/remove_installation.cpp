#include "removal/remove_installation.h"

#include <vector>

#include "install/engine_support.h"
#include "install/file_install.h"
#include "install/staged_names.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"

namespace quentar {

namespace {

constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, no registry-view flag.
constexpr REGSAM kRecordAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
// Room for one subkey name while the record's subkeys are listed.
constexpr DWORD kSubkeyNameCapacity = 555;

using RegDeleteKeyExWFunction = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

struct DeleteKeyExLookup {
    bool asked = false;
    RegDeleteKeyExWFunction function = nullptr;
};

DeleteKeyExLookup& Lookup() {
    static DeleteKeyExLookup lookup;
    return lookup;
}

void DeleteFiles(const InstallState& state, InstallFeedback& feedback) {
    for (const U16String& file : state.installedFiles) {
        if (ContainsIgnoreAsciiCase(state.keptFiles, file)) {
            feedback.Log(u"rollback: kept the earlier installation's file " + file);
            continue;
        }
        if (Sys().DeleteFileW(AsWide(file))) {
            feedback.Log(u"rollback: deleted " + file);
        } else {
            feedback.Log(u"rollback: cannot delete " + file + u": " + DescribeError(::GetLastError()));
        }
    }
}

void RestoreReplacedFiles(InstallState& state, InstallFeedback& feedback) {
    StringList left;
    for (const U16String& aside : state.replacedFiles) {
        const U16String original = OriginalNameOf(aside);
        if (!TargetOfTemporaryName(aside).empty()) {
            // A new file's temporary name whose deletion failed before: it
            // is no earlier file, it only has to go.
            if (Sys().DeleteFileW(AsWide(aside))) {
                feedback.Log(u"rollback: deleted " + aside);
            } else {
                feedback.Log(u"rollback: cannot delete " + aside + u": " + DescribeError(::GetLastError()));
                left.push_back(aside);
            }
        } else if (original.empty()) {
            feedback.Log(u"rollback: not a temporary name, left as it is: " + aside);
            left.push_back(aside);
        } else if (Sys().MoveFileExW(AsWide(aside), AsWide(original), MOVEFILE_WRITE_THROUGH)) {
            feedback.Log(u"rollback: moved back " + aside + u" -> " + original);
        } else {
            feedback.Log(u"rollback: cannot move back " + aside + u" -> " + original + u": " +
                         DescribeError(::GetLastError()));
            left.push_back(aside);
        }
    }
    state.replacedFiles = std::move(left);
}

void RemoveFolders(const InstallState& state, InstallFeedback& feedback) {
    for (const U16String& folder : state.installedFolders) {
        if (Sys().RemoveDirectoryW(AsWide(folder))) {
            feedback.Log(u"rollback: removed the folder " + folder);
        } else {
            feedback.Log(u"rollback: folder left: " + folder + u": " + DescribeError(::GetLastError()));
        }
    }
}

// Deletes the record key's own subkeys, one level deep.
void RemoveRecordSubkeys(const U16String& keyPath, InstallFeedback& feedback) {
    UniqueKey record;
    if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(keyPath), 0, kRecordAccess, record.put()) != ERROR_SUCCESS) {
        return;
    }
    // All names first: deleting while enumerating would shift the indices.
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kSubkeyNameCapacity];
        DWORD length = kSubkeyNameCapacity;
        FILETIME written;
        if (Sys().RegEnumKeyExW(record.get(), index, name, &length, nullptr, nullptr, nullptr, &written) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    for (const std::wstring& name : names) {
        const LSTATUS result = RemoveSubkey(record.get(), name.c_str());
        feedback.Log(u"rollback: subkey " + FromWide(name.c_str()) +
                     (result == ERROR_SUCCESS ? U16String(u" deleted") : u" left: " + DescribeError(result)));
    }
}

void RemoveRecordKey(const U16String& keyPath, InstallFeedback& feedback) {
    UniqueKey root;
    if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, kRecordAccess, root.put()) != ERROR_SUCCESS) {
        feedback.Log(u"rollback: cannot open the uninstall root");
        return;
    }
    const size_t slash = keyPath.rfind(u'\\');
    const U16String name = slash == U16String::npos ? keyPath : keyPath.substr(slash + 1);
    const LSTATUS result = RemoveSubkey(root.get(), AsWide(name));
    feedback.Log(u"rollback: record key " + keyPath +
                 (result == ERROR_SUCCESS ? U16String(u" deleted") : u" left: " + DescribeError(result)));
}

}  // namespace

LSTATUS RemoveSubkey(HKEY key, const wchar_t* name) {
    DeleteKeyExLookup& lookup = Lookup();
    if (!lookup.asked) {
        lookup.asked = true;
        const HMODULE advapi = Sys().GetModuleHandleW(L"Advapi32.dll");
        if (advapi != nullptr) {
            lookup.function = reinterpret_cast<RegDeleteKeyExWFunction>(
                reinterpret_cast<void*>(Sys().GetProcAddress(advapi, "RegDeleteKeyExW")));
        }
    }
    if (lookup.function != nullptr) return lookup.function(key, name, 0, 0);
    return Sys().RegDeleteKeyW(key, name);
}

void ForgetRegDeleteKeyExLookup() { Lookup() = DeleteKeyExLookup(); }

void RemoveInstallation(InstallState& state, InstallFeedback& feedback) {
    DeleteFiles(state, feedback);
    RestoreReplacedFiles(state, feedback);
    RemoveFolders(state, feedback);
    if (state.uninstallKeyPath.empty()) return;
    RemoveRecordSubkeys(state.uninstallKeyPath, feedback);
    RemoveRecordKey(state.uninstallKeyPath, feedback);
}

}  // namespace quentar
