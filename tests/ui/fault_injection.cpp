// Linked into the fault-injecting test build of the setup program only, never
// into the shipped one: failures that Wine cannot produce for real, switched
// on by the environment variable QUENTAR_FAULT when the program starts.
//
//   RegCreateKeyExW              creating a key under the uninstall root is
//                                refused (ERROR_ACCESS_DENIED)
//   RegSetValueExW:<value>       writing the value <value> is refused
//                                (ERROR_ACCESS_DENIED)
//   WriteFile-short:<file>       every write to a file whose name is <file>
//                                stores half of what it was given (none of a
//                                single byte) and reports that count
//   WriteFile-full:<file>:<n>    the n-th write (from 1) to such a file and
//                                every later one fails with ERROR_DISK_FULL
//   MoveFileW:<file>             moving a file onto a name whose last
//                                component is <file> is refused
//                                (ERROR_ACCESS_DENIED)
//   GetTickCount-fast            the tick count runs a hundred times faster
//                                than the real one (a minute in 0.6 s)
//   WindowStation-hidden         the process's window station is not the
//                                interactive one (as for a service or the
//                                system account in session 0)
//   Kill-at:<n>                  the process ends itself abruptly
//                                (TerminateProcess, exit code 77, no
//                                clean-up) just before the n-th change of
//                                the machine (from 1): a file or folder
//                                created, written, given times or
//                                attributes, moved or deleted, a key created
//                                or deleted, a value written. The run's own
//                                bookkeeping (its log, its journal and the
//                                setup data folder) does not count.
//
// A file is named by its last component; a new file's temporary name (the
// file's name, ".~" and 8 digits) counts as the file's.
//
// An unknown setting ends the program with exit code 3 before any window
// opens, so that a test cannot mistake it for a run without faults.
#include <windows.h>

#include <cwchar>
#include <set>
#include <string>

#include "install/staged_names.h"
#include "install/uninstall_record.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

bool StartsWithNoCase(const wchar_t* text, const std::wstring& prefix) {
    return text != nullptr && _wcsnicmp(text, prefix.c_str(), prefix.size()) == 0;
}

// Whether the last component of `path` is `name`, or the temporary name of a
// new file called so.
bool NamesFile(const wchar_t* path, const std::wstring& name) {
    if (path == nullptr) return false;
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    const wchar_t* last = slash != nullptr ? slash + 1 : path;
    if (_wcsicmp(last, name.c_str()) == 0) return true;
    const U16String target = TargetOfTemporaryName(FromWide(last));
    return !target.empty() && _wcsicmp(AsWide(target), name.c_str()) == 0;
}

// The run's own bookkeeping, which no Kill-at counts: the setup data folder
// (the journal) and the log, which is opened for appending only.
bool IsBookkeeping(const wchar_t* path) {
    return path != nullptr && std::wcsstr(path, L"\\Quentar Setup\\") != nullptr;
}

// The exit code of a run ended by Kill-at.
constexpr UINT kKilledExitCode = 77;

class FaultInjection final : public ForwardingSystemApi {
public:
    enum class Kind { None, KeyCreation, ValueWrite, ShortWrite, FullDisk, MoveRefused, FastClock, HiddenStation, Kill };

    FaultInjection(SystemApi& inner, const std::wstring& setting) : ForwardingSystemApi(inner) {
        const size_t colon = setting.find(L':');
        const std::wstring call = setting.substr(0, colon);
        const std::wstring rest = colon == std::wstring::npos ? L"" : setting.substr(colon + 1);
        if (call == L"RegCreateKeyExW" && rest.empty()) {
            kind_ = Kind::KeyCreation;
        } else if (call == L"RegSetValueExW" && !rest.empty()) {
            kind_ = Kind::ValueWrite;
            target_ = rest;
        } else if (call == L"WriteFile-short" && !rest.empty()) {
            kind_ = Kind::ShortWrite;
            target_ = rest;
        } else if (call == L"MoveFileW" && !rest.empty()) {
            kind_ = Kind::MoveRefused;
            target_ = rest;
        } else if (call == L"WindowStation-hidden" && rest.empty()) {
            kind_ = Kind::HiddenStation;
        } else if (call == L"GetTickCount-fast" && rest.empty()) {
            kind_ = Kind::FastClock;
            start_ = inner_.GetTickCount();
        } else if (call == L"Kill-at" && !rest.empty()) {
            killAt_ = std::wcstoul(rest.c_str(), nullptr, 10);
            if (killAt_ > 0) kind_ = Kind::Kill;
        } else if (call == L"WriteFile-full") {
            const size_t second = rest.find(L':');
            target_ = rest.substr(0, second);
            if (second != std::wstring::npos) failFrom_ = std::wcstoul(rest.c_str() + second + 1, nullptr, 10);
            if (!target_.empty() && failFrom_ > 0) kind_ = Kind::FullDisk;
        }
    }

    bool Valid() const { return kind_ != Kind::None; }

    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        const bool writes = (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
        const bool changes = writes && !IsBookkeeping(name);
        if (changes) Change();
        const HANDLE file = inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
        if (file != INVALID_HANDLE_VALUE && changes) counted_.insert(file);
        if (file != INVALID_HANDLE_VALUE && writes && (kind_ == Kind::ShortWrite || kind_ == Kind::FullDisk) &&
            NamesFile(name, target_)) {
            watched_.insert(file);
        }
        return file;
    }

    BOOL CloseHandle(HANDLE handle) override {
        watched_.erase(handle);
        counted_.erase(handle);
        return inner_.CloseHandle(handle);
    }

    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        if (counted_.count(file) != 0) Change();
        if (watched_.count(file) == 0) return inner_.WriteFile(file, buffer, size, done, overlapped);
        ++writes_;
        if (kind_ == Kind::ShortWrite) return inner_.WriteFile(file, buffer, size / 2, done, overlapped);
        if (writes_ >= failFrom_) {
            if (done != nullptr) *done = 0;
            ::SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        return inner_.WriteFile(file, buffer, size, done, overlapped);
    }

    BOOL MoveFileW(LPCWSTR from, LPCWSTR to) override {
        if (kind_ == Kind::MoveRefused && NamesFile(to, target_)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        Change();
        return inner_.MoveFileW(from, to);
    }

    BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed) override {
        const BOOL read = inner_.GetUserObjectInformationW(object, index, info, size, needed);
        if (read && kind_ == Kind::HiddenStation && index == UOI_FLAGS && size >= sizeof(USEROBJECTFLAGS)) {
            static_cast<USEROBJECTFLAGS*>(info)->dwFlags &= ~static_cast<DWORD>(WSF_VISIBLE);
        }
        return read;
    }

    BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
        Change();
        return inner_.MoveFileExW(from, to, flags);
    }

    BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* access, const FILETIME* write) override {
        if (counted_.count(file) != 0) Change();
        return inner_.SetFileTime(file, creation, access, write);
    }

    BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) override {
        if (!IsBookkeeping(name)) Change();
        return inner_.SetFileAttributesW(name, attributes);
    }

    BOOL DeleteFileW(LPCWSTR name) override {
        if (!IsBookkeeping(name)) Change();
        return inner_.DeleteFileW(name);
    }

    BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security) override {
        if (!IsBookkeeping(name)) Change();
        return inner_.CreateDirectoryW(name, security);
    }

    BOOL RemoveDirectoryW(LPCWSTR name) override {
        if (!IsBookkeeping(name)) Change();
        return inner_.RemoveDirectoryW(name);
    }

    LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) override {
        Change();
        return inner_.RegDeleteKeyW(key, subKey);
    }

    DWORD GetTickCount() override {
        const DWORD now = inner_.GetTickCount();
        return kind_ == Kind::FastClock ? start_ + (now - start_) * 100 : now;
    }

    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                            LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) override {
        static const std::wstring root = AsWide(U16String(UninstallRecord::kRoot));
        if (kind_ == Kind::KeyCreation && key == HKEY_LOCAL_MACHINE && StartsWithNoCase(subKey, root)) {
            return ERROR_ACCESS_DENIED;
        }
        Change();
        return inner_.RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security, result,
                                      disposition);
    }

    LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) override {
        if (kind_ == Kind::ValueWrite && name != nullptr && _wcsicmp(name, target_.c_str()) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        Change();
        return inner_.RegSetValueExW(key, name, reserved, type, data, size);
    }

private:
    // One more change of the machine is about to be made: with Kill-at, the
    // process ends here when it is the one named.
    void Change() {
        if (kind_ != Kind::Kill || ++changes_ != killAt_) return;
        ::TerminateProcess(::GetCurrentProcess(), kKilledExitCode);
    }

    Kind kind_ = Kind::None;
    std::wstring target_;
    unsigned long failFrom_ = 0;
    unsigned long writes_ = 0;
    DWORD start_ = 0;
    std::set<HANDLE> watched_;
    std::set<HANDLE> counted_;  // opened for writing outside the bookkeeping
    unsigned long killAt_ = 0;
    unsigned long changes_ = 0;
};

// Installed while the program's static objects are made, before WinMain.
struct FaultSwitch {
    FaultSwitch() {
        wchar_t setting[256];
        const DWORD length = ::GetEnvironmentVariableW(L"QUENTAR_FAULT", setting, 256);
        if (length == 0) return;
        if (length >= 256) ::ExitProcess(3);
        static FaultInjection faults(Sys(), setting);
        if (!faults.Valid()) ::ExitProcess(3);
        static ScopedSystemApi installed(faults);
    }
} g_faultSwitch;

}  // namespace
}  // namespace quentar
