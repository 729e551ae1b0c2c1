#include "install/file_install.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "install/destination.h"
#include "install/engine_support.h"
#include "install/journal.h"
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
// Fresh temporary names tried when the one drawn is taken already.
constexpr int kTemporaryNameAttempts = 4;
// The moves that complete a replacement reach the disk before they return.
constexpr DWORD kMoveFlags = MOVEFILE_WRITE_THROUGH;

// 16 bytes that no other made-up name is likely to use: a fresh GUID in
// memory order, or pseudo-random words when no GUID can be made.
void NewNameBytes(uint8_t bytes[16], InstallFeedback& feedback) {
    GUID guid{};
    const HRESULT result = Sys().CoCreateGuid(&guid);
    if (SUCCEEDED(result)) {
        static_assert(sizeof(guid) == 16, "a GUID is 16 bytes");
        std::memcpy(bytes, &guid, 16);
        return;
    }
    feedback.Log(u"CoCreateGuid failed (" + DecimalText(static_cast<uint32_t>(result)) +
                 u"): name made from pseudo-random words");
    uint32_t words[4];
    FillRandomWords(words);
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
}

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Moves the file at `path` aside as MoveAsideExisting does; `aside` receives
// the aside name, or stays empty when nothing was there.
bool MoveAside(InstallState& state, const U16String& path, InstallFeedback& feedback, U16String& aside) {
    aside.clear();
    const DWORD attributes = Sys().GetFileAttributesW(AsWide(path));
    // Nothing there to keep; a folder of that name is left to make the
    // move onto the name fail with its own error.
    if (attributes == INVALID_FILE_ATTRIBUTES || IsFolder(attributes)) return true;
    uint8_t bytes[16];
    NewNameBytes(bytes, feedback);
    const U16String name = AsideName(path, bytes);
    if (const DWORD error = TheJournal().Record({JournalStep::Aside, path, name})) {
        feedback.Log(u"the journal cannot record moving aside " + path + u": " + DescribeError(error));
        ::SetLastError(error);
        return false;
    }
    if (!Sys().MoveFileExW(AsWide(path), AsWide(name), kMoveFlags)) {
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

// Puts back at `path` the file moved aside as `aside` and forgets the aside
// name.
void MoveBack(InstallState& state, const U16String& aside, const U16String& path, InstallFeedback& feedback) {
    if (!Sys().MoveFileExW(AsWide(aside), AsWide(path), kMoveFlags)) {
        feedback.Log(u"cannot move back " + aside + u" to " + path + u": " + DescribeError(::GetLastError()));
        return;
    }
    const auto it = std::find(state.replacedFiles.rbegin(), state.replacedFiles.rend(), aside);
    if (it != state.replacedFiles.rend()) state.replacedFiles.erase(std::next(it).base());
    feedback.Log(u"moved back: " + aside + u" -> " + path);
}

// A new file being written through a handle of its own under its temporary
// name.
struct StagedFile {
    U16String path;
    U16String temporary;
    UniqueFile file;
};

// Creates the temporary file of a new file for `path`; 0 or the error.
DWORD BeginStagedFile(const U16String& path, StagedFile& staged, InstallFeedback& feedback) {
    staged.path = path;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
         ++attempt) {
        if (const DWORD journalError = PrepareTemporaryName(path, staged.temporary, feedback)) return journalError;
        // A name taken already is never written over: it is not ours.
        staged.file.reset(Sys().CreateFileW(AsWide(staged.temporary), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr));
        error = staged.file ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
    }
    if (error != ERROR_SUCCESS) staged.temporary.clear();
    return error;
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

// Gives a written file `time` (when not null), flushes it with its times to
// the disk and closes it; 0 or the error of the flush or the close.
DWORD SealStagedFile(StagedFile& staged, const FILETIME* time, InstallFeedback& feedback) {
    if (time != nullptr && !Sys().SetFileTime(staged.file.get(), time, time, time)) {
        feedback.Log(u"cannot set the time stamp of " + staged.temporary + u": " + DescribeError(::GetLastError()));
    }
    if (!Sys().FlushFileBuffers(staged.file.get())) return LastErrorOr(ERROR_WRITE_FAULT);
    return staged.file.close() ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

// Ends a new file whose writing went as far as `error` says: in place and
// recorded (the folder, when given, in installedFolders, the path in
// installedFiles), or discarded with message 264. True when it is in place.
bool FinishStagedFile(InstallState& state, const U16String* folder, StagedFile& staged, DWORD error,
                      InstallFeedback& feedback) {
    if (error == ERROR_SUCCESS) {
        error = PutWholeFileInPlace(state, staged.path, staged.temporary, WhenNotMovable::Fail, feedback);
    }
    if (error != ERROR_SUCCESS) {
        staged.file.reset();
        DiscardTemporaryFile(state, staged.temporary, feedback);
        ReportCreateFileFailure(staged.path, error, feedback);
        return false;
    }
    if (folder != nullptr) AddUnique(state.installedFolders, *folder);
    AddUnique(state.installedFiles, staged.path);
    // Written now: no longer the earlier installation's file.
    RemoveIgnoreAsciiCase(state.keptFiles, staged.path);
    return true;
}

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

DWORD PrepareTemporaryName(const U16String& path, U16String& temporary, InstallFeedback& feedback) {
    temporary.clear();
    const DWORD attributes = Sys().GetFileAttributesW(AsWide(path));
    if (IsFolder(attributes)) return ERROR_ACCESS_DENIED;
    uint8_t bytes[16];
    NewNameBytes(bytes, feedback);
    const U16String name = TemporaryName(path, bytes);
    const bool earlier = attributes != INVALID_FILE_ATTRIBUTES;
    if (const DWORD error = TheJournal().Record({JournalStep::Write, path, name, earlier})) {
        feedback.Log(u"the journal cannot record writing " + path + u": " + DescribeError(error));
        return error;
    }
    temporary = name;
    return ERROR_SUCCESS;
}

DWORD FlushWholeFile(const U16String& temporary) {
    UniqueFile file(Sys().CreateFileW(AsWide(temporary), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastErrorOr(ERROR_FILE_NOT_FOUND);
    if (!Sys().FlushFileBuffers(file.get())) return LastErrorOr(ERROR_WRITE_FAULT);
    return file.close() ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

DWORD PutWholeFileInPlace(InstallState& state, const U16String& path, const U16String& temporary,
                          WhenNotMovable notMovable, InstallFeedback& feedback) {
    U16String aside;
    DWORD flags = kMoveFlags;
    if (!MoveAside(state, path, feedback, aside)) {
        const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
        if (notMovable == WhenNotMovable::Fail) return error;
        feedback.Log(u"the earlier " + path + u" is written over in place");
        flags |= MOVEFILE_REPLACE_EXISTING;
    }
    if (!Sys().MoveFileExW(AsWide(temporary), AsWide(path), flags)) {
        const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
        feedback.Log(u"cannot move " + temporary + u" to " + path + u": " + DescribeError(error));
        if (!aside.empty()) MoveBack(state, aside, path, feedback);
        return error;
    }
    return ERROR_SUCCESS;
}

void DiscardTemporaryFile(InstallState& state, const U16String& temporary, InstallFeedback& feedback) {
    if (temporary.empty() || Sys().GetFileAttributesW(AsWide(temporary)) == INVALID_FILE_ATTRIBUTES) return;
    if (Sys().DeleteFileW(AsWide(temporary))) {
        feedback.Log(u"deleted the incomplete file " + temporary);
        return;
    }
    // The earlier file is untouched at its name; this one goes later.
    feedback.Log(u"cannot delete the incomplete file " + temporary + u" (" + DescribeError(::GetLastError()) +
                 u"): it goes at the end of the run");
    state.replacedFiles.push_back(temporary);
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
    StagedFile staged;
    DWORD error = BeginStagedFile(path, staged, feedback);
    if (error == ERROR_SUCCESS) error = WriteAll(staged.file.get(), entry.Data(), entry.FileSizeLow());
    if (error == ERROR_SUCCESS) error = SealStagedFile(staged, nullptr, feedback);
    if (!FinishStagedFile(state, &state.destinationFolder, staged, error, feedback)) return false;
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
        ReportCreateFileFailure(state.applicationPath, ERROR_INVALID_DATA, feedback);
        return false;
    }
    StagedFile staged;
    DWORD error = BeginStagedFile(state.applicationPath, staged, feedback);
    for (size_t k = 0; k < plan.size() && error == ERROR_SUCCESS; ++k) {
        feedback.Progress(static_cast<uint32_t>(k));
        const CPosSize chunk = plan[k];
        error = Seek(staged.file.get(), chunk.position);
        if (error == ERROR_SUCCESS) error = WriteAll(staged.file.get(), entry.Data() + chunk.position, chunk.size);
        if (error == ERROR_SUCCESS) feedback.Pause(kChunkPauseMilliseconds);
    }
    if (error == ERROR_SUCCESS) {
        const uint64_t stamp = entry.LastWriteTime();
        FILETIME time;
        time.dwLowDateTime = static_cast<DWORD>(stamp);
        time.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
        error = SealStagedFile(staged, &time, feedback);
    }
    if (!FinishStagedFile(state, nullptr, staged, error, feedback)) return false;
    feedback.Log(u"written: " + staged.path + u" (" + DecimalText(size) + u" bytes in " + DecimalText(plan.size()) +
                 u" chunks)");
    return true;
}

}  // namespace quentar
