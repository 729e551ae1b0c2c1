#include "pages/setup_dest.h"

#include <shlobj.h>

#include <algorithm>

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

constexpr char16_t kFallbackProgramFiles[] = u"C:\\Program Files";

// The folder browser opens on the path it is given as data.
int CALLBACK PresetSelection(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

U16String ProgramFilesFolder() {
    UniqueCoTaskMem list;
    if (FAILED(Sys().SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES,
                                                 reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put())))) {
        return kFallbackProgramFiles;
    }
    // The shell writes at most MAX_PATH characters.
    wchar_t path[265] = {};
    if (!Sys().SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(list.get()), path) || path[0] == L'\0') {
        // An empty folder would make the default a relative path.
        return kFallbackProgramFiles;
    }
    return FromWide(path);
}

}  // namespace

bool DirectoryExists(const U16String& path) {
    if (path.find_first_of(u"*?") != U16String::npos) return false;
    WIN32_FIND_DATAW found{};
    const UniqueFind search(Sys().FindFirstFileW(AsWide(path), &found));
    if (!search) return false;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreatePathLevels(const U16String& path) {
    size_t separator = path.find(u'\\');
    if (separator == U16String::npos) return false;  // a single segment is never created
    bool created = false;
    for (;;) {
        separator = path.find(u'\\', separator + 1);
        const U16String prefix = path.substr(0, separator);  // npos: the whole path
        WIN32_FIND_DATAW found{};
        const UniqueFind search(Sys().FindFirstFileW(AsWide(prefix), &found));
        if (!search) created = Sys().CreateDirectoryW(AsWide(prefix), nullptr) != FALSE;
        if (separator == U16String::npos) return created;
    }
}

bool MakeDestinationReady(const U16String& destination, InstallFeedback& feedback, bool askFirst) {
    if (DirectoryExists(destination)) return true;
    const U16String cannotCreate = FormatPositional(LoadStringResource(IDS_PATH_CREATE_FAILED), {destination});
    // Too long to hold the installed files: said at once, and nothing is
    // created (Windows would make only the outer levels of such a path).
    if (destination.size() > kMaxDestinationLength) {
        feedback.Log(u"destination " + destination + u" is longer than " + DecimalText(kMaxDestinationLength) +
                     u" characters");
        feedback.Message(cannotCreate, MB_OK | MB_ICONERROR);
        return false;
    }
    if (askFirst) {
        const U16String question = FormatPositional(LoadStringResource(IDS_PATH_MISSING), {destination});
        if (feedback.Message(question, MB_YESNOCANCEL | MB_ICONQUESTION) != IDYES) return false;
    }
    const bool created = CreatePathLevels(destination);
    const DWORD error = ::GetLastError();
    if (!DirectoryExists(destination)) {
        const bool inTheWay = Sys().GetFileAttributesW(AsWide(destination)) != INVALID_FILE_ATTRIBUTES;
        feedback.Log(u"destination " + destination + u" is not a folder: " +
                     (inTheWay  ? U16String(u"a file of that name is in the way")
                      : created ? U16String(u"it was not found after its creation")
                                : DescribeError(error)));
        feedback.Message(cannotCreate, MB_OK | MB_ICONERROR);
        return false;
    }
    feedback.Log(u"destination created: " + destination);
    return true;
}

U16String DefaultDestination() { return JoinPath(ProgramFilesFolder(), kDefaultProgramFolderName); }

CSetupDest::CSetupDest() : CSetupPage(IDD_DESTINATION) {
    OnClicked(IDC_BROWSE, [this] { OnBrowse(); });
}

void CSetupDest::DoDataExchange(CDataExchange* dx) {
    CSetupPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_DESTINATION, destinationField);
    DDX_Control(dx, IDC_PROGRAM_FOLDER, programFolderField);
    DDX_Control(dx, IDC_DESKTOP_BOX, desktopBox);
}

BOOL CSetupDest::OnInitDialog() {
    CSetupPage::OnInitDialog();
    programFolderField.SetWindowText(kDefaultProgramFolderName);
    desktopBox.SetCheck(BST_CHECKED);
    destinationField.SetWindowText(DefaultDestination());
    return TRUE;
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
    if (!MakeDestinationReady(destination, feedback, true)) return kStayOnPage;
    return CSetupPage::OnWizardNext();
}

}  // namespace quentar
