// The finish page: reports the installation and offers to start Quentar when
// the wizard closes. Finish ends the wizard after the files that had to be
// moved aside are dealt with; with the Axis runtime requested, Next leads to
// the runtime-components page instead. Cancelled from here on, the wizard
// deals with those files too.
#pragma once

#include "platform/framework/wnd.h"
#include "wizard/setup_page.h"

namespace quentar {

class CSetupDone : public CSetupPage {
public:
    CSetupDone();

    void DoDataExchange(CDataExchange* dx) override;
    // Ticks the start box.
    BOOL OnInitDialog() override;
    // Offers Next with the runtime hint when the Axis runtime was requested,
    // else Finish with the finish hint.
    BOOL OnSetActive() override;
    // Store the start box's state in startApplication; Finish also deletes
    // (or schedules for the next start of Windows) the files moved aside,
    // asking whether to restart when any has to wait.
    LRESULT OnWizardNext() override;
    BOOL OnWizardFinish() override;
    // The wizard is cancelled (Cancel, the close box or Esc, here or on the
    // runtime-components page): the files moved aside go as on Finish, but
    // without the restart question.
    void OnCancel() override;

private:
    void StoreStartRequest();

    CButton startBox;      // 1000
    CStatic finishHint;    // 1001
    CStatic runtimeHint;   // 1002
};

}  // namespace quentar
