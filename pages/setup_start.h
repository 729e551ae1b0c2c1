// The welcome page: greets the user with the setup program's version, loads
// the payload once it is shown, looks for an earlier installation and for the
// Axis runtime, proposes the components and builds the page path on Next.
// Dialog 107, or 231 in update mode.
#pragma once

#include "state/install_state.h"
#include "wizard/setup_page.h"

namespace quentar {

class CSetupStart : public CSetupPage {
public:
    explicit CSetupStart(bool updateMode);

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;
    void OnTimer(UINT_PTR id) override;

private:
    static constexpr UINT_PTR kLoadTimer = 12;

    // The work of the first tick of the load timer: payload, detections,
    // proposed components, then the choice is handed to the user.
    void LoadAndPropose();
    // The application or the Axis box is checked: there is a page to go to.
    bool AnythingChosen() const;
    void OnApplicationBoxClicked();
    void OnComponentBoxClicked();

    bool loadPending = true;
    // What the payload carries, known once it is loaded.
    bool arecontCarried = false;
    bool axisCarried = false;
    CStatic versionText;
    CButton applicationBox;
    CButton axisBox;
    CButton arecontBox;
};

}  // namespace quentar
