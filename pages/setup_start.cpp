#include "pages/setup_start.h"

#include <cwchar>

#include "components/decoder_detection.h"
#include "install/earlier_installation.h"
#include "payload/load_payload.h"
#include "payload/payload_names.h"
#include "platform/framework/win_app.h"
#include "platform/resources.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/guid_text.h"
#include "state/resource_ids.h"
#include "wizard/page_path.h"

namespace quentar {
namespace {

// The pause after loading is as long as the loading took, at most this long.
constexpr DWORD kLongestPause = 2000;

}  // namespace

CSetupStart::CSetupStart(bool updateMode) : CSetupPage(updateMode ? IDD_WELCOME_UPDATE : IDD_WELCOME) {
    OnClicked(IDC_APPLICATION_BOX, [this] { OnApplicationBoxClicked(); });
    OnClicked(IDC_AXIS_BOX, [this] { OnComponentBoxClicked(); });
    OnClicked(IDC_ARECONT_BOX, [this] { OnComponentBoxClicked(); });
}

void CSetupStart::DoDataExchange(CDataExchange* dx) {
    CSetupPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_VERSION_TEXT, versionText);
    DDX_Control(dx, IDC_APPLICATION_BOX, applicationBox);
    DDX_Control(dx, IDC_AXIS_BOX, axisBox);
    DDX_Control(dx, IDC_ARECONT_BOX, arecontBox);
}

BOOL CSetupStart::OnInitDialog() {
    CSetupPage::OnInitDialog();
    if (CWinApp* app = CWinApp::Current()) app->m_hMainWnd = sheet->GetSafeHwnd();
    sheet->SetWizardButtons(0);

    ReadFileVersion(nullptr, State().setupVersion);
    versionText.SetWindowText(FormatVersionText(versionText.GetWindowText(), State().setupVersion));

    applicationBox.EnableWindow(FALSE);
    axisBox.EnableWindow(FALSE);
    arecontBox.EnableWindow(FALSE);
    SetTimer(kLoadTimer, 100);
    return TRUE;
}

BOOL CSetupStart::OnSetActive() {
    // Coming back from a later page, the buttons are as that page left them:
    // the licence page leaves Next off while "I Do Not Agree" is chosen, which
    // would strand the user here with a choice that allows going on. Once the
    // payload is loaded, Next follows the boxes again; Back stays as it was
    // left on return (pressing it keeps the wizard here).
    if (!loadPending) {
        sheet->SetWizardButtons(PSWIZB_BACK | (AnythingChosen() ? PSWIZB_NEXT : 0));
    }
    return CSetupPage::OnSetActive();
}

void CSetupStart::OnTimer(UINT_PTR id) {
    if (id == kLoadTimer) {
        KillTimer(kLoadTimer);
        if (loadPending) {
            loadPending = false;
            LoadAndPropose();
        }
    }
    CSetupPage::OnTimer(id);
}

void CSetupStart::LoadAndPropose() {
    CWaitCursor wait;
    const DWORD t0 = Sys().GetTickCount();
    InstallState& state = State();
    LoadPayload(state);
    state.applicationEntry = FindEntry(kApplicationEntryName, state);
    // A runtime the payload does not carry is not offered: its box stays
    // unchecked and disabled.
    const CarriedComponents carried = ComponentsCarried(state);
    arecontCarried = carried.arecont;
    axisCarried = carried.axis;

    if (sheet->arguments.updateMode) {
        applicationBox.SetCheck(BST_CHECKED);
    } else {
        if (DetectEarlierInstallation(state)) applicationBox.SetCheck(BST_CHECKED);
        if (axisCarried && !IsAxisRuntimeInstalled()) axisBox.SetCheck(BST_CHECKED);
    }
    OnApplicationBoxClicked();

    // A pause as long as the loading took (the tick count wraps: unsigned
    // difference), so that the greeting can be read before the choice.
    const DWORD elapsed = Sys().GetTickCount() - t0;
    Sys().Sleep(elapsed < kLongestPause ? elapsed : kLongestPause);

    applicationBox.EnableWindow(TRUE);
    axisBox.EnableWindow(axisCarried);
    arecontBox.EnableWindow(arecontCarried);
    sheet->SetWizardButtons(PSWIZB_NEXT);
}

void CSetupStart::OnApplicationBoxClicked() {
    arecontBox.SetCheck(arecontCarried ? applicationBox.GetCheck() : BST_UNCHECKED);
    arecontBox.EnableWindow(FALSE);
    OnComponentBoxClicked();
}

bool CSetupStart::AnythingChosen() const {
    return applicationBox.GetCheck() == BST_CHECKED || axisBox.GetCheck() == BST_CHECKED;
}

void CSetupStart::OnComponentBoxClicked() {
    sheet->SetWizardButtons(AnythingChosen() ? PSWIZB_NEXT : 0);
    State().installArecontRuntime = arecontBox.GetCheck() == BST_CHECKED;
}

LRESULT CSetupStart::OnWizardNext() {
    InstallState& state = State();
    state.installAxisRuntime = axisBox.GetCheck() == BST_CHECKED;
    BuildPagePath(state, sheet->arguments.updateMode, applicationBox.GetCheck() == BST_CHECKED,
                  state.installAxisRuntime);
    return NextPageId(state, TemplateId());
}

}  // namespace quentar
