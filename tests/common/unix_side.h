// What a Windows test sees of the Unix side under Wine: the permission bits
// Wine made of a file's or folder's rights (Wine keeps no security
// descriptor; it maps the DACL to mode bits), and links made the Unix way.
// Each runs a Unix program, which Wine starts but cannot wait for: its
// answer is awaited in a file.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace unix_side {

// The Unix path of `path` under Wine; nothing elsewhere.
inline std::optional<std::wstring> UnixPath(const std::wstring& path) {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == nullptr) return std::nullopt;
    char* name = unixFileName(path.c_str());
    if (name == nullptr) return std::nullopt;
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), length);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return wide;
}

// Runs the Unix program `program` with `arguments` (each passed quoted) and
// returns what it printed once a line has come, or nothing when it could not
// be started or printed nothing within `wait`.
inline std::optional<std::string> RunUnix(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                          std::chrono::milliseconds wait = std::chrono::seconds(30)) {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t file[MAX_PATH + 1] = {};
    if (::GetTempPathW(MAX_PATH + 1, folder) == 0 || ::GetTempFileNameW(folder, L"unx", 0, file) == 0) {
        return std::nullopt;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const HANDLE output = ::CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                        CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) return std::nullopt;
    // Each argument in double quotes, a double quote inside it escaped.
    std::wstring command = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) {
        command += L" \"";
        for (const wchar_t c : argument) command += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
        command += L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &process) != FALSE;
    ::CloseHandle(output);
    if (process.hProcess != nullptr) ::CloseHandle(process.hProcess);
    if (process.hThread != nullptr) ::CloseHandle(process.hThread);
    std::optional<std::string> printed;
    const auto until = std::chrono::steady_clock::now() + wait;
    while (started && !printed && std::chrono::steady_clock::now() < until) {
        const HANDLE input =
            ::CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (input != INVALID_HANDLE_VALUE) {
            char buffer[4096];
            DWORD read = 0;
            if (::ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0 &&
                std::string(buffer, read).find('\n') != std::string::npos) {
                printed = std::string(buffer, read);
            }
            ::CloseHandle(input);
        }
        if (!printed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::DeleteFileW(file);
    return printed;
}

// The permission bits of `path` as Unix sees them (0755 ...); nothing when
// not under Wine or when they cannot be read.
inline std::optional<unsigned> UnixMode(const std::wstring& path) {
    const std::optional<std::wstring> unixPath = UnixPath(path);
    if (!unixPath) return std::nullopt;
    // "%a" and a newline: the bits in octal, and the line that says stat
    // has finished.
    const std::optional<std::string> printed = RunUnix(L"Z:\\usr\\bin\\stat", {L"-c", L"%a", *unixPath});
    if (!printed || printed->empty() || printed->find_first_not_of("01234567\n") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(*printed, nullptr, 8));
}

// Whether Unix lets the file's group or everybody else write it.
inline bool GroupOrOthersMayWrite(unsigned mode) { return (mode & 022) != 0; }

// Makes `link` a Unix symbolic link to `target` (both Windows paths under
// Wine), which Wine shows as a folder that is a reparse point. False when
// not under Wine or when it failed.
inline bool MakeUnixLink(const std::wstring& target, const std::wstring& link) {
    const std::optional<std::wstring> unixTarget = UnixPath(target);
    const std::optional<std::wstring> unixLink = UnixPath(link);
    if (!unixTarget || !unixLink) return false;
    // ln prints nothing: "ls -d" of the link afterwards says it is there.
    const std::optional<std::string> printed =
        RunUnix(L"Z:\\bin\\sh", {L"-c", L"ln -s \"$0\" \"$1\" && ls -d \"$1\"", *unixTarget, *unixLink});
    return printed.has_value() && ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes the Unix link `link` itself (Wine's RemoveDirectoryW refuses a
// link to a folder). True when it is gone.
inline bool RemoveUnixLink(const std::wstring& link) {
    const std::optional<std::wstring> unixLink = UnixPath(link);
    if (!unixLink) return false;
    RunUnix(L"Z:\\bin\\sh", {L"-c", L"rm -f \"$0\"; echo removed", *unixLink});
    return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace unix_side
