#include "platform/plain_file.h"

#include <vector>

#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

// Room for the longest path the system hands out, in characters.
constexpr DWORD kPathCapacity = 32768;

// The final path as the system writes it, "\\?\C:\..." or
// "\\?\UNC\server\share\...", in the form the caller named it: "C:\..." or
// "\\server\share\...".
U16String WithoutDevicePrefix(const U16String& path) {
    constexpr U16View kUnc = u"UNC\\";
    if (path.compare(0, kLongPathPrefix.size(), kLongPathPrefix) != 0) return path;
    const U16String rest = path.substr(kLongPathPrefix.size());
    if (rest.compare(0, kUnc.size(), kUnc) == 0) return u"\\\\" + rest.substr(kUnc.size());
    return rest;
}

// The answer of a call that fills `buffer` with a path: its text, or empty
// when it failed or the path does not fit.
U16String Answer(const std::vector<wchar_t>& buffer, DWORD length) {
    return length == 0 || length >= buffer.size() ? U16String() : FromWide(buffer.data(), length);
}

}  // namespace

U16String FullLongPath(const U16String& path) {
    std::vector<wchar_t> buffer(kPathCapacity);
    U16String full = Answer(buffer, Sys().GetFullPathNameW(AsWide(path), kPathCapacity, buffer.data(), nullptr));
    if (full.empty()) return path;
    const U16String longPath = Answer(buffer, Sys().GetLongPathNameW(AsWide(full), buffer.data(), kPathCapacity));
    return longPath.empty() ? full : longPath;
}

U16String PlainFileProblem(HANDLE file, const U16String& path) {
    // A console, a pipe or a device (NUL, COM1) takes writes too.
    if (Sys().GetFileType(file) != FILE_TYPE_DISK) return u"it is not a file on a disk";
    BY_HANDLE_FILE_INFORMATION info{};
    if (!Sys().GetFileInformationByHandle(file, &info)) {
        return u"what it is cannot be read: error " + FromUtf8(std::to_string(::GetLastError()));
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return u"it is a folder";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return u"it is a junction or symbolic link";
    if (info.nNumberOfLinks != 1) {
        return u"it is a file with " + FromUtf8(std::to_string(info.nNumberOfLinks)) + u" names (hard links)";
    }
    std::vector<wchar_t> buffer(kPathCapacity);
    const U16String final = WithoutDevicePrefix(Answer(
        buffer, Sys().GetFinalPathNameByHandleW(file, buffer.data(), kPathCapacity,
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)));
    if (final.empty()) return u"where it is cannot be read: error " + FromUtf8(std::to_string(::GetLastError()));
    // A link on the way (or, where the system shows no link as such, at the
    // name itself) ends elsewhere.
    if (!EqualsIgnoreAsciiCase(final, FullLongPath(path))) return u"it leads to " + final;
    return U16String();
}

}  // namespace quentar
