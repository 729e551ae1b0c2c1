#include "pages/setup_dest.h"

#include <shlobj.h>

#include <algorithm>

#include "install/destination.h"
#include "install/engine_support.h"
#include "platform/framework/win_app.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/resource_ids.h"
#include "wizard/page_path.h"
#include "wizard/wizard_feedback.h"

namespace quentar {
namespace {

// The folder browser opens on the path it is given as data.
int CALLBACK PresetSelection(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

CSetupDest::CSetupDest() : CSetupPage(IDD_DESTINATION) {
    OnClicked(IDC_BROWSE, [this] { OnBrowse(); });
}

void CSetupDest::DoDataExchange(CDataExchange* dx) {
    CSetupPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_DESTINATION, destinationField);
    DDX_Control(dx, IDC_PROGRAM_FOLDER, programFolderField);
    DDX_Control(dx, IDC_DESKTOP_BOX, desktopBox);
    DDX_Control(dx, IDC_SPACE_TEXT, spaceText);
}

BOOL CSetupDest::OnInitDialog() {
    CSetupPage::OnInitDialog();
    programFolderField.SetWindowText(kDefaultProgramFolderName);
    desktopBox.SetCheck(BST_CHECKED);
    destinationField.SetWindowText(DefaultDestination());
    spaceTemplate = spaceText.GetWindowText();
    return TRUE;
}

BOOL CSetupDest::OnSetActive() {
    spaceText.SetWindowText(FormatPositional(spaceTemplate, {DecimalText(SpaceNeededMegabytes(State()))}));
    return CSetupPage::OnSetActive();
}

void CSetupDest::OnBrowse() {
    ComPtr<IMalloc> allocator;
    if (FAILED(Sys().SHGetMalloc(allocator.put()))) return;  // nothing could free the browser's answer

    // The shell writes up to MAX_PATH characters here; a longer field is cut.
    wchar_t buffer[520] = {};
    const U16String current = destinationField.GetWindowText();
    current.copy(reinterpret_cast<char16_t*>(buffer), std::min<size_t>(current.size(), 519));

    BROWSEINFOW info{};
    info.hwndOwner = m_hWnd;
    info.pidlRoot = nullptr;
    info.pszDisplayName = buffer;
    info.lpszTitle = nullptr;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    if (!current.empty()) {
        info.lpfn = &PresetSelection;
        info.lParam = reinterpret_cast<LPARAM>(buffer);
    }
    const PIDLIST_ABSOLUTE chosen = Sys().SHBrowseForFolderW(&info);
    if (chosen == nullptr) return;  // cancelled

    // A failed conversion leaves the field as it is.
    if (Sys().SHGetPathFromIDListW(chosen, buffer) && FromWide(buffer) != current) {
        destinationField.SetWindowText(FromWide(buffer));
    }
    allocator->Free(chosen);
}

LRESULT CSetupDest::OnWizardNext() {
    InstallState& state = State();

    if (!RequireField(*this, programFolderField.GetSafeHwnd())) return kStayOnPage;
    state.programFolderName = Trim(programFolderField.GetWindowText());
    if (state.programFolderName.find_first_of(kIllegalFolderNameCharacters) != U16String::npos) {
        SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(programFolderField.GetSafeHwnd()), TRUE);
        AfxMessageBox(IDS_ILLEGAL_CHARACTERS, MB_OK | MB_ICONERROR);
        return kStayOnPage;
    }

    if (!RequireField(*this, destinationField.GetSafeHwnd())) return kStayOnPage;
    state.createDesktopShortcut = desktopBox.GetCheck() == BST_CHECKED;
    const U16String destination = Trim(destinationField.GetWindowText());
    state.destinationFolder = destination;

    WizardFeedback feedback(sheet->GetSafeHwnd());
    switch (MakeDestinationReady(destination, state, feedback, true)) {
        case DestinationOutcome::kReady:
            return CSetupPage::OnWizardNext();
        case DestinationOutcome::kDeclined:
            // The user keeps the folder's rights: another folder is to be
            // chosen.
            SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(destinationField.GetSafeHwnd()), TRUE);
            return kStayOnPage;
        case DestinationOutcome::kRefused:
            break;
    }
    return kStayOnPage;
}

}  // namespace quentar
