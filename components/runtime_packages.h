// The carried runtime packages, one at a time: each is copied into a folder
// of the run's own, started through the shell with its file type's default
// action (an .msi opens in the Windows Installer), waited for until its
// process ends, and its copy deleted. A package that is not carried, cannot
// be copied or cannot be started is skipped; none stops the others.
//
// The setup program runs elevated, often as SYSTEM, whose temporary folder
// every user may write: a package started there would load a DLL planted
// beside it, and a copy could be swapped before its start. So the copies go
// into a private folder (PackageFolder: a fresh name under the system's
// temporary folder, only Administrators and SYSTEM may write it, removed at
// the end of the run), each copy is held open with write and delete denied
// to everybody from its first byte until its package has ended, and the
// package starts with that folder as its working folder.
//
// No window of its own: the runtime-components page drives these steps from
// its timers so that the wizard keeps painting, and a run without a window
// runs them all at once with RunRuntimePackages.
#pragma once

#include <cstdint>

#include "install/install_feedback.h"
#include "payload/payload_archive.h"
#include "platform/unique_resource.h"
#include "state/install_state.h"
#include "state/text.h"

namespace quentar {

// How many names WriteEntryToTempFile tries while each one is already taken:
// the plain name and the names numbered 1 to 999. A bound, so that a folder
// where every name seems taken cannot keep the wizard busy.
inline constexpr unsigned kTempCopyCandidates = 1000;

// How the private folder's name begins; 32 hexadecimal digits of a fresh
// GUID follow.
inline constexpr char16_t kPackageFolderPrefix[] = u"QuentarSetup-";

// How often, and how far apart, the end of the run tries to remove the
// private folder: five seconds in all.
inline constexpr unsigned kFolderRemovalAttempts = 50;
inline constexpr uint32_t kFolderRemovalPauseMilliseconds = 100;

// The run's private folder for the packages' copies. Made on first use
// (CreatePrivateFolder under SystemTempFolder: a name never used before,
// owner Administrators, full control for Administrators and SYSTEM only) and
// removed with everything in it by Remove or, at the latest, when this object
// goes.
class PackageFolder {
public:
    PackageFolder() = default;
    ~PackageFolder();
    PackageFolder(const PackageFolder&) = delete;
    PackageFolder& operator=(const PackageFolder&) = delete;

    // The folder, made on the first call; empty when it cannot be made (said
    // in `feedback`'s log, and not tried again).
    const U16String& Get(InstallFeedback& feedback);
    // Removes the folder and what is left in it (links are removed, never
    // followed), trying again for a few seconds while anything in it is in
    // use, and says so in the log. Nothing when it was never made.
    void Remove(InstallFeedback& feedback);

private:
    U16String path_;
    bool tried_ = false;
};

// Removes the private folders of runs that ended before their clean-up (a
// process killed while its packages ran) from SystemTempFolder: every folder
// named kPackageFolderPrefix and 32 hexadecimal digits, with what is in it
// (links removed, never followed). Only while this run holds the single-run
// lock, before it makes a folder of its own: no running setup owns one then.
// Each removal, or the failure of one, goes to `feedback`'s log.
void RemoveLeftPackageFolders(InstallFeedback& feedback);

// A copy of a package: its path and the handle that holds it, open for
// reading, with write and delete denied to everybody.
struct HeldCopy {
    U16String path;
    UniqueFile hold;
};

// Writes the data of `entry` to a new file in `folder` and holds it (see
// HeldCopy). The file is named as the entry; when that name is taken, the
// names with 1, 2, 3 ... before the extension are tried in turn
// (AxisAACDecoderSetup.msi, AxisAACDecoderSetup1.msi, ...); an existing file
// is never opened or changed. The extension starts at the name's last "."
// unless that is its first character.
// The file is created denying write and delete to others, written in full and
// closed; then opened again for reading, still denying write and delete,
// without following a link, and kept only when it is a plain file at that
// very name (PlainFileProblem) holding exactly the entry's data: what is
// started is what the payload carries.
// False, with `copy` empty, when no such copy could be made: the folder is
// empty, a name is refused for another reason than being taken (the next
// names would fare no better), every candidate is taken, the data could not
// be written in full, or the copy read back is not the one written (each such
// copy is deleted). Each failure is told to `feedback`'s log.
bool WriteEntryToTempFile(PayloadEntry entry, const U16String& folder, HeldCopy& copy, InstallFeedback& feedback);

// One package on its way: its name, its held copy and, while it runs, its
// process.
struct RuntimePackage {
    U16String name;  // the entry's name, for the log
    HeldCopy copy;   // empty path when there is none
    UniqueHandle process;

    enum class Start {
        Running,         // `process` is the package's process, to wait for
        Failed,          // the shell could not start it
        WithoutProcess,  // the shell reported success but gave no process
        NotCarried,      // the payload does not carry it
        NotCopied,       // no complete copy could be written
    };

    // Looks `name` up in the payload, copies it into `folder` (made on first
    // use) and starts the copy with the file type's default action: no owner
    // window, no verb, no parameters, the private folder as the working
    // folder, shown normally. A copy that could not be started is deleted at
    // once; one handed to something that gave no process is released and
    // stays until the folder goes (whatever took it over may not have read
    // it yet).
    // `unattended`: nobody watches, so the shell shows no box of its own when
    // it cannot start the file, and a Windows Installer package (.msi) is
    // run by the system's msiexec with "/i <copy> /qn /norestart": no
    // window, and no restart of its own.
    Start Begin(U16View entryName, const InstallState& state, PackageFolder& folder, InstallFeedback& feedback,
                bool unattended = false);

    // After `wait` (the result of waiting on `process`, not WAIT_TIMEOUT):
    // logs how the package ended and its exit code, closes the process,
    // releases the copy and deletes it. A failed wait counts as ended, since
    // it would fail every time. True when the package's exit code is the
    // Windows Installer's answer for an installation that needs a restart of
    // Windows to finish (3010) or has started one (1641); that is logged too.
    bool End(uint32_t wait, InstallFeedback& feedback);

    void DeleteCopy(InstallFeedback& feedback);
};

// How long an unattended run waits for one package, unless "/packagetimeout:"
// says otherwise: 30 minutes.
inline constexpr uint32_t kDefaultPackageTimeoutMinutes = 30;

// What the packages of a run without a window came to.
struct PackagesOutcome {
    bool restartNeeded = false;  // one of them reported that a restart is needed
    bool timedOut = false;       // one of them was still running after the timeout
};

// Runs every carried package in the order of kAxisPackageEntryNames, each
// started unattended (see RuntimePackage::Begin) and waited for without a
// window of its own, in a PackageFolder removed at the end. A package still
// running after `timeoutMinutes` (measured with GetTickCount) is left
// running, logged, and the next one follows; its copy stays held until the
// end, when the folder goes with what can be deleted.
PackagesOutcome RunRuntimePackages(const InstallState& state, InstallFeedback& feedback,
                                   uint32_t timeoutMinutes = kDefaultPackageTimeoutMinutes);

}  // namespace quentar
