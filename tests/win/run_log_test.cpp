// The log of a run, against the real file system: runs appended one after
// another under their headings, the fall-back to the default log, writes that
// fail, the answers given when nobody is asked, and the one-setup-at-a-time
// mutex.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "engine_test_support.h"
#include "install/file_install.h"
#include "install/run_log.h"
#include "platform/module_text.h"
#include "platform/system_api.h"

namespace quentar {
namespace {

using testing::Bytes;
using testing::Exists;
using testing::ReadBytes;
using testing::TempFolder;

std::string ReadText(const U16String& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The lines of a log, without its byte-order mark; fails the test when a
// line does not end with CR LF.
std::vector<std::string> Lines(std::string text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the last line is not ended: " << text.substr(start);
    return lines;
}

// The time and the process every line starts with, and the rest.
const std::regex kTimed("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[" + std::to_string(::GetCurrentProcessId()) + "\\] (.*)");

std::string Untimed(const std::string& line) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, kTimed)) << line;
    return match.size() > 1 ? match[1].str() : line;
}

// Sends GetTempPathW to a folder of the test's own, or makes it fail.
class TempPathIn : public ForwardingSystemApi {
public:
    explicit TempPathIn(U16String folder) : ForwardingSystemApi(Sys()), folder_(std::move(folder)) {}
    DWORD GetTempPathW(DWORD size, LPWSTR buffer) override {
        if (folder_.empty()) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        const U16String path = folder_ + u"\\";
        if (path.size() + 1 > size) return static_cast<DWORD>(path.size() + 1);
        std::copy(path.begin(), path.end(), buffer);
        buffer[path.size()] = L'\0';
        return static_cast<DWORD>(path.size());
    }

private:
    U16String folder_;
};

class RunLogTest : public ::testing::Test {
protected:
    void TearDown() override { TheRunLog().Close(); }
    TempFolder folder_;
};

TEST_F(RunLogTest, EveryRunIsAppendedUnderAHeadingWithTimeVersionAndArguments) {
    const U16String path = folder_ / u"run.log";
    OpenRunLog(path, {u"Setup.exe", u"/quiet", u"/dir:C:\\Program Files\\Qu\u00E4ntar", u""});
    TheRunLog().Write(u"first run\r\nsecond line of it");
    TheRunLog().Close();
    OpenRunLog(path, {u"Setup.exe"});
    TheRunLog().Write(u"second run");
    TheRunLog().Close();

    const std::string text = ReadText(path);
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "a new log starts with the UTF-8 byte-order mark";
    EXPECT_EQ(text.find("\xEF\xBB\xBF", 1), std::string::npos) << "the mark is not repeated for the second run";
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 8u) << text;

    const FileVersion version{{SETUP_VERSION_PARTS}};
    const std::string versionText = std::to_string(version.parts[0]) + "\\." + std::to_string(version.parts[1]) +
                                    "\\." + std::to_string(version.parts[2]) + "\\." +
                                    std::to_string(version.parts[3]);
    const std::regex heading("===== Quentar Setup " + versionText +
                             R"(, run of \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d, process )" +
                             std::to_string(::GetCurrentProcessId()) + " =====");
    EXPECT_TRUE(std::regex_match(Untimed(lines[0]), heading)) << lines[0];
    EXPECT_EQ(Untimed(lines[1]), "program: " + ToUtf8(ModuleFileName()));
    // Arguments holding blanks (or nothing) are quoted; text is UTF-8.
    EXPECT_EQ(Untimed(lines[2]), "arguments: /quiet \"/dir:C:\\Program Files\\Qu\xC3\xA4ntar\" \"\"");
    EXPECT_EQ(Untimed(lines[3]), "first run  second line of it") << "a line break never starts a line of its own";
    EXPECT_TRUE(std::regex_match(Untimed(lines[4]), heading)) << lines[4];
    EXPECT_EQ(Untimed(lines[6]), "arguments: none");
    EXPECT_EQ(Untimed(lines[7]), "second run");
}

TEST_F(RunLogTest, ALogThatCannotBeOpenedFallsBackToTheDefaultLog) {
    TempPathIn temp(folder_.path());
    ScopedSystemApi scope(temp);
    ASSERT_EQ(ToUtf8(DefaultLogPath()), ToUtf8(folder_ / u"Quentar Setup.log"));

    const U16String missing = folder_ / u"no such folder\\q.log";
    OpenRunLog(missing, {u"Setup.exe", u"/log:" + missing});
    TheRunLog().Write(u"a line of the run");
    TheRunLog().Close();

    EXPECT_FALSE(Exists(missing));
    const std::vector<std::string> lines = Lines(ReadText(folder_ / u"Quentar Setup.log"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Untimed(lines[3]), "the log " + ToUtf8(missing) + " cannot be opened (error 3 (" +
                                     ToUtf8(SystemErrorText(ERROR_PATH_NOT_FOUND)) +
                                     ")): this run is logged here");
    EXPECT_EQ(Untimed(lines[4]), "a line of the run");
}

TEST_F(RunLogTest, WithoutAnyLogTheRunGoesOnAndWritesNothing) {
    TempPathIn temp(u"");
    ScopedSystemApi scope(temp);
    EXPECT_EQ(DefaultLogPath(), u"");
    OpenRunLog(folder_ / u"no such folder\\q.log", {u"Setup.exe"});
    EXPECT_FALSE(TheRunLog().IsOpen());
    ::SetLastError(1234);
    TheRunLog().Write(u"dropped");
    EXPECT_EQ(::GetLastError(), 1234u);
}

// Every write to the log fails, as on a full disk.
class FullLogDisk : public ForwardingSystemApi {
public:
    FullLogDisk() : ForwardingSystemApi(Sys()) {}
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        if (file == TheRunLog().Handle()) {
            ++refused;
            if (done != nullptr) *done = 0;
            ::SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        return inner_.WriteFile(file, buffer, size, done, overlapped);
    }
    int refused = 0;
};

TEST_F(RunLogTest, AFullDiskUnderTheLogDoesNotStopTheInstallationNorChangeItsErrors) {
    const U16String logPath = folder_ / u"full.log";
    ASSERT_TRUE(TheRunLog().Open(logPath));
    const U16String destination = folder_ / u"destination";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(destination), nullptr));
    InstallState state;
    state.destinationFolder = destination;
    state.payload = testing::MakePayload({{u"help.pdf", Bytes("help"), testing::kTime2010}});
    UnattendedFeedback feedback;

    FullLogDisk full;
    {
        ScopedSystemApi scope(full);
        EXPECT_TRUE(InstallEntryFile(state, u"help.pdf", feedback));
        // The error a failed call left is still there after its log line.
        ::SetLastError(ERROR_SHARING_VIOLATION);
        feedback.Log(u"a line after a failure");
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_GE(full.refused, 2);
    EXPECT_EQ(ReadBytes(destination + u"\\help.pdf"), Bytes("help"));

    // Room again: the next line is written.
    feedback.Log(u"the disk has room again");
    TheRunLog().Close();
    const std::vector<std::string> lines = Lines(ReadText(logPath));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Untimed(lines[0]), "the disk has room again");
}

TEST(UnattendedFeedback, AnswersWhatGoesNoFurtherAndLogsTheMessage) {
    struct Case {
        uint32_t style;
        int answer;
        const char* logged;
    } cases[] = {
        {MB_OK | MB_ICONHAND, IDOK, "OK"},
        {MB_YESNO | MB_ICONEXCLAMATION, IDNO, "No"},
        {MB_YESNOCANCEL | MB_ICONQUESTION, IDCANCEL, "Cancel"},
        {MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDCANCEL, "Cancel"},
        {MB_OKCANCEL, IDCANCEL, "Cancel"},
        {MB_ABORTRETRYIGNORE, IDABORT, "Abort"},
    };
    TempFolder folder;
    ASSERT_TRUE(TheRunLog().Open(folder / u"answers.log"));
    UnattendedFeedback feedback;
    for (const Case& c : cases) {
        EXPECT_EQ(feedback.Message(u"Unable to create path:\nC:\\Q", c.style), c.answer) << c.style;
    }
    TheRunLog().Close();
    const std::vector<std::string> lines = Lines(ReadText(folder / u"answers.log"));
    ASSERT_EQ(lines.size(), 2 * std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Untimed(lines[2 * i]), "message: Unable to create path: C:\\Q");
        EXPECT_EQ(Untimed(lines[2 * i + 1]), std::string("nobody to ask; answered: ") + cases[i].logged);
    }
}

// CreateMutexW answering as the case says, on a system without private
// namespaces.
class MutexAnswer : public ForwardingSystemApi {
public:
    MutexAnswer(bool made, DWORD error) : ForwardingSystemApi(Sys()), made_(made), error_(error) {}
    FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
        return std::strstr(name, "Namespace") != nullptr ? nullptr : inner_.GetProcAddress(module, name);
    }
    HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name) override {
        names.push_back(FromWide(name));
        HANDLE handle = made_ ? ::CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
        ::SetLastError(error_);
        return handle;
    }
    std::vector<U16String> names;

private:
    bool made_;
    DWORD error_;
};

TEST(SetupMutex, OneSetupAtATime) {
    SetupLock first;
    ASSERT_TRUE(TakeSetupMutex(first));
    ASSERT_TRUE(first.mutex);
    {
        SetupLock second;
        EXPECT_FALSE(TakeSetupMutex(second)) << "the first holds the mutex";
        EXPECT_FALSE(second.mutex) << "a refused run does not keep a handle";
        EXPECT_FALSE(second.space) << "a refused run does not keep the namespace open";
    }
    first = SetupLock();
    SetupLock again;
    EXPECT_TRUE(TakeSetupMutex(again)) << "free again once the first has ended";
}

TEST(SetupMutex, WhatTheSystemAnswersDecides) {
    struct Case {
        const char* what;
        bool made;
        DWORD error;
        bool runs;
        bool held;
    } cases[] = {
        {"made afresh", true, ERROR_SUCCESS, true, true},
        {"another run made it", true, ERROR_ALREADY_EXISTS, false, false},
        {"another user's run made it", false, ERROR_ACCESS_DENIED, false, false},
        {"no mutex can be made at all", false, ERROR_NOT_ENOUGH_MEMORY, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MutexAnswer answer(c.made, c.error);
        ScopedSystemApi scope(answer);
        SetupLock lock;
        EXPECT_EQ(TakeSetupMutex(lock), c.runs);
        EXPECT_EQ(static_cast<bool>(lock.mutex), c.held);
        ASSERT_EQ(answer.names.size(), 1u);
        EXPECT_EQ(ToUtf8(answer.names[0]), "Global\\Quentar Setup");
    }
}

}  // namespace
}  // namespace quentar
