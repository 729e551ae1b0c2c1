#include "wizard/setup_sheet.h"

#include "install/journal.h"
#include "install/run_log.h"
#include "platform/framework/win_app.h"
#include "platform/module_text.h"
#include "removal/restart.h"
#include "state/resource_ids.h"

namespace quentar {

CSetup::CSetup(const UpdateArguments& args)
    : CPropertySheet(IDS_SHEET_CAPTION, nullptr, 0), arguments(args) {}

CSetup::~CSetup() = default;

namespace {

constexpr wchar_t kSheetProperty[] = L"Quentar.Setup.Sheet";

}  // namespace

LRESULT CALLBACK CSetup::SheetProcedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    auto* sheet = static_cast<CSetup*>(::GetPropW(hwnd, kSheetProperty));
    if (sheet == nullptr) return ::DefWindowProcW(hwnd, message, w, l);
    const WNDPROC own = sheet->sheetProcedure_;
    if (message == WM_ENDSESSION && w != FALSE) {
        CallGuarded(
            [&] {
                sheet->OnEndSession();
                return 0;
            },
            0);
    } else if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        ::RemovePropW(hwnd, kSheetProperty);
        sheet->sheetProcedure_ = nullptr;
    }
    return ::CallWindowProcW(own, hwnd, message, w, l);
}

void CSetup::OnEndSession() {
    if (installState.result != SetupResult::Installed) return;
    UnattendedFeedback log;
    log.Log(u"the session ends");
    const SetupResult result = EndSuccessfulRun(installState, log, RestartQuestion::DontAsk);
    log.Log(U16String(u"result at the end of the session: ") + DescribeResult(result));
    TheJournal().Discard(log);
}

BOOL CSetup::OnInitDialog() {
    const BOOL result = CPropertySheet::OnInitDialog();
    // The end of the session reaches the sheet window, which belongs to the
    // common controls: it is watched through its window procedure.
    if (sheetProcedure_ == nullptr && ::SetPropW(m_hWnd, kSheetProperty, this)) {
        sheetProcedure_ = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSetup::SheetProcedure)));
    }
    BoldFont();
    icon_ = ::LoadIconW(ResourceModule(), MAKEINTRESOURCEW(IDI_SETUP));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    return result;
}

HFONT CSetup::BoldFont() {
    if (!boldFont_ && m_hWnd != nullptr) {
        const auto dialogFont = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
        LOGFONTW font{};
        if (dialogFont != nullptr && ::GetObjectW(dialogFont, sizeof(font), &font) == sizeof(font)) {
            font.lfWeight = FW_BOLD;
            boldFont_.reset(::CreateFontIndirectW(&font));
        }
    }
    return boldFont_.get();
}

}  // namespace quentar
