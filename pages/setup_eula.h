// The licence-agreement page: shows the agreement carried in the program and
// lets the user go on only while "I Agree" is selected. It stores nothing:
// the choice lives in its two radio buttons.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "wizard/setup_page.h"

namespace quentar {

// An 8-bit document handed to a rich-edit control through EM_STREAMIN, one
// piece per callback. The document ends at its first zero byte (or at the
// end of `text`); the zero itself is never handed over.
struct AgreementStream {
    std::string text;
    size_t position = 0;  // bytes already handed over
};

// EDITSTREAM callback; the cookie is the AgreementStream. Copies
// min(size, bytes left before the end of the document) bytes into `buffer`,
// reports the count in `*done` (0 ends the stream) and returns 0.
DWORD CALLBACK ReadAgreementPiece(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done);

// The licence agreement carried by the program (an RTF document in the ANSI
// code page); empty when the program carries none.
std::string CarriedAgreement();

class CSetupEula : public CSetupPage {
public:
    CSetupEula();

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    void OnTimer(UINT_PTR id) override;

private:
    static constexpr UINT_PTR kScrollTimer = 2;

    // Back always; Next only while "I Agree" is checked.
    void UpdateButtons();

    CRichEditCtrl agreementText;
    // Streamed in once, when the page is first shown; kept for the run.
    AgreementStream agreement;
};

}  // namespace quentar
