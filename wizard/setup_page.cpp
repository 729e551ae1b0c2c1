#include "wizard/setup_page.h"

#include "state/resource_ids.h"
#include "platform/framework/win_app.h"
#include "platform/wide.h"
#include "wizard/page_path.h"

namespace quentar {

CSetupPage::CSetupPage(UINT templateId) : CPropertyPage(templateId) { m_psp.dwFlags &= ~PSP_HASHELP; }

BOOL CSetupPage::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    sheet = static_cast<CSetup*>(CPropertySheet::FromHandle(GetSheetWindow()));
    ApplyBoldMarkers(*this, *sheet);
    return TRUE;
}

LRESULT CSetupPage::OnWizardNext() { return NextPageId(State(), TemplateId()); }

LRESULT CSetupPage::OnWizardBack() { return PreviousPageId(State(), TemplateId()); }

namespace {

struct MarkerPass {
    HFONT boldFont;
};

// Called back by user32, whose frames an exception cannot unwind: guarded
// like every other entry point of ours.
BOOL CALLBACK ApplyMarker(HWND window, LPARAM context) {
    return CallGuarded(
        [&] {
            const U16String text = CWnd::WindowText(window);
            if (!text.empty() && text.front() == u'!') {
                const U16String shown = text.substr(1);
                ::SetWindowTextW(window, AsWide(shown));
                ::SendMessageW(window, WM_SETFONT,
                               reinterpret_cast<WPARAM>(reinterpret_cast<MarkerPass*>(context)->boldFont), TRUE);
            }
            return BOOL{TRUE};  // always visit every window
        },
        BOOL{FALSE});  // after a fatal error nothing more is marked
}

}  // namespace

void ApplyBoldMarkers(CPropertyPage& page, CSetup& sheet) {
    MarkerPass pass{sheet.BoldFont()};
    ::EnumChildWindows(page.GetSafeHwnd(), &ApplyMarker, reinterpret_cast<LPARAM>(&pass));
}

bool RequireField(CPropertyPage& page, HWND control) {
    if (!Trim(CWnd::WindowText(control)).empty()) return true;
    page.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    AfxMessageBox(IDS_FIELD_EMPTY, MB_OK | MB_ICONERROR);
    return false;
}

}  // namespace quentar
