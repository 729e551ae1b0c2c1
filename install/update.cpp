#include "install/update.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "install/engine_support.h"
#include "install/uninstall_record.h"
#include "payload/payload_names.h"
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

// The longest path a process image can have, in characters.
constexpr DWORD kImagePathCapacity = 32768;

// Characters no name in a path may hold (the drive's colon comes before the
// first name). A colon would name a stream, a wildcard several files.
constexpr char16_t kForbiddenInNames[] = u":*?\"<>|/";

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The names of a full local path after its "X:\", or false when `path` is no
// such path: an empty name (a doubled or trailing backslash), "." or "..",
// or a forbidden character in a name refuse it.
bool SplitLocalPath(const U16String& path, StringList& names) {
    names.clear();
    if (path.size() < 4 || !IsDriveLetter(path[0]) || path[1] != u':' || path[2] != u'\\') return false;
    for (size_t start = 3;;) {
        const size_t end = path.find(u'\\', start);
        const U16String name = end == U16String::npos ? path.substr(start) : path.substr(start, end - start);
        if (name.empty() || name == u"." || name == u".." || name.find_first_of(kForbiddenInNames) != U16String::npos) {
            return false;
        }
        names.push_back(name);
        if (end == U16String::npos) return true;
        start = end + 1;
    }
}

// Whether every level of `path` (the names after its drive) is reached
// without a junction or symbolic link: every folder on the way exists and is
// a folder, and the last level is a file or missing. Otherwise false, and
// `problem` says why.
bool PlainLevels(const U16String& path, const StringList& names, U16String& problem) {
    U16String level = path.substr(0, 2);
    for (size_t i = 0; i < names.size(); ++i) {
        level += u'\\';
        level += names[i];
        const bool last = i + 1 == names.size();
        const DWORD attributes = Sys().GetFileAttributesW(AsWide(level));
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            if (last && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) return true;
            problem = level + u" cannot be examined: " + DescribeError(error);
            return false;
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            problem = level + u" is a junction or symbolic link";
            return false;
        }
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder == last) {
            problem = level + (last ? u" is a folder" : u" is not a folder");
            return false;
        }
    }
    return true;
}

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

bool CheckUpdateTarget(const UpdateArguments& arguments, U16String& problem) {
    problem.clear();
    const U16String& path = arguments.updateExePath;
    StringList names;
    if (!SplitLocalPath(path, names) || names.size() < 2) {
        problem = u"\"" + path + u"\" is not the full local path of a file in a folder";
        return false;
    }
    if (!EqualsIgnoreAsciiCase(names.back(), kApplicationEntryName)) {
        problem = path + u" does not name " + kApplicationEntryName;
        return false;
    }
    const U16String folder = path.substr(0, path.rfind(u'\\'));
    // Set from another "/exe:" argument than the path's own.
    if (arguments.updateExeFolder != folder) {
        problem = u"the folder " + arguments.updateExeFolder + u" is not the folder of " + path;
        return false;
    }
    const std::vector<InstallationRecord> records = RecordsOfFolder(folder);
    if (records.empty()) {
        problem = u"no uninstall record of this program is for the folder " + folder;
        return false;
    }
    const bool listed = std::any_of(records.begin(), records.end(), [&](const InstallationRecord& record) {
        return ContainsIgnoreAsciiCase(record.files, path);
    });
    if (!listed) {
        problem = u"no uninstall record of this program for the folder " + folder + u" lists " + path;
        return false;
    }
    return PlainLevels(path, names, problem);
}

bool WindowOfExecutable(uint32_t window, const U16String& executable, UniqueHandle* process) {
    if (window == 0) return false;
    // A window handle travels as its low 32 bits, which is all of it for a
    // 32-bit process and all that matters of a 64-bit one.
    const HWND handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
    DWORD id = 0;
    if (Sys().GetWindowThreadProcessId(handle, &id) == 0 || id == 0) return false;
    UniqueHandle opened(Sys().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!opened) return false;
    std::vector<wchar_t> image(kImagePathCapacity);
    DWORD size = kImagePathCapacity;
    if (!Sys().QueryFullProcessImageNameW(opened.get(), 0, image.data(), &size) || size >= kImagePathCapacity) {
        return false;
    }
    if (!EqualsIgnoreAsciiCase(FromWide(image.data(), size), executable)) return false;
    if (process != nullptr) *process = std::move(opened);
    return true;
}

ReplaceOutcome ReplaceRunningApplication(InstallState& state, const UpdateArguments& arguments,
                                         InstallFeedback& feedback) {
    const U16String& oldPath = arguments.updateExePath;
    const U16String& newPath = state.applicationPath;
    DWORD moveError = ERROR_SUCCESS;
    {
        WaitShown wait(feedback);

        // Only the application being replaced is asked: the window handle
        // comes from the command line, like the path.
        if (WindowOfExecutable(arguments.updateWindow, oldPath)) {
            const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(arguments.updateWindow));
            Sys().PostMessageW(window, WM_QUERYENDSESSION, 0, kUpdateCloseRequest);
            feedback.Log(u"update: asked window " + DecimalText(arguments.updateWindow) + u" to close");
        } else {
            feedback.Log(u"update: window " + DecimalText(arguments.updateWindow) + u" is not a window of " + oldPath +
                         u": no close request sent");
        }

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
