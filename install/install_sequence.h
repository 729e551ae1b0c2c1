// The installation itself, in the order its pieces are made: the uninstall
// key (which also proves administrator rights), the application executable,
// the camera SDK when chosen, the companion files, the program folder with
// its shortcuts, and the uninstall record's values.
//
// The sequence reports through InstallFeedback only and holds no window: the
// progress page runs it with its bar and message boxes, an unattended run
// with a log.
#pragma once

#include <cstdint>

#include "install/chunk_plan.h"
#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/text.h"
#include "state/update_arguments.h"

namespace quentar {

// The identifier of a new installation: the 16 bytes of a fresh GUID read as
// four little-endian words, or pseudo-random words when no GUID can be made.
void NewInstallationWords(uint32_t words[4]);

// Runs the installation from `state` (destinationFolder, applicationEntry,
// installArecontRuntime, programFolderName, createDesktopShortcut and, in
// update mode, applicationPath as start-up set it). `plan` holds the chunks
// of the application executable and feedback.BeginProgress has been told
// their number.
//
// True when the installation is complete. False when a step failed: its
// message has been shown through `feedback`, the rest is left undone, and
// what was made so far is in the state's lists for RemoveInstallation. A
// payload without the application executable is refused before anything is
// touched.
//
// In update mode (arguments.updateMode) no uninstall key, shortcut or record
// is made: the new executable goes to applicationPath, the SDK and companion
// files to destinationFolder, and runPath/runDirectory name the replaced
// executable.
bool RunInstallSequence(InstallState& state, const UpdateArguments& arguments, const ChunkPlan& plan,
                        InstallFeedback& feedback);

}  // namespace quentar
