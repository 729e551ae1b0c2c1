// Folders that only administrators can change.
//
// The setup program runs elevated, often as the system account, and must not
// act on anything an ordinary user can write: its log, its journal, the
// copies of the runtime packages it starts, the installed program. This is
// the one place that gives folders their rights, reads them back and judges
// them. Rights are written as SDDL text, which is also what the log shows, so
// that an administrator can audit a run.
//
// Every call that reads or sets rights goes through Sys(), so tests record
// the descriptors passed (Wine maps a DACL to Unix mode bits and makes up a
// descriptor when asked; it keeps none).
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"
#include "state/text.h"

namespace quentar {

// Owner Administrators; full control for SYSTEM and Administrators, inherited
// by everything below; nothing inherited from the parent. For the run's own
// folders: the log, the journal, the packages' copies.
inline constexpr char16_t kAdministratorsOnlyRights[] = u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// As the system's program folder: the above, plus read and execute (and
// nothing else) for Users, inherited by subfolders and files.
inline constexpr char16_t kInstalledProgramRights[] =
    u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The Win32 error for a path that leads through a junction or symbolic link
// where none is accepted (ERROR_REPARSE_POINT_ENCOUNTERED, missing from some
// headers).
inline constexpr DWORD kReparsePointEncountered = 4395;

// A security descriptor made from SDDL text (self-relative, LocalFree'd).
class SddlDescriptor {
public:
    // 0, or the error of the conversion (ERROR_INVALID_PARAMETER for text
    // that is not SDDL).
    DWORD Parse(U16View sddl);
    PSECURITY_DESCRIPTOR get() const { return static_cast<PSECURITY_DESCRIPTOR>(memory_.get()); }
    // Attributes that hand the descriptor to a creating call (not
    // inheritable handles).
    SECURITY_ATTRIBUTES* Attributes();

private:
    UniqueLocal memory_;
    SECURITY_ATTRIBUTES attributes_{};
};

// The SDDL text of a descriptor's owner and DACL (protection included);
// empty when it cannot be converted.
U16String DescriptorText(PSECURITY_DESCRIPTOR descriptor);

// Creates the folder `path` (one level; its parent exists) with the owner
// and DACL of `rights`. 0, or the error: ERROR_ALREADY_EXISTS when anything
// stands at the name, which is never taken over by this call.
DWORD CreateFolderWithRights(const U16String& path, U16View rights);

// Gives the existing file or folder `path` the owner and the protected DACL
// of `rights` (what it inherited from its parent is dropped). 0 or the error.
DWORD ApplyRights(const U16String& path, U16View rights);

// The owner and DACL of `path`, as SDDL text. 0 or the error.
DWORD ReadRights(const U16String& path, U16String& sddl);

// Gives the existing file `path` the owner Administrators and only the rights
// its folder passes on to it: whatever was set on the file itself is
// dropped. 0 or the error.
DWORD InheritRights(const U16String& path);

// Whether a descriptor lets anybody but the trusted accounts change what it
// guards: its owner, or an ACE that allows writing, appending, deleting
// (the object or a child), changing the permissions or taking ownership, for
// anybody but Administrators, SYSTEM, TrustedInstaller, CREATOR OWNER and
// `installingUser` (the account running the setup; may be null). A missing
// DACL lets everybody do everything. Inherit-only ACEs count: they reach the
// files that will be made below.
bool OthersMayWrite(PSECURITY_DESCRIPTOR descriptor, PSID installingUser);

// The account of this process's token (for OthersMayWrite), or empty.
class ProcessAccount {
public:
    ProcessAccount();
    PSID Sid() const;

private:
    UniqueLocal memory_;
};

// What a folder's rights were and became, for the log.
struct FolderRights {
    bool created = false;  // the folder was made by this call
    bool changed = false;  // an existing folder's rights were reset
    U16String found;       // SDDL read before (an existing folder), or empty
    U16String set;         // SDDL applied (made or reset with), or empty
};

// Judges the existing folder `path` before it is trusted: 0 when it is a
// folder, with its rights as SDDL in `found` (empty when they cannot be read)
// and whether anybody but the trusted accounts may change it in
// `othersMayWrite` (OthersMayWrite with this process's account; rights that
// cannot be read count as writable). kReparsePointEncountered for a junction
// or symbolic link, ERROR_DIRECTORY for a file, or the error of reading its
// attributes; nothing is read behind a link.
DWORD JudgeExistingFolder(const U16String& path, U16String& found, bool& othersMayWrite);

// Makes `path` a folder that only Administrators and SYSTEM can write: made
// with kAdministratorsOnlyRights when missing (its parent must exist); an
// existing folder whose owner or ACEs let others write gets those rights.
// A file, or a junction or symbolic link, at the name is refused
// (ERROR_DIRECTORY, kReparsePointEncountered) and left alone. 0 or the error.
DWORD EnsureAdministratorsOnlyFolder(const U16String& path, FolderRights* rights = nullptr);

// A folder for this run alone: made below `parent` with kAdministratorsOnlyRights
// under a fresh name (`prefix` and 32 hexadecimal digits of a new GUID).
// A name that is already taken is never reused: another is drawn, a few
// times. 0 and the folder's path in `made`, or the error.
DWORD CreatePrivateFolder(const U16String& parent, U16View prefix, U16String& made);

// The system's temporary folder for this account: GetTempPath2W where the
// system has it (for the system account a folder users cannot enter), else
// GetTempPathW; without its trailing backslash. Empty when unknown.
U16String SystemTempFolder();

// Deletes the folder `path` with everything in it. A junction or symbolic
// link inside is removed as a link, never followed. True when the folder is
// gone.
bool RemoveFolderTree(const U16String& path);

// The common application data folder joined with "Quentar Setup", made or
// kept administrators-only (EnsureAdministratorsOnlyFolder): the home of the
// default log and the journal. 0 and the path, or the error.
DWORD SetupDataFolder(U16String& path, FolderRights* rights = nullptr);

}  // namespace quentar
