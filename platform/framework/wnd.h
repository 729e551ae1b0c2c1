// Thin window wrappers: a window handle with the operations the pages use,
// the control classes bound to dialog items, and the data exchange that binds
// them.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include "state/text.h"

namespace quentar {

class CWnd {
public:
    CWnd() = default;
    explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hwnd) { m_hWnd = hwnd; }
    HWND Detach() {
        HWND h = m_hWnd;
        m_hWnd = nullptr;
        return h;
    }

    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }
    U16String GetWindowText() const { return WindowText(m_hWnd); }
    void SetWindowText(const U16String& text) const;
    BOOL EnableWindow(BOOL enable = TRUE) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
    LRESULT SendMessage(UINT message, WPARAM w = 0, LPARAM l = 0) const { return ::SendMessageW(m_hWnd, message, w, l); }
    BOOL PostMessage(UINT message, WPARAM w = 0, LPARAM l = 0) const { return ::PostMessageW(m_hWnd, message, w, l); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse) const { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
    BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }

    // Radio buttons of this dialog with ids from `first` to `last`: the id of
    // the first one checked (0 when none is), and checking `checked` while
    // unchecking the others of the range.
    int GetCheckedRadioButton(int first, int last) const;
    BOOL CheckRadioButton(int first, int last, int checked) const {
        return ::CheckRadioButton(m_hWnd, first, last, checked);
    }

    static U16String WindowText(HWND hwnd);

protected:
    HWND m_hWnd = nullptr;
};

class CStatic : public CWnd {};
class CEdit : public CWnd {};

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int state) const { SendMessage(BM_SETCHECK, static_cast<WPARAM>(state)); }
};

class CProgressCtrl : public CWnd {
public:
    void SetRange32(int lower, int upper) const { SendMessage(PBM_SETRANGE32, lower, upper); }
    int SetPos(int pos) const { return static_cast<int>(SendMessage(PBM_SETPOS, pos)); }
};

class CRichEditCtrl : public CWnd {
public:
    void SetSel(long start, long end) const { SendMessage(EM_SETSEL, start, end); }
    long StreamIn(int format, EDITSTREAM& stream) const {
        return static_cast<long>(SendMessage(EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream)));
    }
    // `permanent` also changes ES_NOHIDESEL, so the choice outlives focus changes.
    void HideSelection(BOOL hide, BOOL permanent) const { SendMessage(EM_HIDESELECTION, hide, permanent); }
    BOOL SetReadOnly(BOOL readOnly = TRUE) const { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, readOnly)); }
    // A null device with line width 0 wraps lines at the control's width.
    BOOL SetTargetDevice(HDC device, long lineWidth) const {
        return static_cast<BOOL>(SendMessage(EM_SETTARGETDEVICE, reinterpret_cast<WPARAM>(device), lineWidth));
    }
};

// Binds page members to dialog items (the only exchange the pages use).
class CDataExchange {
public:
    CDataExchange(HWND dialog, bool saveAndValidate) : m_hDialog(dialog), m_bSaveAndValidate(saveAndValidate) {}
    HWND m_hDialog;
    bool m_bSaveAndValidate;
};

// Attaches `control` to dialog item `id`; a missing item leaves it unbound.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

// Shows the wait cursor for the object's lifetime.
class CWaitCursor {
public:
    CWaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { ::SetCursor(previous_); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR previous_;
};

}  // namespace quentar
