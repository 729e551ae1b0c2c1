// The destination's rules, without a window: the defaults the installation
// proposes, what counts as an existing folder, how a missing one is made
// level by level. The destination page applies them with its questions; an
// unattended run applies them with its log.
#pragma once

#include <cstddef>

#include <windows.h>

#include "install/staged_names.h"
#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/text.h"

namespace quentar {

// The program folder and the last level of the destination the installation
// proposes.
inline constexpr char16_t kDefaultProgramFolderName[] = u"Quentar 2009";

// Characters refused in the program folder's name (it is one component of a
// path).
inline constexpr char16_t kIllegalFolderNameCharacters[] = u":\\/*?";

// The longest full path the installation can make in `destination`: the
// longest name it may write there (the application's executable, and the
// Arecont Vision SDK and each companion file the payload carries) with
// kLongestNameSuffix added, as a file moved aside or written under
// a temporary name.
size_t LongestPathInDestination(const U16String& destination, const InstallState& state);

// How many characters `destination` is too long for the installation: the
// amount by which LongestPathInDestination exceeds MAX_PATH - 1 characters
// (the terminating zero takes the last unit); 0 when every path fits.
size_t DestinationOverlength(const U16String& destination, const InstallState& state);

// False, after message 272 (the path and by how many characters it is too
// long) and a log line through `feedback`, when DestinationOverlength is not
// 0; true when the installation's paths fit in `destination`.
bool DestinationFits(const U16String& destination, const InstallState& state, InstallFeedback& feedback);

// True when `path`, taken as it is, names an existing folder. A path ending in
// a backslash (a drive root included) is never found; a path holding a
// wildcard ("*" or "?") is never taken to exist, since the search would match
// other names ("\\?\" before a full path is no wildcard).
bool DirectoryExists(const U16String& path);

// Creates the missing folders of `path` one level at a time, outer first,
// each with the rights of an installed program (kInstalledProgramRights).
// The root of a full path ("C:\", "\\server\share\") is never tested or
// created, nor, in any other path, its first segment (up to the first
// backslash); a path without a backslash creates nothing. Returns the result
// of the last folder creation tried, false when none was tried, with its
// error as the thread's last error; `made`, when given, receives the folders
// made, outer first. The caller checks the outcome with DirectoryExists.
bool CreatePathLevels(const U16String& path, StringList* made = nullptr);

// The folders of `path` that do not exist yet, innermost first; the root (or
// first segment) is never among them, as CreatePathLevels never makes it.
StringList MissingLevels(const U16String& path);

// What became of a destination (MakeDestinationReady).
enum class DestinationOutcome {
    kReady,     // a folder to install into, which only administrators can change
    kRefused,   // not to be used; the reason was told
    kDeclined,  // others may change it, and the user would rather choose another
};

// Makes `destination` (trimmed, not empty) a folder to install into, as Next
// on the page does. Only a full path is taken (IsFullPath); anything else is
// refused with message 212. An existing folder is taken when only
// administrators (and the system and the installing account) can change it;
// when others can, it is given the rights of an installed program (owner
// Administrators, kInstalledProgramRights), after asking when `askFirst`
// (message 273, Yes/No: anything but Yes declines). A junction or symbolic
// link is refused (message 274). A destination too long to hold the files of
// `state`'s installation (DestinationFits), existing or not, is refused at
// once and nothing is created. For a missing one, when `askFirst`, the user is
// asked whether to create it
// (message 211, Yes/No/Cancel; anything but Yes keeps it missing), and it is
// created level by level (CreatePathLevels), every level with those rights.
// Refused when it is not a folder afterwards (a file of that name, a name
// Windows refuses, no rights), after message 212 naming it. Every message
// goes through `feedback`, and the log names the rights found and set, as
// SDDL, with the folder's path; without `askFirst` (a run that has nobody to
// ask, whose command line named the folder) nothing is asked.
DestinationOutcome MakeDestinationReady(const U16String& destination, const InstallState& state,
                                        InstallFeedback& feedback, bool askFirst);

// A file of the installation left in place because it already holds the
// payload's content: given the owner Administrators and only the rights its
// folder passes on, as a file written now gets them. False, logged, when that
// fails; the file must then be written anew.
bool TakeOverIdenticalFile(const U16String& path, InstallFeedback& feedback);

// The space the chosen components need, in whole megabytes (MiB), rounded
// up: the sizes of the entries of the loaded payload that the installation
// writes or runs: the application's executable and companions, the SDK when
// installArecontRuntime, the runtime packages when installAxisRuntime.
uint32_t SpaceNeededMegabytes(const InstallState& state);

// The system's program-files folder joined with "Quentar 2009"; "C:\Program
// Files" stands in for a folder the system cannot tell.
U16String DefaultDestination();

}  // namespace quentar
