// The one record of installation state that the application object and every
// wizard page share. The sheet owns it for the whole run; pages read and write
// its fields directly.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "state/payload_entry.h"
#include "state/file_version.h"
#include "state/setup_result.h"
#include "state/text.h"

namespace quentar {

// The decoded payload block (payload/payload_archive.h).
class PayloadArchive;

struct InstallState {
    // Navigation: the template ids of the pages the wizard visits, in order.
    // Empty until the welcome page is left with Next; afterwards it starts
    // with the welcome page's id.
    std::vector<uint32_t> pagePath;

    // The decoded payload; none until it is loaded. Owned here and kept until
    // the process ends, so entry views into it stay valid. Shared ownership
    // only so that the state can be destroyed where the block's type is not
    // known; nothing else holds it.
    std::shared_ptr<PayloadArchive> payload;

    // Earlier installation and versions.
    bool installedFound = false;
    FileVersion installedVersion;
    FileVersion setupVersion;

    // Choices.
    bool installArecontRuntime = false;
    bool installAxisRuntime = false;
    bool startApplication = false;

    // Results of the installation.
    U16String runDirectory;
    U16String runPath;

    U16String destinationFolder;
    U16String applicationPath;
    U16String programFolderName;
    U16String programFolderPath;
    bool createDesktopShortcut = false;
    // The program folder and the desktop shortcut go to the Start menu and
    // desktop of all users rather than of the user running the setup (an
    // unattended, machine-wide installation; the wizard keeps the user's).
    bool shortcutsForAllUsers = false;
    U16String uninstallKeyPath;

    // installedFolders, installedFiles and keptFiles are kept free of entries
    // equal under A-Z folding (AddUnique only).
    StringList installedFolders;
    StringList installedFiles;
    // Names of files moved aside so that a new file could take their place,
    // in the order moved: deleted at the end of a successful run, moved back
    // by the removal of a failed installation. The original name is the
    // aside name without its last 33 characters ("." and 32 hexadecimal
    // digits).
    // A new file's temporary name whose deletion failed is listed here too,
    // to go the same ways.
    StringList replacedFiles;
    // Files an earlier installation of the destination listed that this one
    // does not install, moved aside (their aside names in replacedFiles) so
    // that the new record describes everything left: their names stay empty
    // on purpose, and their aside names go at the end like the others.
    StringList takenBackFiles;
    // The end of the successful run has dealt with replacedFiles (deleted,
    // or scheduled for the next start of Windows): it is done once, however
    // the run ends.
    bool pendingDeletionsDone = false;
    // Files of installedFiles that the removal of a failed installation must
    // leave: those found in place with identical content and left untouched
    // (they belong to the earlier installation), and the new executable of an
    // update that could not be moved into place after the old one had gone
    // (it is then the only copy of the application).
    StringList keptFiles;

    // The entry of the application executable; none whenever payload is none.
    PayloadEntry applicationEntry;

    // How the run has ended so far, for its exit code: the progress page
    // records a failure or a complete installation, the end of the wizard
    // what the pending deletions left. A wizard left before its installation
    // keeps Cancelled.
    SetupResult result = SetupResult::Cancelled;
};

}  // namespace quentar
