#include "platform/framework/wnd.h"

#include "platform/wide.h"

namespace quentar {

void CWnd::SetWindowText(const U16String& text) const { ::SetWindowTextW(m_hWnd, AsWide(text)); }

int CWnd::GetCheckedRadioButton(int first, int last) const {
    for (int id = first; id <= last; ++id) {
        if (::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED) return id;
    }
    return 0;
}

U16String CWnd::WindowText(HWND hwnd) {
    const int length = ::GetWindowTextLengthW(hwnd);
    if (length <= 0) return {};
    U16String text(static_cast<size_t>(length) + 1, u'\0');
    const int copied = ::GetWindowTextW(hwnd, AsWide(text.data()), length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.GetSafeHwnd() == nullptr) control.Attach(::GetDlgItem(dx->m_hDialog, id));
}

}  // namespace quentar
