// What every page of the wizard shares: the sheet (and so the install state),
// texts marked bold with a leading "!", navigation along the page path and
// the required-field check.
#pragma once

#include "platform/framework/property_sheet.h"
#include "wizard/setup_sheet.h"

namespace quentar {

class CSetupPage : public CPropertyPage {
public:
    explicit CSetupPage(UINT templateId);

    BOOL OnInitDialog() override;
    LRESULT OnWizardBack() override;
    LRESULT OnWizardNext() override;

protected:
    InstallState& State() { return sheet->installState; }

    // The sheet showing this page; null before the dialog is initialised.
    CSetup* sheet = nullptr;
};

// Every descendant window whose text starts with "!" loses that character
// and gets the sheet's bold font; other windows are left alone.
void ApplyBoldMarkers(CPropertyPage& page, CSetup& sheet);

// True when `control` holds text other than white space. Otherwise moves the
// focus to it, tells the user that the field cannot be empty, and returns
// false.
bool RequireField(CPropertyPage& page, HWND control);

}  // namespace quentar
