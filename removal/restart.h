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

// Deletes every file of replacedFiles that can be deleted now (clearing a
// read-only attribute that stands in the way: the files are earlier
// installations' files moved aside) and drops it from the list; each one that cannot is marked for deletion when Windows
// next starts (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT) and stays in the
// list, whether or not the marking worked. When any stays, asks
// kRestartQuestion once (MB_YESNO | MB_ICONEXCLAMATION) and on Yes calls
// RestartWindows. Run once, at the end of a successful wizard.
PendingDeletions ProcessPendingDeletions(InstallState& state, InstallFeedback& feedback);

// Asks Windows to restart: enables the shutdown privilege in this process's
// token (skipped when the token cannot be opened), makes this process shut
// down last among the applications (SetProcessShutdownParameters(0x100, 0)),
// waits one second, then ExitWindowsEx(EWX_REBOOT, 0x10). Returns at once
// after the request, which Windows carries out asynchronously: whether
// Windows accepted it. Failures are logged only.
bool RestartWindows(InstallFeedback& feedback);

}  // namespace quentar
