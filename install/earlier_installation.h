// The search for an earlier installation of the application through the
// uninstall records, shared by the welcome page and an unattended run.
#pragma once

#include "state/install_state.h"

namespace quentar {

// Looks through the uninstall records for installed executables of the
// application and sets installedFound and installedVersion (the highest file
// version found; an executable without one does not count). A record counts
// when its key is "Quentar" or named in GUID form and its "DisplayName",
// lower-cased by the system's full case mapping, begins with "quentar"; its
// "File0", "File1", ... values are read up to the first that cannot be, and
// those naming "quentar.exe" after their first character are looked into.
// Every failure only skips the record or value concerned.
// Returns whether the application is to be proposed: nothing was found, or
// what was found is older than setupVersion.
bool DetectEarlierInstallation(InstallState& state);

}  // namespace quentar
