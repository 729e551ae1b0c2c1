#include "pages/setup_progress.h"

#include "install/install_sequence.h"
#include "removal/remove_installation.h"
#include "state/resource_ids.h"
#include "wizard/wizard_feedback.h"

namespace quentar {

CSetupProgress::CSetupProgress() : CSetupPage(IDD_PROGRESS) {}

void CSetupProgress::DoDataExchange(CDataExchange* dx) {
    CSetupPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, progressBar);
}

BOOL CSetupProgress::OnSetActive() {
    sheet->SetWizardButtons(0);
    const InstallState& state = State();
    // A payload without the application gives no chunks; the sequence then
    // refuses to install.
    PlanChunks(state.applicationEntry ? state.applicationEntry.FileSizeLow() : 0, chunkPlan);
    SetTimer(kInstallTimer, 100);
    return CSetupPage::OnSetActive();
}

void CSetupProgress::OnTimer(UINT_PTR id) {
    if (id != kInstallTimer) {
        CSetupPage::OnTimer(id);
        return;
    }
    KillTimer(kInstallTimer);
    ::UpdateWindow(m_hWnd);

    WizardFeedback feedback(sheet->GetSafeHwnd(), &progressBar);
    feedback.BeginProgress(static_cast<uint32_t>(chunkPlan.size()));
    if (RunInstallSequence(State(), sheet->arguments, chunkPlan, feedback)) {
        // Complete, whether or not the wizard is left by Finish from here.
        State().result = SetupResult::Installed;
        sheet->SetWizardButtons(PSWIZB_NEXT);
        sheet->PressButton(PSBTN_NEXT);
        return;
    }
    // The failed step has told the user why.
    RemoveInstallation(State(), feedback);
    State().result = SetupResult::Failed;
    sheet->EndDialog(IDCANCEL);
}

}  // namespace quentar
