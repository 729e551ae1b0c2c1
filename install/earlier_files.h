// What an earlier installation of the same folder listed and a new one does
// not install: taken back, so that the new record describes everything of
// the product that is left on the disk.
#pragma once

#include "install/install_feedback.h"
#include "state/install_state.h"

namespace quentar {

// Moves aside every file that the records of state.destinationFolder
// (RecordsOfFolder) list and this installation has not installed (not in
// installedFiles, A-Z folded): a file, a shortcut. Each goes the way of a
// replaced file (MoveAsideExisting, its temporary name in replacedFiles, its
// name in takenBackFiles):
// deleted with the others at the end, or put back when the installation is
// taken back. Only full paths are touched (a drive and ":\", or "\\"); a
// name that is not there, or a folder, is passed over; a file that cannot be
// moved is logged and stays. Runs after the last file and shortcut of the
// installation and before its record is written.
void TakeBackEarlierFiles(InstallState& state, InstallFeedback& feedback);

}  // namespace quentar
