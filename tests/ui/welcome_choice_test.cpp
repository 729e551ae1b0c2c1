// What the welcome page proposes on the machine it finds, and where its Next
// leads, seen from outside as the user sees it: a machine without the
// application, earlier installations of older, equal and newer builds (real
// uninstall records naming real executables), the Axis runtime already
// present, and the three ways on from the page (licence, progress in an
// update, the runtime page alone). Every record and registration a test makes
// is taken back when it ends.
#include <memory>

#include "axis_runtime.h"
#include "fixture_paths.h"
#include "registry_scratch.h"
#include "ui_runtime_paths.h"
#include "ui_test_support.h"

namespace ui_test {
namespace {

using test_registry::NewGuidText;
using test_registry::ScopedComClass;
using test_registry::ScopedDmo;
using test_registry::ScratchKey;
using ui::Wizard;

const std::wstring kUninstallRoot = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// An uninstall record of an earlier installation whose files include the
// executable `application`.
std::unique_ptr<ScratchKey> EarlierInstallation(const std::wstring& application) {
    auto key = std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, kUninstallRoot + L"\\" + NewGuidText());
    EXPECT_TRUE(key->Created() && key->SetText(L"DisplayName", L"Quentar 2009") &&
                key->SetText(L"File0", L"C:\\Program Files\\Quentar 2009\\help.pdf") &&
                key->SetText(L"File1", application));
    return key;
}

// The boxes as loading left them.
void ExpectBoxes(const Wizard& wizard, bool application, bool axis) {
    EXPECT_EQ(wizard.IsChecked(IDC_APPLICATION_BOX), application);
    EXPECT_EQ(wizard.IsChecked(IDC_ARECONT_BOX), application) << "the Arecont runtime follows the application";
    EXPECT_EQ(wizard.IsChecked(IDC_AXIS_BOX), axis);
    for (int id : {IDC_APPLICATION_BOX, IDC_ARECONT_BOX, IDC_AXIS_BOX}) {
        EXPECT_TRUE(wizard.IsEnabled(id)) << "box " << id;
    }
    EXPECT_TRUE(wizard.IsEnabled(Wizard::kNext)) << "Next is enabled once loading is over, whatever the boxes show";
}

// Posted after the clicks before it, so once it shows they were all handled.
bool ClickAndWait(const Wizard& wizard, int id, bool checkedAfter) {
    return wizard.Click(IDD_WELCOME, id) && ui::WaitUntil([&] { return wizard.IsChecked(id) == checkedAfter; });
}

TEST_F(UiTest, WelcomeWithoutTheApplicationProposesEverythingAndNextLeadsToTheLicence) {
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("welcome");
    ExpectBoxes(*wizard, true, true);

    ASSERT_TRUE(wizard->Next(IDD_WELCOME));
    EXPECT_TRUE(wizard->WaitForPage(IDD_LICENSE)) << "now on page " << wizard->CurrentPageId();
}

struct EarlierBuild {
    const char* name;
    std::vector<const wchar_t*> installed;  // executables of earlier installations, one record each
    bool proposed;                          // the application box starts checked
};

const EarlierBuild kEarlierBuilds[] = {
    {"Older", {SAMPLE_APP_OLDER_PATH}, true},
    {"Same", {SAMPLE_APP_SAME_PATH}, false},
    {"Newer", {SAMPLE_APP_NEWER_PATH}, false},
    {"OlderAndSame", {SAMPLE_APP_OLDER_PATH, SAMPLE_APP_SAME_PATH}, false},
    {"WithoutVersion", {UNVERSIONED_APP_PATH}, true},
};

void PrintTo(const EarlierBuild& b, std::ostream* os) { *os << b.name; }

class WelcomeOverEarlierBuild : public UiTest, public ::testing::WithParamInterface<EarlierBuild> {};

TEST_P(WelcomeOverEarlierBuild, ProposesTheApplicationOnlyOverAnOlderBuild) {
    std::vector<std::unique_ptr<ScratchKey>> records;
    for (const wchar_t* application : GetParam().installed) records.push_back(EarlierInstallation(application));
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("loaded");
    ExpectBoxes(*wizard, GetParam().proposed, true);
}

INSTANTIATE_TEST_SUITE_P(Builds, WelcomeOverEarlierBuild, ::testing::ValuesIn(kEarlierBuilds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UiTest, WelcomeInUpdateModeHidesTheChoiceAndNextLeadsToTheProgressPage) {
    auto wizard = OpenWizard(true);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(wizard->WaitForPage(IDD_WELCOME_UPDATE));
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("update");
    for (int id : {IDC_APPLICATION_BOX, IDC_ARECONT_BOX, IDC_AXIS_BOX}) EXPECT_FALSE(wizard->IsVisible(id));

    ASSERT_TRUE(wizard->Next(IDD_WELCOME_UPDATE));
    EXPECT_TRUE(wizard->WaitForPage(IDD_PROGRESS)) << "now on page " << wizard->CurrentPageId();
    // The progress page would now replace the running application: stop here.
    Process().Kill();
}

TEST_F(UiTest, WelcomeWithOnlyTheAxisRuntimeChosenLeadsToTheRuntimePage) {
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    ASSERT_TRUE(wizard->IsChecked(IDC_AXIS_BOX));
    ASSERT_TRUE(ClickAndWait(*wizard, IDC_APPLICATION_BOX, false));
    ASSERT_TRUE(ui::WaitUntil([&] { return wizard->IsEnabled(Wizard::kNext); }));
    Screenshot("axis-only");

    ASSERT_TRUE(wizard->Next(IDD_WELCOME));
    EXPECT_TRUE(wizard->WaitForPage(IDD_AXIS)) << "now on page " << wizard->CurrentPageId();
    // The runtime page would now run the packages: stop here.
    Process().Kill();
}

// Unchecking the last box disables Next, and Next pressed all the same
// leaves the wizard where it is.
TEST_F(UiTest, WelcomeWithNothingChosenStaysOnTheWelcomePage) {
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    ASSERT_TRUE(ClickAndWait(*wizard, IDC_AXIS_BOX, false));
    EXPECT_TRUE(wizard->IsEnabled(Wizard::kNext)) << "the application is still chosen";
    ASSERT_TRUE(ClickAndWait(*wizard, IDC_APPLICATION_BOX, false));
    EXPECT_TRUE(ui::WaitUntil([&] { return !wizard->IsEnabled(Wizard::kNext); })) << "Next stays enabled";
    Screenshot("nothing-chosen");

    ASSERT_TRUE(wizard->Press(IDD_WELCOME, PSBTN_NEXT));
    // A click posted after the press is handled after it: once it shows, the
    // press has had its effect.
    ASSERT_TRUE(ClickAndWait(*wizard, IDC_AXIS_BOX, true));
    EXPECT_EQ(wizard->CurrentPageId(), IDD_WELCOME);
}

// With the same build installed and the Axis runtime present there is
// nothing to propose: Next is enabled, yet it stays on the page.
TEST_F(UiTest, WelcomeWithEverythingInstalledProposesNothingAndNextStays) {
    const auto record = EarlierInstallation(SAMPLE_APP_SAME_PATH);
    AxisRuntime axis;
    ASSERT_TRUE(axis.Registered());
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("everything-installed");
    ExpectBoxes(*wizard, false, false);

    ASSERT_TRUE(wizard->Next(IDD_WELCOME));
    ASSERT_TRUE(ClickAndWait(*wizard, IDC_APPLICATION_BOX, true));
    EXPECT_EQ(wizard->CurrentPageId(), IDD_WELCOME);
}

// A runtime the payload does not carry is not offered: its box is unchecked
// and disabled once loading is over, and the application box does not bring
// it back; the other runtime is proposed as always.
struct MissingRuntime {
    const char* name;
    const wchar_t* exe;
    int missingBox;
};

void PrintTo(const MissingRuntime& m, std::ostream* os) { *os << m.name; }

class WelcomeWithoutARuntime : public UiTest, public ::testing::WithParamInterface<MissingRuntime> {};

TEST_P(WelcomeWithoutARuntime, ItsBoxIsUncheckedAndDisabled) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no such payloads";
    const MissingRuntime& m = GetParam();
    ui::SetupProcess& process = Start(m.exe);
    ASSERT_TRUE(process.Started());
    auto wizard = Wizard::WaitFor(process.Id(), PageOrder(false));
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("loaded");
    const int offeredBox = m.missingBox == IDC_AXIS_BOX ? IDC_ARECONT_BOX : IDC_AXIS_BOX;
    EXPECT_TRUE(wizard->IsChecked(IDC_APPLICATION_BOX));
    EXPECT_TRUE(wizard->IsChecked(offeredBox));
    EXPECT_TRUE(wizard->IsEnabled(offeredBox));
    EXPECT_FALSE(wizard->IsChecked(m.missingBox));
    EXPECT_FALSE(wizard->IsEnabled(m.missingBox));

    ASSERT_TRUE(ClickAndWait(*wizard, IDC_APPLICATION_BOX, false));
    ASSERT_TRUE(ClickAndWait(*wizard, IDC_APPLICATION_BOX, true));
    EXPECT_FALSE(wizard->IsChecked(m.missingBox));
    EXPECT_FALSE(wizard->IsEnabled(m.missingBox));
}

INSTANTIATE_TEST_SUITE_P(Payloads, WelcomeWithoutARuntime,
                         ::testing::Values(MissingRuntime{"WithoutAxisPackages", UI_SETUP_WITHOUT_AXIS_EXE, IDC_AXIS_BOX},
                                           MissingRuntime{"WithoutTheSdk", UI_SETUP_WITHOUT_SDK_EXE, IDC_ARECONT_BOX}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ui_test
