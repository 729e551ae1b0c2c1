// The application object: prepares the process, reads the command line,
// runs the wizard and starts the installed application afterwards. It is also
// the last stop of fatal errors.
#pragma once

#include <exception>
#include <vector>

#include "app/command_line.h"
#include "install/install_feedback.h"
#include "platform/framework/win_app.h"
#include "platform/unique_resource.h"
#include "platform/user_token.h"
#include "state/install_state.h"
#include "state/setup_result.h"

namespace quentar {

// The lock every run of the setup program holds until it ends: the mutex,
// and the private namespace it lives in, kept open (a namespace whose last
// handle is closed can no longer be found by its name). A namespace handle
// closes like any other handle.
struct SetupLock {
    UniqueHandle space;  // empty when the mutex has the global name
    UniqueHandle mutex;  // empty when no mutex could be made at all
};

// Takes the setup program's lock unless another run holds it: its mutex in
// the private namespace bounded by the Administrators group (created, or
// opened when another run made it), or under the global name where the
// system lacks the namespace functions or the namespace cannot be had; the
// log says which. False when another setup runs (the mutex exists, or
// exists and cannot even be opened); a mutex that cannot be made for another
// reason does not stop the run (true, with `lock.mutex` empty). The
// namespace functions are looked up in kernel32 through Sys(), and
// CreateMutexW goes through Sys().
bool TakeSetupMutex(SetupLock& lock);

// The update fields (updateMode, updateExePath, updateExeFolder,
// updateWindow) are the application object's own, set only by the
// command-line parser; the sheet reads them through the same object.
class CSetupApp : public CWinApp, public UpdateArguments {
public:
    // Opens the run's log, makes sure no other setup of the product runs,
    // then runs the wizard, or the unattended installation with "/quiet".
    BOOL InitInstance() override;
    // The exit code of the run (ExitCodeOf its result, or 2 after a fatal
    // error).
    int ExitInstance() override { return static_cast<int>(exitCode_); }

    // Logs a fatal error and shows it in a box captioned "Error" (not in an
    // unattended run), then ends the process with exit code 2, at once.
    void OnUncaughtException(std::exception_ptr error) override;

private:
    UpdateArguments& Arguments() { return *this; }
    // The wizard, from building the sheet to the start of the installed
    // application; the result the pages recorded.
    SetupResult RunWizard();
    // The run of "/quiet": RunUnattended with the log as its feedback, then
    // the start of the updated application when it asks for one.
    SetupResult RunWithoutWindow();
    // Finishes or takes back the runs that were interrupted before this one
    // and arms this run's journal; tells the wizard's user what could not
    // be put back.
    void RecoverInterruptedRuns();
    // Records how the run ended: its journal discarded, its line in the log
    // and the exit code.
    void Finish(SetupResult result);
    // A message of the start, before the wizard or the unattended run: a
    // box with `icon`, or with "/quiet" the log only.
    void TellBeforeTheRun(const U16String& text, UINT icon);
    // In update mode: whether "/exe:" names the installed application
    // (CheckUpdateTarget); if not, says so (message 275, the reason in the
    // log) and nothing is done. If so, takes the token of the requesting
    // application while it still runs.
    bool UpdateTargetAccepted();
    // Who starts the installed application at the end: the Quentar that asked
    // for the update, in update mode; otherwise the signed-in user's shell.
    UserToken ApplicationUser();

    SetupOptions options_;
    SetupLock setupLock_;  // held until the process ends
    UserToken requester_;  // update mode: the token of the application that asked
    uint32_t exitCode_ = 0;
    // A run recovered at the start left files for the next start of Windows.
    bool recoveryNeedsRestart_ = false;
};

// The name of the private namespace the setup program's mutex lives in, and
// of the boundary that limits it to the Administrators group: no other
// account can create it, so no user can take the name before a setup runs.
inline constexpr char16_t kSetupNamespaceName[] = u"Quentar Setup";
// The mutex every run holds, inside that namespace ...
inline constexpr char16_t kPrivateSetupMutexName[] = u"Quentar Setup\\Quentar Setup";
// ... or, where the system has no private namespaces, in the global
// namespace, so that runs in other sessions (a service, a remote desktop)
// see it too.
inline constexpr char16_t kSetupMutexName[] = u"Global\\Quentar Setup";

// Opens the run's log: `requested` ("/log:"), or the default log when it is
// empty or cannot be opened (said in the default log), then writes the run's
// heading: the time, this program's version and process, and `argv` after
// argv[0] (quoted where they hold blanks). The run goes on without a log
// when neither can be opened.
void OpenRunLog(const U16String& requested, const std::vector<U16String>& argv);

// The message of a fatal error: string-table entry (code - 777) of a numeric
// error (empty when there is none), the text of a text error.
U16String FatalMessage(std::exception_ptr error);

// What went wrong, in words, for the log: the cause a fatal error carries;
// empty when it carries none (its message says it all).
U16String FatalCause(std::exception_ptr error);

// The runtime's wide argument vector as UTF-16 strings (argv[0] included).
std::vector<U16String> RuntimeArguments();

// Starts `runPath` in `runDirectory` as `user` (StartProgramAs: no arguments,
// the user's environment, not waited for). Without a token nothing is
// started and the log says why (user.whose). A failed start tells `feedback`
// with the system's reason (message 213). Returns whether it started.
// Without `feedback`, the wizard's message box.
bool StartInstalledApplication(const UserToken& user, const U16String& runPath, const U16String& runDirectory,
                               InstallFeedback& feedback);
bool StartInstalledApplication(const UserToken& user, const U16String& runPath, const U16String& runDirectory);

// The end of the run: starts the installed application as `user` when the
// finish page asked for it and its path is known.
void StartApplicationAfterWizard(const InstallState& state, const UserToken& user);

// The token of the Quentar that asked for the update: the process of
// arguments.updateWindow when that is a window of the executable being
// replaced (WindowOfExecutable). Opened at the start of the run, before the
// application is asked to close.
UserToken RequesterToken(const UpdateArguments& arguments);

}  // namespace quentar
