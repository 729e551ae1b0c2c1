#include "install_support.h"

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include "registry_scratch.h"
#include "tests/common/unix_side.h"

namespace ui_test {

namespace {

constexpr wchar_t kSampleWindowClass[] = L"QuentarSampleWindow";

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

std::string Fnv1a(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char text[32];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// COM for the calling thread while the object lives.
class ComScope {
public:
    ComScope() : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (ok_) ::CoUninitialize();
    }

private:
    bool ok_;
};

void SnapshotTree(const std::wstring& folder, std::map<std::wstring, std::string>& files) {
    for (const std::wstring& name : FolderEntries(folder)) {
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files[path] = "folder";
            SnapshotTree(path, files);
            continue;
        }
        const std::optional<std::string> bytes = ReadBytes(path);
        std::string facts = bytes ? std::to_string(bytes->size()) + " bytes, hash " + Fnv1a(*bytes) : "unreadable";
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) facts += ", read-only";
        files[path] = facts;
    }
}

void DeleteKeyTree(HKEY parent, const std::wstring& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t sub[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(sub, length);
    }
    for (const std::wstring& sub : subkeys) DeleteKeyTree(key, sub);
    ::RegCloseKey(key);
    ::RegDeleteKeyW(parent, name.c_str());
}

std::wstring WithoutNtPrefix(const std::wstring& path) {
    return path.compare(0, 4, L"\\??\\") == 0 ? path.substr(4) : path;
}

std::string AppendedBytes(const std::wstring& source, const std::string& tail) {
    const std::optional<std::string> bytes = ReadBytes(source);
    return bytes ? *bytes + tail : std::string();
}

void WriteSz(HKEY key, const wchar_t* name, const std::wstring& text) {
    const std::string bytes = SzBytes(text);
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()));
}

}  // namespace

InstallPlace PlaceFor(const std::string& tag) {
    std::wstring clean;
    for (char c : tag) clean.push_back(isalnum(static_cast<unsigned char>(c)) ? static_cast<wchar_t>(c) : L'-');
    InstallPlace place;
    place.destination = L"C:\\Quentar UI tests\\" + clean;
    place.programFolderName = L"Quentar UI " + clean;
    place.programFolder = ShellFolder(CSIDL_PROGRAMS) + L"\\" + place.programFolderName;
    place.desktopLink = ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Quentar.lnk";
    return place;
}

void ForAllUsers(InstallPlace& place) {
    place.programFolderName = L"Quentar 2009";
    place.programFolder = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Quentar 2009";
    place.desktopLink = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Quentar.lnk";
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) ? std::wstring(path) : std::wstring();
}

// --- Files ---------------------------------------------------------------------

std::optional<std::string> ReadBytes(const std::wstring& path) {
    const ui::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    const ui::ScopedHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void DeleteTree(const std::wstring& folder) {
    // A link goes as a link: what it leads to is not the test's to delete.
    const DWORD own = ::GetFileAttributesW(folder.c_str());
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) {
        unix_side::RemoveUnixLink(folder);
        return;
    }
    for (const std::wstring& name : FolderEntries(folder)) {
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DeleteTree(path);
        } else {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    }
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(folder.c_str());
}

bool MakeWritableForEverybody(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD error = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    return error == ERROR_SUCCESS;
}

const std::vector<PayloadFile>& InstalledPayloadFiles() {
    static const std::vector<PayloadFile> files = {
        {L"Quentar.exe", std::wstring(UI_SAMPLE_FILES) + L"\\QuentarSample.exe"},
        {L"AV2000SDK.dll", std::wstring(UI_SAMPLE_FILES) + L"\\AV2000SDK.dll"},
        {L"help.pdf", std::wstring(UI_SAMPLE_DATA) + L"\\help.pdf"},
        {L"repo.jpg", std::wstring(UI_SAMPLE_DATA) + L"\\repo.jpg"},
        {L"zorbel.dll", std::wstring(UI_SAMPLE_FILES) + L"\\zorbel.dll"},
        {L"zorbelreg.exe", std::wstring(UI_SAMPLE_FILES) + L"\\zorbelreg.exe"},
    };
    return files;
}

FILETIME PayloadFileTime() {
    // Seconds from 1601 to 1970, then to the packing epoch, in 100 ns units.
    const uint64_t ticks = (11644473600ull + UI_PAYLOAD_EPOCH) * 10000000ull;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// --- Registry ------------------------------------------------------------------

std::optional<RegValues> ReadKeyValues(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    RegValues values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD nameLength = 512;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        nameLength = 512;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
            ERROR_SUCCESS) {
            break;
        }
        data.resize(size);
        values[std::wstring(name, nameLength)] = RegValue{type, data};
    }
    ::RegCloseKey(key);
    return values;
}

std::map<std::wstring, RegValues> ReadUninstallKeys() {
    std::map<std::wstring, RegValues> keys;
    HKEY root = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) return keys;
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    ::RegCloseKey(root);
    for (const std::wstring& name : names) {
        keys[name] = ReadKeyValues(std::wstring(kUninstallRoot) + L"\\" + name).value_or(RegValues{});
    }
    return keys;
}

std::vector<std::wstring> RecordsFor(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const auto& [name, values] : ReadUninstallKeys()) {
        const auto it = values.find(L"Folder");
        if (it != values.end() && _wcsicmp(SzText(it->second).c_str(), folder.c_str()) == 0) names.push_back(name);
    }
    return names;
}

std::string SzBytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

std::wstring SzText(const RegValue& value) {
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

const std::vector<std::wstring>& DeploymentValueNames() {
    static const std::vector<std::wstring> names = {L"DisplayVersion", L"Publisher",  L"DisplayIcon",
                                                    L"EstimatedSize",  L"InstallDate", L"QuietUninstallString",
                                                    L"NoModify",       L"NoRepair"};
    return names;
}

namespace {

std::wstring FileVersionText(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return L"(no version)";
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr) {
        return L"(no version)";
    }
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

std::string DwordBytes(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

std::wstring DateText(const SYSTEMTIME& t) {
    wchar_t text[16];
    swprintf(text, 16, L"%04u%02u%02u", t.wYear, t.wMonth, t.wDay);
    return text;
}

}  // namespace

void ExpectDeploymentValues(const RegValues& values, const std::wstring& exe, const std::vector<std::wstring>& files) {
    uint64_t bytes = 0;
    for (const std::wstring& file : files) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
    }
    const RegValues expected = {
        {L"DisplayVersion", {REG_SZ, SzBytes(FileVersionText(exe))}},
        {L"Publisher", {REG_SZ, SzBytes(L"Quentar")}},
        {L"DisplayIcon", {REG_SZ, SzBytes(exe)}},
        {L"EstimatedSize", {REG_DWORD, DwordBytes(static_cast<DWORD>((bytes + 1023) / 1024))}},
        {L"QuietUninstallString", {REG_SZ, SzBytes(L"\"" + exe + L"\" /uninstall /quiet")}},
        {L"NoModify", {REG_DWORD, DwordBytes(1)}},
        {L"NoRepair", {REG_DWORD, DwordBytes(1)}},
    };
    for (const auto& [name, value] : expected) {
        const auto it = values.find(name);
        if (it == values.end()) {
            ADD_FAILURE() << "value " << Narrow(name) << " missing";
            continue;
        }
        EXPECT_TRUE(it->second == value) << Narrow(name) << ": type " << it->second.type << ", text \""
                                         << Narrow(SzText(it->second)) << "\", expected \"" << Narrow(SzText(value))
                                         << "\"";
    }
    // Today's date, or yesterday's when the installation ran before midnight.
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    FILETIME today{};
    ::SystemTimeToFileTime(&now, &today);
    ULARGE_INTEGER earlier{};
    earlier.LowPart = today.dwLowDateTime;
    earlier.HighPart = today.dwHighDateTime;
    earlier.QuadPart -= 24ull * 3600 * 10000000;
    const FILETIME yesterdayTime{earlier.LowPart, earlier.HighPart};
    SYSTEMTIME yesterday{};
    ::FileTimeToSystemTime(&yesterdayTime, &yesterday);
    const auto date = values.find(L"InstallDate");
    ASSERT_TRUE(date != values.end()) << "value InstallDate missing";
    EXPECT_EQ(date->second.type, static_cast<DWORD>(REG_SZ));
    const std::wstring stored = SzText(date->second);
    EXPECT_TRUE(stored == DateText(now) || stored == DateText(yesterday)) << Narrow(stored);
}

std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> deletions;
    const std::vector<std::wstring> strings = test_registry::PendingRenameStrings();
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i + 1].empty()) deletions.push_back(WithoutNtPrefix(strings[i]));
    }
    return deletions;
}

// --- Snapshots -------------------------------------------------------------------

Snapshot TakeSnapshot(const InstallPlace& place) {
    Snapshot snapshot;
    SnapshotTree(place.destination, snapshot.files);
    SnapshotTree(place.programFolder, snapshot.files);
    if (PathExists(place.programFolder)) snapshot.files[place.programFolder] = "folder";
    if (PathExists(place.destination)) snapshot.files[place.destination] = "folder";
    // The desktop shortcut, and any earlier one left under a temporary name.
    const size_t slash = place.desktopLink.rfind(L'\\');
    const std::wstring desktop = place.desktopLink.substr(0, slash);
    const std::wstring linkName = place.desktopLink.substr(slash + 1);
    for (const std::wstring& name : FolderEntries(desktop)) {
        if (!StartsWithNoCase(name, linkName)) continue;
        const std::wstring path = desktop + L"\\" + name;
        if (const auto link = ReadBytes(path)) {
            snapshot.files[path] = std::to_string(link->size()) + " bytes, hash " + Fnv1a(*link);
        }
    }
    snapshot.uninstallKeys = ReadUninstallKeys();
    return snapshot;
}

std::string Differences(const Snapshot& before, const Snapshot& after) {
    std::string lines;
    for (const auto& [path, facts] : before.files) {
        const auto it = after.files.find(path);
        if (it == after.files.end()) {
            lines += "gone: " + Narrow(path) + " (" + facts + ")\n";
        } else if (it->second != facts) {
            lines += "changed: " + Narrow(path) + " (" + facts + " -> " + it->second + ")\n";
        }
    }
    for (const auto& [path, facts] : after.files) {
        if (before.files.count(path) == 0) lines += "new: " + Narrow(path) + " (" + facts + ")\n";
    }
    for (const auto& [key, values] : before.uninstallKeys) {
        const auto it = after.uninstallKeys.find(key);
        if (it == after.uninstallKeys.end()) {
            lines += "key gone: " + Narrow(key) + "\n";
        } else if (it->second != values) {
            lines += "key changed: " + Narrow(key) + "\n";
        }
    }
    for (const auto& [key, values] : after.uninstallKeys) {
        if (before.uninstallKeys.count(key) == 0) lines += "key new: " + Narrow(key) + "\n";
    }
    return lines;
}

// --- Shell links -------------------------------------------------------------------

LinkFacts ReadLink(const std::wstring& file) {
    ComScope com;
    return link_reader::ReadLink(file);
}

bool WriteLink(const std::wstring& file, const std::wstring& target, const std::wstring& arguments,
               const std::wstring& description) {
    ComScope com;
    return link_reader::WriteLink(file, target, arguments, description);
}

// --- The earlier installation -----------------------------------------------------

EarlierInstallation MakeEarlierInstallation(const InstallPlace& place) {
    EarlierInstallation earlier;
    ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
    ::CreateDirectoryW(place.destination.c_str(), nullptr);
    ::CreateDirectoryW(place.programFolder.c_str(), nullptr);

    const std::vector<PayloadFile>& payload = InstalledPayloadFiles();
    // A program runs with bytes appended to it: the older executable still
    // starts, and its content differs from the payload's.
    const std::string olderTail = "\r\nAn earlier installation of Quentar.\r\n";
    earlier.executable = place.destination + L"\\Quentar.exe";
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {earlier.executable, AppendedBytes(payload[0].source, olderTail)},
        {place.destination + L"\\AV2000SDK.dll", AppendedBytes(payload[1].source, olderTail)},
        {place.destination + L"\\help.pdf", "%PDF-1.4\n% the earlier help\n"},
        {place.destination + L"\\repo.jpg", ReadBytes(payload[3].source).value_or("")},
        {place.destination + L"\\notes.txt", "The user's own notes, not the installation's.\r\n"},
    };
    std::vector<std::wstring> recorded;
    for (const auto& [path, bytes] : files) {
        EXPECT_FALSE(bytes.empty()) << Narrow(path);
        EXPECT_TRUE(WriteBytes(path, bytes)) << Narrow(path);
        if (path.find(L"notes.txt") == std::wstring::npos) recorded.push_back(path);
    }
    const std::vector<std::tuple<std::wstring, std::wstring, std::wstring>> links = {
        {place.programFolder + L"\\Quentar.lnk", L"", L"Quentar (earlier)"},
        {place.programFolder + L"\\Uninstall Quentar.lnk", L"/uninstall", L"Uninstall (earlier)"},
        {place.desktopLink, L"", L"Quentar (earlier)"},
    };
    for (const auto& [file, arguments, description] : links) {
        EXPECT_TRUE(WriteLink(file, earlier.executable, arguments, description)) << Narrow(file);
        recorded.push_back(file);
    }

    earlier.keyName = WriteRecord(place.destination, place.programFolder, recorded);
    return earlier;
}

std::wstring WriteRecord(const std::wstring& folder, const std::wstring& programFolder,
                         const std::vector<std::wstring>& files, const std::wstring& displayName) {
    GUID guid{};
    ::CoCreateGuid(&guid);
    wchar_t name[64];
    ::StringFromGUID2(guid, name, 64);
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kUninstallRoot) + L"\\" + name;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    if (key == nullptr) return name;
    WriteSz(key, L"DisplayName", displayName);
    WriteSz(key, L"Folder", folder);
    WriteSz(key, L"Path", programFolder);
    WriteSz(key, L"UninstallString", folder + L"\\Quentar.exe /uninstall");
    const DWORD count = static_cast<DWORD>(files.size());
    ::RegSetValueExW(key, L"Files", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    for (size_t i = 0; i < files.size(); ++i) {
        WriteSz(key, (L"File" + std::to_wstring(i)).c_str(), files[i]);
    }
    ::RegCloseKey(key);
    return name;
}

// --- Processes ---------------------------------------------------------------------

namespace {

struct WindowSearch {
    std::wstring exe;
    std::vector<DWORD> found;
};

BOOL CALLBACK CollectApplication(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    if (ui::ClassName(window) != kSampleWindowClass) return TRUE;
    DWORD id = 0;
    ::GetWindowThreadProcessId(window, &id);
    const ui::ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (process.Get() == nullptr) return TRUE;
    wchar_t image[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (::QueryFullProcessImageNameW(process.Get(), 0, image, &length) && Lower(image) == Lower(search->exe) &&
        std::find(search->found.begin(), search->found.end(), id) == search->found.end()) {
        search->found.push_back(id);
    }
    return TRUE;
}

}  // namespace

std::vector<DWORD> ApplicationProcesses(const std::wstring& exe) {
    WindowSearch search{exe, {}};
    ::EnumWindows(&CollectApplication, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void EndProcess(DWORD id) {
    const ui::ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process.Get() == nullptr) return;
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), 10000);
}

// Deletes the uninstall keys whose "Folder" is `folder`.
void DeleteRecordsOf(const std::wstring& folder) {
    for (const std::wstring& name : RecordsFor(folder)) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, std::wstring(kUninstallRoot) + L"\\" + name);
    }
}

void CleanUp(const InstallPlace& place) {
    for (const ui::ProcessInfo& p : ui::ListProcesses()) {
        if (Lower(p.exeName) != L"quentar.exe") continue;
        const ui::ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.id));
        wchar_t image[MAX_PATH * 2] = {};
        DWORD length = MAX_PATH * 2;
        if (process.Get() != nullptr && ::QueryFullProcessImageNameW(process.Get(), 0, image, &length) &&
            StartsWithNoCase(image, place.destination + L"\\")) {
            EndProcess(p.id);
        }
    }
    DeleteTree(place.destination);
    DeleteTree(place.programFolder);
    ::DeleteFileW(place.desktopLink.c_str());
    // Earlier desktop shortcuts moved aside ("Quentar.lnk.<32 digits>") and
    // new ones not yet in place ("Quentar.lnk.~<8 digits>").
    const size_t slash = place.desktopLink.rfind(L'\\');
    const std::wstring desktop = place.desktopLink.substr(0, slash);
    const std::wstring linkName = place.desktopLink.substr(slash + 1) + L".";
    for (const std::wstring& name : FolderEntries(desktop)) {
        if (StartsWithNoCase(name, linkName) &&
            (name.size() == linkName.size() + 32 || (name.size() == linkName.size() + 9 && name[linkName.size()] == L'~'))) {
            ::DeleteFileW((desktop + L"\\" + name).c_str());
        }
    }
    // Journals of runs a test ended abruptly: the next run would take them
    // back in another test's place.
    const std::wstring journals = ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Quentar Setup\\Journal";
    for (const std::wstring& name : FolderEntries(journals)) ::DeleteFileW((journals + L"\\" + name).c_str());

    DeleteRecordsOf(place.destination);

    // Scheduled deletions of files under the destination go with it.
    const std::wstring inside = place.destination + L"\\";
    test_registry::DropPendingRenames(
        [&](const std::wstring& source) { return StartsWithNoCase(WithoutNtPrefix(source), inside); });
}

void RecordUpdateTarget() {
    const std::wstring folder = kUpdateTargetFolder;
    ::CreateDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str(), nullptr);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    RemoveUpdateTarget();
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << "error " << ::GetLastError();
    WriteRecord(folder, L"", {folder + L"\\Quentar.exe"});
}

void RemoveUpdateTarget() {
    DeleteTree(kUpdateTargetFolder);
    DeleteRecordsOf(kUpdateTargetFolder);
}

std::wstring SystemText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, error,
        0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
    if (buffer != nullptr) ::LocalFree(buffer);
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L" ");
    const size_t first = text.find_first_not_of(L" \t\r\n");
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

// --- Driving the wizard --------------------------------------------------------------

namespace {

// Ticks or clears a box of the page `templateId`.
bool SetCheck(const ui::Wizard& wizard, int templateId, int id, bool checked) {
    // A box already as wanted is left alone, also when it is disabled (a
    // component the payload does not carry); any other is clicked.
    if (!wizard.WaitForSettled(templateId)) return false;
    if (wizard.IsChecked(id) == checked) return true;
    return wizard.Click(templateId, id) && ui::WaitUntil([&] { return wizard.IsChecked(id) == checked; });
}

}  // namespace

bool InstallTest::WalkToProgress(const ui::Wizard& wizard, DWORD processId, const WalkChoices& choices) {
    const InstallPlace& place = place_;
    if (!WaitForLoaded(wizard)) {
        ADD_FAILURE() << "the welcome page did not finish loading";
        return false;
    }
    // An earlier installation of the same version leaves the application
    // unticked: tick it to install again. The Arecont runtime follows it.
    if (!SetCheck(wizard, IDD_WELCOME, IDC_APPLICATION_BOX, true) ||
        !ui::WaitUntil([&] { return wizard.IsChecked(IDC_ARECONT_BOX); }) ||
        !SetCheck(wizard, IDD_WELCOME, IDC_AXIS_BOX, choices.axisRuntime)) {
        ADD_FAILURE() << "the components cannot be chosen on the welcome page";
        return false;
    }
    if (!wizard.Next(IDD_WELCOME) || !wizard.WaitForPage(IDD_LICENSE)) {
        ADD_FAILURE() << "Next did not lead to the licence agreement; page " << wizard.CurrentPageId();
        return false;
    }
    if (!wizard.Click(IDD_LICENSE, IDC_AGREE) || !wizard.Next(IDD_LICENSE) || !wizard.WaitForPage(IDD_DESTINATION)) {
        ADD_FAILURE() << "agreeing and Next did not lead to the destination page; page " << wizard.CurrentPageId();
        return false;
    }
    if (!wizard.WaitForSettled(IDD_DESTINATION) ||
        !wizard.SetText(IDC_PROGRAM_FOLDER, place.programFolderName) ||
        !wizard.SetText(IDC_DESTINATION, place.destination) ||
        !SetCheck(wizard, IDD_DESTINATION, IDC_DESKTOP_BOX, choices.desktopShortcut)) {
        ADD_FAILURE() << "the destination page's fields cannot be filled";
        return false;
    }
    if (!wizard.Next(IDD_DESTINATION)) {
        ADD_FAILURE() << "Next cannot be pressed on the destination page";
        return false;
    }
    // Only pixels and window states from here on: once the progress page is
    // shown, the setup program installs and answers no messages.
    bool answered = false;
    const bool reached = ui::WaitUntil([&] {
        const HWND bar = FindProgressBar(wizard.Sheet());
        if (bar != nullptr && ::IsWindowVisible(bar)) return true;
        if (!answered) {
            if (const auto box = ui::FindMessageBox(processId, ui::Duration{0})) {
                if (box->Text().rfind(L"The path doesn't exist:", 0) != 0) return false;
                answered = box->Answer(IDYES);
            }
        }
        return false;
    });
    if (!reached) {
        const auto box = ui::FindMessageBox(processId, ui::Duration{0});
        ADD_FAILURE() << "the progress page did not appear"
                      << (box ? ", a box says \"" + Narrow(box->Text()) + "\"" : std::string());
        return false;
    }
    return true;
}

namespace {

BOOL CALLBACK MatchProgressBar(HWND window, LPARAM context) {
    if (::GetDlgCtrlID(window) != IDC_PROGRESS || ui::ClassName(window) != L"msctls_progress32") return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}

}  // namespace

HWND FindProgressBar(HWND sheet) {
    HWND found = nullptr;
    ::EnumChildWindows(sheet, &MatchProgressBar, reinterpret_cast<LPARAM>(&found));
    return found;
}

int ProgressFillPercent(HWND bar) {
    RECT rect{};
    if (bar == nullptr || !::IsWindowVisible(bar) || !::GetWindowRect(bar, &rect)) return -1;
    // The bar's inside, without its border.
    const int width = rect.right - rect.left - 4;
    const int y = (rect.top + rect.bottom) / 2;
    if (width <= 0) return -1;
    const HDC screen = ::GetDC(nullptr);
    const COLORREF fill = ::GetSysColor(COLOR_HIGHLIGHT);
    int filled = 0;
    for (int x = 0; x < width; ++x) {
        const COLORREF pixel = ::GetPixel(screen, rect.left + 2 + x, y);
        const int distance = std::abs(GetRValue(pixel) - GetRValue(fill)) + std::abs(GetGValue(pixel) - GetGValue(fill)) +
                             std::abs(GetBValue(pixel) - GetBValue(fill));
        if (distance < 60) ++filled;
    }
    ::ReleaseDC(nullptr, screen);
    return filled * 100 / width;
}

// --- The base ------------------------------------------------------------------------

void InstallTest::SetUp() {
    UiTest::SetUp();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    place_ = PlaceFor(std::string(info->test_suite_name()) + "-" + info->name());
    CleanUp(place_);
}

void InstallTest::TearDown() {
    UiTest::TearDown();
    CleanUp(place_);
}

ui::SetupProcess& InstallTest::StartSetup(const std::wstring& exe, const std::wstring& fault,
                                          const std::vector<std::wstring>& args) {
    olderProcesses_.clear();
    for (const ui::ProcessInfo& p : ui::ListProcesses()) olderProcesses_.insert(p.id);
    ::SetEnvironmentVariableW(L"QUENTAR_FAULT", fault.empty() ? nullptr : fault.c_str());
    ui::SetupProcess& process = Start(exe, args);
    ::SetEnvironmentVariableW(L"QUENTAR_FAULT", nullptr);
    return process;
}

std::vector<ui::ProcessInfo> InstallTest::StartedBySetup() {
    std::vector<ui::ProcessInfo> children;
    for (const ui::ProcessInfo& p : ui::ListProcesses()) {
        // Process ids are reused: a process older than the setup program
        // may name a parent that had its id.
        if (p.parentId == Process().Id() && Lower(p.exeName) != L"explorer.exe" && olderProcesses_.count(p.id) == 0) {
            children.push_back(p);
        }
    }
    return children;
}

}  // namespace ui_test
