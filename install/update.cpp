#include "install/update.h"

#include <windows.h>

#include "install/engine_support.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/resource_ids.h"

namespace quentar {

namespace {

// Shows the wait through the feedback for as long as it lives.
class WaitShown {
public:
    explicit WaitShown(InstallFeedback& feedback) : feedback_(feedback) { feedback_.BeginWait(); }
    ~WaitShown() { feedback_.EndWait(); }
    WaitShown(const WaitShown&) = delete;
    WaitShown& operator=(const WaitShown&) = delete;

private:
    InstallFeedback& feedback_;
};

enum class OldExecutable { Gone, Folder, StillThere };

// Looks for the old executable; when a file is there, resets its attributes
// and tries to delete it.
OldExecutable TryToDelete(const U16String& path) {
    WIN32_FIND_DATAW found{};
    UniqueFind search(Sys().FindFirstFileW(AsWide(path), &found));
    if (!search) return OldExecutable::Gone;
    search.reset();
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return OldExecutable::Folder;
    // Read-only, hidden and system attributes would refuse the delete.
    Sys().SetFileAttributesW(AsWide(path), FILE_ATTRIBUTE_ARCHIVE);
    return Sys().DeleteFileW(AsWide(path)) ? OldExecutable::Gone : OldExecutable::StillThere;
}

// Waits until the old executable has gone or a folder stands at its name.
// After every kApplicationCloseWait without success the user chooses between
// waiting again (Retry) and stopping the update (Cancel): nothing is given up
// while nobody was asked.
bool WaitUntilGone(const U16String& path, bool& folder, InstallFeedback& feedback) {
    DWORD started = Sys().GetTickCount();
    for (;;) {
        switch (TryToDelete(path)) {
            case OldExecutable::Gone:
                folder = false;
                return true;
            case OldExecutable::Folder:
                folder = true;
                return true;
            case OldExecutable::StillThere:
                break;
        }
        // Unsigned difference: right across the wrap of the tick count.
        if (Sys().GetTickCount() - started >= kApplicationCloseWait) {
            feedback.Log(u"update: " + path + u" is still there after waiting");
            feedback.EndWait();
            const int answer = feedback.Message(FormatPositional(LoadStringResource(IDS_UPDATE_STILL_RUNNING), {path}),
                                                MB_RETRYCANCEL | MB_ICONEXCLAMATION);
            feedback.BeginWait();
            if (answer != IDRETRY) return false;
            started = Sys().GetTickCount();
        }
        Sys().Sleep(kDeleteRetryPause);
    }
}

// Moves the new executable into place, trying again for a short while: a
// name that was just deleted can stay taken until its last handle is closed.
// The error of the last attempt is left as the thread's last error.
bool MoveIntoPlace(const U16String& from, const U16String& to) {
    for (uint32_t attempt = 1;; ++attempt) {
        if (Sys().MoveFileW(AsWide(from), AsWide(to))) return true;
        if (attempt == kMoveAttempts) return false;
        const DWORD error = ::GetLastError();
        Sys().Sleep(kDeleteRetryPause);
        ::SetLastError(error);
    }
}

}  // namespace

ReplaceOutcome ReplaceRunningApplication(InstallState& state, const UpdateArguments& arguments,
                                         InstallFeedback& feedback) {
    const U16String& oldPath = arguments.updateExePath;
    const U16String& newPath = state.applicationPath;
    DWORD moveError = ERROR_SUCCESS;
    {
        WaitShown wait(feedback);

        // A window handle travels as its low 32 bits, which is all of it for
        // a 32-bit process and all that matters of a 64-bit one.
        const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(arguments.updateWindow));
        Sys().PostMessageW(window, WM_QUERYENDSESSION, 0, kUpdateCloseRequest);
        feedback.Log(u"update: asked window " + DecimalText(arguments.updateWindow) + u" to close");

        bool folder = false;
        if (!WaitUntilGone(oldPath, folder, feedback)) {
            feedback.Log(u"update: stopped waiting for " + oldPath + u"; it is left as it was");
            return ReplaceOutcome::GaveUp;
        }

        if (folder) {
            // Nothing was deleted; the application still exists wherever it
            // lives, so a failed move loses nothing.
            if (!Sys().MoveFileW(AsWide(newPath), AsWide(oldPath))) {
                feedback.Log(u"update: a folder is at " + oldPath + u"; " + newPath + u" stays where it is: " +
                             DescribeError(::GetLastError()));
            }
            return ReplaceOutcome::FolderInTheWay;
        }

        if (MoveIntoPlace(newPath, oldPath)) {
            feedback.Log(u"update: moved " + newPath + u" to " + oldPath);
            return ReplaceOutcome::Replaced;
        }
        moveError = ::GetLastError();
    }

    // The old executable is gone: the new one is now the only copy of the
    // application and must survive the removal of the failed installation.
    feedback.Log(u"update: cannot move " + newPath + u" to " + oldPath + u": " + DescribeError(moveError));
    AddUnique(state.keptFiles, newPath);
    feedback.Message(
        FormatPositional(LoadStringResource(IDS_UPDATE_MOVE_FAILED), {newPath, oldPath, SystemErrorText(moveError)}),
        MB_OK | MB_ICONHAND);
    return ReplaceOutcome::NotMoved;
}

}  // namespace quentar
