// The licence-agreement page as the user meets it: the agreement shown from
// its start, wrapped and read-only, and Next allowed only while "I Agree" is
// selected.
#include <richedit.h>

#include "page_walk.h"

namespace ui_test {
namespace {

using ui::Wizard;

using LicencePage = PageWalkTest;

// The control's plain text without the paragraph breaks it ends with.
std::wstring AgreementText(const Wizard& wizard) {
    std::wstring text = wizard.Text(IDC_LICENSE_TEXT);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& start) { return text.compare(0, start.size(), start) == 0; }

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The control shows its first line with the caret at the very start.
bool ShowsTheStart(const Wizard& wizard) {
    const HWND control = wizard.Control(IDC_LICENSE_TEXT);
    const auto firstLine = ui::Query(control, EM_GETFIRSTVISIBLELINE);
    const auto selection = ui::Query(control, EM_GETSEL);  // start and end packed, both below 65536 here
    return firstLine == 0 && selection == 0;
}

TEST_F(LicencePage, ShowsTheSampleAgreementFromItsStartReadOnly) {
    auto wizard = OpenAt(IDD_LICENSE);
    ASSERT_TRUE(wizard);
    EXPECT_EQ(Narrow(wizard->Title()), "License Agreement");

    // The sample agreement, from its heading to its last clause.
    EXPECT_TRUE(ui::WaitUntil([&] { return ShowsTheStart(*wizard); }));
    const std::wstring text = AgreementText(*wizard);
    EXPECT_TRUE(StartsWith(text, L"QUENTAR SOFTWARE LICENSE AGREEMENT")) << Narrow(text.substr(0, 80));
    EXPECT_TRUE(EndsWith(text, L"arising from the use of the software.")) << Narrow(text);
    Screenshot("licence");

    // Typed keys and deletions leave the agreement as it is.
    const HWND control = wizard->Control(IDC_LICENSE_TEXT);
    EXPECT_NE(::GetWindowLongW(control, GWL_STYLE) & ES_READONLY, 0);
    ::PostMessageW(control, WM_KEYDOWN, VK_DELETE, 0);
    for (wchar_t c : std::wstring(L"typed")) ::PostMessageW(control, WM_CHAR, c, 0);
    ::PostMessageW(control, WM_KEYDOWN, VK_BACK, 0);
    EXPECT_FALSE(ui::WaitUntil([&] { return AgreementText(*wizard) != text; }, ui::Duration{1000}))
        << "now: " << Narrow(AgreementText(*wizard).substr(0, 80));
}

TEST_F(LicencePage, OpensOnIDoNotAgreeWithOnlyBackEnabled) {
    auto wizard = OpenAt(IDD_LICENSE);
    ASSERT_TRUE(wizard);
    EXPECT_TRUE(ui::WaitUntil([&] {
        return wizard->IsChecked(IDC_DISAGREE) && !wizard->IsChecked(IDC_AGREE) && wizard->IsEnabled(Wizard::kBack) &&
               !wizard->IsEnabled(Wizard::kNext);
    })) << "I Do Not Agree " << wizard->IsChecked(IDC_DISAGREE) << ", I Agree " << wizard->IsChecked(IDC_AGREE)
        << ", Back " << wizard->IsEnabled(Wizard::kBack) << ", Next " << wizard->IsEnabled(Wizard::kNext);
    EXPECT_TRUE(wizard->IsEnabled(Wizard::kCancel));
    Screenshot("licence-first-shown");
}

TEST_F(LicencePage, NextFollowsTheRadioButtonsAndTheChoiceIsKeptOnReturn) {
    auto wizard = OpenAt(IDD_LICENSE);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(ui::WaitUntil([&] { return !wizard->IsEnabled(Wizard::kNext); }));

    struct Step {
        const char* what;
        int click;
        bool nextEnabled;
    };
    const Step steps[] = {
        {"I Agree", IDC_AGREE, true},
        {"I Do Not Agree again", IDC_DISAGREE, false},
        {"I Agree again", IDC_AGREE, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(wizard->Click(IDD_LICENSE, step.click));
        EXPECT_TRUE(ui::WaitUntil([&] {
            return wizard->IsChecked(step.click) && wizard->IsEnabled(Wizard::kNext) == step.nextEnabled;
        })) << "Next " << wizard->IsEnabled(Wizard::kNext);
        EXPECT_TRUE(wizard->IsEnabled(Wizard::kBack));
    }
    Screenshot("agreed");

    ASSERT_TRUE(wizard->Next(IDD_LICENSE));
    ASSERT_TRUE(wizard->WaitForPage(IDD_DESTINATION)) << "now on page " << wizard->CurrentPageId();
    ASSERT_TRUE(wizard->Back(IDD_DESTINATION));
    ASSERT_TRUE(wizard->WaitForPage(IDD_LICENSE)) << "now on page " << wizard->CurrentPageId();
    EXPECT_TRUE(ui::WaitUntil([&] {
        return wizard->IsChecked(IDC_AGREE) && !wizard->IsChecked(IDC_DISAGREE) && wizard->IsEnabled(Wizard::kNext) &&
               wizard->IsEnabled(Wizard::kBack);
    })) << "I Agree " << wizard->IsChecked(IDC_AGREE) << ", Next " << wizard->IsEnabled(Wizard::kNext);
    Screenshot("back-again");

    // And the kept choice still answers to the buttons.
    ASSERT_TRUE(wizard->Click(IDD_LICENSE, IDC_DISAGREE));
    EXPECT_TRUE(ui::WaitUntil([&] { return !wizard->IsEnabled(Wizard::kNext); }));
}

// An agreement longer than one piece of the control's stream and than the
// control's height: it arrives whole, wrapped at the control's width, and is
// shown from its first line.
TEST_F(LicencePage, ALongAgreementArrivesWholeWrappedAndShownFromItsStart) {
#if !UI_HAVE_LONG_LICENCE
    GTEST_SKIP() << "this build has no sample payload for the long-agreement fixture";
#endif
    auto wizard = OpenAt(IDD_LICENSE, UI_SETUP_LONG_LICENCE_EXE);
    ASSERT_TRUE(wizard);
    EXPECT_TRUE(ui::WaitUntil([&] { return ShowsTheStart(*wizard); }))
        << "first visible line " << ui::Query(wizard->Control(IDC_LICENSE_TEXT), EM_GETFIRSTVISIBLELINE).value_or(-1);
    Screenshot("long-licence");

    const std::wstring text = AgreementText(*wizard);
    EXPECT_TRUE(StartsWith(text, L"START OF THE LONG AGREEMENT")) << Narrow(text.substr(0, 80));
    EXPECT_TRUE(EndsWith(text, L"END OF THE LONG AGREEMENT")) << Narrow(text.substr(text.size() - std::min<size_t>(text.size(), 80)));
    for (int n : {1, 20, 21, 40, 60}) {
        const std::wstring clause = std::to_wstring(n) + L". Clause " + std::to_wstring(n) + L" of a long agreement";
        EXPECT_NE(text.find(clause), std::wstring::npos) << "clause " << n << " is missing";
    }

    // 62 paragraphs, each clause longer than the control is wide.
    size_t paragraphs = 1;
    for (wchar_t c : text) paragraphs += c == L'\r' ? 1 : 0;
    EXPECT_EQ(paragraphs, 62u);
    const auto lines = ui::Query(wizard->Control(IDC_LICENSE_TEXT), EM_GETLINECOUNT);
    ASSERT_TRUE(lines);
    EXPECT_GE(static_cast<size_t>(*lines), paragraphs + 60) << "the clauses are not wrapped";
}

}  // namespace
}  // namespace ui_test
