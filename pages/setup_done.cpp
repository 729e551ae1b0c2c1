#include "pages/setup_done.h"

#include "removal/restart.h"
#include "state/resource_ids.h"
#include "wizard/wizard_feedback.h"

namespace quentar {

CSetupDone::CSetupDone() : CSetupPage(IDD_DONE) {}

void CSetupDone::DoDataExchange(CDataExchange* dx) {
    CSetupPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_FINISH_HINT, finishHint);
    DDX_Control(dx, IDC_RUNTIME_HINT, runtimeHint);
    DDX_Control(dx, IDC_START_BOX, startBox);
}

BOOL CSetupDone::OnInitDialog() {
    CSetupPage::OnInitDialog();
    startBox.SetCheck(BST_CHECKED);
    return TRUE;
}

BOOL CSetupDone::OnSetActive() {
    const bool runtimeNext = State().installAxisRuntime;
    sheet->SetWizardButtons(runtimeNext ? PSWIZB_NEXT : PSWIZB_FINISH);
    finishHint.ShowWindow(runtimeNext ? SW_HIDE : SW_SHOW);
    runtimeHint.ShowWindow(runtimeNext ? SW_SHOW : SW_HIDE);
    return CSetupPage::OnSetActive();
}

void CSetupDone::StoreStartRequest() { State().startApplication = startBox.GetCheck() == BST_CHECKED; }

LRESULT CSetupDone::OnWizardNext() {
    // The runtime-components page deals with the files moved aside when it
    // ends the wizard.
    StoreStartRequest();
    return CSetupPage::OnWizardNext();
}

BOOL CSetupDone::OnWizardFinish() {
    StoreStartRequest();
    WizardFeedback feedback(sheet->GetSafeHwnd());
    EndSuccessfulRun(State(), feedback, RestartQuestion::Ask);
    return CSetupPage::OnWizardFinish();
}

void CSetupDone::OnCancel() {
    // This page exists only once the installation has succeeded; whatever
    // closes the wizard from here (Cancel, the close box, Esc, or the
    // runtime-components page's sheet) leaves no moved-aside file behind.
    // Without a question: those still in use wait for the next start of
    // Windows, and the exit code says so.
    if (State().result != SetupResult::Installed) return;
    WizardFeedback feedback(sheet->GetSafeHwnd());
    EndSuccessfulRun(State(), feedback, RestartQuestion::DontAsk);
}

}  // namespace quentar
