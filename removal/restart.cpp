#include "removal/restart.h"

#include <windows.h>

#include "install/engine_support.h"
#include "install/staged_names.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"

namespace quentar {

const char16_t kRestartQuestion[] =
    u"Note: Because some files used by Quentar are also used by other programs, a reboot is require to complete "
    u"installation.\nClick Yes to restart now. Click No to manually restart later.";

namespace {

// Shut down last among the applications (the lowest level of their range).
constexpr DWORD kShutdownLevelLast = 0x100;
// The reason given to ExitWindowsEx.
constexpr DWORD kRestartReason = 0x10;
constexpr DWORD kPauseBeforeRestartMilliseconds = 1000;

void EnableShutdownPrivilege(InstallFeedback& feedback) {
    UniqueHandle token;
    if (!Sys().OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        feedback.Log(u"cannot open the process token: " + DescribeError(::GetLastError()));
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!Sys().LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        feedback.Log(u"cannot look up the shutdown privilege: " + DescribeError(::GetLastError()));
        return;
    }
    if (!Sys().AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
        feedback.Log(u"cannot enable the shutdown privilege: " + DescribeError(::GetLastError()));
    }
}

// Deletes a file that was moved aside. An earlier installation's read-only
// file was moved aside like any other; it is ours to delete, so its read-only
// attribute is cleared when it stands in the way.
bool DeleteMovedAside(const U16String& file) {
    if (Sys().DeleteFileW(AsWide(file))) return true;
    const DWORD error = ::GetLastError();
    const DWORD attributes = Sys().GetFileAttributesW(AsWide(file));
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        Sys().SetFileAttributesW(AsWide(file), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        // Still in use, it then waits for the next start without the
        // attribute in the way.
        return Sys().DeleteFileW(AsWide(file)) != FALSE;
    }
    ::SetLastError(error);
    return false;
}

}  // namespace

SetupResult ResultAfterPendingDeletions(PendingDeletions pending, bool packageAskedForRestart) {
    switch (pending) {
        case PendingDeletions::RestartRequested:
            return SetupResult::Installed;
        case PendingDeletions::RestartLater:
        case PendingDeletions::RestartRefused:
            return SetupResult::RestartNeeded;
        case PendingDeletions::NothingPending:
        case PendingDeletions::AllDeleted:
            break;
    }
    return packageAskedForRestart ? SetupResult::RestartNeeded : SetupResult::Installed;
}

bool RestartWindows(InstallFeedback& feedback) {
    EnableShutdownPrivilege(feedback);
    if (!Sys().SetProcessShutdownParameters(kShutdownLevelLast, 0)) {
        feedback.Log(u"cannot set the shutdown order: " + DescribeError(::GetLastError()));
    }
    Sys().Sleep(kPauseBeforeRestartMilliseconds);
    if (Sys().ExitWindowsEx(EWX_REBOOT, kRestartReason)) {
        feedback.Log(u"restart of Windows requested");
        return true;
    }
    feedback.Log(u"restart of Windows refused: " + DescribeError(::GetLastError()));
    return false;
}

DeletionOutcome DeleteNowOrAtRestart(const U16String& file, InstallFeedback& feedback, bool nameEmptyOnPurpose) {
    const U16String original = OriginalNameOf(file);
    if (!nameEmptyOnPurpose && !original.empty() && Sys().GetFileAttributesW(AsWide(original)) == INVALID_FILE_ATTRIBUTES) {
        feedback.Log(u"kept " + file + u": nothing stands at " + original + u", so it is the only copy");
        return DeletionOutcome::Kept;
    }
    if (DeleteMovedAside(file)) {
        feedback.Log(u"deleted " + file);
        return DeletionOutcome::Deleted;
    }
    const DWORD error = ::GetLastError();
    if (Sys().MoveFileExW(AsWide(file), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        feedback.Log(u"scheduled for deletion at the next start of Windows: " + file + u" (" + DescribeError(error) +
                     u")");
    } else {
        const DWORD markError = ::GetLastError();
        feedback.Log(u"cannot delete " + file + u" now (" + DescribeError(error) + u") nor schedule it: " +
                     DescribeError(markError));
    }
    return DeletionOutcome::AtRestart;
}

PendingDeletions ProcessPendingDeletions(InstallState& state, InstallFeedback& feedback, RestartQuestion question) {
    state.pendingDeletionsDone = true;
    if (state.replacedFiles.empty()) return PendingDeletions::NothingPending;
    StringList& files = state.replacedFiles;
    for (size_t index = 0; index < files.size();) {
        const bool takenBack = ContainsIgnoreAsciiCase(state.takenBackFiles, OriginalNameOf(files[index]));
        if (DeleteNowOrAtRestart(files[index], feedback, takenBack) == DeletionOutcome::AtRestart) {
            ++index;
        } else {
            files.erase(files.begin() + static_cast<ptrdiff_t>(index));
        }
    }
    if (files.empty()) return PendingDeletions::AllDeleted;
    if (question == RestartQuestion::DontAsk) {
        feedback.Log(u"files wait for the next start of Windows; nobody was asked to restart");
        return PendingDeletions::RestartLater;
    }
    if (feedback.Message(kRestartQuestion, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        feedback.Log(u"no restart now: the files go at the next start of Windows");
        return PendingDeletions::RestartLater;
    }
    return RestartWindows(feedback) ? PendingDeletions::RestartRequested : PendingDeletions::RestartRefused;
}

SetupResult EndSuccessfulRun(InstallState& state, InstallFeedback& feedback, RestartQuestion question,
                             bool packageAskedForRestart) {
    if (!state.pendingDeletionsDone) {
        state.result =
            ResultAfterPendingDeletions(ProcessPendingDeletions(state, feedback, question), packageAskedForRestart);
    }
    return state.result;
}

}  // namespace quentar
