#include "wizard/wizard_feedback.h"

#include "install/run_log.h"
#include "platform/framework/win_app.h"
#include "platform/system_api.h"

namespace quentar {

void WizardFeedback::BeginProgress(uint32_t steps) {
    if (bar_ == nullptr || bar_->GetSafeHwnd() == nullptr) return;
    // PBM_SETRANGE32 takes ints; a plan never holds 2^31 chunks.
    const int last = steps == 0 ? 0 : static_cast<int>(steps - 1);
    bar_->SetRange32(0, last);
    bar_->SetPos(0);
}

void WizardFeedback::Progress(uint32_t position) {
    if (bar_ == nullptr || bar_->GetSafeHwnd() == nullptr) return;
    bar_->SetPos(static_cast<int>(position));
    ::UpdateWindow(bar_->GetSafeHwnd());
}

void WizardFeedback::Pause(uint32_t milliseconds) { Sys().Sleep(milliseconds); }

int WizardFeedback::Message(const U16String& text, uint32_t style) {
    const int answer = AfxMessageBox(owner_, text, style);
    LogMessage(text, answer, false);
    return answer;
}

void WizardFeedback::Log(U16View line) { TheRunLog().Write(line); }

}  // namespace quentar
