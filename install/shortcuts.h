// The program folder in the Start menu with its two shortcuts, and the
// optional shortcut on the desktop. Every shortcut is a shell link (.lnk)
// written through IShellLinkW and IPersistFile; COM must be initialised on
// the calling thread (the application object does it at start-up).
#pragma once

#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/text.h"

namespace quentar {

// Writes one shell link at `linkPath`: target `target`, the icon at index 0
// of `icon`, working directory `workingDirectory`, arguments `arguments`
// (empty when null), description `description`, no hotkey, shown maximised.
// Null texts other than the arguments are left unset. True when the
// shell-link object and its IPersistFile interface were obtained (the link
// was then saved); false otherwise. Whether the save itself succeeded is not
// part of the answer.
bool CreateShortcut(const char16_t* target, const char16_t* icon, const char16_t* workingDirectory,
                    const char16_t* linkPath, const char16_t* arguments, const char16_t* description);

// The file-system path of a shell folder (CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY,
// ...), at most MAX_PATH characters; empty when the shell gives none.
U16String GetSpecialFolder(int csidl);

// The current user's Start-menu Programs folder; empty when the shell gives
// no path.
U16String GetProgramsFolder();

// Creates the program folder `programFolderName` in the Programs folder (the
// current user's, or all users' with shortcutsForAllUsers; an existing one is
// used as it is) and records it in installedFolders and programFolderPath;
// writes "Quentar.lnk" and "Uninstall Quentar.lnk" ("/uninstall") there and,
// when createDesktopShortcut is set, "Quentar.lnk" on the desktop (the user's,
// or all users'), all pointing at applicationPath and working in
// destinationFolder. Each shortcut is saved under a temporary name beside
// its name, flushed, and only then put in place (PutWholeFileInPlace); an
// earlier shortcut at one of these names (an earlier installation's) is moved
// aside first and listed in replacedFiles, so that a failed installation can
// put it back; one that cannot be moved aside is written over in place. Each
// shortcut written is recorded in installedFiles, as is one that could not
// be written where no earlier one stands. runPath and runDirectory are set
// when the first shortcut's shell-link object was had. A program folder that
// does not exist yet is recorded in the journal before it is made. A folder
// the shell cannot name is skipped with its shortcuts. Nothing here stops the
// installation: failures only go to the log.
void CreateShortcuts(InstallState& state, InstallFeedback& feedback);

}  // namespace quentar
