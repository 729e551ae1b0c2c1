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
#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "fixture_paths.h"

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

// Sends the common application data folder to a folder of the test's own,
// or makes the system fail to name it (an empty folder).
class CommonAppDataIn : public ForwardingSystemApi {
public:
    explicit CommonAppDataIn(U16String folder) : ForwardingSystemApi(Sys()), folder_(std::move(folder)) {}
    HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, PIDLIST_ABSOLUTE* list) override {
        asked_ = folder == CSIDL_COMMON_APPDATA;
        if (asked_ && folder_.empty()) return E_FAIL;
        return inner_.SHGetSpecialFolderLocation(owner, folder, list);
    }
    BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path) override {
        if (!asked_) return inner_.SHGetPathFromIDListW(list, path);
        std::copy(folder_.begin(), folder_.end(), path);
        path[folder_.size()] = L'\0';
        return TRUE;
    }

private:
    U16String folder_;
    bool asked_ = false;
};

class RunLogTest : public ::testing::Test {
protected:
    void TearDown() override { TheRunLog().Close(); }
    TempFolder folder_;
};

TEST_F(RunLogTest, TheDefaultLogLivesInAFolderOnlyAdministratorsCanWrite) {
    CommonAppDataIn appData(folder_.path());
    ScopedSystemApi scope(appData);
    U16String logs;
    StringList notes;
    ASSERT_EQ(DefaultLogFolder(logs, &notes), ERROR_SUCCESS);
    const U16String data = folder_ / u"Quentar Setup";
    EXPECT_EQ(ToUtf8(logs), ToUtf8(data + u"\\Logs"));
    // Both levels made with the rights of the run's own folders, and said.
    const std::string rights = ToUtf8(kAdministratorsOnlyRights);
    EXPECT_EQ(notes, (StringList{u"log folder " + data + u" made with the rights " + kAdministratorsOnlyRights,
                                 u"log folder " + logs + u" made with the rights " + kAdministratorsOnlyRights}));
    // Found again as made: nothing more to say.
    notes.clear();
    ASSERT_EQ(DefaultLogFolder(logs, &notes), ERROR_SUCCESS);
    EXPECT_TRUE(notes.empty()) << ToUtf8(notes[0]);
}

TEST_F(RunLogTest, ALogThatCannotBeOpenedFallsBackToTheDefaultLog) {
    CommonAppDataIn appData(folder_.path());
    ScopedSystemApi scope(appData);
    const U16String defaultLog = folder_ / u"Quentar Setup\\Logs\\Setup.log";

    const U16String missing = folder_ / u"no such folder\\q.log";
    OpenRunLog(missing, {u"Setup.exe", u"/log:" + missing});
    TheRunLog().Write(u"a line of the run");
    TheRunLog().Close();

    EXPECT_FALSE(Exists(missing));
    const std::vector<std::string> lines = Lines(ReadText(defaultLog));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(Untimed(lines[4]).rfind("log folder ", 0), 0u);
    EXPECT_EQ(Untimed(lines[3]), "the log " + ToUtf8(missing) + " cannot be opened (error 3 (" +
                                     ToUtf8(SystemErrorText(ERROR_PATH_NOT_FOUND)) +
                                     ")): this run is logged here");
    EXPECT_EQ(Untimed(lines[6]), "a line of the run");
}

TEST_F(RunLogTest, WithoutAnyLogTheRunGoesOnAndWritesNothing) {
    CommonAppDataIn appData(u"");
    ScopedSystemApi scope(appData);
    U16String logs;
    EXPECT_NE(DefaultLogFolder(logs), static_cast<DWORD>(ERROR_SUCCESS));
    OpenRunLog(folder_ / u"no such folder\\q.log", {u"Setup.exe"});
    EXPECT_FALSE(TheRunLog().IsOpen());
    ::SetLastError(1234);
    TheRunLog().Write(u"dropped");
    EXPECT_EQ(::GetLastError(), 1234u);
}

// Makes the file opened by one name look like a junction or symbolic link,
// which Wine never shows for a file.
class ReparsePointAt : public ForwardingSystemApi {
public:
    explicit ReparsePointAt(U16String name) : ForwardingSystemApi(Sys()), name_(std::move(name)) {}
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        const HANDLE file = inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
        if (FromWide(name) == name_) marked_ = file;
        return file;
    }
    BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) override {
        const BOOL got = inner_.GetFileInformationByHandle(file, info);
        if (got && file == marked_) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        return got;
    }
    BOOL CloseHandle(HANDLE handle) override {
        // The value may be handed out again, for another file.
        if (handle == marked_) marked_ = INVALID_HANDLE_VALUE;
        return inner_.CloseHandle(handle);
    }

private:
    U16String name_;
    HANDLE marked_ = INVALID_HANDLE_VALUE;
};

// A log name that leads elsewhere is refused: what it leads to stays as it
// was (nothing appended, nothing made there), and the run is logged in the
// default log, which says why.
TEST_F(RunLogTest, ALogNameThatLeadsElsewhereIsRefusedAndTheDefaultLogSaysWhy) {
    const U16String links = FromWide(LINK_FIXTURE_DIR);
    const U16String protectedFile = links + u"\\protected.txt";
    const std::string protectedText = ReadText(protectedFile);
    ASSERT_FALSE(protectedText.empty());
    // A second name of a file of the test's own.
    const U16String original = folder_ / u"original.txt";
    testing::WriteBytes(original, Bytes("a file with two names"));
    const U16String hardLink = folder_ / u"second name.log";
    ASSERT_TRUE(::CreateHardLinkW(AsWide(hardLink), AsWide(original), nullptr)) << ::GetLastError();

    struct Case {
        const char* what;
        U16String name;             // the "/log:" value
        std::string why;            // how the refusal is explained
        U16String untouched;        // what the name leads to, unchanged
        U16String neverMade;        // a file that must not appear
        bool markAsReparsePoint = false;
    };
    const Case cases[] = {
        {"a symbolic link to a file", links + u"\\named.log", "refused: it leads to " + ToUtf8(protectedFile),
         protectedFile, u""},
        {"a link that leads nowhere", links + u"\\dangling.log", "something is at the name that leads nowhere",
         u"", links + u"\\nowhere.log"},
        {"a linked folder on the way", links + u"\\folder-link\\run.log",
         "refused: it leads to " + ToUtf8(links + u"\\elsewhere\\run.log"), u"", links + u"\\elsewhere\\run.log"},
        {"a second name of another file", hardLink, "refused: it is a file with 2 names (hard links)", original,
         u""},
        {"a device", u"NUL", "refused: it is not a file on a disk", u"", u""},
        {"a reparse point as Windows shows it", folder_ / u"reparse.log",
         "refused: it is a junction or symbolic link", u"", folder_ / u"reparse.log", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder appDataFolder;
        CommonAppDataIn appData(appDataFolder.path());
        ScopedSystemApi scope(appData);
        ReparsePointAt reparse(c.markAsReparsePoint ? c.name : u"");
        ScopedSystemApi marked(reparse);
        const std::vector<uint8_t> before = c.untouched.empty() ? std::vector<uint8_t>() : ReadBytes(c.untouched);

        OpenRunLog(c.name, {u"Setup.exe", u"/log:" + c.name});
        TheRunLog().Write(u"a line of the run");
        const U16String opened = TheRunLog().Path();
        TheRunLog().Close();

        EXPECT_EQ(ToUtf8(opened), ToUtf8(appDataFolder / u"Quentar Setup\\Logs\\Setup.log"));
        const std::vector<std::string> lines = Lines(ReadText(opened));
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_EQ(Untimed(lines[3]), "the log " + ToUtf8(c.name) + " cannot be opened (" + c.why +
                                         "): this run is logged here");
        if (!c.untouched.empty()) {
            EXPECT_EQ(ReadBytes(c.untouched), before);
        }
        if (!c.neverMade.empty()) {
            EXPECT_FALSE(Exists(c.neverMade));
        }
    }
    EXPECT_EQ(ReadText(protectedFile), protectedText);
}

// The default log's own name leads elsewhere (made so before the folder was
// the run's): the run is logged under a name of its own beside it, which
// says why.
TEST_F(RunLogTest, ADefaultLogThatLeadsElsewhereGivesWayToAFreshLog) {
    const U16String links = FromWide(LINK_FIXTURE_DIR);
    const U16String protectedFile = links + u"\\protected.txt";
    const std::string protectedText = ReadText(protectedFile);
    const U16String logs = links + u"\\appdata\\Quentar Setup\\Logs";
    CommonAppDataIn appData(links + u"\\appdata");
    ScopedSystemApi scope(appData);

    OpenRunLog(u"", {u"Setup.exe"});
    TheRunLog().Write(u"a line of the run");
    const U16String opened = TheRunLog().Path();
    TheRunLog().Close();

    EXPECT_EQ(ReadText(protectedFile), protectedText);
    ASSERT_EQ(opened.rfind(logs + u"\\Setup-", 0), 0u) << ToUtf8(opened);
    EXPECT_EQ(opened.substr(opened.size() - 4), u".log");
    const std::vector<std::string> lines = Lines(ReadText(opened));
    ::DeleteFileW(AsWide(opened));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(Untimed(lines[lines.size() - 2]), "the log " + ToUtf8(logs + u"\\Setup.log") +
                                                    " cannot be opened (refused: it leads to " +
                                                    ToUtf8(protectedFile) + "): this run is logged here");
    EXPECT_EQ(Untimed(lines.back()), "a line of the run");
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
