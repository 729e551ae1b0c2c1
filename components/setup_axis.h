// The runtime-components page: the last page of the wizard when the Axis
// runtime is chosen. As soon as it is shown it runs the carried runtime
// packages one after another: each is written to the temporary folder,
// started through the shell with its file type's default action (an .msi
// opens in the Windows Installer), waited for until its process ends, and its
// copy deleted. After the last one the page ends the wizard as Finish would.
// Nothing is asked and no failure is reported: a package that is not carried,
// cannot be copied or cannot be started is skipped, and a package's exit code
// does not matter.
#pragma once

#include <deque>
#include <memory>

#include "install/install_feedback.h"
#include "payload/payload_archive.h"
#include "platform/unique_resource.h"
#include "state/text.h"
#include "wizard/setup_page.h"

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

class CSetupAXIS : public CSetupPage {
public:
    CSetupAXIS();
    ~CSetupAXIS() override;

    // Base page initialisation, then the package names in the order they run.
    BOOL OnInitDialog() override;
    // Offers a disabled Finish only and starts the first step.
    BOOL OnSetActive() override;
    void OnTimer(UINT_PTR id) override;

private:
    // Takes the next package and starts it, or ends the wizard when none is
    // left. The sheet stays disabled from the first package until the end.
    void Step();
    // Waits briefly on the running package; once it has ended, deletes its
    // copy and goes on with the next step.
    void Poll();
    // Enables the sheet, deals with the files moved aside during the
    // installation, and presses Finish with the modal result ID_WIZFINISH.
    void EndWizard();
    enum class PackageStart {
        Running,         // a process to wait for is kept in process_
        Failed,          // the shell could not start it
        WithoutProcess,  // the shell reported success but gave no process
    };
    // Starts packageFile_ through the shell with its default action.
    PackageStart StartPackage();
    void DeletePackageFile();
    // Sets the step timer: the next step follows once messages have flowed.
    void NextStep();

    std::deque<U16String> packages_;  // names not yet attempted, in running order
    U16String packageName_;           // the package being run (for the log)
    U16String packageFile_;           // its temporary copy; empty when there is none
    UniqueHandle process_;            // its process, while it runs
    std::unique_ptr<InstallFeedback> feedback_;  // exists once the dialog does
};

}  // namespace quentar
