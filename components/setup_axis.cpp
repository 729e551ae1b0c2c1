#include "components/setup_axis.h"

#include <windows.h>

#include <iterator>

#include "payload/payload_names.h"
#include "platform/system_api.h"
#include "platform/wide.h"
#include "removal/restart.h"
#include "state/resource_ids.h"
#include "wizard/wizard_feedback.h"

namespace quentar {
namespace {

// Timers of the page's window; at most one of them runs at a time.
constexpr UINT_PTR kStepTimer = 3;  // take the next package, or end the wizard
constexpr UINT kStepMilliseconds = 10;
constexpr UINT_PTR kPollTimer = 4;  // has the running package ended?
constexpr UINT kPollMilliseconds = 100;
constexpr DWORD kPollWaitMilliseconds = 10;

}  // namespace

CSetupAXIS::CSetupAXIS() : CSetupPage(IDD_AXIS) {}

CSetupAXIS::~CSetupAXIS() = default;

BOOL CSetupAXIS::OnInitDialog() {
    CSetupPage::OnInitDialog();
    feedback_ = std::make_unique<WizardFeedback>(sheet->GetSafeHwnd());
    packages_.assign(std::begin(kAxisPackageEntryNames), std::end(kAxisPackageEntryNames));
    return TRUE;
}

BOOL CSetupAXIS::OnSetActive() {
    sheet->SetWizardButtons(PSWIZB_DISABLEDFINISH);
    NextStep();
    return CSetupPage::OnSetActive();
}

void CSetupAXIS::OnTimer(UINT_PTR id) {
    switch (id) {
        case kStepTimer:
            KillTimer(kStepTimer);
            Step();
            break;
        case kPollTimer:
            // Runs every period until the package has ended.
            Poll();
            break;
        default:
            CSetupPage::OnTimer(id);
            break;
    }
}

void CSetupAXIS::NextStep() { SetTimer(kStepTimer, kStepMilliseconds); }

void CSetupAXIS::Step() {
    if (packages_.empty()) {
        EndWizard();
        return;
    }
    // Nothing may be pressed while packages run.
    sheet->EnableWindow(FALSE);
    const U16String name = packages_.front();
    packages_.pop_front();
    if (package_.Begin(name, State(), folder_, *feedback_) == RuntimePackage::Start::Running) {
        SetTimer(kPollTimer, kPollMilliseconds);
        return;
    }
    NextStep();
}

void CSetupAXIS::Poll() {
    const DWORD wait = Sys().WaitForSingleObject(package_.process.get(), kPollWaitMilliseconds);
    if (wait == WAIT_TIMEOUT) return;
    KillTimer(kPollTimer);
    // Its exit code goes to the log; whatever it is, the next package follows.
    // One that asks for a restart makes the run end as needing one.
    if (package_.End(wait, *feedback_)) restartNeeded_ = true;
    NextStep();
}

void CSetupAXIS::EndWizard() {
    folder_.Remove(*feedback_);
    sheet->EnableWindow(TRUE);
    sheet->SetWizardButtons(PSWIZB_FINISH);
    EndSuccessfulRun(State(), *feedback_, RestartQuestion::Ask, restartNeeded_);
    sheet->SetModalResult(ID_WIZFINISH);
    sheet->PressButton(PSBTN_FINISH);
}

}  // namespace quentar
