// The licence agreement handed to a real rich-edit control through the
// page's stream callback: piece by piece, never more than the control asks
// for, ending at the document's first zero byte.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pages/setup_eula.h"
#include "platform/framework/win_app.h"

namespace quentar {
namespace {

struct Piece {
    LONG asked;
    LONG given;
    bool holdsZero;
};

// Forwards to the page's callback and notes every call.
struct Recorder {
    AgreementStream stream;
    std::vector<Piece> pieces;

    static DWORD CALLBACK Read(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
        auto* self = reinterpret_cast<Recorder*>(cookie);
        const DWORD result = ReadAgreementPiece(reinterpret_cast<DWORD_PTR>(&self->stream), buffer, size, done);
        self->pieces.push_back({size, *done, std::find(buffer, buffer + *done, 0) != buffer + *done});
        return result;
    }
};

std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    return text;
}

TEST(AgreementStream, ReachesTheControlInPiecesUpToItsZero) {
    ASSERT_TRUE(AfxInitRichEdit2());
    const std::string clause(600, 'x');
    std::string longBody;
    for (int i = 0; i < 20; ++i) longBody += clause + "\\par ";

    struct Case {
        const char* name;
        std::string text;
        std::wstring shown;  // empty: the long document
        size_t minPieces;    // calls that hand over bytes
    };
    const Case cases[] = {
        {"shorter than one piece", "{\\rtf1\\ansi Short agreement.}", L"Short agreement.", 1},
        {"several pieces", "{\\rtf1\\ansi " + longBody + "End.}", L"", 3},
        // The document ends inside its group: what follows the zero is never read.
        {"a zero ends it", "{\\rtf1\\ansi Kept." + std::string(1, '\0') + " Lost.}", L"Kept.", 1},
        {"empty", "", L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t documentLength = std::min(c.text.find('\0'), c.text.size());
        const HWND control = ::CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE, 0, 0, 400, 300,
                                               nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(control, nullptr);
        Recorder recorder;
        recorder.stream.text = c.text;
        EDITSTREAM stream{};
        stream.dwCookie = reinterpret_cast<DWORD_PTR>(&recorder);
        stream.pfnCallback = &Recorder::Read;
        ::SendMessageW(control, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));

        // Each call gives what is asked for or what is left, whichever is
        // less, and never the zero. (The control may stop asking once its
        // document is complete, so the final empty call is asked for below.)
        ASSERT_FALSE(recorder.pieces.empty());
        size_t left = documentLength;
        size_t piecesWithBytes = 0;
        for (size_t i = 0; i < recorder.pieces.size(); ++i) {
            const Piece& piece = recorder.pieces[i];
            EXPECT_EQ(static_cast<size_t>(piece.given), std::min(left, static_cast<size_t>(piece.asked))) << "call " << i;
            EXPECT_FALSE(piece.holdsZero) << "call " << i;
            left -= static_cast<size_t>(piece.given);
            piecesWithBytes += piece.given > 0 ? 1 : 0;
        }
        EXPECT_EQ(left, 0u);
        EXPECT_GE(piecesWithBytes, c.minPieces);
        if (c.minPieces == 1) EXPECT_EQ(static_cast<size_t>(recorder.pieces[0].given), documentLength);
        BYTE buffer[16] = {};
        LONG given = -1;
        EXPECT_EQ(ReadAgreementPiece(reinterpret_cast<DWORD_PTR>(&recorder.stream), buffer, sizeof buffer, &given), 0u);
        EXPECT_EQ(given, 0) << "the end is not reported";

        const std::wstring shown = ControlText(control);
        if (c.shown.empty() && documentLength > 0) {
            EXPECT_EQ(shown.size(), 20 * clause.size() + 20 * 2 /* paragraph breaks */ + 4);
            EXPECT_EQ(shown.substr(shown.size() - 4), L"End.");
        } else {
            EXPECT_EQ(shown, c.shown);
        }
        ::DestroyWindow(control);
    }
}

}  // namespace
}  // namespace quentar
