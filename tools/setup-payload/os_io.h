// The archive tool's contact with the operating system, one implementation
// per platform in os_io.cpp. Paths are UTF-8 throughout the tool; the Windows
// side converts them to UTF-16 for the wide functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace setup_payload {

struct FileFacts {
    uint64_t size = 0;
    bool regular = false;   // a plain file (not a folder or a device)
    bool folder = false;
    bool writable = false;  // not read-only for its owner
    // FILETIME counts (100 ns since 1601-01-01 UTC). POSIX keeps no creation
    // time: there the last-write time stands in for it.
    uint64_t creationTime = 0;
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
};

// Each returns false and sets `error` to one line (with the system's reason).
bool StatFile(const std::string& path, FileFacts& facts, std::string& error);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);
bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size, std::string& error);
bool SetFileTimes(const std::string& path, uint64_t lastAccessTime, uint64_t lastWriteTime, std::string& error);
bool RemoveFile(const std::string& path);
// Removes an empty folder.
bool RemoveFolder(const std::string& path);
// Creates the folder when it is missing (one level); true when it exists after.
// `created` tells whether this call made it.
bool EnsureFolder(const std::string& path, bool& created, std::string& error);

enum class PathKind { Missing, File, Folder, Other };
// What is at `path`, without following a final symbolic link (a link counts
// as Other, so nothing is written through one).
PathKind ProbePath(const std::string& path);
// The names in a folder (not "." and ".."), in no particular order.
bool ListFolder(const std::string& path, std::vector<std::string>& names, std::string& error);
// Creates a new, empty folder with a unique name inside `parent`.
bool MakeStagingFolder(const std::string& parent, std::string& path, std::string& error);
// Moves the file `from` to `to` on the same volume. Without `replace`, an
// existing `to` is never replaced (the move fails instead, atomically).
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string& error);
// Bytes from the system's secure random source.
bool SecureRandom(uint8_t* out, size_t size, std::string& error);
bool StderrIsTerminal();
// The command line as UTF-8 strings (on Windows from the wide command line,
// so names outside the ANSI code page survive).
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// folder + separator + name.
std::string JoinFolder(const std::string& folder, const std::string& name);
// The part of a path after its last separator.
std::string BaseName(const std::string& path);

}  // namespace setup_payload
