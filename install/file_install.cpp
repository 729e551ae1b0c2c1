#include "install/file_install.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "install/destination.h"
#include "install/engine_support.h"
#include "payload/payload_archive.h"
#include "platform/module_text.h"
#include "platform/wide.h"
#include "state/resource_ids.h"

namespace quentar {

namespace {

// Content comparison reads this much at a time.
constexpr DWORD kCompareBlock = 64 * 1024;
// The pause after each chunk of the application executable, so that a
// person can follow the progress bar.
constexpr uint32_t kChunkPauseMilliseconds = 10;

// Shows message 264 for `path` with the system's text for `error`.
void ReportWriteFailure(const U16String& path, DWORD error, InstallFeedback& feedback) {
    feedback.Log(u"cannot write " + path + u": " + DescribeError(error));
    const U16String text =
        FormatPositional(LoadStringResource(IDS_CREATE_FILE_FAILED), {path, SystemErrorText(error)});
    feedback.Message(text, MB_OK | MB_ICONHAND);
}

// The thread's last error, or `fallback` when a failed call left none.
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

char16_t HexDigit(unsigned value) { return static_cast<char16_t>(value < 10 ? u'0' + value : u'a' + value - 10); }

// 16 bytes that no other temporary name is likely to use: a fresh GUID in
// memory order, or pseudo-random words when no GUID can be made.
void NewTemporaryBytes(uint8_t bytes[16], InstallFeedback& feedback) {
    GUID guid{};
    const HRESULT result = Sys().CoCreateGuid(&guid);
    if (SUCCEEDED(result)) {
        static_assert(sizeof(guid) == 16, "a GUID is 16 bytes");
        std::memcpy(bytes, &guid, 16);
        return;
    }
    feedback.Log(u"CoCreateGuid failed (" + DecimalText(static_cast<uint32_t>(result)) +
                 u"): temporary name from pseudo-random words");
    uint32_t words[4];
    FillRandomWords(words);
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
}

// Moves the file at `path` aside as MoveAsideExisting does; `aside` receives
// the temporary name, or stays empty when nothing was there.
bool MoveAside(InstallState& state, const U16String& path, InstallFeedback& feedback, U16String& aside) {
    aside.clear();
    const DWORD attributes = Sys().GetFileAttributesW(AsWide(path));
    // Nothing there to keep; a folder of that name is left to make the
    // creation fail with its own error.
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    uint8_t bytes[16];
    NewTemporaryBytes(bytes, feedback);
    const U16String name = AsideName(path, bytes);
    if (!Sys().MoveFileW(AsWide(path), AsWide(name))) {
        const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
        feedback.Log(u"cannot move aside " + path + u": " + DescribeError(error));
        ::SetLastError(error);
        return false;
    }
    state.replacedFiles.push_back(name);
    feedback.Log(u"moved aside: " + path + u" -> " + name);
    aside = name;
    return true;
}

// Puts back at `path` the file moved aside as `aside` and forgets the
// temporary name.
void MoveBack(InstallState& state, const U16String& aside, const U16String& path, InstallFeedback& feedback) {
    if (!Sys().MoveFileW(AsWide(aside), AsWide(path))) {
        feedback.Log(u"cannot move back " + aside + u" to " + path + u": " + DescribeError(::GetLastError()));
        return;
    }
    const auto it = std::find(state.replacedFiles.rbegin(), state.replacedFiles.rend(), aside);
    if (it != state.replacedFiles.rend()) state.replacedFiles.erase(std::next(it).base());
    feedback.Log(u"moved back: " + aside + u" -> " + path);
}

// A target file as CreateTargetFile made it, with what is needed to take it
// back when its writing fails.
struct Target {
    UniqueFile file;
    U16String path;
    U16String aside;          // the earlier file's temporary name, or empty
    bool listedHere = false;  // this creation added the path to installedFiles
};

Target CreateTarget(const U16String* folder, InstallState& state, U16View name, InstallFeedback& feedback) {
    Target target;
    target.path = folder != nullptr ? JoinPath(*folder, name) : U16String(name);
    if (!MoveAside(state, target.path, feedback, target.aside)) {
        ReportWriteFailure(target.path, LastErrorOr(ERROR_ACCESS_DENIED), feedback);
        return target;
    }
    target.file.reset(Sys().CreateFileW(AsWide(target.path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!target.file) {
        const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
        if (!target.aside.empty()) MoveBack(state, target.aside, target.path, feedback);
        ReportWriteFailure(target.path, error, feedback);
        return target;
    }
    if (folder != nullptr) AddUnique(state.installedFolders, *folder);
    target.listedHere = AddUnique(state.installedFiles, target.path);
    // Written now: no longer the earlier installation's file.
    RemoveIgnoreAsciiCase(state.keptFiles, target.path);
    return target;
}

// A target whose writing failed: closed, deleted, unlisted, and the earlier
// file moved back, as if it could not have been created. Then message 264.
void AbandonTarget(InstallState& state, Target& target, DWORD error, InstallFeedback& feedback) {
    target.file.reset();
    if (Sys().DeleteFileW(AsWide(target.path))) {
        feedback.Log(u"deleted the incomplete file " + target.path);
        if (target.listedHere) RemoveIgnoreAsciiCase(state.installedFiles, target.path);
        if (!target.aside.empty()) MoveBack(state, target.aside, target.path, feedback);
    } else {
        // Left listed, so that the removal of the installation tries again.
        feedback.Log(u"cannot delete the incomplete file " + target.path + u": " +
                     DescribeError(::GetLastError()));
    }
    ReportWriteFailure(target.path, error, feedback);
}

// Writes `size` bytes at the file's current position; 0 or the error. A
// write that reports success but falls short is taken for a full disk.
DWORD WriteAll(HANDLE file, const uint8_t* data, uint32_t size) {
    DWORD written = 0;
    if (!Sys().WriteFile(file, data, size, &written, nullptr)) return LastErrorOr(ERROR_WRITE_FAULT);
    return written == size ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

// Moves the file pointer to `position` from the file's start; 0 or the error.
DWORD Seek(HANDLE file, uint32_t position) {
    // The high part is passed so that positions of 2 GB and more are not
    // taken for negative distances.
    LONG high = 0;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD low = Sys().SetFilePointer(file, static_cast<LONG>(position), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != ERROR_SUCCESS) return ::GetLastError();
    return low == position && high == 0 ? ERROR_SUCCESS : ERROR_SEEK;
}

// Closes a written file; 0 or the error of the failed close.
DWORD CloseWritten(UniqueFile& file) { return file.close() ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT); }

// Whether the plan writes inside `size` bytes and adds up to them.
bool PlanFits(const ChunkPlan& plan, uint32_t size) {
    uint64_t total = 0;
    for (const CPosSize& chunk : plan) {
        if (static_cast<uint64_t>(chunk.position) + chunk.size > size) return false;
        total += chunk.size;
    }
    return total == size;
}

}  // namespace

U16String AsideName(const U16String& path, const uint8_t bytes[16]) {
    U16String name = path;
    name.reserve(path.size() + kAsideSuffixLength);
    name += u'.';
    for (int i = 0; i < 16; ++i) {
        name += HexDigit(bytes[i] >> 4);
        name += HexDigit(bytes[i] & 0xF);
    }
    return name;
}

U16String OriginalNameOf(U16View asideName) {
    // Nothing is left of the original path unless the name is longer than the
    // suffix.
    if (asideName.size() <= kAsideSuffixLength) return {};
    const size_t dot = asideName.size() - kAsideSuffixLength;
    if (asideName[dot] != u'.') return {};
    for (size_t i = dot + 1; i < asideName.size(); ++i) {
        const char16_t c = asideName[i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return {};
    }
    return U16String(asideName.substr(0, dot));
}

void FillRandomWords(uint32_t words[4]) {
    // Seeded once per process; a tick count of 0 leaves it unseeded, so the
    // next call seeds again.
    static uint32_t seed = 0;
    if (seed == 0) {
        seed = Sys().GetTickCount();
        std::srand(seed);
    }
    for (int i = 0; i < 4; ++i) {
        const uint32_t high = static_cast<uint32_t>(std::rand());
        const uint32_t low = static_cast<uint32_t>(std::rand());
        words[i] = (high << 16) | low;
    }
}

bool MoveAsideExisting(InstallState& state, const U16String& path, InstallFeedback& feedback) {
    U16String aside;
    return MoveAside(state, path, feedback, aside);
}

UniqueFile CreateTargetFile(const U16String* folder, InstallState& state, U16View name, InstallFeedback& feedback) {
    return std::move(CreateTarget(folder, state, name, feedback).file);
}

bool IsSameContent(const U16String& path, const uint8_t* data, uint32_t size) {
    UniqueFile file(
        Sys().CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    DWORD high = 0;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD low = Sys().GetFileSize(file.get(), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != ERROR_SUCCESS) return false;
    if (high != 0 || low != size) return false;
    std::vector<uint8_t> block(std::min<uint32_t>(size, kCompareBlock));
    for (uint32_t offset = 0; offset < size;) {
        const DWORD wanted = std::min<uint32_t>(size - offset, kCompareBlock);
        DWORD got = 0;
        if (!Sys().ReadFile(file.get(), block.data(), wanted, &got, nullptr) || got == 0) return false;
        // ReadFile never returns more than asked; checked all the same, as
        // the comparison below reads `got` bytes of both buffers.
        if (got > wanted || std::memcmp(block.data(), data + offset, got) != 0) return false;
        offset += got;
    }
    return true;
}

bool InstallEntryFile(InstallState& state, U16View entryName, InstallFeedback& feedback) {
    const PayloadEntry entry = FindEntry(entryName, state);
    if (!entry) return true;
    const U16String path = JoinPath(state.destinationFolder, entryName);
    if (IsSameContent(path, entry.Data(), entry.FileSizeLow()) && TakeOverIdenticalFile(path, feedback)) {
        AddUnique(state.installedFolders, state.destinationFolder);
        AddUnique(state.installedFiles, path);
        AddUnique(state.keptFiles, path);
        feedback.Log(u"identical file left as it is: " + path);
        return true;
    }
    Target target = CreateTarget(&state.destinationFolder, state, entryName, feedback);
    if (!target.file) return false;
    DWORD error = WriteAll(target.file.get(), entry.Data(), entry.FileSizeLow());
    if (error == ERROR_SUCCESS) error = CloseWritten(target.file);
    if (error != ERROR_SUCCESS) {
        AbandonTarget(state, target, error, feedback);
        return false;
    }
    feedback.Log(u"written: " + path + u" (" + DecimalText(entry.FileSizeLow()) + u" bytes)");
    return true;
}

bool WriteApplicationExecutable(InstallState& state, const ChunkPlan& plan, InstallFeedback& feedback) {
    const PayloadEntry entry = state.applicationEntry;
    if (!entry) {
        feedback.Log(u"no application executable in the payload: nothing written");
        return false;
    }
    const uint32_t size = entry.FileSizeLow();
    // Every chunk is read from the entry's data: a plan made for another
    // size would read outside it or leave part of the file unwritten.
    if (!PlanFits(plan, size)) {
        feedback.Log(u"the chunk plan does not fit the application executable's " + DecimalText(size) + u" bytes");
        ReportWriteFailure(state.applicationPath, ERROR_INVALID_DATA, feedback);
        return false;
    }
    Target target = CreateTarget(nullptr, state, state.applicationPath, feedback);
    if (!target.file) return false;
    DWORD error = ERROR_SUCCESS;
    for (size_t k = 0; k < plan.size() && error == ERROR_SUCCESS; ++k) {
        feedback.Progress(static_cast<uint32_t>(k));
        const CPosSize chunk = plan[k];
        error = Seek(target.file.get(), chunk.position);
        if (error == ERROR_SUCCESS) error = WriteAll(target.file.get(), entry.Data() + chunk.position, chunk.size);
        if (error == ERROR_SUCCESS) feedback.Pause(kChunkPauseMilliseconds);
    }
    if (error == ERROR_SUCCESS) {
        const uint64_t stamp = entry.LastWriteTime();
        FILETIME time;
        time.dwLowDateTime = static_cast<DWORD>(stamp);
        time.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
        if (!Sys().SetFileTime(target.file.get(), &time, &time, &time)) {
            feedback.Log(u"cannot set the time stamp of " + target.path + u": " + DescribeError(::GetLastError()));
        }
        error = CloseWritten(target.file);
    }
    if (error != ERROR_SUCCESS) {
        AbandonTarget(state, target, error, feedback);
        return false;
    }
    feedback.Log(u"written: " + target.path + u" (" + DecimalText(size) + u" bytes in " + DecimalText(plan.size()) +
                 u" chunks)");
    return true;
}

}  // namespace quentar
