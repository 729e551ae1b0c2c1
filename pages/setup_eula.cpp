#include "pages/setup_eula.h"

#include <algorithm>
#include <cstring>

#include "platform/module_text.h"
#include "platform/resources.h"
#include "state/resource_ids.h"

namespace quentar {

DWORD CALLBACK ReadAgreementPiece(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
    auto* stream = reinterpret_cast<AgreementStream*>(cookie);
    // The document ends before its first zero byte; position never passes it.
    const size_t end = std::min(stream->text.find('\0'), stream->text.size());
    const size_t left = end - std::min(stream->position, end);
    // A negative size from the control asks for nothing.
    const size_t count = std::min(left, static_cast<size_t>(std::max<LONG>(size, 0)));
    if (count > 0) std::memcpy(buffer, stream->text.data() + stream->position, count);
    stream->position += count;
    *done = static_cast<LONG>(count);
    return 0;
}

std::string CarriedAgreement() {
    const ResourceBytes bytes =
        FindResourceBytes(ResourceModule(), MAKEINTRESOURCEW(IDR_LICENSE), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (bytes.data == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(bytes.data), bytes.size);
}

CSetupEula::CSetupEula() : CSetupPage(IDD_LICENSE) {
    OnClicked(IDC_DISAGREE, [this] { UpdateButtons(); });
    OnClicked(IDC_AGREE, [this] { UpdateButtons(); });
}

void CSetupEula::DoDataExchange(CDataExchange* dx) {
    CSetupPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_LICENSE_TEXT, agreementText);
}

BOOL CSetupEula::OnInitDialog() {
    CSetupPage::OnInitDialog();

    agreement.text = CarriedAgreement();
    agreement.position = 0;
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&agreement);
    stream.pfnCallback = &ReadAgreementPiece;
    agreementText.StreamIn(SF_RTF, stream);

    agreementText.SetSel(0, 0);
    agreementText.HideSelection(TRUE, TRUE);
    agreementText.SetReadOnly(TRUE);
    agreementText.SetTargetDevice(nullptr, 0);

    // The control settles its scroll position only after it is painted:
    // the start of the agreement is shown once more from a timer.
    SetTimer(kScrollTimer, 10);

    CheckRadioButton(IDC_DISAGREE, IDC_AGREE, IDC_DISAGREE);
    UpdateButtons();
    return FALSE;  // the focus stays where the sheet put it
}

BOOL CSetupEula::OnSetActive() {
    UpdateButtons();
    return CSetupPage::OnSetActive();
}

void CSetupEula::OnTimer(UINT_PTR id) {
    if (id == kScrollTimer) {
        KillTimer(kScrollTimer);
        agreementText.SetSel(0, 1);
        agreementText.SetSel(0, 0);
    }
    CPropertyPage::OnTimer(id);  // every timer message goes on to the default processing
}

void CSetupEula::UpdateButtons() {
    const bool agreed = GetCheckedRadioButton(IDC_DISAGREE, IDC_AGREE) == IDC_AGREE;
    sheet->SetWizardButtons(agreed ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
}

}  // namespace quentar
