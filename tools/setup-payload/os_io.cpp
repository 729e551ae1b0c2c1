#include "os_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "state/text.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#include <io.h>
#include <shellapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace setup_payload {

namespace {

constexpr uint64_t kFileTimeOfUnixEpoch = 116444736000000000ull;  // 1970-01-01 in FILETIME counts

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
    const quentar::U16String u = quentar::FromUtf8(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string SystemReason(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string u;
    if (text) {
        for (const wchar_t* p = text; *p; ++p) u.push_back(static_cast<char16_t>(*p));
        LocalFree(text);
    }
    std::string reason = quentar::ToUtf8(quentar::OneLineMessage(u));
    return reason.empty() ? "error " + std::to_string(code) : reason;
}

uint64_t FromFileTime(const FILETIME& t) {
    return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t t) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(t);
    f.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return f;
}

FILE* OpenFile(const std::string& path, bool forWriting) {
    return _wfopen(Wide(path).c_str(), forWriting ? L"wb" : L"rb");
}
#else
std::string SystemReason(int code) { return std::strerror(code); }

uint64_t FromTimespec(const struct timespec& t) {
    return kFileTimeOfUnixEpoch + static_cast<uint64_t>(t.tv_sec) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100;
}

struct timespec ToTimespec(uint64_t fileTime) {
    const int64_t since = static_cast<int64_t>(fileTime - kFileTimeOfUnixEpoch);
    struct timespec t;
    t.tv_sec = static_cast<time_t>(since / 10000000);
    t.tv_nsec = static_cast<long>(since % 10000000) * 100;
    if (t.tv_nsec < 0) {
        t.tv_sec -= 1;
        t.tv_nsec += 1000000000;
    }
    return t;
}

FILE* OpenFile(const std::string& path, bool forWriting) {
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
}
#endif

int LastError() {
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

std::string Reason(int code) {
#ifdef _WIN32
    return SystemReason(static_cast<DWORD>(code));
#else
    return SystemReason(code);
#endif
}

}  // namespace

bool StatFile(const std::string& path, FileFacts& facts, std::string& error) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        error = path + ": " + SystemReason(GetLastError());
        return false;
    }
    facts.size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    facts.regular = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    facts.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.writable = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    facts.creationTime = FromFileTime(data.ftCreationTime);
    facts.lastAccessTime = FromFileTime(data.ftLastAccessTime);
    facts.lastWriteTime = FromFileTime(data.ftLastWriteTime);
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = path + ": " + SystemReason(errno);
        return false;
    }
    facts.size = static_cast<uint64_t>(st.st_size);
    facts.regular = S_ISREG(st.st_mode);
    facts.folder = S_ISDIR(st.st_mode);
    facts.writable = (st.st_mode & S_IWUSR) != 0;
    facts.lastWriteTime = FromTimespec(st.st_mtim);
    facts.lastAccessTime = FromTimespec(st.st_atim);
    facts.creationTime = facts.lastWriteTime;
#endif
    return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    FILE* f = OpenFile(path, false);
    if (!f) {
        error = path + ": " + Reason(LastError());
        return false;
    }
    data.clear();
    uint8_t buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + got);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) error = path + ": read error";
    return !failed;
}

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
    FILE* f = OpenFile(path, true);
    if (!f) {
        error = path + ": " + Reason(LastError());
        return false;
    }
    const bool wrote = size == 0 || std::fwrite(data, 1, size, f) == size;
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        error = path + ": write error";
        return false;
    }
    return true;
}

bool SetFileTimes(const std::string& path, uint64_t lastAccessTime, uint64_t lastWriteTime, std::string& error) {
#ifdef _WIN32
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = path + ": " + SystemReason(GetLastError());
        return false;
    }
    const FILETIME access = ToFileTime(lastAccessTime);
    const FILETIME write = ToFileTime(lastWriteTime);
    const BOOL ok = SetFileTime(h, nullptr, &access, &write);
    const DWORD code = GetLastError();
    CloseHandle(h);
    if (!ok) error = path + ": " + SystemReason(code);
    return ok != 0;
#else
    const struct timespec times[2] = {ToTimespec(lastAccessTime), ToTimespec(lastWriteTime)};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        error = path + ": " + SystemReason(errno);
        return false;
    }
    return true;
#endif
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
    return DeleteFileW(Wide(path).c_str()) != 0;
#else
    return unlink(path.c_str()) == 0;
#endif
}

bool RemoveFolder(const std::string& path) {
#ifdef _WIN32
    return RemoveDirectoryW(Wide(path).c_str()) != 0;
#else
    return rmdir(path.c_str()) == 0;
#endif
}

bool EnsureFolder(const std::string& path, bool& created, std::string& error) {
    created = false;
#ifdef _WIN32
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) {
        created = true;
        return true;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS) {
        error = path + ": " + SystemReason(code);
        return false;
    }
#else
    if (mkdir(path.c_str(), 0777) == 0) {
        created = true;
        return true;
    }
    if (errno != EEXIST) {
        error = path + ": " + SystemReason(errno);
        return false;
    }
#endif
    if (ProbePath(path) == PathKind::Folder) return true;
    error = path + ": not a folder";
    return false;
}

PathKind ProbePath(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Other;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? PathKind::Other : PathKind::File;
#else
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
#endif
}

bool ListFolder(const std::string& path, std::vector<std::string>& names, std::string& error) {
    names.clear();
#ifdef _WIN32
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(JoinFolder(path, "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        error = path + ": " + SystemReason(GetLastError());
        return false;
    }
    do {
        std::u16string name;
        for (const wchar_t* p = data.cFileName; *p; ++p) name.push_back(static_cast<char16_t>(*p));
        if (name != u"." && name != u"..") names.push_back(quentar::ToUtf8(name));
    } while (FindNextFileW(find, &data));
    const DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES) {
        error = path + ": " + SystemReason(code);
        return false;
    }
    return true;
#else
    DIR* folder = opendir(path.c_str());
    if (!folder) {
        error = path + ": " + SystemReason(errno);
        return false;
    }
    errno = 0;
    while (const struct dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int code = errno;
    closedir(folder);
    if (code != 0) {
        error = path + ": " + SystemReason(code);
        return false;
    }
    return true;
#endif
}

bool MakeStagingFolder(const std::string& parent, std::string& path, std::string& error) {
#ifdef _WIN32
    for (unsigned n = 0; n < 1000; ++n) {
        path = JoinFolder(parent, ".setup-payload-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n));
        if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = path + ": " + SystemReason(GetLastError());
    return false;
#else
    std::string pattern = JoinFolder(parent, ".setup-payload-XXXXXX");
    if (!mkdtemp(&pattern[0])) {
        error = pattern + ": " + SystemReason(errno);
        return false;
    }
    path = pattern;
    return true;
#endif
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string& error) {
#ifdef _WIN32
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return true;
    error = to + ": " + SystemReason(GetLastError());
    return false;
#else
    if (replace) {
        if (rename(from.c_str(), to.c_str()) == 0) return true;
    } else {
        // rename() would replace a file that appeared since the check; a hard
        // link fails instead. Volumes without hard links fall back to rename
        // after one more look.
        if (link(from.c_str(), to.c_str()) == 0) {
            unlink(from.c_str());
            return true;
        }
        if (errno == EEXIST) {
            error = to + ": " + SystemReason(EEXIST);
            return false;
        }
        if (ProbePath(to) != PathKind::Missing) {
            error = to + ": " + SystemReason(EEXIST);
            return false;
        }
        if (rename(from.c_str(), to.c_str()) == 0) return true;
    }
    error = to + ": " + SystemReason(errno);
    return false;
#endif
}

bool SecureRandom(uint8_t* out, size_t size, std::string& error) {
#ifdef _WIN32
    const NTSTATUS status = BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status != 0) {
        error = "BCryptGenRandom failed";
        return false;
    }
    return true;
#else
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("/dev/urandom: ") + SystemReason(errno);
        return false;
    }
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, out + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "/dev/urandom: short read";
            close(fd);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    return true;
#endif
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> args;
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int k = 1; k < count; ++k) {
            std::u16string u;
            for (const wchar_t* p = wide[k]; *p; ++p) u.push_back(static_cast<char16_t>(*p));
            args.push_back(quentar::ToUtf8(u));
        }
        LocalFree(wide);
        SetConsoleOutputCP(CP_UTF8);
        return args;
    }
#endif
    for (int k = 1; k < argc; ++k) args.emplace_back(argv[k]);
    return args;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == separator) return folder + name;
    return folder + separator + name;
}

std::string BaseName(const std::string& path) {
#ifdef _WIN32
    const size_t cut = path.find_last_of("/\\:");
#else
    const size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace setup_payload
