// Writing payload entries into a real folder under Wine: new files, identical
// files left alone, earlier files moved aside under their temporary names,
// files in use, the chunked application executable, and every way a write
// can fail (injected where Wine cannot fail it).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <regex>
#include <set>

#include "engine_test_support.h"
#include "install/chunk_plan.h"
#include "install/file_install.h"
#include "install/staged_names.h"
#include "removal/restart.h"
#include "platform/module_text.h"
#include "platform/system_api.h"

namespace quentar {
namespace {

// The engine tests' helpers (engine_test_support.h).
using namespace quentar::testing;

// The names in a folder, sorted.
std::vector<U16String> Listing(const U16String& folder) {
    std::vector<U16String> names;
    WIN32_FIND_DATAW data;
    const HANDLE search = ::FindFirstFileW(AsWide(folder + u"\\*"), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const U16String name = FromWide(data.cFileName);
        if (name != u"." && name != u"..") names.push_back(name);
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Message 264 as the user sees it for `path` and `error`.
U16String CreateFileMessage(const U16String& path, DWORD error) {
    return u"Unable to create file " + path + u"\n" + SystemErrorText(error);
}

bool IsAsideNameOf(const U16String& aside, const U16String& path) {
    static const std::regex suffix("\\.[0-9a-f]{32}");
    return aside.size() == path.size() + kAsideSuffixLength && aside.compare(0, path.size(), path) == 0 &&
           std::regex_match(ToUtf8(aside.substr(path.size())), suffix);
}

class FileInstall : public ::testing::Test {
protected:
    void SetUp() override { state_.destinationFolder = folder_.path(); }

    void Carry(std::vector<testing::CarriedEntry> entries) { state_.payload = testing::MakePayload(entries); }

    // Carries `name` with `content` and puts the earlier installation's
    // `earlier` file of that name in the folder; returns its path.
    U16String CarryOver(const U16String& name, std::vector<uint8_t> content, const std::vector<uint8_t>& earlier) {
        Carry({{name, std::move(content), testing::kTime2010}});
        const U16String path = folder_ / name;
        WriteBytes(path, earlier);
        return path;
    }

    TempFolder folder_;
    InstallState state_;
    RecordingFeedback feedback_;
};

TEST_F(FileInstall, WritesANewEntryAndRecordsItsFolderAndPath) {
    const std::vector<uint8_t> help = PatternBytes(70000);
    Carry({{u"help.pdf", help, testing::kTime2010}});

    EXPECT_TRUE(InstallEntryFile(state_, u"help.pdf", feedback_));
    // An entry that is not carried: nothing to do, and still a success.
    EXPECT_TRUE(InstallEntryFile(state_, u"repo.jpg", feedback_));

    const U16String path = folder_ / u"help.pdf";
    EXPECT_EQ(ReadBytes(path), help);
    EXPECT_EQ(Listing(folder_.path()), std::vector<U16String>{u"help.pdf"});
    EXPECT_EQ(state_.installedFolders, StringList{folder_.path()});
    EXPECT_EQ(state_.installedFiles, StringList{path});
    EXPECT_TRUE(state_.replacedFiles.empty());
    EXPECT_TRUE(state_.keptFiles.empty());
    EXPECT_TRUE(feedback_.messages.empty());
    // The file keeps the time of writing, not the entry's.
    EXPECT_GT(TimesOf(path).write, testing::kTime2010);
}

TEST_F(FileInstall, IdenticalFileIsLeftUntouchedButListedAndRemembered) {
    const std::vector<uint8_t> dll = PatternBytes(3000, 7);
    Carry({{u"zorbel.dll", dll, testing::kTime2010}});
    const U16String path = folder_ / u"zorbel.dll";
    WriteBytes(path, dll);
    testing::SetTimes(path, testing::kTime2001);

    EXPECT_TRUE(InstallEntryFile(state_, u"ZORBEL.dll", feedback_));

    // Not rewritten: the earlier time stamps stand (reading may move the
    // last-access time on the Linux side, so it is not compared).
    const testing::FileTimes times = TimesOf(path);
    EXPECT_EQ(times.write, testing::kTime2001);
    EXPECT_EQ(times.creation, testing::kTime2001);
    EXPECT_EQ(Listing(folder_.path()), std::vector<U16String>{u"zorbel.dll"});
    EXPECT_EQ(state_.installedFiles, StringList{folder_ / u"ZORBEL.dll"});
    EXPECT_EQ(state_.installedFolders, StringList{folder_.path()});
    EXPECT_EQ(state_.keptFiles, StringList{folder_ / u"ZORBEL.dll"});
    EXPECT_TRUE(state_.replacedFiles.empty());
}

TEST_F(FileInstall, FileWhoseLastByteDiffersIsRewrittenAndTheEarlierOneKeptAside) {
    const std::vector<uint8_t> dll = PatternBytes(5000, 3);
    std::vector<uint8_t> earlier = dll;
    earlier.back() ^= 0x5A;
    const U16String path = CarryOver(u"zorbel.dll", dll, earlier);

    EXPECT_TRUE(InstallEntryFile(state_, u"zorbel.dll", feedback_));

    EXPECT_EQ(ReadBytes(path), dll);
    ASSERT_EQ(state_.replacedFiles.size(), 1u);
    const U16String aside = state_.replacedFiles[0];
    EXPECT_TRUE(IsAsideNameOf(aside, path)) << ToUtf8(aside);
    EXPECT_EQ(OriginalNameOf(aside), path);
    EXPECT_EQ(ReadBytes(aside), earlier);
    EXPECT_EQ(state_.installedFiles, StringList{path});
    EXPECT_TRUE(state_.keptFiles.empty());
    EXPECT_TRUE(feedback_.messages.empty());
}

// Hands out one fixed GUID, or fails, and a fixed tick count.
class FixedGuid : public ForwardingSystemApi {
public:
    explicit FixedGuid(HRESULT result) : ForwardingSystemApi(Sys()), result_(result) {}
    HRESULT CoCreateGuid(GUID* guid) override {
        ++calls;
        if (FAILED(result_)) return result_;
        *guid = GUID{0x01234567, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
        return result_;
    }
    DWORD GetTickCount() override { return 4242; }
    int calls = 0;

private:
    HRESULT result_;
};

TEST_F(FileInstall, TemporaryNameIsThePathADotAndTheGuidBytesInMemoryOrder) {
    const U16String path = CarryOver(u"repo.jpg", Bytes("new picture"), Bytes("old picture"));
    FixedGuid guid(S_OK);
    ScopedSystemApi scope(guid);

    EXPECT_TRUE(InstallEntryFile(state_, u"repo.jpg", feedback_));

    // Data1, Data2 and Data3 little-endian, then Data4's eight bytes.
    EXPECT_EQ(state_.replacedFiles, StringList{path + u".67452301ab89efcd0123456789abcdef"});
    EXPECT_EQ(ReadBytes(path + u".67452301ab89efcd0123456789abcdef"), Bytes("old picture"));
}

TEST_F(FileInstall, WithoutAGuidTheMadeUpNamesComeFromPseudoRandomWords) {
    const U16String path = CarryOver(u"repo.jpg", Bytes("new picture"), Bytes("old picture"));
    FixedGuid noGuid(E_FAIL);
    ScopedSystemApi scope(noGuid);
    // Whether this process has seeded the generator already or seeds it now
    // from the tick count, the words come from a generator seeded with 4242.
    std::srand(4242);

    EXPECT_TRUE(InstallEntryFile(state_, u"repo.jpg", feedback_));

    // Two names are made: the new file's temporary name, then the earlier
    // file's aside name, each from four fresh words.
    std::srand(4242);
    uint8_t expected[2][16];
    for (auto& bytes : expected) {
        for (int w = 0; w < 4; ++w) {
            const uint32_t high = static_cast<uint32_t>(std::rand());
            const uint32_t low = static_cast<uint32_t>(std::rand());
            const uint32_t word = (high << 16) | low;
            for (int b = 0; b < 4; ++b) bytes[4 * w + b] = static_cast<uint8_t>(word >> (8 * b));
            // The run-time library's rand() has 15 bits.
            EXPECT_EQ(word & 0x80008000u, 0u);
        }
    }
    EXPECT_EQ(noGuid.calls, 2);
    EXPECT_EQ(state_.replacedFiles, StringList{AsideName(path, expected[1])});
    EXPECT_EQ(ReadBytes(AsideName(path, expected[1])), Bytes("old picture"));
    EXPECT_EQ(ReadBytes(path), Bytes("new picture"));
}

TEST_F(FileInstall, FileHeldOpenWithoutSharingIsNeitherMovedNorOverwritten) {
    const U16String path = CarryOver(u"zorbel.dll", Bytes("new library"), Bytes("old library"));
    {
        UniqueFile holder(::CreateFileW(AsWide(path), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);

        EXPECT_FALSE(InstallEntryFile(state_, u"zorbel.dll", feedback_));
    }
    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(feedback_.messages[0].text, CreateFileMessage(path, ERROR_SHARING_VIOLATION));
    EXPECT_EQ(feedback_.messages[0].style, static_cast<uint32_t>(MB_OK | MB_ICONHAND));
    EXPECT_EQ(ReadBytes(path), Bytes("old library"));
    EXPECT_EQ(Listing(folder_.path()), std::vector<U16String>{u"zorbel.dll"});
    EXPECT_TRUE(state_.installedFiles.empty());
    EXPECT_TRUE(state_.installedFolders.empty());
    EXPECT_TRUE(state_.replacedFiles.empty());
}

// Counts the moves the engine asks for.
class CountingMoves : public ForwardingSystemApi {
public:
    CountingMoves() : ForwardingSystemApi(Sys()) {}
    BOOL MoveFileW(LPCWSTR from, LPCWSTR to) override {
        ++moves;
        return inner_.MoveFileW(from, to);
    }
    BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
        ++moves;
        return inner_.MoveFileExW(from, to, flags);
    }
    int moves = 0;
};

TEST_F(FileInstall, FolderOfTheFilesNameShowsTheMessageAtOnceWithoutAMove) {
    Carry({{u"zorbel.dll", Bytes("library"), testing::kTime2010}});
    const U16String path = folder_ / u"zorbel.dll";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(path), nullptr));
    CountingMoves counter;
    ScopedSystemApi scope(counter);

    EXPECT_FALSE(InstallEntryFile(state_, u"zorbel.dll", feedback_));

    EXPECT_EQ(counter.moves, 0);
    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(feedback_.messages[0].text, CreateFileMessage(path, ERROR_ACCESS_DENIED));
    EXPECT_NE(::GetFileAttributesW(AsWide(path)) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // Not even a temporary file was written.
    EXPECT_EQ(Listing(folder_.path()), std::vector<U16String>{u"zorbel.dll"});
    EXPECT_TRUE(state_.installedFiles.empty());
    EXPECT_TRUE(state_.replacedFiles.empty());
}

// Refuses, with `error`, to create a new file for `path` under its temporary
// name, or to move that file onto `path`.
class RefusedNewFile : public ForwardingSystemApi {
public:
    enum class Step { Creation, MoveOntoTheName };
    RefusedNewFile(U16String path, Step step, DWORD error)
        : ForwardingSystemApi(Sys()), path_(std::move(path)), step_(step), error_(error) {}
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        if (step_ == Step::Creation && (access & GENERIC_WRITE) && TargetOfTemporaryName(FromWide(name)) == path_) {
            ::SetLastError(error_);
            return INVALID_HANDLE_VALUE;
        }
        return inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
    }
    BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
        if (step_ == Step::MoveOntoTheName && TargetOfTemporaryName(FromWide(from)) == path_) {
            ::SetLastError(error_);
            return FALSE;
        }
        return inner_.MoveFileExW(from, to, flags);
    }

private:
    U16String path_;
    Step step_;
    DWORD error_;
};

TEST_F(FileInstall, EarlierFileStaysOrIsMovedBackWhenTheNewOneCannotBeCreatedOrTakeTheName) {
    const struct {
        const char* what;
        RefusedNewFile::Step step;
        DWORD error;
    } cases[] = {
        {"temporary file refused", RefusedNewFile::Step::Creation, ERROR_ACCESS_DENIED},
        {"name refused after the earlier file was moved aside", RefusedNewFile::Step::MoveOntoTheName,
         ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        InstallState state;
        state.destinationFolder = folder.path();
        RecordingFeedback feedback;
        state.payload = testing::MakePayload({{u"zorbel.dll", Bytes("new library"), testing::kTime2010}});
        const U16String path = folder / u"zorbel.dll";
        WriteBytes(path, Bytes("old library"));
        testing::SetTimes(path, testing::kTime2001);
        {
            RefusedNewFile refuse(path, c.step, c.error);
            ScopedSystemApi scope(refuse);
            EXPECT_FALSE(InstallEntryFile(state, u"zorbel.dll", feedback));
        }
        ASSERT_EQ(feedback.messages.size(), 1u);
        EXPECT_EQ(feedback.messages[0].text, CreateFileMessage(path, c.error));
        EXPECT_EQ(ReadBytes(path), Bytes("old library"));
        EXPECT_EQ(TimesOf(path).write, testing::kTime2001);
        EXPECT_EQ(Listing(folder.path()), std::vector<U16String>{u"zorbel.dll"});
        EXPECT_TRUE(state.replacedFiles.empty());
        EXPECT_TRUE(state.installedFiles.empty());
    }
}

TEST_F(FileInstall, RunningExecutableIsMovedAsideAndReplaced) {
    const U16String path = folder_ / u"Quentar.exe";
    testing::RunningProgram program(path);
    ASSERT_TRUE(program.Running());
    // Windows keeps a running program's executable from being overwritten.
    {
        UniqueFile direct(::CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                                        nullptr));
        ASSERT_FALSE(direct);
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }

    const std::vector<uint8_t> application = PatternBytes(40000, 11);
    Carry({{u"Quentar.exe", application, testing::kTime2010}});
    state_.applicationEntry = FindEntry(u"Quentar.exe", state_);
    state_.applicationPath = path;
    ChunkPlan plan;
    PlanChunks(static_cast<uint32_t>(application.size()), plan);

    EXPECT_TRUE(WriteApplicationExecutable(state_, plan, feedback_));

    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(feedback_.messages.empty());
    EXPECT_EQ(ReadBytes(path), application);
    ASSERT_EQ(state_.replacedFiles.size(), 1u);
    EXPECT_TRUE(IsAsideNameOf(state_.replacedFiles[0], path)) << ToUtf8(state_.replacedFiles[0]);
    EXPECT_EQ(ReadBytes(state_.replacedFiles[0]), program.bytes());
    EXPECT_EQ(state_.installedFiles, StringList{path});
    EXPECT_TRUE(state_.installedFolders.empty());
}

// Records the writes made through handles opened for writing on one path,
// with the position each started at.
class WriteRecorder : public ForwardingSystemApi {
public:
    struct Write {
        uint32_t position;
        uint32_t size;
    };
    explicit WriteRecorder(U16String path) : ForwardingSystemApi(Sys()), path_(std::move(path)) {}

    // The new file is written under its temporary name.
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        const HANDLE h = inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
        if (h != INVALID_HANDLE_VALUE && (access & GENERIC_WRITE) && TargetOfTemporaryName(FromWide(name)) == path_) {
            target_ = h;
        }
        return h;
    }
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        if (file == target_) {
            LONG high = 0;
            const DWORD position = inner_.SetFilePointer(file, 0, &high, FILE_CURRENT);
            writes.push_back({position, size});
        }
        return inner_.WriteFile(file, buffer, size, done, overlapped);
    }
    std::vector<Write> writes;

protected:
    U16String path_;
    HANDLE target_ = INVALID_HANDLE_VALUE;
};

TEST_F(FileInstall, ApplicationExecutableIsWrittenChunkByChunkInPlanOrderWithTheEntrysTime) {
    // Files below 200 bytes take one chunk, an empty one none.
    for (const uint32_t size : {1000000u, 1000001u, 150u, 0u}) {
        SCOPED_TRACE(size);
        TempFolder folder;
        InstallState state;
        RecordingFeedback feedback;
        const std::vector<uint8_t> application = PatternBytes(size, size);
        const uint64_t stamp = testing::kTime2010 + 123456789;
        state.payload = testing::MakePayload({{u"Quentar.exe", application, stamp}});
        state.applicationEntry = FindEntry(u"Quentar.exe", state);
        state.applicationPath = folder / u"Quentar.exe";
        std::srand(size);
        ChunkPlan plan;
        PlanChunks(size, plan);
        WriteRecorder recorder(state.applicationPath);
        {
            ScopedSystemApi scope(recorder);
            ASSERT_TRUE(WriteApplicationExecutable(state, plan, feedback));
        }
        // One write per chunk, in the plan's order, each at its position.
        ASSERT_EQ(recorder.writes.size(), plan.size());
        for (size_t k = 0; k < plan.size(); ++k) {
            EXPECT_EQ(recorder.writes[k].position, plan[k].position) << k;
            EXPECT_EQ(recorder.writes[k].size, plan[k].size) << k;
        }
        std::vector<uint32_t> expectedPositions(plan.size());
        for (size_t k = 0; k < plan.size(); ++k) expectedPositions[k] = static_cast<uint32_t>(k);
        EXPECT_EQ(feedback.positions, expectedPositions);
        EXPECT_EQ(feedback.pauses, std::vector<uint32_t>(plan.size(), 10u));
        // The times first: reading the content may move the access time.
        const testing::FileTimes times = TimesOf(state.applicationPath);
        EXPECT_EQ(times.creation, stamp);
        EXPECT_EQ(times.access, stamp);
        EXPECT_EQ(times.write, stamp);
        EXPECT_EQ(ReadBytes(state.applicationPath), application);
        EXPECT_EQ(state.installedFiles, StringList{state.applicationPath});
        EXPECT_TRUE(state.installedFolders.empty());
        EXPECT_TRUE(feedback.messages.empty());
    }
}

TEST_F(FileInstall, ApplicationExecutableNeedsItsEntryAndAPlanThatFitsIt) {
    state_.applicationPath = folder_ / u"Quentar.exe";
    ChunkPlan plan;
    PlanChunks(1000, plan);
    // No entry: nothing to write (the install sequence explains it).
    EXPECT_FALSE(WriteApplicationExecutable(state_, plan, feedback_));
    EXPECT_TRUE(feedback_.messages.empty());

    Carry({{u"Quentar.exe", PatternBytes(999), testing::kTime2010}});
    state_.applicationEntry = FindEntry(u"Quentar.exe", state_);
    EXPECT_FALSE(WriteApplicationExecutable(state_, plan, feedback_));
    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(feedback_.messages[0].text, CreateFileMessage(state_.applicationPath, ERROR_INVALID_DATA));
    EXPECT_FALSE(Exists(state_.applicationPath));
    EXPECT_TRUE(state_.installedFiles.empty());
}

// Installs `path` from the payload's entry of its name, as the application
// executable (chunk by chunk, from "Quentar.exe") or as the companion
// "zorbel.dll".
bool InstallAs(bool applicationExecutable, InstallState& state, const U16String& path, RecordingFeedback& feedback) {
    if (!applicationExecutable) return InstallEntryFile(state, u"zorbel.dll", feedback);
    return WriteApplicationTo(state, path, feedback);
}

// Makes the writing of one path fail in a chosen way, at the `nth` write or
// positioning (counted from 1).
enum class WriteFault { WriteFails, ShortWrite, SeekFails, CloseFails };

class FailingWrites : public WriteRecorder {
public:
    FailingWrites(U16String path, WriteFault fault, int nth) : WriteRecorder(std::move(path)), fault_(fault), nth_(nth) {}

    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        if (file == target_ && ++writeCalls_ == nth_) {
            if (fault_ == WriteFault::WriteFails) {
                *done = 0;
                ::SetLastError(ERROR_DISK_FULL);
                return FALSE;
            }
            if (fault_ == WriteFault::ShortWrite) {
                // What a full disk can do: part of the bytes, and success.
                return inner_.WriteFile(file, buffer, size / 2, done, overlapped);
            }
        }
        return inner_.WriteFile(file, buffer, size, done, overlapped);
    }
    DWORD SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) override {
        if (file == target_ && fault_ == WriteFault::SeekFails && ++seekCalls_ == nth_) {
            ::SetLastError(ERROR_NEGATIVE_SEEK);
            return INVALID_SET_FILE_POINTER;
        }
        return inner_.SetFilePointer(file, distance, high, method);
    }
    BOOL CloseHandle(HANDLE handle) override {
        const BOOL closed = inner_.CloseHandle(handle);
        if (handle == target_ && fault_ == WriteFault::CloseFails) {
            target_ = INVALID_HANDLE_VALUE;
            ::SetLastError(ERROR_NETNAME_DELETED);
            return FALSE;
        }
        return closed;
    }

private:
    WriteFault fault_;
    int nth_;
    int writeCalls_ = 0;
    int seekCalls_ = 0;
};

TEST_F(FileInstall, FailedOrShortWritesFailTheStepAndLeaveTheEarlierFile) {
    struct Case {
        const char* what;
        WriteFault fault;
        DWORD shownError;
        bool applicationExecutable;
    };
    // A companion is written with one call, the executable with one per
    // chunk (its third fails: two chunks are already on disk).
    const Case cases[] = {
        {"write fails", WriteFault::WriteFails, ERROR_DISK_FULL, true},
        {"write falls short", WriteFault::ShortWrite, ERROR_DISK_FULL, true},
        {"positioning fails", WriteFault::SeekFails, ERROR_NEGATIVE_SEEK, true},
        {"close fails", WriteFault::CloseFails, ERROR_NETNAME_DELETED, true},
        {"write fails", WriteFault::WriteFails, ERROR_DISK_FULL, false},
        {"write falls short", WriteFault::ShortWrite, ERROR_DISK_FULL, false},
        {"close fails", WriteFault::CloseFails, ERROR_NETNAME_DELETED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (c.applicationExecutable ? " (application executable)" : " (companion)"));
        TempFolder folder;
        InstallState state;
        state.destinationFolder = folder.path();
        RecordingFeedback feedback;
        const std::vector<uint8_t> data = PatternBytes(100000, 5);
        state.payload = testing::MakePayload({{u"Quentar.exe", data, testing::kTime2010},
                                              {u"zorbel.dll", data, testing::kTime2010}});
        const U16String path = folder / (c.applicationExecutable ? u"Quentar.exe" : u"zorbel.dll");
        WriteBytes(path, Bytes("the earlier installation's file"));
        testing::SetTimes(path, testing::kTime2001);
        bool result;
        {
            FailingWrites faults(path, c.fault, c.applicationExecutable ? 3 : 1);
            ScopedSystemApi scope(faults);
            result = InstallAs(c.applicationExecutable, state, path, feedback);
        }
        EXPECT_FALSE(result);
        ASSERT_EQ(feedback.messages.size(), 1u);
        EXPECT_EQ(feedback.messages[0].text, CreateFileMessage(path, c.shownError));
        EXPECT_EQ(feedback.messages[0].style, static_cast<uint32_t>(MB_OK | MB_ICONHAND));
        // As if the file could not be created: the earlier one is back as it
        // was, nothing new is left or listed.
        EXPECT_EQ(ReadBytes(path), Bytes("the earlier installation's file"));
        EXPECT_EQ(TimesOf(path).write, testing::kTime2001);
        EXPECT_EQ(Listing(folder.path()).size(), 1u);
        EXPECT_TRUE(state.installedFiles.empty());
        EXPECT_TRUE(state.replacedFiles.empty());
    }
}

// Watches the name of one file while it is installed: before every call the
// engine makes, the name must hold the earlier file or the new one, each
// whole, or nothing only between moving the earlier file aside and moving
// the new one onto the name. Records the steps on the new file.
class NameWatcher : public ForwardingSystemApi {
public:
    NameWatcher(U16String path, std::vector<uint8_t> earlier, std::vector<uint8_t> fresh)
        : ForwardingSystemApi(Sys()), path_(std::move(path)), earlier_(std::move(earlier)), new_(std::move(fresh)) {}

    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        Check();
        const HANDLE h = inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
        if (h != INVALID_HANDLE_VALUE && (access & GENERIC_WRITE) && TargetOfTemporaryName(FromWide(name)) == path_) {
            written_ = h;
            steps.push_back(disposition == CREATE_NEW ? "create new" : "create");
        }
        return h;
    }
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        Check();
        if (file == written_ && (steps.empty() || steps.back() != "write")) steps.push_back("write");
        return inner_.WriteFile(file, buffer, size, done, overlapped);
    }
    BOOL SetFileTime(HANDLE file, const FILETIME* c, const FILETIME* a, const FILETIME* w) override {
        if (file == written_) steps.push_back("times");
        return inner_.SetFileTime(file, c, a, w);
    }
    BOOL FlushFileBuffers(HANDLE file) override {
        if (file == written_) steps.push_back("flush");
        return inner_.FlushFileBuffers(file);
    }
    BOOL CloseHandle(HANDLE handle) override {
        if (handle == written_) {
            steps.push_back("close");
            written_ = INVALID_HANDLE_VALUE;
        }
        return inner_.CloseHandle(handle);
    }
    BOOL MoveFileW(LPCWSTR from, LPCWSTR to) override {
        Check();
        steps.push_back("plain move");
        return inner_.MoveFileW(from, to);
    }
    BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
        Check();
        const U16String source = FromWide(from);
        const bool writeThrough = (flags & MOVEFILE_WRITE_THROUGH) != 0;
        if (source == path_) {
            steps.push_back(writeThrough ? "aside" : "aside, not written through");
            const BOOL moved = inner_.MoveFileExW(from, to, flags);
            between_ = moved != FALSE;
            return moved;
        }
        if (TargetOfTemporaryName(source) == path_ && to != nullptr && FromWide(to) == path_) {
            steps.push_back(writeThrough ? "onto the name" : "onto the name, not written through");
            // Whole before it takes the name.
            EXPECT_EQ(testing::ReadBytes(source), new_);
            const BOOL moved = inner_.MoveFileExW(from, to, flags);
            between_ = between_ && !moved;
            return moved;
        }
        return inner_.MoveFileExW(from, to, flags);
    }

    std::vector<std::string> steps;

private:
    void Check() {
        if (!Exists(path_)) {
            EXPECT_TRUE(between_ || earlier_.empty()) << "nothing at the name, " << steps.size() << " steps in";
            return;
        }
        const std::vector<uint8_t> now = testing::ReadBytes(path_);
        EXPECT_TRUE(now == earlier_ || now == new_) << now.size() << " bytes at the name, " << steps.size()
                                                    << " steps in";
    }

    U16String path_;
    std::vector<uint8_t> earlier_, new_;
    HANDLE written_ = INVALID_HANDLE_VALUE;
    bool between_ = false;
};

TEST_F(FileInstall, EveryFileIsWholeUnderATemporaryNameBeforeItTakesItsName) {
    const std::vector<uint8_t> fresh = PatternBytes(90000, 21);
    const std::vector<uint8_t> earlier = Bytes("the earlier installation's file");
    struct Case {
        bool applicationExecutable;
        bool earlierThere;
    };
    for (const Case c : {Case{true, true}, Case{true, false}, Case{false, true}, Case{false, false}}) {
        SCOPED_TRACE(std::string(c.applicationExecutable ? "application executable" : "companion") +
                     (c.earlierThere ? ", over an earlier file" : ", where none was"));
        TempFolder folder;
        InstallState state;
        state.destinationFolder = folder.path();
        RecordingFeedback feedback;
        state.payload = testing::MakePayload({{u"Quentar.exe", fresh, testing::kTime2010},
                                              {u"zorbel.dll", fresh, testing::kTime2010}});
        const U16String path = folder / (c.applicationExecutable ? u"Quentar.exe" : u"zorbel.dll");
        if (c.earlierThere) WriteBytes(path, earlier);
        NameWatcher watcher(path, c.earlierThere ? earlier : std::vector<uint8_t>{}, fresh);
        {
            ScopedSystemApi scope(watcher);
            ASSERT_TRUE(InstallAs(c.applicationExecutable, state, path, feedback));
        }
        std::vector<std::string> expected = {"create new", "write"};
        if (c.applicationExecutable) expected.push_back("times");
        expected.insert(expected.end(), {"flush", "close"});
        if (c.earlierThere) expected.push_back("aside");
        expected.push_back("onto the name");
        EXPECT_EQ(watcher.steps, expected);
        EXPECT_EQ(ReadBytes(path), fresh);
        // Nothing is left beside it but the earlier file, moved aside.
        EXPECT_EQ(Listing(folder.path()).size(), c.earlierThere ? 2u : 1u);
        EXPECT_EQ(state.replacedFiles.size(), c.earlierThere ? 1u : 0u);
    }
}

// Writes to the new file fail (a full disk), and its temporary file cannot be
// deleted either (a virus scanner holds it, say).
class FailedWriteThatStays : public WriteRecorder {
public:
    explicit FailedWriteThatStays(U16String path) : WriteRecorder(std::move(path)) {}
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        if (file != target_) return inner_.WriteFile(file, buffer, size, done, overlapped);
        // Half of it lands, then the disk is full.
        inner_.WriteFile(file, buffer, size / 2, done, overlapped);
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    BOOL DeleteFileW(LPCWSTR name) override {
        if (TargetOfTemporaryName(FromWide(name)) == path_) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return inner_.DeleteFileW(name);
    }
};

TEST_F(FileInstall, AnIncompleteFileThatCannotBeDeletedNeverCostsTheEarlierOne) {
    const U16String path = CarryOver(u"zorbel.dll", PatternBytes(5000, 9), Bytes("the earlier library"));
    {
        FailedWriteThatStays faults(path);
        ScopedSystemApi scope(faults);
        EXPECT_FALSE(InstallEntryFile(state_, u"zorbel.dll", feedback_));
    }
    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(feedback_.messages[0].text, CreateFileMessage(path, ERROR_DISK_FULL));
    // The earlier file was never touched; the incomplete one waits, listed
    // for deletion only, under its temporary name.
    EXPECT_EQ(ReadBytes(path), Bytes("the earlier library"));
    EXPECT_TRUE(state_.installedFiles.empty());
    ASSERT_EQ(state_.replacedFiles.size(), 1u);
    const U16String incomplete = state_.replacedFiles[0];
    EXPECT_EQ(TargetOfTemporaryName(incomplete), path);
    EXPECT_EQ(Listing(folder_.path()).size(), 2u);

    // A companion that fails does not stop the installation, whose end then
    // deletes what it left: the incomplete file goes, the earlier one stays.
    EXPECT_EQ(ProcessPendingDeletions(state_, feedback_), PendingDeletions::AllDeleted);
    EXPECT_EQ(ReadBytes(path), Bytes("the earlier library"));
    EXPECT_EQ(Listing(folder_.path()), std::vector<U16String>{u"zorbel.dll"});
}

}  // namespace
}  // namespace quentar
