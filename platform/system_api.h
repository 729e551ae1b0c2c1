// The Win32 calls that change or query the machine, behind one interface so
// that tests can wrap the real calls and make chosen ones fail.
//
// Product code calls Sys().CreateFileW(...) exactly as it would call the API.
// RealSystemApi forwards to Windows; ForwardingSystemApi forwards to another
// SystemApi and is the base for test decorators that override a few calls.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <dmoreg.h>
#include <bcrypt.h>
#include <tlhelp32.h>
#include <userenv.h>

namespace quentar {

// X(result, name, parameter list, argument list)
#define QUENTAR_SYSTEM_CALLS(X)                                                                        \
    /* Files and folders */                                                                            \
    X(HANDLE, CreateFileW,                                                                             \
      (LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,     \
       DWORD flags, HANDLE templateFile),                                                              \
      (name, access, share, security, disposition, flags, templateFile))                              \
    X(BOOL, ReadFile, (HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped), \
      (file, buffer, size, done, overlapped))                                                          \
    X(BOOL, WriteFile,                                                                                 \
      (HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped),               \
      (file, buffer, size, done, overlapped))                                                          \
    X(DWORD, SetFilePointer, (HANDLE file, LONG distance, PLONG distanceHigh, DWORD method),           \
      (file, distance, distanceHigh, method))                                                          \
    X(DWORD, GetFileSize, (HANDLE file, LPDWORD sizeHigh), (file, sizeHigh))                           \
    X(BOOL, SetFileTime,                                                                               \
      (HANDLE file, const FILETIME* creation, const FILETIME* access, const FILETIME* write),         \
      (file, creation, access, write))                                                                 \
    X(BOOL, SetFileAttributesW, (LPCWSTR name, DWORD attributes), (name, attributes))                  \
    X(BOOL, MoveFileW, (LPCWSTR from, LPCWSTR to), (from, to))                                         \
    X(BOOL, MoveFileExW, (LPCWSTR from, LPCWSTR to, DWORD flags), (from, to, flags))                   \
    X(BOOL, DeleteFileW, (LPCWSTR name), (name))                                                       \
    X(HANDLE, FindFirstFileW, (LPCWSTR name, LPWIN32_FIND_DATAW data), (name, data))                   \
    X(BOOL, CreateDirectoryW, (LPCWSTR name, LPSECURITY_ATTRIBUTES security), (name, security))       \
    X(BOOL, RemoveDirectoryW, (LPCWSTR name), (name))                                                  \
    X(DWORD, GetTempPathW, (DWORD size, LPWSTR buffer), (size, buffer))                                \
    X(BOOL, FindNextFileW, (HANDLE search, LPWIN32_FIND_DATAW data), (search, data))                   \
    X(DWORD, GetFileAttributesW, (LPCWSTR name), (name))                                               \
    X(BOOL, FlushFileBuffers, (HANDLE file), (file))                                                   \
    X(BOOL, GetFileInformationByHandle, (HANDLE file, LPBY_HANDLE_FILE_INFORMATION info), (file, info))  \
    X(DWORD, GetFileType, (HANDLE file), (file))                                                       \
    X(DWORD, GetFinalPathNameByHandleW, (HANDLE file, LPWSTR path, DWORD size, DWORD flags),           \
      (file, path, size, flags))                                                                       \
    X(BOOL, SetFileInformationByHandle,                                                                \
      (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size), (file, kind, info, size))  \
    X(DWORD, GetFullPathNameW, (LPCWSTR name, DWORD size, LPWSTR path, LPWSTR * filePart),             \
      (name, size, path, filePart))                                                                    \
    X(DWORD, GetLongPathNameW, (LPCWSTR name, LPWSTR path, DWORD size), (name, path, size))            \
    /* Rights of files and folders */                                                                  \
    X(DWORD, GetNamedSecurityInfoW,                                                                    \
      (LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID * owner, PSID * group,        \
       PACL * dacl, PACL * sacl, PSECURITY_DESCRIPTOR * descriptor),                                   \
      (name, type, what, owner, group, dacl, sacl, descriptor))                                        \
    X(DWORD, SetNamedSecurityInfoW,                                                                    \
      (LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner, PSID group, PACL dacl,  \
       PACL sacl),                                                                                     \
      (name, type, what, owner, group, dacl, sacl))                                                    \
    /* Closing what was opened (the RAII types close through these) */                                \
    X(BOOL, CloseHandle, (HANDLE handle), (handle))                                                    \
    X(BOOL, FindClose, (HANDLE search), (search))                                                      \
    X(LSTATUS, RegCloseKey, (HKEY key), (key))                                                         \
    /* Registry */                                                                                     \
    X(LSTATUS, RegCreateKeyExW,                                                                        \
      (HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,       \
       LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition),                       \
      (key, subKey, reserved, keyClass, options, access, security, result, disposition))              \
    X(LSTATUS, RegOpenKeyExW, (HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result),  \
      (key, subKey, options, access, result))                                                          \
    X(LSTATUS, RegSetValueExW,                                                                         \
      (HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size),              \
      (key, name, reserved, type, data, size))                                                         \
    X(LSTATUS, RegQueryValueExW,                                                                       \
      (HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),            \
      (key, name, reserved, type, data, size))                                                         \
    X(LSTATUS, RegEnumKeyExW,                                                                          \
      (HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass,       \
       LPDWORD classSize, PFILETIME lastWrite),                                                        \
      (key, index, name, nameSize, reserved, keyClass, classSize, lastWrite))                         \
    X(LSTATUS, RegDeleteKeyW, (HKEY key, LPCWSTR subKey), (key, subKey))                               \
    /* Modules (run-time lookups of functions older systems lack) */                                   \
    X(HMODULE, GetModuleHandleW, (LPCWSTR name), (name))                                               \
    X(FARPROC, GetProcAddress, (HMODULE module, LPCSTR name), (module, name))                          \
    X(HMODULE, LoadLibraryExW, (LPCWSTR name, HANDLE file, DWORD flags), (name, file, flags))          \
    /* COM and the shell */                                                                            \
    X(HRESULT, CoInitialize, (LPVOID reserved), (reserved))                                            \
    X(void, CoUninitialize, (), ())                                                                    \
    X(HRESULT, CoCreateGuid, (GUID * guid), (guid))                                                    \
    X(HRESULT, CoCreateInstance,                                                                       \
      (REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId, LPVOID* object),          \
      (classId, outer, context, interfaceId, object))                                                  \
    X(HRESULT, SHGetSpecialFolderLocation, (HWND owner, int folder, PIDLIST_ABSOLUTE* list),           \
      (owner, folder, list))                                                                           \
    X(BOOL, SHGetPathFromIDListW, (PCIDLIST_ABSOLUTE list, LPWSTR path), (list, path))                 \
    X(PIDLIST_ABSOLUTE, SHBrowseForFolderW, (LPBROWSEINFOW info), (info))                              \
    X(HRESULT, SHGetMalloc, (IMalloc * *allocator), (allocator))                                       \
    /* Hashing (bcrypt.dll) */                                                                         \
    X(NTSTATUS, BCryptOpenAlgorithmProvider,                                                           \
      (BCRYPT_ALG_HANDLE * algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags),                \
      (algorithm, id, implementation, flags))                                                          \
    X(NTSTATUS, BCryptCloseAlgorithmProvider, (BCRYPT_ALG_HANDLE algorithm, ULONG flags),              \
      (algorithm, flags))                                                                              \
    X(NTSTATUS, BCryptGetProperty,                                                                     \
      (BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG size, ULONG * result, ULONG flags), \
      (object, property, output, size, result, flags))                                                 \
    X(NTSTATUS, BCryptCreateHash,                                                                      \
      (BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE * hash, PUCHAR object, ULONG objectSize,        \
       PUCHAR secret, ULONG secretSize, ULONG flags),                                                  \
      (algorithm, hash, object, objectSize, secret, secretSize, flags))                               \
    X(NTSTATUS, BCryptHashData, (BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags),      \
      (hash, input, size, flags))                                                                      \
    X(NTSTATUS, BCryptFinishHash, (BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags),   \
      (hash, output, size, flags))                                                                     \
    X(NTSTATUS, BCryptDestroyHash, (BCRYPT_HASH_HANDLE hash), (hash))                                  \
    /* DirectX Media Objects (msdmo.dll) */                                                            \
    X(HRESULT, DMOGetName, (REFCLSID classId, WCHAR * name), (classId, name))                          \
    /* Processes */                                                                                    \
    X(BOOL, CreateProcessW,                                                                            \
      (LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,                \
       LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags, LPVOID environment,           \
       LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info),                        \
      (application, commandLine, processSecurity, threadSecurity, inherit, flags, environment,        \
       directory, startup, info))                                                                      \
    X(BOOL, ShellExecuteExW, (SHELLEXECUTEINFOW * info), (info))                                       \
    X(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds), (handle, milliseconds))        \
    X(BOOL, GetExitCodeProcess, (HANDLE process, LPDWORD code), (process, code))                       \
    X(HANDLE, CreateMutexW, (LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name),                \
      (security, owned, name))                                                                         \
    X(BOOL, PostMessageW, (HWND window, UINT message, WPARAM w, LPARAM l), (window, message, w, l))    \
    /* The process's window station: can anybody see its windows? */                                   \
    X(HWINSTA, GetProcessWindowStation, (), ())                                                         \
    X(BOOL, GetUserObjectInformationW, (HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed), \
      (object, index, info, size, needed))                                                             \
    X(DWORD, GetWindowThreadProcessId, (HWND window, LPDWORD process), (window, process))              \
    X(HANDLE, OpenProcess, (DWORD access, BOOL inherit, DWORD id), (access, inherit, id))              \
    X(BOOL, QueryFullProcessImageNameW, (HANDLE process, DWORD flags, LPWSTR name, PDWORD size),       \
      (process, flags, name, size))                                                                    \
    X(HWND, GetShellWindow, (), ())                                                                    \
    X(HANDLE, CreateToolhelp32Snapshot, (DWORD flags, DWORD process), (flags, process))                \
    X(BOOL, Process32FirstW, (HANDLE snapshot, LPPROCESSENTRY32W entry), (snapshot, entry))            \
    X(BOOL, Process32NextW, (HANDLE snapshot, LPPROCESSENTRY32W entry), (snapshot, entry))             \
    X(BOOL, ProcessIdToSessionId, (DWORD process, DWORD * session), (process, session))                \
    /* Starting a program as another user (a token of that user's) */                                 \
    X(BOOL, DuplicateTokenEx,                                                                          \
      (HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES security, SECURITY_IMPERSONATION_LEVEL level,  \
       TOKEN_TYPE type, PHANDLE duplicate),                                                            \
      (token, access, security, level, type, duplicate))                                               \
    X(BOOL, GetTokenInformation,                                                                       \
      (HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size, PDWORD needed),             \
      (token, kind, info, size, needed))                                                               \
    X(BOOL, CreateProcessAsUserW,                                                                      \
      (HANDLE token, LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,   \
       LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags, LPVOID environment,           \
       LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info),                        \
      (token, application, commandLine, processSecurity, threadSecurity, inherit, flags, environment, \
       directory, startup, info))                                                                      \
    X(BOOL, CreateProcessWithTokenW,                                                                   \
      (HANDLE token, DWORD logonFlags, LPCWSTR application, LPWSTR commandLine, DWORD flags,          \
       LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info),    \
      (token, logonFlags, application, commandLine, flags, environment, directory, startup, info))    \
    X(BOOL, CreateEnvironmentBlock, (LPVOID * environment, HANDLE token, BOOL inherit),                \
      (environment, token, inherit))                                                                   \
    X(BOOL, DestroyEnvironmentBlock, (LPVOID environment), (environment))                              \
    /* Clock and pauses */                                                                             \
    X(DWORD, GetTickCount, (), ())                                                                     \
    X(void, GetLocalTime, (LPSYSTEMTIME time), (time))                                                 \
    X(void, Sleep, (DWORD milliseconds), (milliseconds))                                               \
    /* Privileges and restarting Windows (tests must never restart a shared session) */                \
    X(BOOL, OpenProcessToken, (HANDLE process, DWORD access, PHANDLE token), (process, access, token)) \
    X(BOOL, LookupPrivilegeValueW, (LPCWSTR system, LPCWSTR name, PLUID luid), (system, name, luid))   \
    X(BOOL, AdjustTokenPrivileges,                                                                     \
      (HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size, PTOKEN_PRIVILEGES previous, \
       PDWORD returned),                                                                               \
      (token, disableAll, state, size, previous, returned))                                           \
    X(BOOL, SetProcessShutdownParameters, (DWORD level, DWORD flags), (level, flags))                  \
    X(BOOL, ExitWindowsEx, (UINT flags, DWORD reason), (flags, reason))

class SystemApi {
public:
    virtual ~SystemApi() = default;
#define QUENTAR_DECLARE_CALL(result, name, params, args) virtual result name params = 0;
    QUENTAR_SYSTEM_CALLS(QUENTAR_DECLARE_CALL)
#undef QUENTAR_DECLARE_CALL
};

// The real Windows calls.
class RealSystemApi final : public SystemApi {
public:
#define QUENTAR_REAL_CALL(result, name, params, args) \
    result name params override { return ::name args; }
    QUENTAR_SYSTEM_CALLS(QUENTAR_REAL_CALL)
#undef QUENTAR_REAL_CALL
};

// Forwards every call to another implementation; decorators override some.
class ForwardingSystemApi : public SystemApi {
public:
    explicit ForwardingSystemApi(SystemApi& inner) : inner_(inner) {}
#define QUENTAR_FORWARD_CALL(result, name, params, args) \
    result name params override { return inner_.name args; }
    QUENTAR_SYSTEM_CALLS(QUENTAR_FORWARD_CALL)
#undef QUENTAR_FORWARD_CALL

protected:
    SystemApi& inner_;
};

// The implementation in force for this process (the real one unless a test
// installed another).
SystemApi& Sys();

// The thread's last error after a call that failed, or `fallback` when the
// call left none: a failure never reads as ERROR_SUCCESS.
inline DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Installs `api` for the lifetime of this object (tests only).
class ScopedSystemApi {
public:
    explicit ScopedSystemApi(SystemApi& api);
    ~ScopedSystemApi();
    ScopedSystemApi(const ScopedSystemApi&) = delete;
    ScopedSystemApi& operator=(const ScopedSystemApi&) = delete;

private:
    SystemApi* previous_;
};

}  // namespace quentar
