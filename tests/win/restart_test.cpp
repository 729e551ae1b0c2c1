// The end of a successful installation: files moved aside are deleted now or
// marked for the next start of Windows (recorded for real in the registry),
// the restart question is asked once, and Yes asks Windows to restart. The
// restart itself is always intercepted: a test never restarts the Wine
// session that other tests share.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "install/chunk_plan.h"
#include "install/file_install.h"
#include "platform/system_api.h"
#include "install/run_log.h"
#include "removal/restart.h"

namespace quentar {
namespace {

// The engine tests' helpers (engine_test_support.h).
using namespace quentar::testing;

// Stands between the engine and every call that could restart Windows: the
// calls are recorded in order, the harmless ones forwarded, and neither the
// shutdown order nor ExitWindowsEx ever reaches the system.
class NoRestart : public ForwardingSystemApi {
public:
    explicit NoRestart(bool tokenOpens = true, bool restartAccepted = true)
        : ForwardingSystemApi(Sys()), tokenOpens_(tokenOpens), restartAccepted_(restartAccepted) {}

    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override {
        calls.push_back("OpenProcessToken " + std::to_string(access));
        if (!tokenOpens_) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return inner_.OpenProcessToken(process, access, token);
    }
    BOOL LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid) override {
        calls.push_back("LookupPrivilegeValueW " + ToUtf8(FromWide(name)) + (system ? " remote" : ""));
        return inner_.LookupPrivilegeValueW(system, name, luid);
    }
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size,
                               PTOKEN_PRIVILEGES previous, PDWORD returned) override {
        LUID shutdown{};
        ::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown);
        const bool isShutdown = state->PrivilegeCount == 1 && state->Privileges[0].Luid.LowPart == shutdown.LowPart &&
                                state->Privileges[0].Luid.HighPart == shutdown.HighPart;
        calls.push_back("AdjustTokenPrivileges " + std::to_string(disableAll) + " " +
                        std::to_string(state->PrivilegeCount) + " " +
                        std::to_string(state->Privileges[0].Attributes) + (isShutdown ? " shutdown" : " other"));
        return inner_.AdjustTokenPrivileges(token, disableAll, state, size, previous, returned);
    }
    BOOL SetProcessShutdownParameters(DWORD level, DWORD flags) override {
        calls.push_back("SetProcessShutdownParameters " + std::to_string(level) + " " + std::to_string(flags));
        return TRUE;
    }
    void Sleep(DWORD milliseconds) override { calls.push_back("Sleep " + std::to_string(milliseconds)); }
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override {
        calls.push_back("ExitWindowsEx " + std::to_string(flags) + " " + std::to_string(reason));
        if (restartAccepted_) return TRUE;
        ::SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }

    std::vector<std::string> calls;

private:
    bool tokenOpens_;
    bool restartAccepted_;
};

TEST(ProcessPendingDeletions, NothingMovedAsideMeansNothingToDoOrAsk) {
    InstallState state;
    RecordingFeedback feedback(IDYES);
    NoRestart guard;
    ScopedSystemApi scope(guard);

    EXPECT_EQ(ProcessPendingDeletions(state, feedback), PendingDeletions::NothingPending);

    EXPECT_TRUE(feedback.messages.empty());
    EXPECT_TRUE(guard.calls.empty());
}

// An installation over an earlier one: the executable and a companion are
// replaced, their earlier files moved aside by the engine itself.
struct Upgrade {
    TempFolder folder;
    InstallState state;
    U16String executable, companion;
    // The earlier executable, started from the destination when asked for.
    std::unique_ptr<testing::RunningProgram> program;

    // `companionAttributes`: the earlier companion's attributes.
    Upgrade(RecordingFeedback& feedback, bool executableRunning, DWORD companionAttributes = FILE_ATTRIBUTE_NORMAL) {
        state.destinationFolder = folder.path();
        executable = folder / u"Quentar.exe";
        companion = folder / u"zorbel.dll";
        if (executableRunning) {
            program = std::make_unique<testing::RunningProgram>(executable);
        } else {
            WriteBytes(executable, Bytes("earlier executable"));
        }
        WriteBytes(companion, Bytes("earlier companion"));
        ::SetFileAttributesW(AsWide(companion), companionAttributes);
        const std::vector<uint8_t> application = PatternBytes(20000, 2);
        state.payload = testing::MakePayload({{u"Quentar.exe", application, testing::kTime2010},
                                              {u"zorbel.dll", Bytes("new companion"), testing::kTime2010}});
        EXPECT_TRUE(testing::WriteApplicationTo(state, executable, feedback));
        EXPECT_TRUE(InstallEntryFile(state, u"zorbel.dll", feedback));
        EXPECT_EQ(state.replacedFiles.size(), 2u);
    }
};

TEST(ProcessPendingDeletions, EarlierFilesNotInUseAreDeletedAtOnceWithoutAQuestion) {
    RecordingFeedback feedback(IDYES);
    Upgrade upgrade(feedback, false, FILE_ATTRIBUTE_READONLY);
    const StringList aside = upgrade.state.replacedFiles;
    NoRestart guard;
    ScopedSystemApi scope(guard);

    EXPECT_EQ(ProcessPendingDeletions(upgrade.state, feedback), PendingDeletions::AllDeleted);

    EXPECT_TRUE(upgrade.state.replacedFiles.empty());
    for (const U16String& file : aside) EXPECT_FALSE(Exists(file)) << ToUtf8(file);
    EXPECT_EQ(ReadBytes(upgrade.companion), Bytes("new companion"));
    EXPECT_TRUE(Exists(upgrade.executable));
    EXPECT_TRUE(feedback.messages.empty());
    EXPECT_TRUE(guard.calls.empty());
}

TEST(ProcessPendingDeletions, AFileStillInUseIsMarkedForTheNextStartAndTheQuestionAskedOnce) {
    struct Case {
        const char* what;
        int answer;
        bool tokenOpens;
        PendingDeletions result;
        std::vector<std::string> calls;
        bool restartAccepted = true;
    };
    const std::string token = "OpenProcessToken " + std::to_string(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    const std::vector<std::string> restart = {"SetProcessShutdownParameters 256 0", "Sleep 1000", "ExitWindowsEx 2 16"};
    std::vector<std::string> fullRestart = {token, "LookupPrivilegeValueW SeShutdownPrivilege",
                                            "AdjustTokenPrivileges 0 1 2 shutdown"};
    fullRestart.insert(fullRestart.end(), restart.begin(), restart.end());
    std::vector<std::string> restartWithoutToken = {token};
    restartWithoutToken.insert(restartWithoutToken.end(), restart.begin(), restart.end());
    const Case cases[] = {
        {"No", IDNO, true, PendingDeletions::RestartLater, {}},
        {"Yes", IDYES, true, PendingDeletions::RestartRequested, fullRestart},
        {"Yes, token cannot be opened", IDYES, false, PendingDeletions::RestartRequested, restartWithoutToken},
        {"Yes, Windows refuses", IDYES, true, PendingDeletions::RestartRefused, fullRestart, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingFeedback feedback(c.answer);
        Upgrade upgrade(feedback, true);
        ASSERT_TRUE(upgrade.program->Running());
        // The running executable was moved aside first, the companion second.
        const U16String runningAside = upgrade.state.replacedFiles[0];
        const U16String companionAside = upgrade.state.replacedFiles[1];
        PendingDeletions result;
        {
            NoRestart guard(c.tokenOpens, c.restartAccepted);
            ScopedSystemApi scope(guard);
            result = ProcessPendingDeletions(upgrade.state, feedback);
            EXPECT_EQ(guard.calls, c.calls);
        }
        upgrade.program->End();
        const bool marked = MarkedForDeletion(runningAside);
        Unmark(runningAside);

        EXPECT_EQ(result, c.result);
        // Only a restart under way needs nothing more.
        EXPECT_EQ(ResultAfterPendingDeletions(result, false), c.result == PendingDeletions::RestartRequested
                                                           ? SetupResult::Installed
                                                           : SetupResult::RestartNeeded);
        EXPECT_EQ(upgrade.state.replacedFiles, StringList{runningAside});
        EXPECT_TRUE(marked) << "not in PendingFileRenameOperations: " << ToUtf8(runningAside);
        EXPECT_TRUE(Exists(runningAside));
        EXPECT_FALSE(Exists(companionAside));
        ASSERT_EQ(feedback.messages.size(), 1u);
        EXPECT_EQ(feedback.messages[0].text,
                  u"Note: Because some files used by Quentar are also used by other programs, a reboot is require to "
                  u"complete installation.\nClick Yes to restart now. Click No to manually restart later.");
        EXPECT_EQ(feedback.messages[0].style, static_cast<uint32_t>(MB_YESNO | MB_ICONEXCLAMATION));
    }
}

TEST(ProcessPendingDeletions, AnUnattendedRunLeavesTheFilesForTheNextStartAndNeverRestarts) {
    RecordingFeedback setup;
    Upgrade upgrade(setup, true);
    ASSERT_TRUE(upgrade.program->Running());
    const U16String runningAside = upgrade.state.replacedFiles[0];
    UnattendedFeedback unattended;
    PendingDeletions result;
    {
        NoRestart guard;
        ScopedSystemApi scope(guard);
        result = ProcessPendingDeletions(upgrade.state, unattended);
        EXPECT_TRUE(guard.calls.empty()) << "nothing towards a restart";
    }
    upgrade.program->End();
    const bool marked = MarkedForDeletion(runningAside);
    Unmark(runningAside);
    EXPECT_EQ(result, PendingDeletions::RestartLater);
    EXPECT_EQ(ResultAfterPendingDeletions(result, false), SetupResult::RestartNeeded);
    EXPECT_TRUE(marked);
}

}  // namespace
}  // namespace quentar
