// The carried runtime packages, one at a time: each is copied to the
// temporary folder, started through the shell with its file type's default
// action (an .msi opens in the Windows Installer), waited for until its
// process ends, and its copy deleted. A package that is not carried, cannot
// be copied or cannot be started is skipped; none stops the others.
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
// the plain name and the names numbered 1 to 999. Far more copies than any
// temporary folder holds; a bound, so that a folder where every name seems
// taken cannot keep the wizard busy.
inline constexpr unsigned kTempCopyCandidates = 1000;

// Writes the data of `entry` to a new file in the temporary folder and
// returns the file's full path. The file is named as the entry; when that
// name is taken, the names with 1, 2, 3 ... before the extension are tried in
// turn (AxisAACDecoderSetup.msi, AxisAACDecoderSetup1.msi, ...); an existing
// file is never opened or changed. The extension starts at the name's last
// "." unless that is its first character.
// Returns the empty text when no complete copy could be written: the
// temporary folder is unknown, a name is refused for another reason than
// being taken (the next names would fare no better), every candidate is
// taken, or the data could not be written in full (that incomplete copy is
// deleted). Each failure is told to `feedback`'s log.
U16String WriteEntryToTempFile(PayloadEntry entry, InstallFeedback& feedback);

// One package on its way: its name, its temporary copy and, while it runs,
// its process.
struct RuntimePackage {
    U16String name;   // the entry's name, for the log
    U16String file;   // its temporary copy; empty when there is none
    UniqueHandle process;

    enum class Start {
        Running,         // `process` is the package's process, to wait for
        Failed,          // the shell could not start it
        WithoutProcess,  // the shell reported success but gave no process
        NotCarried,      // the payload does not carry it
        NotCopied,       // no complete copy could be written
    };

    // Looks `name` up in the payload, copies it and starts the copy with the
    // file type's default action: no owner window, no verb, no parameters,
    // the current folder ".", shown normally. A copy that could not be
    // started is deleted at once; one handed to something that gave no
    // process stays (whatever took it over may not have read it yet).
    // `unattended`: nobody watches, so the shell shows no box of its own when
    // it cannot start the file, and a Windows Installer package (.msi) is
    // run by the system's msiexec with "/i <copy> /qn /norestart": no
    // window, and no restart of its own.
    Start Begin(U16View entryName, const InstallState& state, InstallFeedback& feedback, bool unattended = false);

    // After `wait` (the result of waiting on `process`, not WAIT_TIMEOUT):
    // logs how the package ended and its exit code, closes the process and
    // deletes the copy. A failed wait counts as ended, since it would fail
    // every time. True when the package's exit code is the Windows
    // Installer's answer for an installation that needs a restart of Windows
    // to finish (3010) or has started one (1641); that is logged too.
    bool End(uint32_t wait, InstallFeedback& feedback);

    void DeleteCopy(InstallFeedback& feedback);
};

// Runs every carried package in the order of kAxisPackageEntryNames, each
// started unattended (see RuntimePackage::Begin) and waited for until it
// ends, without a window of its own. True when one of them reported that a
// restart is needed.
bool RunRuntimePackages(const InstallState& state, InstallFeedback& feedback);

}  // namespace quentar
