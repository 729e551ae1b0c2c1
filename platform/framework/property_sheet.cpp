#include "platform/framework/property_sheet.h"

#include "platform/framework/win_app.h"
#include "platform/module_text.h"

namespace quentar {
namespace {

constexpr wchar_t kObjectProperty[] = L"Quentar.Framework.Object";

// The sheet whose PropertySheetW call is running on this thread; the sheet
// window is attached to it on the first sign of life (the sheet callback or
// the first page's initialisation, whichever Windows sends first).
thread_local CPropertySheet* g_modalSheet = nullptr;

CPropertyPage* PageOf(HWND hwnd) {
    return hwnd ? static_cast<CPropertyPage*>(::GetPropW(hwnd, kObjectProperty)) : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pages

CPropertyPage::CPropertyPage(UINT templateId) : templateId_(templateId) {
    m_psp.dwSize = sizeof(m_psp);
    m_psp.dwFlags = PSP_DEFAULT;
    m_psp.hInstance = ResourceModule();
    m_psp.pszTemplate = MAKEINTRESOURCEW(templateId);
    m_psp.pfnDlgProc = &CPropertyPage::DialogProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
}

CPropertyPage::~CPropertyPage() = default;

BOOL CPropertyPage::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(m_hWnd, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CPropertyPage::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CPropertyPage::OnSetActive() {
    if (firstSetActive_) {
        firstSetActive_ = false;
    } else {
        UpdateData(FALSE);
    }
    return TRUE;
}

void CPropertyPage::OnTimer(UINT_PTR) { Default(); }

void CPropertyPage::Default() {
    if (defaultProcessing_ != nullptr) *defaultProcessing_ = true;
}

LRESULT CPropertyPage::OnWizardNext() { return 0; }
LRESULT CPropertyPage::OnWizardBack() { return 0; }
BOOL CPropertyPage::OnWizardFinish() { return TRUE; }

INT_PTR CALLBACK CPropertyPage::DialogProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    CPropertyPage* page = nullptr;
    if (message == WM_INITDIALOG) {
        // lParam is the sheet's copy of the descriptor; its lParam is us.
        page = reinterpret_cast<CPropertyPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(l)->lParam);
        page->Attach(hwnd);
        ::SetPropW(hwnd, kObjectProperty, page);
        if (g_modalSheet != nullptr) g_modalSheet->AttachWindow(::GetParent(hwnd));
    } else {
        page = PageOf(hwnd);
    }
    if (page == nullptr) return FALSE;
    const INT_PTR result = CallGuarded([&] { return page->Dispatch(message, w, l); }, INT_PTR{FALSE});
    if (message == WM_NCDESTROY) {
        ::RemovePropW(hwnd, kObjectProperty);
        page->Detach();
    }
    return result;
}

INT_PTR CPropertyPage::Dispatch(UINT message, WPARAM w, LPARAM l) {
    bool defaultProcessing = false;
    struct Restore {
        bool*& flag;
        bool* outer;
        ~Restore() { flag = outer; }
    } restore{defaultProcessing_, defaultProcessing_};
    defaultProcessing_ = &defaultProcessing;
    const INT_PTR result = DispatchTyped(message, w, l);
    return defaultProcessing ? FALSE : result;
}

INT_PTR CPropertyPage::DispatchTyped(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(l));
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(w));
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(w) == BN_CLICKED) {
                const auto it = clickHandlers_.find(LOWORD(w));
                if (it != clickHandlers_.end()) {
                    it->second();
                    return TRUE;
                }
            }
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR CPropertyPage::OnNotify(const NMHDR& header) {
    LRESULT result = 0;
    switch (header.code) {
        case PSN_SETACTIVE:
            result = OnSetActive() ? 0 : -1;  // -1 refuses the activation
            break;
        case PSN_WIZNEXT:
            result = OnWizardNext();  // template id, 0 for the sheet's order, -1 to stay
            break;
        case PSN_WIZBACK:
            result = OnWizardBack();
            break;
        case PSN_WIZFINISH:
            result = OnWizardFinish() ? FALSE : TRUE;  // non-zero keeps the wizard open
            break;
        case PSN_QUERYCANCEL:
            result = FALSE;  // Cancel is accepted at once, without a question
            break;
        case PSN_RESET:
            OnCancel();
            break;
        default:
            return FALSE;
    }
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Sheet

CPropertySheet::CPropertySheet(UINT captionId, HWND parent, UINT startPage) {
    m_psh.dwSize = sizeof(m_psh);
    m_psh.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK;
    m_psh.hwndParent = parent;
    m_psh.hInstance = ResourceModule();
    m_psh.pszCaption = MAKEINTRESOURCEW(captionId);
    m_psh.nStartPage = startPage;
    m_psh.pfnCallback = &CPropertySheet::SheetCallback;
}

CPropertySheet::~CPropertySheet() = default;

INT_PTR CPropertySheet::DoModal() {
    descriptors_.clear();
    for (CPropertyPage* page : pages_) descriptors_.push_back(page->m_psp);
    m_psh.nPages = static_cast<UINT>(descriptors_.size());
    m_psh.ppsp = descriptors_.data();
    m_psh.dwFlags |= PSH_PROPSHEETPAGE;

    CPropertySheet* const outer = g_modalSheet;
    g_modalSheet = this;
    initialised_ = false;
    ended_ = false;
    const INT_PTR result = ::PropertySheetW(&m_psh);
    g_modalSheet = outer;
    if (m_hWnd != nullptr) Detach();
    return ended_ ? endResult_ : result;
}

void CPropertySheet::EndDialog(int result) {
    SetModalResult(result);
    PostMessage(PSM_PRESSBUTTON, PSBTN_CANCEL);
}

void CPropertySheet::AttachWindow(HWND hwnd) { Attach(hwnd); }

int CALLBACK CPropertySheet::SheetCallback(HWND hwnd, UINT message, LPARAM) {
    if (message != PSCB_INITIALIZED || g_modalSheet == nullptr) return 0;
    CPropertySheet* sheet = g_modalSheet;
    sheet->AttachWindow(hwnd);
    if (!sheet->initialised_) {
        sheet->initialised_ = true;
        CallGuarded([&] { return sheet->OnInitDialog(); }, BOOL{FALSE});
    }
    return 0;
}

CPropertySheet* CPropertySheet::FromHandle(HWND hwnd) {
    // The sheet window belongs to comctl32, so nothing of ours is attached
    // to it: the running modal sheet is the one to compare with.
    return g_modalSheet != nullptr && hwnd != nullptr && g_modalSheet->m_hWnd == hwnd ? g_modalSheet : nullptr;
}

CPropertyPage* CPropertySheet::GetActivePage() const {
    if (m_hWnd == nullptr) return nullptr;
    const HWND page = reinterpret_cast<HWND>(SendMessage(PSM_GETCURRENTPAGEHWND));
    return PageOf(page);
}

UINT CPropertySheet::ActivePageId() const {
    const CPropertyPage* page = GetActivePage();
    return page ? page->TemplateId() : 0;
}

}  // namespace quentar
