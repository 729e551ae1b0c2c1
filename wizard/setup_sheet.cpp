#include "wizard/setup_sheet.h"

#include "state/resource_ids.h"
#include "platform/module_text.h"

namespace quentar {

CSetup::CSetup(const UpdateArguments& args)
    : CPropertySheet(IDS_SHEET_CAPTION, nullptr, 0), arguments(args) {}

CSetup::~CSetup() = default;

BOOL CSetup::OnInitDialog() {
    const BOOL result = CPropertySheet::OnInitDialog();
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
