// Taking back a failed installation, from the lists the installation kept in
// the install state; nothing else on the disk or in the registry is looked at.
#pragma once

#include <windows.h>

#include "install/install_feedback.h"
#include "state/install_state.h"

namespace quentar {

// Undoes what the installation did so far. In this order:
// 1. deletes every file of installedFiles, first to last, except those of
//    keptFiles (found in place with identical content: the earlier
//    installation's);
// 2. moves every file of replacedFiles back to its original name (the
//    aside name without its last 33 characters; write-through), first to
//    last, and drops from replacedFiles each one moved back, so that the end
//    of the wizard cannot delete a restored file; a new file's temporary
//    name listed there (one that could not be deleted when its writing
//    failed) is deleted instead;
// 3. removes every folder of installedFolders, first to last (a folder that
//    is not empty stays);
// 4. when uninstallKeyPath is set: deletes the subkeys of that key under
//    HKEY_LOCAL_MACHINE one level deep (a subkey with subkeys of its own
//    stays), then the key itself through the uninstall root.
// Every failure is logged and passed over; nothing is shown.
// installedFiles, installedFolders and uninstallKeyPath are left unchanged.
void RemoveInstallation(InstallState& state, InstallFeedback& feedback);

// Deletes the subkey `name` of the open `key` (not its subkeys: a key that
// still has subkeys is not deleted) in the process's default registry view;
// returns the Win32 result. Uses RegDeleteKeyExW(key, name, 0, 0) when the
// system offers it, else RegDeleteKeyW. Whether it is offered is asked once
// per process, on first use (GetModuleHandleW("Advapi32.dll"), then
// GetProcAddress), and the answer is kept.
LSTATUS RemoveSubkey(HKEY key, const wchar_t* name);

// Forgets the kept answer, so that the next RemoveSubkey asks again (tests).
void ForgetRegDeleteKeyExLookup();

}  // namespace quentar
