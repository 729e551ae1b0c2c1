// Moving through the real sheet: Next and Back along the page path, and
// Cancel, which ends the program at once without starting anything.
#include <algorithm>
#include <cwctype>
#include <set>

#include "ui_test_support.h"
#include "state/setup_result.h"

namespace ui_test {
namespace {

using ui::Wizard;

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// Processes that Wine itself starts on demand in a prefix; they are not the
// setup program's doing.
bool IsWineHousekeeping(const std::wstring& exeName) {
    std::wstring name = exeName;
    std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
    for (const wchar_t* own : {L"explorer.exe", L"services.exe", L"winedevice.exe", L"plugplay.exe", L"svchost.exe",
                               L"rpcss.exe", L"conhost.exe", L"wineboot.exe", L"start.exe", L"rundll32.exe"}) {
        if (name == own) return true;
    }
    return false;
}

// Processes present now that were not in `before`, other than `exclude`
// (the setup process itself) and Wine's own; plus every process whose parent
// is `exclude`, other than the desktop process (explorer.exe) that Wine starts
// from the first program that opens a window.
std::vector<ui::ProcessInfo> ProcessesStartedBy(const std::vector<ui::ProcessInfo>& before, DWORD exclude) {
    std::set<DWORD> known;
    for (const auto& p : before) known.insert(p.id);
    std::vector<ui::ProcessInfo> started;
    for (const auto& p : ui::ListProcesses()) {
        if (p.id == exclude) continue;
        // Process ids are reused: a process that ran before the setup program
        // may name a parent that had its id.
        const bool child = p.parentId == exclude && known.count(p.id) == 0 && !EqualsNoCase(p.exeName, L"explorer.exe");
        const bool unknown = known.count(p.id) == 0 && !IsWineHousekeeping(p.exeName);
        if (child || unknown) started.push_back(p);
    }
    return started;
}

std::string Describe(const std::vector<ui::ProcessInfo>& processes) {
    std::string text;
    for (const auto& p : processes) text += Narrow(p.exeName) + " (parent " + std::to_string(p.parentId) + ") ";
    return text;
}

TEST_F(UiTest, NextLeadsToTheLicenceAndBackReturnsWithTheChoiceKept) {
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    ASSERT_TRUE(wizard->IsChecked(IDC_APPLICATION_BOX));
    // A choice to find again on return: the Arecont runtime deselected.
    ASSERT_TRUE(ui::WaitUntil([&] { return wizard->IsEnabled(IDC_ARECONT_BOX); }));
    ASSERT_TRUE(wizard->Click(IDD_WELCOME, IDC_ARECONT_BOX));
    ASSERT_TRUE(ui::WaitUntil([&] { return !wizard->IsChecked(IDC_ARECONT_BOX); }));
    Screenshot("welcome");

    ASSERT_TRUE(wizard->Next(IDD_WELCOME));
    ASSERT_TRUE(wizard->WaitForPage(IDD_LICENSE)) << "now on page " << wizard->CurrentPageId();
    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->Title() == L"License Agreement"; }))
        << "title " << Narrow(wizard->Title());
    EXPECT_TRUE(wizard->Exists(IDC_AGREE));
    Screenshot("licence");

    // Back through the sheet: the licence page's own button rules are not
    // what this test is about, the page path is.
    ASSERT_TRUE(wizard->Press(IDD_LICENSE, PSBTN_BACK));
    ASSERT_TRUE(wizard->WaitForPage(IDD_WELCOME)) << "now on page " << wizard->CurrentPageId();
    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->Title() == L"Welcome"; })) << "title " << Narrow(wizard->Title());
    Screenshot("welcome-again");
    EXPECT_TRUE(wizard->IsChecked(IDC_APPLICATION_BOX));
    EXPECT_FALSE(wizard->IsChecked(IDC_ARECONT_BOX));

    // And forward again along the path rebuilt from the same choice.
    ASSERT_TRUE(wizard->Next(IDD_WELCOME));
    EXPECT_TRUE(wizard->WaitForPage(IDD_LICENSE)) << "now on page " << wizard->CurrentPageId();
}

struct CancelCase {
    const char* name;
    bool updateMode;
    bool toLicencePage;  // press Next first
};

const CancelCase kCancelCases[] = {
    {"OnWelcome", false, false},
    {"OnUpdateWelcome", true, false},
    {"OnLicence", false, true},
};

void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class CancelTest : public UiTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, EndsTheProgramWithoutAQuestionAndStartsNothing) {
    const CancelCase& c = GetParam();
    const std::vector<ui::ProcessInfo> before = ui::ListProcesses();
    ASSERT_TRUE(std::any_of(before.begin(), before.end(),
                            [](const ui::ProcessInfo& p) { return p.id == ::GetCurrentProcessId(); }))
        << "the process list cannot be read";
    auto wizard = OpenWizard(c.updateMode);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    if (c.toLicencePage) {
        ASSERT_TRUE(wizard->Next(IDD_WELCOME));
        ASSERT_TRUE(wizard->WaitForPage(IDD_LICENSE));
    }
    Screenshot("before-cancel");

    ASSERT_TRUE(wizard->Cancel(c.toLicencePage ? IDD_LICENSE : wizard->FirstPageId()));
    const std::optional<DWORD> exitCode = Process().WaitForExit();
    if (!exitCode) {
        const auto box = ui::FindMessageBox(Process().Id(), ui::Duration{0});
        FAIL() << "still running after Cancel"
               << (box ? ", showing \"" + Narrow(box->Text()) + "\"" : std::string());
    }
    EXPECT_EQ(*exitCode, quentar::kExitCancelled) << "the exit code of a cancelled wizard";
    const auto started = ProcessesStartedBy(before, Process().Id());
    EXPECT_TRUE(started.empty()) << "started: " << Describe(started);
}

INSTANTIATE_TEST_SUITE_P(Pages, CancelTest, ::testing::ValuesIn(kCancelCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ui_test
