// The Win32 calls that change or query the machine, behind one interface so
// that tests can wrap the real calls and make chosen ones fail.
//
// Product code calls Sys().CreateFileW(...) exactly as it would call the API.
// RealSystemApi forwards to Windows; ForwardingSystemApi forwards to another
// SystemApi and is the base for test decorators that override a few calls.
#pragma once

#include <windows.h>
#include <shellapi.h>

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
    /* Processes */                                                                                    \
    X(BOOL, CreateProcessW,                                                                            \
      (LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,                \
       LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags, LPVOID environment,           \
       LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info),                        \
      (application, commandLine, processSecurity, threadSecurity, inherit, flags, environment,        \
       directory, startup, info))                                                                      \
    X(BOOL, ShellExecuteExW, (SHELLEXECUTEINFOW * info), (info))                                       \
    X(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds), (handle, milliseconds))

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
