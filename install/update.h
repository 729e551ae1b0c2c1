// In-place update: replacing the executable of the running application by
// the one the install sequence has just written next to it.
#pragma once

#include <cstdint>

#include "install/install_feedback.h"
#include "platform/unique_resource.h"
#include "state/install_state.h"
#include "state/update_arguments.h"

namespace quentar {

// The lParam of the close request posted to the running application with
// WM_QUERYENDSESSION: a private marker, not a combination of ENDSESSION_*
// flags. The application ends when its window receives it.
constexpr intptr_t kUpdateCloseRequest = 0x38A7BE4C;

// How long the running application is given to end before the user is asked
// whether to keep waiting: a minute, measured with GetTickCount.
constexpr uint32_t kApplicationCloseWait = 60000;
// Pause between two attempts to delete the old executable.
constexpr uint32_t kDeleteRetryPause = 100;
// Attempts to move the new executable into place once the old one has gone
// (about two seconds with kDeleteRetryPause between them): a name whose last
// handle is still being closed frees itself within that time.
constexpr uint32_t kMoveAttempts = 20;

enum class ReplaceOutcome {
    // The new executable is in place of the old one.
    Replaced,
    // updateExePath names a folder: nothing was deleted, the move failed
    // quietly and the new executable stays at applicationPath. The
    // installation goes on, as nothing of the application was lost.
    FolderInTheWay,
    // The application did not end and the user gave up waiting: the old
    // executable is where it was, the new one at applicationPath is still a
    // file of this installation, which the removal deletes.
    GaveUp,
    // The old executable has gone but the new one could not be moved into its
    // place; the user has been told both paths. The new executable is then the
    // only copy of the application: it stays at applicationPath and is listed
    // in keptFiles so that the removal of the failed installation leaves it.
    NotMoved,
};

// Whether the install sequence goes on after `outcome` (the SDK, the
// companion files, the start after the wizard); otherwise it fails, and the
// message has been shown.
constexpr bool UpdateGoesOn(ReplaceOutcome outcome) {
    return outcome == ReplaceOutcome::Replaced || outcome == ReplaceOutcome::FolderInTheWay;
}

// Whether the update may act on arguments.updateExePath, the file it deletes,
// replaces and starts: the setup program runs elevated, and the arguments
// come from a program a user started. The executable must be
// - a full local path: a drive letter, ":\", then at least one folder, the
//   names separated by single backslashes, none of them "." or "..", no "/"
//   (so no UNC path, no device path, no way out of the folder named);
// - named Quentar.exe (A-Z compared without regard to case), directly in
//   arguments.updateExeFolder;
// - in the "Folder" of an uninstall record this program wrote for that folder
//   (RecordsOfFolder), one of whose "File" values is that very path;
// - reached without a junction or symbolic link at any level, every folder on
//   the way existing; the executable itself a file, or missing.
// Otherwise false, and `problem` says why (for the log). Only queries: nothing
// is changed.
bool CheckUpdateTarget(const UpdateArguments& arguments, U16String& problem);

// Whether `window` belongs to a process whose image is `executable` (A-Z
// compared without regard to case): the only window the close request may
// go to. When it does and `process` is given, it receives that process,
// opened for PROCESS_QUERY_LIMITED_INFORMATION.
bool WindowOfExecutable(uint32_t window, const U16String& executable, UniqueHandle* process = nullptr);

// Asks the running application (arguments.updateWindow) to close, waits until
// its executable (arguments.updateExePath) has gone, and moves the new
// executable from state.applicationPath into its place. Run by the install
// sequence in update mode right after the new executable was written and
// closed, before the SDK and the companion files.
//
// The close request (WM_QUERYENDSESSION, 0, kUpdateCloseRequest) is posted
// once, and only when the window belongs to the executable being replaced
// (WindowOfExecutable); otherwise it is skipped and logged, and the wait below
// goes on as for a request that reached nobody. Then, every kDeleteRetryPause
// milliseconds: when nothing is found at updateExePath, or a folder is, the
// wait ends; otherwise its attributes are reset to FILE_ATTRIBUTE_ARCHIVE
// (so that a read-only executable can go) and it is deleted, which fails
// while the application runs. After kApplicationCloseWait without success
// the user is asked (MB_RETRYCANCEL, message 269 naming updateExePath)
// whether to wait another while or to stop the update. The wait is shown
// through feedback.BeginWait/EndWait. All calls that touch the machine or
// the clock go through Sys().
ReplaceOutcome ReplaceRunningApplication(InstallState& state, const UpdateArguments& arguments,
                                         InstallFeedback& feedback);

}  // namespace quentar
