// The progress page: once shown, it runs the whole installation on one timer
// tick while its bar follows the writing of the application executable. On
// success it moves the wizard on to the finish page by itself; on failure it
// takes back what was installed and closes the wizard.
#pragma once

#include "install/chunk_plan.h"
#include "platform/framework/wnd.h"
#include "wizard/setup_page.h"

namespace quentar {

class CSetupProgress : public CSetupPage {
public:
    // One-shot timer started when the page is shown; its tick installs.
    static constexpr UINT_PTR kInstallTimer = 7;

    CSetupProgress();

    void DoDataExchange(CDataExchange* dx) override;
    // Disables the wizard's buttons, plans the chunks of the application
    // executable and starts the install timer.
    BOOL OnSetActive() override;
    void OnTimer(UINT_PTR id) override;

    // The write chunks of the application executable, planned when the page
    // becomes active and used once.
    ChunkPlan chunkPlan;
    // Control 1035.
    CProgressCtrl progressBar;
};

}  // namespace quentar
