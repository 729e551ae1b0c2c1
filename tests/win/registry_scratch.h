// Registry keys made for one test and removed with everything below them when
// the test ends, and raw reads of what a key holds. Windows-only, free of the
// product's code, so that UI tests can use it as well.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace test_registry {

// A fresh GUID in the registry's braced upper-case form (made by the
// system, independently of the product's own formatting).
inline std::wstring NewGuidText() {
    GUID guid{};
    ::CoCreateGuid(&guid);
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

inline bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// What a value holds, byte for byte.
struct RawValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;

    // The bytes as UTF-16 units (a trailing NUL included when stored).
    std::wstring Units() const {
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }
};

inline RawValue ReadRaw(HKEY root, const std::wstring& path, const wchar_t* name) {
    RawValue value;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.exists = ::RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    ::RegCloseKey(key);
    return value;
}

// A key created on construction (with the keys above it that are missing)
// and deleted with its whole tree on destruction.
class ScratchKey {
public:
    ScratchKey(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {
        ::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                          nullptr);
    }
    ~ScratchKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
        ::RegDeleteTreeW(root_, path_.c_str());
        ::RegDeleteKeyW(root_, path_.c_str());
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    bool Created() const { return key_ != nullptr; }
    HKEY Get() const { return key_; }
    const std::wstring& Path() const { return path_; }

    // Stores exactly `byteCount` bytes of `text` (default: with its NUL).
    bool SetText(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ, DWORD byteCount = MAXDWORD) const {
        if (byteCount == MAXDWORD) byteCount = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), byteCount) ==
               ERROR_SUCCESS;
    }
    bool SetDword(const wchar_t* name, DWORD value) const {
        return ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
               ERROR_SUCCESS;
    }

private:
    HKEY root_;
    std::wstring path_;
    HKEY key_ = nullptr;
};

// The files Windows deletes or renames at its next start: the strings of
// PendingFileRenameOperations under the session manager, in pairs (source,
// target; an empty target deletes), sources in the "\??\" form.
inline constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

inline std::vector<std::wstring> PendingRenameStrings() {
    std::vector<std::wstring> strings;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return strings;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        ::RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size / sizeof(wchar_t));
        // NUL-terminated strings, the list ended by an empty one.
        for (size_t start = 0; start < data.size();) {
            const size_t stop = std::min(data.find(L'\0', start), data.size());
            strings.push_back(data.substr(start, stop - start));
            start = stop + 1;
        }
    }
    ::RegCloseKey(key);
    return strings;
}

// Writes PendingFileRenameOperations again without the pairs whose source
// `drop` names (deleting the value when none is left); nothing is written
// when no pair goes.
inline void DropPendingRenames(const std::function<bool(const std::wstring& source)>& drop) {
    const std::vector<std::wstring> strings = PendingRenameStrings();
    std::wstring kept;
    bool dropped = false;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (drop(strings[i])) {
            dropped = true;
            continue;
        }
        kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
    }
    if (!dropped) return;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (kept.empty()) {
        ::RegDeleteValueW(key, kPendingRenames);
    } else {
        kept += L'\0';
        ::RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                         static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
}

}  // namespace test_registry
