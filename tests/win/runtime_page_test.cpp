// The runtime-components page in-process: the copies it writes and holds,
// the run's private folder they go to (under a temporary folder of the
// test's own, through the TMP variable that GetTempPathW reads), the page
// alone in a real wizard sheet with the shell's answers that Wine cannot give
// on request injected, and an unattended run that a package never ends.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "components/setup_axis.h"
#include "engine_test_support.h"
#include "install/engine_support.h"
#include "app/setup_app.h"
#include "message_box_catcher.h"
#include "pages/setup_done.h"
#include "payload/payload_names.h"
#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "platform/user_token.h"
#include "platform/wide.h"
#include "removal/restart.h"
#include "sample_packages.h"
#include "state/resource_ids.h"
#include "test_paths.h"
#include "wizard/setup_sheet.h"

namespace quentar {
namespace {

using namespace quentar::testing;

// Points TMP (which GetTempPathW reads first) somewhere else while it lives.
class ScopedTempVariable {
public:
    explicit ScopedTempVariable(const U16String& value) {
        wchar_t old[32768];
        const DWORD length = ::GetEnvironmentVariableW(L"TMP", old, 32768);
        had_ = length > 0 && length < 32768;
        if (had_) old_ = FromWide(old);
        ::SetEnvironmentVariableW(L"TMP", AsWide(value));
    }
    ~ScopedTempVariable() { ::SetEnvironmentVariableW(L"TMP", had_ ? AsWide(old_) : nullptr); }

private:
    bool had_ = false;
    U16String old_;
};

// Counts the calls of the copy, records the shell records the page passes,
// and answers chosen calls itself.
class RecordingSystem : public ForwardingSystemApi {
public:
    RecordingSystem() : ForwardingSystemApi(real_) {}

    struct ShellCall {
        SHELLEXECUTEINFOW record;  // as passed (pointers valid only during the call)
        U16String file, directory;
        bool verb = false, parameters = false, classOrKey = false;
        DWORD writeError = ERROR_SUCCESS;  // of opening the copy for writing as it starts
        bool deleted = false;              // whether deleting it as it starts succeeded
    };

    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        ++createCalls;
        return inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
    }
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        if (writeFile) return writeFile(file, buffer, size, done, overlapped);
        return inner_.WriteFile(file, buffer, size, done, overlapped);
    }
    BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override {
        ShellCall call{*info, FromWide(info->lpFile), FromWide(info->lpDirectory), info->lpVerb != nullptr,
                       info->lpParameters != nullptr, info->lpClass != nullptr || info->hkeyClass != nullptr};
        // What anybody else could do to the copy as it starts (a package the
        // shell runs itself; never the system's msiexec).
        if (info->lpParameters == nullptr) {
            const HANDLE writer = ::CreateFileW(info->lpFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                            FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
            call.writeError = writer == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
            if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
            call.deleted = ::DeleteFileW(info->lpFile) != FALSE;
        }
        shellCalls.push_back(call);
        sheetEnabledAtStart.push_back(sheet != nullptr && ::IsWindowEnabled(sheet));
        if (shellExecute) return shellExecute(info, shellCalls.size());
        return inner_.ShellExecuteExW(info);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) override {
        const BOOL read = inner_.ReadFile(file, buffer, size, done, overlapped);
        // Another byte than the one written, as a swapped copy would give.
        if (read && changeReadBack && *done > 0) static_cast<uint8_t*>(buffer)[0] ^= 0xFF;
        return read;
    }
    BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security) override {
        foldersMade.push_back({FromWide(name), security != nullptr ? DescriptorText(security->lpSecurityDescriptor)
                                                                   : U16String()});
        return inner_.CreateDirectoryW(name, security);
    }
    HRESULT CoCreateGuid(GUID* guid) override {
        if (guids.empty()) return inner_.CoCreateGuid(guid);
        *guid = guids.front();
        guids.erase(guids.begin());
        return S_OK;
    }
    // A clock that moves a minute with every wait, so that a package the
    // run waits for times out at once.
    DWORD GetTickCount() override { return fastClock ? clock : inner_.GetTickCount(); }
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
        if (fastClock) clock += 60000;
        waits.push_back(milliseconds);
        if (sheet != nullptr && ::IsWindowEnabled(sheet)) sheetEnabledWhileWaiting = true;
        if (waitResult) return *waitResult;
        return inner_.WaitForSingleObject(handle, milliseconds);
    }
    BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) override {
        if (!exitCode) return inner_.GetExitCodeProcess(process, code);
        *code = *exitCode;
        return TRUE;
    }
    // A restart of Windows would end the session the other tests share: the
    // request is recorded, never made.
    BOOL SetProcessShutdownParameters(DWORD, DWORD) override { return TRUE; }
    BOOL ExitWindowsEx(UINT flags, DWORD) override {
        restartRequests.push_back(flags);
        return TRUE;
    }
    BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
        // Marks for the next start of Windows would outlive the test.
        if (to == nullptr && (flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
            markedForRestart.push_back(FromWide(from));
            return TRUE;
        }
        return inner_.MoveFileExW(from, to, flags);
    }

    // Forgets what was recorded and what to answer.
    void Reset() {
        createCalls = 0;
        writeFile = nullptr;
        shellExecute = nullptr;
        waitResult.reset();
        exitCode.reset();
        sheet = nullptr;
        shellCalls.clear();
        sheetEnabledAtStart.clear();
        waits.clear();
        sheetEnabledWhileWaiting = false;
        markedForRestart.clear();
        restartRequests.clear();
        foldersMade.clear();
    }

    struct FolderMade {
        U16String path;
        U16String rights;  // the SDDL the creating call passed
    };

    int createCalls = 0;
    bool changeReadBack = false;
    std::vector<GUID> guids;  // drawn first, then fresh ones
    std::vector<FolderMade> foldersMade;
    bool fastClock = false;
    DWORD clock = 0;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> writeFile;
    std::function<BOOL(SHELLEXECUTEINFOW*, size_t)> shellExecute;  // given the call's number, from 1
    std::optional<DWORD> waitResult;
    std::optional<DWORD> exitCode;  // what every package's process ended with
    HWND sheet = nullptr;  // the sheet whose state is recorded at each start and wait
    std::vector<ShellCall> shellCalls;
    std::vector<bool> sheetEnabledAtStart;
    std::vector<DWORD> waits;
    bool sheetEnabledWhileWaiting = false;
    std::vector<U16String> markedForRestart;
    std::vector<UINT> restartRequests;  // ExitWindowsEx's flags

private:
    RealSystemApi real_;
};

std::vector<uint8_t> FileBytes(const U16String& path) { return ReadBytes(path); }

// An SDDL text as the system writes it back.
U16String Canonical(U16View sddl) {
    SddlDescriptor descriptor;
    EXPECT_EQ(descriptor.Parse(sddl), ERROR_SUCCESS);
    return DescriptorText(descriptor.get());
}

// The sample redistributable: a real program that ends at once.
std::vector<uint8_t> SampleRedistBytes() {
    return ReadBytes(FromWide(TEST_BUILD_DIR L"\\tools\\sample-app\\files\\AXISMediaControlSDK_redist.exe"));
}

// ---------------------------------------------------------------------------
// The held copy

// Whether anybody else can write or delete the file at `path` now.
bool OthersCanChange(const U16String& path) {
    const HANDLE writer = ::CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                        FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        ::CloseHandle(writer);
        return true;
    }
    return ::DeleteFileW(AsWide(path)) != FALSE;
}

class TempCopy : public ::testing::Test {
protected:
    TempFolder temp_;
    RecordingFeedback feedback_;
};

struct CopyNameCase {
    const char* name;
    const char16_t* entry;
    std::vector<const char16_t*> takenFiles;
    std::vector<const char16_t*> takenFolders;
    const char16_t* expected;  // the copy's name
};

const CopyNameCase kCopyNames[] = {
    {"FreeName", u"AxisAACDecoderSetup.msi", {}, {}, u"AxisAACDecoderSetup.msi"},
    {"NumbersBeforeTheExtension",
     u"AxisAACDecoderSetup.msi",
     {u"AxisAACDecoderSetup.msi", u"AxisAACDecoderSetup1.msi"},
     {},
     u"AxisAACDecoderSetup2.msi"},
    {"AtTheLastDot", u"archive.tar.gz", {u"archive.tar.gz"}, {}, u"archive.tar1.gz"},
    {"LeadingDotIsNoExtension", u".profile", {u".profile"}, {}, u".profile1"},
    {"NoDot", u"README", {u"README"}, {}, u"README1"},
    // Wine refuses a folder's name with "access denied", not "exists".
    {"NameTakenByAFolder", u"AxisH264DecoderSetup.msi", {}, {u"AxisH264DecoderSetup.msi"}, u"AxisH264DecoderSetup1.msi"},
};

TEST_F(TempCopy, GoesToTheFirstFreeNameHeldAgainstChangesAndLeavesTakenOnesAlone) {
    for (const CopyNameCase& c : kCopyNames) {
        SCOPED_TRACE(c.name);
        TempFolder::RemoveTree(temp_.path());
        ASSERT_TRUE(::CreateDirectoryW(AsWide(temp_.path()), nullptr));
        for (const char16_t* taken : c.takenFiles) WriteBytes(temp_ / taken, Bytes("taken"));
        for (const char16_t* taken : c.takenFolders) ASSERT_TRUE(::CreateDirectoryW(AsWide(temp_ / taken), nullptr));
        const std::vector<uint8_t> data = PatternBytes(3000);
        const auto payload = MakePayload({{c.entry, data}});

        HeldCopy copy;
        ASSERT_TRUE(WriteEntryToTempFile(payload->First(), temp_.path(), copy, feedback_));

        EXPECT_EQ(ToUtf8(copy.path), ToUtf8(temp_ / c.expected));
        EXPECT_EQ(FileBytes(copy.path), data) << "readable while held";
        EXPECT_FALSE(OthersCanChange(copy.path)) << "the held copy could be changed";
        copy.hold.reset();
        EXPECT_TRUE(OthersCanChange(copy.path)) << "released, it can go";
        for (const char16_t* taken : c.takenFiles) EXPECT_EQ(FileBytes(temp_ / taken), Bytes("taken"));
    }
}

// A run killed while its packages ran leaves its private folder: the next
// run removes it, and only folders of that very form.
TEST_F(TempCopy, FoldersOfKilledRunsAreRemovedAndNothingElseOfTheTemporaryFolder) {
    const ScopedTempVariable tmp(temp_.path());
    const U16String prefix = kPackageFolderPrefix;
    const U16String left[] = {temp_ / (prefix + u"0123456789abcdef0123456789ABCDEF"),
                              temp_ / (prefix + u"ffffffffffffffffffffffffffffffff")};
    for (const U16String& folder : left) {
        ASSERT_TRUE(::CreateDirectoryW(AsWide(folder), nullptr));
        WriteBytes(folder + u"\AXISMediaControlSDK_redist.exe", Bytes("copy"));
    }
    const U16String keptFolders[] = {temp_ / (prefix + u"0123456789abcdef0123456789abcde"),   // 31 digits
                                     temp_ / (prefix + u"0123456789abcdef0123456789abcdeg"),  // not hexadecimal
                                     temp_ / u"Other-0123456789abcdef0123456789abcdef"};
    for (const U16String& folder : keptFolders) ASSERT_TRUE(::CreateDirectoryW(AsWide(folder), nullptr));
    const U16String keptFile = temp_ / (prefix + u"00000000000000000000000000000000");
    WriteBytes(keptFile, Bytes("a file, not a folder"));

    RemoveLeftPackageFolders(feedback_);

    for (const U16String& folder : left) {
        EXPECT_FALSE(Exists(folder)) << ToUtf8(folder);
        const U16String line = u"removed the folder of an earlier run's runtime packages " + folder;
        EXPECT_TRUE(feedback_.Logged(line)) << ToUtf8(line);
    }
    for (const U16String& folder : keptFolders) EXPECT_TRUE(Exists(folder)) << ToUtf8(folder);
    EXPECT_EQ(FileBytes(keptFile), Bytes("a file, not a folder"));
}

TEST_F(TempCopy, GivesUpWhenTheLastCandidateNameIsTaken) {
    const auto payload = MakePayload({{u"p.msi", Bytes("package")}});
    WriteBytes(temp_ / u"p.msi", {});
    for (unsigned n = 1; n + 1 < kTempCopyCandidates; ++n) WriteBytes(temp_ / (u"p" + DecimalText(n) + u".msi"), {});

    // One name is left: the last candidate.
    const U16String last = temp_ / (u"p" + DecimalText(kTempCopyCandidates - 1) + u".msi");
    HeldCopy copy;
    ASSERT_TRUE(WriteEntryToTempFile(payload->First(), temp_.path(), copy, feedback_));
    EXPECT_EQ(ToUtf8(copy.path), ToUtf8(last));

    // Now every candidate is taken.
    HeldCopy none;
    EXPECT_FALSE(WriteEntryToTempFile(payload->First(), temp_.path(), none, feedback_));
    EXPECT_EQ(ToUtf8(none.path), "");
    EXPECT_FALSE(Exists(temp_ / (u"p" + DecimalText(kTempCopyCandidates) + u".msi")));
}

struct UnusableFolderCase {
    const char* name;
    std::function<U16String(const TempFolder&)> folder;
    int expectedCreateCalls;  // 1: stop at the first refusal
};

const UnusableFolderCase kUnusableFolders[] = {
    {"Missing", [](const TempFolder& t) { return t / u"missing"; }, 1},
    // The private folder could not be made.
    {"None", [](const TempFolder&) { return U16String(); }, 0},
    // The folder fits, the copy's path would not fit the shell's buffer.
    {"NoRoomForTheName",
     [](const TempFolder& t) {
         U16String folder = t.path();
         while (folder.size() < MAX_PATH - 20) {
             folder += u"\\" + U16String(std::min<size_t>(100, MAX_PATH - 20 - folder.size()), u'd');
             ::CreateDirectoryW(AsWide(folder), nullptr);
         }
         return folder;
     },
     0},
};

TEST_F(TempCopy, UnusableFolderGivesNoCopyAtOnce) {
    const auto payload = MakePayload({{u"AxisAACDecoderSetup.msi", Bytes("package")}});
    for (const UnusableFolderCase& c : kUnusableFolders) {
        SCOPED_TRACE(c.name);
        RecordingSystem system;
        ScopedSystemApi installed(system);
        HeldCopy copy;
        EXPECT_FALSE(WriteEntryToTempFile(payload->First(), c.folder(temp_), copy, feedback_));
        EXPECT_EQ(system.createCalls, c.expectedCreateCalls);
    }
}

TEST_F(TempCopy, ACopyThatIsNotWhatWasWrittenIsDeletedAndNotUsed) {
    const std::vector<uint8_t> data = PatternBytes(4096);
    const auto payload = MakePayload({{u"AxisAACDecoderSetup.msi", data}});
    struct WriteCase {
        const char* name;
        DWORD bytesWritten;
        BOOL result;
        bool changedBeforeTheHold;  // the write went well, the copy read back differs
    } cases[] = {{"Short", 4095, TRUE, false}, {"Failed", 0, FALSE, false}, {"ChangedBeforeHeld", 0, TRUE, true}};
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSystem system;
        if (c.changedBeforeTheHold) {
            system.changeReadBack = true;
        } else {
            system.writeFile = [&](HANDLE, LPCVOID, DWORD, LPDWORD done, LPOVERLAPPED) {
                *done = c.bytesWritten;
                if (!c.result) ::SetLastError(ERROR_DISK_FULL);
                return c.result;
            };
        }
        ScopedSystemApi installed(system);
        HeldCopy copy;
        EXPECT_FALSE(WriteEntryToTempFile(payload->First(), temp_.path(), copy, feedback_));
        EXPECT_FALSE(copy.hold);
        EXPECT_FALSE(Exists(temp_ / u"AxisAACDecoderSetup.msi")) << "the unusable copy was left behind";
    }
}

// ---------------------------------------------------------------------------
// The page in a sheet

// Runs the runtime-components page alone in a wizard sheet over `entries`;
// returns what DoModal returned, or 0 when the wizard had to be ended by
// force after `timeoutMs`.
class RuntimePage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
        ::InitCommonControlsEx(&controls);
    }

    // The sample redistributable a test ran installed the media control for
    // the whole machine: its own uninstallation takes it back.
    void TearDown() override {
        std::wstring command = L"\"" TEST_BUILD_DIR L"\\tools\\sample-app\\files\\AXISMediaControlSDK_redist.exe\" "
                               SAMPLE_REDIST_UNINSTALL_SWITCH;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &process));
        const UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
        EXPECT_EQ(::WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    }

    // With `finishPageFirst`, the wizard starts on the finish page of an
    // installation with the Axis runtime chosen, and Next is pressed there.
    INT_PTR Run(const std::vector<CarriedEntry>& entries, bool finishPageFirst = false, DWORD timeoutMs = 30000) {
        CSetup sheet(arguments_);
        CSetupDone done;
        CSetupAXIS page;
        if (finishPageFirst) sheet.AddPage(&done);
        sheet.AddPage(&page);
        sheet.SetWizardMode();
        sheet.installState.payload = MakePayload(entries);
        sheet.installState.replacedFiles = replacedFiles;
        sheet.installState.installAxisRuntime = true;
        sheet.installState.pagePath = {IDD_WELCOME, IDD_LICENSE, IDD_DESTINATION, IDD_PROGRESS, IDD_DONE, IDD_AXIS};
        pressNextOnFinishPage_ = finishPageFirst;

        // Watches the sheet from a thread timer of the modal loop: records
        // its window for the system decorator, ends it when stuck.
        current_ = this;
        watched_ = &sheet;
        timedOut_ = false;
        deadline_ = ::GetTickCount() + timeoutMs;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &RuntimePage::Watch);
        const INT_PTR result = sheet.DoModal();
        ::KillTimer(nullptr, timer);
        current_ = nullptr;
        watched_ = nullptr;
        replacedFiles = sheet.installState.replacedFiles;
        startApplication = sheet.installState.startApplication;
        runResult = sheet.installState.result;
        EXPECT_FALSE(timedOut_) << "the page did not end the wizard";
        return timedOut_ ? 0 : result;
    }

    static void CALLBACK Watch(HWND, UINT, UINT_PTR, DWORD) {
        RuntimePage* self = current_;
        if (self == nullptr || self->watched_ == nullptr || self->watched_->GetSafeHwnd() == nullptr) return;
        self->system_.sheet = self->watched_->GetSafeHwnd();
        if (self->pressNextOnFinishPage_ && self->watched_->ActivePageId() == IDD_DONE) {
            self->pressNextOnFinishPage_ = false;
            self->watched_->PressButton(PSBTN_NEXT);
        }
        if (static_cast<LONG>(::GetTickCount() - self->deadline_) > 0 && !self->timedOut_) {
            self->timedOut_ = true;
            ::DestroyWindow(self->watched_->GetSafeHwnd());
        }
    }

    // A fresh temporary folder, empty.
    void EmptyTemp() {
        TempFolder::RemoveTree(temp_.path());
        ASSERT_TRUE(::CreateDirectoryW(AsWide(temp_.path()), nullptr));
    }

    TempFolder temp_;
    ScopedTempVariable tmp_{temp_.path()};
    const UpdateArguments arguments_;
    StringList replacedFiles;
    bool startApplication = false;  // as the run left it
    SetupResult runResult = SetupResult::Cancelled;  // the install state's, as the run left it
    RecordingSystem system_;
    ScopedSystemApi installed_{system_};

    static inline RuntimePage* current_ = nullptr;
    CSetup* watched_ = nullptr;
    bool pressNextOnFinishPage_ = false;
    bool timedOut_ = false;
    DWORD deadline_ = 0;
};

TEST_F(RuntimePage, WithoutPackagesEndsTheWizardAsFinishedAfterThePendingDeletions) {
    const U16String movedAside = temp_ / u"Quentar.exe.old";
    WriteBytes(movedAside, Bytes("old"));
    replacedFiles = {movedAside};

    EXPECT_EQ(Run({{u"Quentar.exe", Bytes("not a runtime package")}}), ID_WIZFINISH);

    EXPECT_TRUE(system_.shellCalls.empty());
    EXPECT_TRUE(system_.foldersMade.empty()) << "a folder was made for no package";
    EXPECT_FALSE(Exists(movedAside));
    EXPECT_TRUE(replacedFiles.empty());
}

TEST_F(RuntimePage, StartsTheHeldCopyFromAFolderOfItsOwnAndWaitsWithTheSheetDisabled) {
    // A user made a folder, with a DLL in it, at the first name the run will
    // draw: it is not taken over.
    const GUID taken = {0x11111111, 0x2222, 0x3333, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb}};
    const U16String planted = temp_ / (U16String(kPackageFolderPrefix) + u"1111111122223333445566778899aabb");
    ASSERT_TRUE(::CreateDirectoryW(AsWide(planted), nullptr));
    WriteBytes(planted + u"\\version.dll", Bytes("planted"));
    system_.guids = {taken};

    // Names are matched without regard to case; the copy keeps the entry's.
    EXPECT_EQ(Run({{u"axismediacontrolsdk_redist.EXE", SampleRedistBytes()}}), ID_WIZFINISH);

    // The private folder: a fresh name under the temporary folder, owner
    // Administrators, full control for Administrators and SYSTEM only.
    ASSERT_EQ(system_.foldersMade.size(), 2u) << "one name taken, one made";
    const U16String folder = system_.foldersMade[1].path;
    EXPECT_EQ(folder.rfind(temp_ / kPackageFolderPrefix, 0), 0u) << ToUtf8(folder);
    EXPECT_NE(folder, planted);
    EXPECT_EQ(ToUtf8(system_.foldersMade[1].rights), ToUtf8(Canonical(kAdministratorsOnlyRights)));
    EXPECT_EQ(ReadBytes(planted + u"\\version.dll"), Bytes("planted"));

    ASSERT_EQ(system_.shellCalls.size(), 1u);
    const RecordingSystem::ShellCall& call = system_.shellCalls[0];
    EXPECT_EQ(call.record.cbSize, sizeof(SHELLEXECUTEINFOW));
    EXPECT_EQ(call.record.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
    EXPECT_EQ(call.record.hwnd, nullptr);
    EXPECT_FALSE(call.verb);
    EXPECT_FALSE(call.parameters);
    EXPECT_FALSE(call.classOrKey);
    EXPECT_EQ(call.record.nShow, SW_SHOWNORMAL);
    EXPECT_EQ(call.record.hInstApp, nullptr);
    EXPECT_EQ(ToUtf8(call.file), ToUtf8(folder + u"\\axismediacontrolsdk_redist.EXE"));
    // Started in its own folder, never in the shared one it was started from.
    EXPECT_EQ(ToUtf8(call.directory), ToUtf8(folder));
    // Nobody could change or take away the copy as it started.
    EXPECT_EQ(call.writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(call.deleted);
    EXPECT_FALSE(system_.sheetEnabledAtStart[0]) << "the sheet was enabled as the package started";

    // Polled with 10 ms waits until the process ended, the sheet disabled.
    ASSERT_FALSE(system_.waits.empty());
    for (DWORD wait : system_.waits) EXPECT_EQ(wait, 10u);
    EXPECT_FALSE(system_.sheetEnabledWhileWaiting);
    // Nothing of the run is left.
    EXPECT_FALSE(Exists(folder));
}

// What the shell or the wait answers for the first package; the second one
// is always refused by the shell, so that it shows it was attempted.
struct ShellOutcome {
    const char* name;
    bool startReal;        // hand the first call to the real shell
    BOOL result;           // otherwise: the answer, with no process
    std::optional<DWORD> wait;
    bool waited;           // the page waited for the first package
    bool copyKept;         // the first copy was still there as the second started
};

const ShellOutcome kShellOutcomes[] = {
    {"ShellFails", false, FALSE, std::nullopt, false, false},
    // Handed to a program that was already running: nothing to wait for, and
    // that program may still read the copy, until the run ends.
    {"StartedWithoutAProcess", false, TRUE, std::nullopt, false, true},
    {"WaitFails", true, TRUE, WAIT_FAILED, true, false},
};

TEST_F(RuntimePage, PackageThatCannotBeWaitedForCountsAsEndedAndTheNextFollows) {
    for (const ShellOutcome& c : kShellOutcomes) {
        SCOPED_TRACE(c.name);
        system_.Reset();
        EmptyTemp();
        system_.waitResult = c.wait;
        bool firstCopyThere = false;
        system_.shellExecute = [&](SHELLEXECUTEINFOW* info, size_t call) -> BOOL {
            if (call == 1 && c.startReal) {
                // Ended before the page looks, so that its copy can go.
                const BOOL started = RealSystemApi().ShellExecuteExW(info);
                if (started && info->hProcess) ::WaitForSingleObject(info->hProcess, 10000);
                return started;
            }
            if (call == 2) firstCopyThere = Exists(system_.shellCalls[0].file);
            info->hProcess = nullptr;
            if (call == 1 && c.result) return TRUE;
            ::SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        };

        EXPECT_EQ(Run({{kAxisPackageEntryNames[0], SampleRedistBytes()}, {kAxisPackageEntryNames[1], Bytes("msi")}}),
                  ID_WIZFINISH);

        ASSERT_EQ(system_.shellCalls.size(), 2u);
        ASSERT_EQ(system_.foldersMade.size(), 1u) << "one folder for the run";
        const U16String folder = system_.foldersMade[0].path;
        EXPECT_EQ(ToUtf8(system_.shellCalls[1].file), ToUtf8(folder + u"\\" + kAxisPackageEntryNames[1]));
        EXPECT_EQ(!system_.waits.empty(), c.waited);
        EXPECT_EQ(firstCopyThere, c.copyKept);
        EXPECT_FALSE(Exists(folder)) << "the run's folder was left";
    }
}

// After an installation: Next on the finish page, with its start box ticked,
// leads here; the packages run, the wizard ends by itself as finished, and
// the start request is still there for the end of the run, which starts the
// installed program.
TEST_F(RuntimePage, AfterTheFinishPageEndsTheWizardWithTheStartRequestKept) {
    EXPECT_EQ(Run({{kAxisPackageEntryNames[0], SampleRedistBytes()}}, true), ID_WIZFINISH);
    ASSERT_EQ(system_.shellCalls.size(), 1u) << "the finish page's Next did not lead to the runtime packages";
    EXPECT_TRUE(startApplication);

    // The installed program here: the sample redistributable, which leaves
    // its marker naming the path it ran from.
    const U16String program = temp_ / u"Quentar.exe";
    WriteBytes(program, SampleRedistBytes());
    InstallState state;
    state.startApplication = startApplication;
    state.runPath = program;
    state.runDirectory = temp_.path();
    wchar_t appData[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    const U16String marker = FromWide(appData) + FromWide(L"\\" SAMPLE_MARKER_FOLDER L"\\" SAMPLE_REDIST_MARKER);
    ::DeleteFileW(AsWide(marker));
    StartApplicationAfterWizard(state, ProcessUserToken(::GetCurrentProcess(), u"this test"));
    bool ran = false;
    for (int i = 0; i < 500 && !ran; ++i, ::Sleep(20)) {
        const std::vector<uint8_t> bytes = Exists(marker) ? ReadBytes(marker) : std::vector<uint8_t>();
        const std::string text(bytes.begin(), bytes.end());
        ran = text.find(ToUtf8(program) + "\r\n") == 0;
    }
    EXPECT_TRUE(ran) << "the installed program was not started";
}

// An unattended run waits for a package only so long: one that has not
// ended after the timeout is left running, the next one follows, and the
// outcome says so. (The clock moves a minute with every wait; the package
// processes are events that never signal.)
TEST_F(RuntimePage, AnUnattendedRunStopsWaitingForAPackageAfterTheTimeout) {
    system_.fastClock = true;
    system_.waitResult = WAIT_TIMEOUT;
    system_.shellExecute = [](SHELLEXECUTEINFOW* info, size_t) -> BOOL {
        info->hProcess = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return TRUE;
    };
    InstallState state;
    state.payload = MakePayload({{kAxisPackageEntryNames[0], Bytes("redistributable")},
                                 {kAxisPackageEntryNames[2], Bytes("decoder package")}});
    RecordingFeedback feedback;

    const PackagesOutcome outcome = RunRuntimePackages(state, feedback, 3);

    EXPECT_TRUE(outcome.timedOut);
    EXPECT_FALSE(outcome.restartNeeded);
    ASSERT_EQ(system_.shellCalls.size(), 2u) << "the next package did not follow";
    // Three minutes of waits, a minute each, for each package.
    EXPECT_EQ(system_.waits.size(), 6u);
    for (const char16_t* name : {kAxisPackageEntryNames[0], kAxisPackageEntryNames[2]}) {
        const U16String line =
            u"runtime package " + U16String(name) + u" is still running after 3 minutes: left running, the run fails";
        EXPECT_EQ(std::count(feedback.log.begin(), feedback.log.end(), line), 1) << ToUtf8(line);
    }
    ASSERT_EQ(system_.foldersMade.size(), 1u);
    EXPECT_FALSE(Exists(system_.foldersMade[0].path)) << "the copies of packages that hold nothing stayed";
}

TEST_F(RuntimePage, AsksAboutTheRestartBeforeTheWizardCloses) {
    // A moved-aside file still in use cannot be deleted now.
    const U16String inUse = temp_ / u"Quentar.exe.old";
    WriteBytes(inUse, Bytes("old"));
    UniqueFile held(::CreateFileW(AsWide(inUse), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    replacedFiles = {inUse};

    MessageBoxCatcher boxes(IDNO);
    EXPECT_EQ(Run({{u"Quentar.exe", Bytes("not a runtime package")}}), ID_WIZFINISH);

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(ToUtf8(FromWide(boxes.boxes()[0].text.c_str())), ToUtf8(kRestartQuestion));
    // Owned by the sheet: the wizard was still open, and enabled again.
    EXPECT_NE(boxes.boxes()[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes()[0].owner, system_.sheet);
    EXPECT_EQ(system_.markedForRestart, std::vector<U16String>{inUse});
    EXPECT_EQ(replacedFiles, StringList{inUse});
}

// A package that ends asking for a restart of Windows (3010, or 1641 when it
// has started one) makes the run end as needing a restart, unless the user
// has just agreed to restart Windows for the files moved aside: the restart
// under way finishes the package's installation too.
TEST_F(RuntimePage, APackageAskingForARestartEndsTheRunAsTheRestartAnswerLeavesIt) {
    struct Case {
        const char* name;
        DWORD packageExit;
        bool fileInUse;  // a moved-aside file waits: the restart question is asked
        int answer;
        SetupResult result;
    };
    const Case cases[] = {
        {"PackageNeedsARestart", ERROR_SUCCESS_REBOOT_REQUIRED, false, IDNO, SetupResult::RestartNeeded},
        {"PackageStartedARestart", ERROR_SUCCESS_REBOOT_INITIATED, false, IDNO, SetupResult::RestartNeeded},
        {"RestartAnsweredNo", ERROR_SUCCESS_REBOOT_REQUIRED, true, IDNO, SetupResult::RestartNeeded},
        {"RestartAnsweredYes", ERROR_SUCCESS_REBOOT_INITIATED, true, IDYES, SetupResult::Installed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system_.Reset();
        EmptyTemp();
        system_.exitCode = c.packageExit;
        UniqueFile held;
        replacedFiles.clear();
        if (c.fileInUse) {
            const U16String inUse = temp_ / u"Quentar.exe.old";
            WriteBytes(inUse, Bytes("old"));
            held.reset(::CreateFileW(AsWide(inUse), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            replacedFiles = {inUse};
        }

        MessageBoxCatcher boxes(c.answer);
        EXPECT_EQ(Run({{kAxisPackageEntryNames[0], SampleRedistBytes()}}), ID_WIZFINISH);

        ASSERT_EQ(system_.shellCalls.size(), 1u);
        EXPECT_EQ(boxes.boxes().size(), c.fileInUse ? 1u : 0u);
        EXPECT_EQ(runResult, c.result);
        EXPECT_EQ(system_.restartRequests, c.answer == IDYES ? std::vector<UINT>{EWX_REBOOT} : std::vector<UINT>{})
            << "a package's own request must not restart Windows";
    }
}

}  // namespace
}  // namespace quentar
