// One of the program's pages built in-process on its own template, inside a
// plain top-level dialog that stands in for the sheet; a CSetup is attached
// to that dialog, so the page finds the bold font and the install state.
#pragma once

#include <windows.h>

#include <memory>

#include "wizard/setup_page.h"
#include "wizard/setup_sheet.h"

namespace quentar::testing {

class PageHost {
public:
    PageHost() = default;
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;
    ~PageHost() {
        if (sheet) sheet->Detach();
        if (host) ::DestroyWindow(host);
    }

    // Builds the host and the page on dialog template `templateId`; false
    // when either window cannot be created.
    bool Create(UINT templateId) {
        host = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), HostTemplate(), nullptr, &Proc, 0);
        if (host == nullptr) return false;
        page = std::make_unique<CSetupPage>(templateId);
        const HWND dialog =
            ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), host, &Proc, 0);
        if (dialog == nullptr) return false;
        ::EnableWindow(dialog, TRUE);  // page templates are disabled until a sheet shows them
        page->Attach(dialog);
        sheet = std::make_unique<CSetup>(arguments);
        sheet->Attach(host);
        return true;
    }

    UpdateArguments arguments;
    HWND host = nullptr;
    std::unique_ptr<CSetupPage> page;
    std::unique_ptr<CSetup> sheet;

private:
    static INT_PTR CALLBACK Proc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

    // An empty top-level dialog in the pages' font.
    static const DLGTEMPLATE* HostTemplate() {
        alignas(4) static WORD words[64] = {};
        auto* t = reinterpret_cast<DLGTEMPLATE*>(words);
        t->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_MODALFRAME;
        t->cx = 520;
        t->cy = 260;
        WORD* p = reinterpret_cast<WORD*>(t + 1);
        *p++ = 0;  // no menu
        *p++ = 0;  // standard dialog class
        *p++ = 0;  // no title
        *p++ = 8;  // point size
        for (const wchar_t* face = L"MS Shell Dlg"; *face; ++face) *p++ = *face;
        *p++ = 0;
        return t;
    }
};

}  // namespace quentar::testing
