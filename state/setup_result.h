// How a run of the setup program ended, and the exit code that tells it to
// whoever started the program: deployment tools read it, and the codes are
// those the Windows Installer uses for the same outcomes.
#pragma once

#include <cstdint>

namespace quentar {

constexpr uint32_t kExitInstalled = 0;
// Installed; files left for deletion at the next start of Windows, and no
// restart was done.
constexpr uint32_t kExitRestartNeeded = 3010;
// The user cancelled the wizard before anything was installed.
constexpr uint32_t kExitCancelled = 1602;
// The installation failed and what it had done was taken back (or nothing
// was done: a command line or destination that cannot be used).
constexpr uint32_t kExitFailed = 1603;
// Another setup of the product runs on this machine.
constexpr uint32_t kExitAlreadyRunning = 1618;
// The fatal error of the program (kFatalExitCode, state/fatal_error.h) is 2.

enum class SetupResult {
    Cancelled,      // nothing installed: the wizard was left before its installation
    Installed,      // everything chosen is in place
    RestartNeeded,  // installed; moved-aside files wait for the next start of Windows
    Failed,         // the installation failed and was taken back
    AlreadyRunning, // another setup runs: nothing was done
};

constexpr uint32_t ExitCodeOf(SetupResult result) {
    switch (result) {
        case SetupResult::Installed:
            return kExitInstalled;
        case SetupResult::RestartNeeded:
            return kExitRestartNeeded;
        case SetupResult::Failed:
            return kExitFailed;
        case SetupResult::AlreadyRunning:
            return kExitAlreadyRunning;
        case SetupResult::Cancelled:
            break;
    }
    return kExitCancelled;
}

// A short description for the log ("installed", "cancelled", ...).
constexpr const char16_t* DescribeResult(SetupResult result) {
    switch (result) {
        case SetupResult::Installed:
            return u"installed";
        case SetupResult::RestartNeeded:
            return u"installed; a restart of Windows is needed to finish";
        case SetupResult::Failed:
            return u"the installation failed and was taken back";
        case SetupResult::AlreadyRunning:
            return u"another Quentar setup is already running";
        case SetupResult::Cancelled:
            break;
    }
    return u"cancelled by the user";
}

}  // namespace quentar
