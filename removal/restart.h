// The end of a successful installation: the files moved aside go, now or when
// Windows next starts, and the user may restart Windows at once.
#pragma once

#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/setup_result.h"

namespace quentar {

// The restart question, fixed in the program (not in the string table).
extern const char16_t kRestartQuestion[];

enum class PendingDeletions {
    NothingPending,    // replacedFiles was empty: nothing done, nothing asked
    AllDeleted,        // every moved-aside file was deleted now, nothing asked
    RestartRequested,  // some wait for the next start; the user chose Yes and
                       // Windows accepted the request to restart
    RestartLater,      // some wait for the next start; the user chose No
    RestartRefused,    // some wait for the next start; the user chose Yes but
                       // Windows refused to restart
};

// How a successful installation ended after its pending deletions, given
// whether a runtime package ended asking for a restart of Windows (3010 or
// 1641). A restart under way (the user chose Yes and Windows took the
// request) finishes everything: installed. Otherwise a restart is still
// needed when files wait for the next start or a package asked for one;
// else nothing is left to do.
SetupResult ResultAfterPendingDeletions(PendingDeletions pending, bool packageAskedForRestart);

// Whether the end of a run asks the user to restart Windows when files wait
// for its next start: Finish does; the other ways a wizard ends (Cancel, the
// close box, Esc, the end of the session) only schedule them.
enum class RestartQuestion { Ask, DontAsk };

// What became of a file to be deleted at the end of a run.
enum class DeletionOutcome {
    Deleted,    // gone now
    AtRestart,  // in use: marked for deletion when Windows next starts (or
                // even that failed; it still waits)
    Kept,       // a moved-aside file whose name holds nothing: the only copy
                // of that file, left where it is
};

// Deletes `file`, a file moved aside or a leftover temporary file (clearing a
// read-only attribute that stands in the way: it is an earlier installation's
// file, ours to delete), or, when it cannot go now (in use), marks it for
// deletion when Windows next starts (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT). A moved-aside file whose original name holds
// nothing (the new file could not take its place, nor it back) is kept,
// unless `nameEmptyOnPurpose` (a file of the earlier installation taken back,
// TakeBackEarlierFiles). Each outcome goes to the log.
DeletionOutcome DeleteNowOrAtRestart(const U16String& file, InstallFeedback& feedback,
                                     bool nameEmptyOnPurpose = false);

// Runs DeleteNowOrAtRestart for every file of replacedFiles and drops each
// one deleted or kept from the list; those waiting for the next start stay. When any stays and
// `question` is Ask, asks kRestartQuestion once (MB_YESNO |
// MB_ICONEXCLAMATION) and on Yes calls RestartWindows; without the question
// the answer is RestartLater. Sets pendingDeletionsDone: run once, at the end
// of a successful run.
PendingDeletions ProcessPendingDeletions(InstallState& state, InstallFeedback& feedback,
                                         RestartQuestion question = RestartQuestion::Ask);

// The end of a run whose install sequence succeeded, whichever way it ends:
// ProcessPendingDeletions unless it has run already, and the run's result
// from what it left and whether a runtime package asked for a restart
// (ResultAfterPendingDeletions), which is also stored in state.result. When it
// has run already, state.result is returned as it is.
SetupResult EndSuccessfulRun(InstallState& state, InstallFeedback& feedback, RestartQuestion question,
                             bool packageAskedForRestart = false);

// Asks Windows to restart: enables the shutdown privilege in this process's
// token (skipped when the token cannot be opened), makes this process shut
// down last among the applications (SetProcessShutdownParameters(0x100, 0)),
// waits one second, then ExitWindowsEx(EWX_REBOOT, 0x10). Returns at once
// after the request, which Windows carries out asynchronously: whether
// Windows accepted it. Failures are logged only.
bool RestartWindows(InstallFeedback& feedback);

}  // namespace quentar
