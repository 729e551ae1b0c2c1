// The destination page: the program folder (Start-menu group), the
// destination folder and the desktop shortcut. Next checks both texts, offers
// to create a missing destination level by level, asks before the rights of
// one that others may change are set, and stores the answers in the install
// state.
#pragma once

#include "wizard/setup_page.h"

namespace quentar {

class CSetupDest : public CSetupPage {
public:
    CSetupDest();

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    // States the space the components chosen on the welcome page need.
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;

private:
    void OnBrowse();

    CEdit destinationField;
    CEdit programFolderField;
    CButton desktopBox;
    CStatic spaceText;
    U16String spaceTemplate;  // the sentence with "%1" for the megabytes
};

}  // namespace quentar
