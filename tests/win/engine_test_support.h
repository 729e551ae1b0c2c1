// What the installation engine's tests share: a feedback that records what
// the engine reports, a fresh folder per test, payloads built in memory, and
// small file helpers.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "install/chunk_plan.h"
#include "install/file_install.h"
#include "install/install_feedback.h"
#include "payload/archive_builder.h"
#include "payload/payload_archive.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "registry_scratch.h"
#include "state/install_state.h"
#include "test_paths.h"

namespace quentar::testing {

// Records every report of the engine; answers questions with `answer`.
class RecordingFeedback : public InstallFeedback {
public:
    struct ShownMessage {
        U16String text;
        uint32_t style;
    };

    explicit RecordingFeedback(int answer = IDOK) : answer_(answer) {}

    void BeginProgress(uint32_t steps) override { begun.push_back(steps); }
    void Progress(uint32_t position) override { positions.push_back(position); }
    void Pause(uint32_t milliseconds) override { pauses.push_back(milliseconds); }
    int Message(const U16String& text, uint32_t style) override {
        messages.push_back({text, style});
        return answer_;
    }
    void Log(U16View line) override { log.emplace_back(line); }

    // Whether a line of the log is `line`, or holds `part`.
    bool Logged(U16View line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
    bool LoggedWith(U16View part) const {
        return std::any_of(log.begin(), log.end(), [&](const U16String& l) { return l.find(part) != U16String::npos; });
    }

    std::vector<uint32_t> begun;
    std::vector<uint32_t> positions;
    std::vector<uint32_t> pauses;
    std::vector<ShownMessage> messages;
    std::vector<U16String> log;

private:
    int answer_;
};

// An empty folder of its own under the temporary folder, deleted with
// everything in it at the end of the test.
class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, base);
        GUID guid{};
        ::CoCreateGuid(&guid);
        wchar_t name[64];
        swprintf(name, 64, L"engine-%08lx%04x", static_cast<unsigned long>(guid.Data1), guid.Data2);
        path_ = FromWide(base) + FromWide(name);
        EXPECT_TRUE(::CreateDirectoryW(AsWide(path_), nullptr)) << "error " << ::GetLastError();
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const U16String& path() const { return path_; }
    U16String operator/(U16View name) const { return path_ + u"\\" + U16String(name); }

    static void RemoveTree(const U16String& folder) {
        WIN32_FIND_DATAW data;
        const HANDLE search = ::FindFirstFileW(AsWide(folder + u"\\*"), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const U16String name = FromWide(data.cFileName);
                if (name == u"." || name == u"..") continue;
                const U16String child = folder + u"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(child);
                } else {
                    ::SetFileAttributesW(AsWide(child), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileW(AsWide(child));
                }
            } while (::FindNextFileW(search, &data));
            ::FindClose(search);
        }
        ::RemoveDirectoryW(AsWide(folder));
    }

private:
    U16String path_;
};

struct CarriedEntry {
    U16String name;
    std::vector<uint8_t> data;
    uint64_t lastWriteTime = 0;
};

// The decoded archive of `entries`, in order, as the welcome page would hold it.
inline std::unique_ptr<PayloadArchive> MakePayload(const std::vector<CarriedEntry>& entries) {
    std::vector<PackedEntry> packed;
    for (const CarriedEntry& e : entries) {
        EntryFields fields;
        fields.name = e.name;
        fields.lastWriteTime = e.lastWriteTime;
        fields.creationTime = e.lastWriteTime - 1;
        fields.lastAccessTime = e.lastWriteTime + 1;
        packed.push_back(PackEntry(fields, e.data.data(), e.data.size(), ParseMode::Greedy));
    }
    const ArchiveKey key{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const std::vector<uint8_t> stored = BuildArchive(packed, key);
    DecodeResult result = DecodeArchive(stored.data(), stored.size());
    EXPECT_EQ(result.status, DecodeStatus::Ok) << result.Describe();
    return std::move(result.archive);
}

// `size` bytes that differ from position to position (no two chunks alike).
inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

inline bool Exists(const U16String& path) { return ::GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES; }

inline std::vector<uint8_t> ReadBytes(const U16String& path) {
    std::vector<uint8_t> bytes;
    UniqueFile file(::CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        ADD_FAILURE() << "cannot read " << ToUtf8(path) << ", error " << ::GetLastError();
        return bytes;
    }
    bytes.resize(::GetFileSize(file.get(), nullptr));
    DWORD got = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

inline void WriteBytes(const U16String& path, const std::vector<uint8_t>& bytes) {
    UniqueFile file(::CreateFileW(AsWide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file) << "cannot create " << ToUtf8(path) << ", error " << ::GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

struct FileTimes {
    uint64_t creation = 0, access = 0, write = 0;
};

inline uint64_t ToCount(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
inline FILETIME ToFileTime(uint64_t count) {
    return FILETIME{static_cast<DWORD>(count), static_cast<DWORD>(count >> 32)};
}

inline FileTimes TimesOf(const U16String& path) {
    FileTimes times;
    UniqueFile file(::CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    FILETIME c{}, a{}, w{};
    if (file && ::GetFileTime(file.get(), &c, &a, &w)) times = {ToCount(c), ToCount(a), ToCount(w)};
    return times;
}

inline void SetTimes(const U16String& path, uint64_t count) {
    UniqueFile file(::CreateFileW(AsWide(path), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    const FILETIME t = ToFileTime(count);
    ASSERT_TRUE(::SetFileTime(file.get(), &t, &t, &t));
}

// 2001-01-01 and 2010-01-01 as FILETIME counts.
constexpr uint64_t kTime2001 = 126227808000000000ull;
constexpr uint64_t kTime2010 = 129067776000000000ull;

// The sample application copied to `path` and started from there; ended when
// the object goes. While it runs, Windows refuses to overwrite or delete its
// executable but lets it be moved.
class RunningProgram {
public:
    explicit RunningProgram(const U16String& path) {
        EXPECT_TRUE(::CopyFileW(TEST_BUILD_DIR L"\\tools\\sample-app\\files\\QuentarSample.exe", AsWide(path), FALSE));
        bytes_ = ReadBytes(path);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(::CreateProcessW(AsWide(path), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &info))
            << "error " << ::GetLastError();
        process_.reset(info.hProcess);
        UniqueHandle thread(info.hThread);
        if (process_) ::WaitForInputIdle(process_.get(), 10000);
    }
    ~RunningProgram() { End(); }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
    // Whether the program ends by itself within `milliseconds`.
    bool WaitForEnd(DWORD milliseconds) const {
        return process_ && ::WaitForSingleObject(process_.get(), milliseconds) == WAIT_OBJECT_0;
    }
    // The program's main window (the first visible top-level window of its
    // process), or null.
    HWND Window() const {
        WindowSearch search{process_ ? ::GetProcessId(process_.get()) : 0, nullptr};
        ::EnumWindows(&RunningProgram::MatchWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    void End() {
        if (!process_) return;
        ::TerminateProcess(process_.get(), 0);
        ::WaitForSingleObject(process_.get(), 10000);
        process_.reset();
    }
    // The executable's content as it was started.
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    struct WindowSearch {
        DWORD processId;
        HWND found;
    };
    static BOOL CALLBACK MatchWindow(HWND window, LPARAM l) {
        auto* search = reinterpret_cast<WindowSearch*>(l);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId || !::IsWindowVisible(window)) return TRUE;
        search->found = window;
        return FALSE;
    }

    UniqueHandle process_;
    std::vector<uint8_t> bytes_;
};

inline std::vector<uint8_t> Bytes(const char* text) {
    return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text));
}

// Writes the payload's Quentar.exe to `path` as the install sequence does:
// its entry and path set in `state`, then written chunk by chunk in the
// plan's order.
inline bool WriteApplicationTo(InstallState& state, const U16String& path, InstallFeedback& feedback) {
    state.applicationEntry = FindEntry(u"Quentar.exe", state);
    state.applicationPath = path;
    ChunkPlan plan;
    PlanChunks(state.applicationEntry.FileSizeLow(), plan);
    return WriteApplicationExecutable(state, plan, feedback);
}

// The strings of PendingFileRenameOperations (pairs: source, target).
inline std::vector<U16String> PendingRenames() {
    std::vector<U16String> strings;
    for (const std::wstring& s : test_registry::PendingRenameStrings()) strings.push_back(FromWide(s.c_str()));
    return strings;
}

// Whether `path` is marked for deletion at the next start.
inline bool MarkedForDeletion(const U16String& path) {
    const std::vector<U16String> s = PendingRenames();
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        if (EqualsIgnoreAsciiCase(s[i], u"\\??\\" + path) && s[i + 1].empty()) return true;
    }
    return false;
}

// Takes this test's marks out of PendingFileRenameOperations again.
inline void Unmark(const U16String& path) {
    test_registry::DropPendingRenames([&](const std::wstring& source) {
        return EqualsIgnoreAsciiCase(FromWide(source.c_str()), u"\\??\\" + path);
    });
}

}  // namespace quentar::testing
