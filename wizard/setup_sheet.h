// The wizard sheet: caption "Quentar Setup", the program icon, the bold font
// of marked texts, and the one InstallState of the run.
#pragma once

#include "platform/framework/property_sheet.h"
#include "platform/unique_resource.h"
#include "state/install_state.h"
#include "state/update_arguments.h"

namespace quentar {

class CSetup : public CPropertySheet {
public:
    // `arguments` are the application object's update fields; they outlive
    // the sheet.
    explicit CSetup(const UpdateArguments& arguments);
    ~CSetup() override;

    BOOL OnInitDialog() override;

    // Windows ends the session while the wizard is open (WM_ENDSESSION; the
    // process ends when this returns). After a successful installation the
    // files moved aside go (those in use at the next start, without a
    // question) and the run's journal is discarded. Before the installation,
    // or during it, nothing is done: the journal of whatever changed stays,
    // and the next run takes it back.
    void OnEndSession();

    // The sheet's dialog font with weight 700. Created before the first page
    // applies its markers, whichever of the sheet's initialisation and the
    // first page's comes first; null only before the sheet window exists.
    HFONT BoldFont();

    const UpdateArguments& arguments;
    InstallState installState;

private:
    static LRESULT CALLBACK SheetProcedure(HWND hwnd, UINT message, WPARAM w, LPARAM l);

    HICON icon_ = nullptr;  // shared resource icon: never destroyed
    WNDPROC sheetProcedure_ = nullptr;  // the sheet window's own procedure
    UniqueFont boldFont_;
};

}  // namespace quentar
