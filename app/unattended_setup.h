// The installation without a window ("/quiet"): what a person would choose in
// the wizard on this machine, or what the command line names, installed by the
// same engine the progress page runs, with every message going to the log.
#pragma once

#include "app/command_line.h"
#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/setup_result.h"
#include "state/update_arguments.h"

namespace quentar {

// Runs the unattended installation or update into `state` (fresh) and returns
// how it ended; `feedback` is told every step and message (UnattendedFeedback
// in the program). In this order:
//
// 1. the payload is loaded (a payload that cannot be decoded throws
//    FatalError, as in the wizard);
// 2. the components: those of "/components:" (a list that cannot be read, or
//    that names a runtime the payload does not carry, ends the run as Failed,
//    nothing done); otherwise what the welcome page would propose of what the
//    payload carries (ComponentsCarried): in an update the application and
//    the Arecont runtime, else the application and the Arecont runtime unless
//    an installation at least as new as this setup is found
//    (DetectEarlierInstallation), and the Axis runtime unless it is installed
//    (IsAxisRuntimeInstalled). Nothing chosen: Installed, nothing done;
// 3. with the application, outside an update: the destination "/dir:"
//    or DefaultDestination(), made ready as the destination page makes it
//    (MakeDestinationReady: a full path only, created without a question,
//    the rights of one that others may change set without a question, a
//    link refused; refused: Failed, and the folders it made removed again),
//    the program folder kDefaultProgramFolderName, a desktop shortcut unless
//    "/nodesktop", shortcuts for all users; in an update, the folder and
//    paths of the executable being replaced (PrefillForUpdate);
// 4. RunInstallSequence with the pauses skipped; a failure is taken back
//    (RemoveInstallation, the folders made for the destination included) and
//    ends the run as Failed, before any package;
// 5. with the Axis runtime, every carried package run unattended and waited
//    for (RunRuntimePackages), each at most "/packagetimeout:" minutes
//    (kDefaultPackageTimeoutMinutes without it; a value that cannot be read
//    ends the run as Failed before anything is done): one still running
//    then is left running, and the run ends as Failed after the rest of its
//    work;
// 6. the files moved aside are deleted or left for the next start of
//    Windows (ProcessPendingDeletions). Its restart question is answered No
//    by UnattendedFeedback: an unattended run never restarts Windows, with or
//    without "/norestart". Files left for the next start, or a package that
//    reported a needed restart, end the run as RestartNeeded.
//
// A successful update sets state.startApplication, as the finish page's box
// does by default, so that the caller starts the new executable
// (state.runPath); an installation starts nothing, since nobody is there to
// use it.
SetupResult RunUnattended(const SetupOptions& options, const UpdateArguments& arguments, InstallState& state,
                          InstallFeedback& feedback);

}  // namespace quentar
