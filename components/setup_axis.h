// The runtime-components page: the last page of the wizard when the Axis
// runtime is chosen. As soon as it is shown it runs the carried runtime
// packages one after another (components/runtime_packages.h): each is written
// to the run's private folder, started through the shell with its file
// type's default action (an .msi opens in the Windows Installer), polled on a
// timer until its process ends, and its copy deleted. After the last one the
// page removes the private folder and ends the wizard as Finish would.
// Nothing is asked and no failure is reported: a package that is not carried,
// cannot be copied or cannot be started is skipped, and a package's exit code
// does not stop the others. A package that ends asking for a restart of
// Windows (3010, 1641) makes the run end as needing a restart (exit code
// 3010) unless the user agrees to the restart question of the files moved
// aside; Windows is not restarted for the package alone.
#pragma once

#include <deque>
#include <memory>

#include "components/runtime_packages.h"
#include "install/install_feedback.h"
#include "state/text.h"
#include "wizard/setup_page.h"

namespace quentar {

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
    // Removes the private folder, enables the sheet, deals with the files
    // moved aside during the installation, and presses Finish with the modal
    // result ID_WIZFINISH.
    void EndWizard();
    // Sets the step timer: the next step follows once messages have flowed.
    void NextStep();

    std::deque<U16String> packages_;  // names not yet attempted, in running order
    bool restartNeeded_ = false;      // a package ended asking for a restart of Windows
    RuntimePackage package_;          // the package being run
    PackageFolder folder_;            // where the copies go, made for the first one
    std::unique_ptr<InstallFeedback> feedback_;  // exists once the dialog does
};

}  // namespace quentar
