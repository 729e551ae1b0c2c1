// Property sheet and pages over PropertySheetW in wizard mode.
//
// Rules kept here for every page:
// - pages are identified by their dialog-template id; a Next or Back handler
//   returns the id of the page to go to, 0 for the sheet's own order, or -1
//   to stay;
// - button changes are posted (PSM_SETWIZBUTTONS), so they apply in the order
//   posted, after the current handler returns;
// - every notification is turned into a typed call and its typed result into
//   DWLP_MSGRESULT in one place (CPropertyPage::OnNotify).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <map>
#include <vector>

#include "platform/framework/wnd.h"

namespace quentar {

// What a wizard's modal run returns when it was finished (the Finish button's
// id, as the framework numbers its wizard buttons).
constexpr INT_PTR ID_WIZFINISH = 0x3025;

class CPropertySheet;

class CPropertyPage : public CWnd {
public:
    explicit CPropertyPage(UINT templateId);
    ~CPropertyPage() override;

    UINT TemplateId() const { return templateId_; }
    // The page descriptor handed to the sheet (flags may be changed before
    // the sheet runs).
    PROPSHEETPAGEW m_psp{};

    // The sheet window that shows this page (valid once the dialog exists).
    HWND GetSheetWindow() const { return ::GetParent(m_hWnd); }

    // Runs the data exchange: binds controls (saveAndValidate false).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Overridables, with the framework's defaults.
    virtual BOOL OnInitDialog();       // data exchange; TRUE lets the dialog manager set the focus
    virtual BOOL OnSetActive();        // refills controls on every activation but the first
    virtual LRESULT OnWizardNext();    // 0: next page of the sheet's order
    virtual LRESULT OnWizardBack();    // 0: previous page of the sheet's order
    virtual BOOL OnWizardFinish();     // TRUE: let the wizard close
    virtual void OnCancel() {}         // the user pressed Cancel (accepted)
    virtual void DoDataExchange(CDataExchange* dx) {}
    // A timer of the page's window went off. A page handles its own ids and
    // hands every other id to this base version, which leaves it to the
    // dialog manager's default processing.
    virtual void OnTimer(UINT_PTR id);

protected:
    // Leaves the message being dispatched to the dialog manager: the dialog
    // procedure answers FALSE for it, so the default processing runs.
    void Default();

    // Message-map entry for BN_CLICKED of control `id`.
    void OnClicked(int id, std::function<void()> handler) { clickHandlers_[id] = std::move(handler); }

private:
    friend class CPropertySheet;
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
    // Runs the typed handler of one message; FALSE when the page called
    // Default() or has no handler for it.
    INT_PTR Dispatch(UINT message, WPARAM w, LPARAM l);
    INT_PTR DispatchTyped(UINT message, WPARAM w, LPARAM l);
    INT_PTR OnNotify(const NMHDR& header);

    UINT templateId_;
    bool firstSetActive_ = true;
    // Set by Default() for the message being dispatched; null between
    // messages. Nested dispatches (a handler that sends to its own page)
    // each have their own flag.
    bool* defaultProcessing_ = nullptr;
    std::map<int, std::function<void()>> clickHandlers_;
};

class CPropertySheet : public CWnd {
public:
    CPropertySheet(UINT captionId, HWND parent, UINT startPage);
    ~CPropertySheet() override;

    // The header handed to PropertySheetW (flags may be changed before DoModal).
    PROPSHEETHEADERW m_psh{};

    void AddPage(CPropertyPage* page) { pages_.push_back(page); }
    void SetWizardMode() { m_psh.dwFlags |= PSH_WIZARD; }

    // Runs the sheet modally; returns what PropertySheetW returns, or the
    // modal result set during the run (SetModalResult, EndDialog).
    INT_PTR DoModal();
    // The result DoModal returns for the run in progress, whatever closes the
    // sheet: ID_WIZFINISH from a page that finishes the wizard itself by
    // pressing Finish, ... The last one set counts.
    void SetModalResult(INT_PTR result) {
        ended_ = true;
        endResult_ = result;
    }

    // Called once the sheet window exists, before it is shown.
    virtual BOOL OnInitDialog() { return TRUE; }

    CPropertyPage* GetActivePage() const;
    // Template id of the active page, 0 when there is none.
    UINT ActivePageId() const;

    // Posts the wizard-button change (applied after the current handler).
    void SetWizardButtons(DWORD flags) const { PostMessage(PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags)); }
    // Presses a wizard button now (PSBTN_*).
    void PressButton(int button) const { SendMessage(PSM_PRESSBUTTON, static_cast<WPARAM>(button)); }
    // Ends the modal run with `result` (IDCANCEL, ID_WIZFINISH, ...), which
    // DoModal then returns: the sheet closes through its Cancel button,
    // pressed by a posted message once the current handler has returned.
    void EndDialog(int result);

    // The sheet object of the sheet window running on this thread, or null.
    static CPropertySheet* FromHandle(HWND hwnd);

private:
    friend class CPropertyPage;
    static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM l);
    void AttachWindow(HWND hwnd);

    std::vector<CPropertyPage*> pages_;
    std::vector<PROPSHEETPAGEW> descriptors_;
    bool initialised_ = false;
    bool ended_ = false;  // the result of this modal run was chosen
    INT_PTR endResult_ = 0;
};

}  // namespace quentar
