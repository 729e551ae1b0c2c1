#include "platform/folder_security.h"

#include <sddl.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/wide.h"

namespace quentar {
namespace {

// Rights that change a folder, what is in it, or who may do so.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                        FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

// How many fresh names CreatePrivateFolder draws before it gives up.
constexpr int kPrivateNameAttempts = 8;

constexpr char16_t kSetupDataFolderName[] = u"Quentar Setup";

// The accounts trusted to change installed files, as SDDL SID strings:
// Administrators, SYSTEM, TrustedInstaller, CREATOR OWNER.
constexpr const wchar_t* kTrustedSids[] = {
    L"S-1-5-32-544", L"S-1-5-18", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", L"S-1-3-0"};

bool IsTrusted(PSID sid, PSID installingUser) {
    if (sid == nullptr || !::IsValidSid(sid)) return false;
    if (installingUser != nullptr && ::IsValidSid(installingUser) && ::EqualSid(sid, installingUser)) return true;
    for (const wchar_t* text : kTrustedSids) {
        PSID trusted = nullptr;
        if (!::ConvertStringSidToSidW(text, &trusted)) continue;
        const UniqueLocal held(trusted);
        if (::EqualSid(sid, trusted)) return true;
    }
    return false;
}

// 32 lower-case hexadecimal digits of a fresh GUID; empty when none can be
// made.
U16String FreshHexName() {
    GUID guid{};
    if (FAILED(Sys().CoCreateGuid(&guid))) return U16String();
    uint8_t bytes[sizeof(GUID)];
    std::memcpy(bytes, &guid, sizeof(bytes));
    return LowerHexOfBytes(bytes, sizeof(bytes));
}

// Sets the owner (when the text names one) and the DACL of the SDDL text
// `rights` on `path`; `protection` (PROTECTED_ or
// UNPROTECTED_DACL_SECURITY_INFORMATION) says whether the DACL also takes
// what the parent passes on. 0 or the error.
DWORD SetRights(const U16String& path, U16View rights, SECURITY_INFORMATION protection) {
    SddlDescriptor descriptor;
    if (const DWORD error = descriptor.Parse(rights)) return error;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    PACL dacl = nullptr;
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor.get(), &owner, &ownerDefaulted) ||
        !::GetSecurityDescriptorDacl(descriptor.get(), &daclPresent, &dacl, &daclDefaulted) || !daclPresent) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | protection;
    if (owner != nullptr) what |= OWNER_SECURITY_INFORMATION;
    std::vector<wchar_t> name(path.begin(), path.end());
    name.push_back(L'\0');
    return Sys().SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr);
}

U16String WithoutTrailingBackslash(U16String path) {
    // "C:\" keeps its backslash: without it, it would name the drive's
    // current folder.
    while (path.size() > 3 && path.back() == u'\\') path.pop_back();
    return path;
}

}  // namespace

DWORD SddlDescriptor::Parse(U16View sddl) {
    memory_.reset();
    const U16String text(sddl);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(AsWide(text), SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    memory_.reset(descriptor);
    return ERROR_SUCCESS;
}

SECURITY_ATTRIBUTES* SddlDescriptor::Attributes() {
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = get();
    attributes_.bInheritHandle = FALSE;
    return &attributes_;
}

U16String DescriptorText(PSECURITY_DESCRIPTOR descriptor) {
    if (descriptor == nullptr) return U16String();
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return U16String();
    }
    const UniqueLocal held(text);
    return FromWide(text);
}

DWORD CreateFolderWithRights(const U16String& path, U16View rights) {
    SddlDescriptor descriptor;
    if (const DWORD error = descriptor.Parse(rights)) return error;
    if (Sys().CreateDirectoryW(AsWide(path), descriptor.Attributes())) return ERROR_SUCCESS;
    return LastErrorOr(ERROR_ACCESS_DENIED);
}

DWORD ApplyRights(const U16String& path, U16View rights) {
    return SetRights(path, rights, PROTECTED_DACL_SECURITY_INFORMATION);
}

DWORD ReadRights(const U16String& path, U16String& sddl) {
    sddl.clear();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        Sys().GetNamedSecurityInfoW(AsWide(path), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return error;
    const UniqueLocal held(descriptor);
    sddl = DescriptorText(descriptor);
    return sddl.empty() ? ERROR_INVALID_SECURITY_DESCR : ERROR_SUCCESS;
}

DWORD InheritRights(const U16String& path) {
    // An empty DACL that is not protected: the system fills it with what the
    // folder passes on.
    return SetRights(path, u"O:BAD:", UNPROTECTED_DACL_SECURITY_INFORMATION);
}

bool OthersMayWrite(PSECURITY_DESCRIPTOR descriptor, PSID installingUser) {
    if (descriptor == nullptr) return true;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrusted(owner, installingUser)) {
        return true;
    }
    PACL dacl = nullptr;
    BOOL present = FALSE;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return true;
    // No DACL at all: everybody may do everything.
    if (!present || dacl == nullptr) return true;
    ACL_SIZE_INFORMATION size{};
    if (!::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return true;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return true;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Only allowing ACEs give rights; a denying one can only take them.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangingRights) == 0) continue;
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (!IsTrusted(sid, installingUser)) return true;
    }
    return false;
}

ProcessAccount::ProcessAccount() {
    UniqueHandle token;
    if (!Sys().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return;
    DWORD needed = 0;
    ::GetTokenInformation(token.get(), ::TokenUser, nullptr, 0, &needed);
    if (needed == 0) return;
    UniqueLocal memory(::LocalAlloc(LMEM_FIXED, needed));
    if (!memory || !::GetTokenInformation(token.get(), ::TokenUser, memory.get(), needed, &needed)) return;
    memory_ = std::move(memory);
}

PSID ProcessAccount::Sid() const {
    return memory_ ? static_cast<const TOKEN_USER*>(memory_.get())->User.Sid : nullptr;
}

DWORD JudgeExistingFolder(const U16String& path, U16String& found, bool& othersMayWrite) {
    found.clear();
    othersMayWrite = true;
    const DWORD attributes = Sys().GetFileAttributesW(AsWide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kReparsePointEncountered;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD readError =
        Sys().GetNamedSecurityInfoW(AsWide(path), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr, &descriptor);
    const UniqueLocal held(descriptor);
    // Rights that cannot be read cannot be trusted either.
    if (readError != ERROR_SUCCESS) return ERROR_SUCCESS;
    found = DescriptorText(descriptor);
    const ProcessAccount user;
    othersMayWrite = OthersMayWrite(descriptor, user.Sid());
    return ERROR_SUCCESS;
}

DWORD EnsureAdministratorsOnlyFolder(const U16String& path, FolderRights* rights) {
    FolderRights outcome;
    if (Sys().GetFileAttributesW(AsWide(path)) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = CreateFolderWithRights(path, kAdministratorsOnlyRights);
        if (error == ERROR_SUCCESS) {
            outcome.created = true;
            outcome.set = kAdministratorsOnlyRights;
            if (rights != nullptr) *rights = outcome;
            return ERROR_SUCCESS;
        }
        // Made by somebody else in the meantime: judged below like any
        // folder found there.
        if (Sys().GetFileAttributesW(AsWide(path)) == INVALID_FILE_ATTRIBUTES) return error;
    }
    bool othersMayWrite = true;
    if (const DWORD error = JudgeExistingFolder(path, outcome.found, othersMayWrite)) return error;
    if (othersMayWrite) {
        if (const DWORD error = ApplyRights(path, kAdministratorsOnlyRights)) return error;
        outcome.changed = true;
        outcome.set = kAdministratorsOnlyRights;
    }
    if (rights != nullptr) *rights = outcome;
    return ERROR_SUCCESS;
}

DWORD CreatePrivateFolder(const U16String& parent, U16View prefix, U16String& made) {
    made.clear();
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < kPrivateNameAttempts && error == ERROR_ALREADY_EXISTS; ++attempt) {
        const U16String hex = FreshHexName();
        if (hex.empty()) return ERROR_NOT_ENOUGH_MEMORY;
        const U16String path = JoinPath(parent, U16String(prefix) + hex);
        error = CreateFolderWithRights(path, kAdministratorsOnlyRights);
        if (error == ERROR_SUCCESS) made = path;
    }
    return error;
}

U16String SystemTempFolder() {
    using GetTempPath2WFunction = DWORD(WINAPI*)(DWORD, LPWSTR);
    GetTempPath2WFunction getTempPath2 = nullptr;
    if (const HMODULE kernel = Sys().GetModuleHandleW(L"kernel32.dll")) {
        getTempPath2 = reinterpret_cast<GetTempPath2WFunction>(
            reinterpret_cast<void*>(Sys().GetProcAddress(kernel, "GetTempPath2W")));
    }
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length =
        getTempPath2 != nullptr ? getTempPath2(MAX_PATH + 1, buffer) : Sys().GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return U16String();
    return WithoutTrailingBackslash(FromWide(buffer, length));
}

bool RemoveFolderTree(const U16String& path) {
    WIN32_FIND_DATAW found{};
    UniqueFind search(Sys().FindFirstFileW(AsWide(JoinPath(path, u"*")), &found));
    if (search) {
        do {
            const U16String name = FromWide(found.cFileName);
            if (name == u"." || name == u"..") continue;
            const U16String child = JoinPath(path, name);
            const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (folder && !link) {
                RemoveFolderTree(child);
            } else if (folder) {
                // The link goes, not what it points at.
                Sys().RemoveDirectoryW(AsWide(child));
            } else {
                Sys().SetFileAttributesW(AsWide(child), FILE_ATTRIBUTE_NORMAL);
                Sys().DeleteFileW(AsWide(child));
            }
        } while (Sys().FindNextFileW(search.get(), &found));
        search.reset();
    }
    Sys().RemoveDirectoryW(AsWide(path));
    return Sys().GetFileAttributesW(AsWide(path)) == INVALID_FILE_ATTRIBUTES;
}

DWORD SetupDataFolder(U16String& path, FolderRights* rights) {
    path.clear();
    UniqueCoTaskMem list;
    const HRESULT located =
        Sys().SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()));
    if (FAILED(located)) return HRESULT_CODE(located) != 0 ? HRESULT_CODE(located) : ERROR_PATH_NOT_FOUND;
    // The shell writes at most MAX_PATH characters.
    wchar_t folder[MAX_PATH + 1] = {};
    if (!Sys().SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(list.get()), folder) || folder[0] == L'\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    const U16String candidate = JoinPath(WithoutTrailingBackslash(FromWide(folder)), kSetupDataFolderName);
    if (const DWORD error = EnsureAdministratorsOnlyFolder(candidate, rights)) return error;
    path = candidate;
    return ERROR_SUCCESS;
}

}  // namespace quentar
