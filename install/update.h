// In-place update: replacing the executable of the running application by
// the one the install sequence has just written next to it.
#pragma once

#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/update_arguments.h"

namespace quentar {

// Asks the running application (arguments.updateWindow) to close, waits until
// its executable (arguments.updateExePath) has gone, and moves the new
// executable from state.applicationPath into its place. Run by the install
// sequence in update mode right after the new executable was written and
// closed, before the SDK and the companion files.
//
// Not built yet: it arrives with the in-place update, and the install
// sequence calls it from there.
void ReplaceRunningApplication(InstallState& state, const UpdateArguments& arguments, InstallFeedback& feedback);

}  // namespace quentar
