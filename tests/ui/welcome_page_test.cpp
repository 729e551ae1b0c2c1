// The welcome page as the user meets it, in both of its modes: a fresh
// installation (dialog 107) and an update started by the running application
// (dialog 231).
#include "ui_test_support.h"

namespace ui_test {
namespace {

using ui::Wizard;

const std::wstring kClickNext = L"Click \"Next\" to continue...";
const std::wstring kComponentsHeading = L"The following components will be installed:";

struct WelcomeMode {
    const char* name;
    bool updateMode;
    int pageId;
    const wchar_t* greetingTail;  // what 1127 says after the version
    bool choiceVisible;           // the component boxes, their heading and the separator
};

const WelcomeMode kModes[] = {
    {"Install", false, IDD_WELCOME, L"This program will install Quentar on your computer.", true},
    {"Update", true, IDD_WELCOME_UPDATE, L"This program will update your Quentar installation.", false},
};

void PrintTo(const WelcomeMode& m, std::ostream* os) { *os << m.name; }

class WelcomePage : public UiTest, public ::testing::WithParamInterface<WelcomeMode> {};

TEST_P(WelcomePage, GreetsWithTheSetupVersionAndEnablesOnlyNext) {
    const WelcomeMode& mode = GetParam();
    auto wizard = OpenWizard(mode.updateMode);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(wizard->WaitForPage(mode.pageId)) << "page index " << wizard->CurrentPageIndex();

    // The template's four %i carry the setup program's own file version.
    const std::wstring expected =
        std::wstring(L"Welcome to the Quentar ") + UI_SETUP_VERSION + L" Setup Program. " + mode.greetingTail;
    EXPECT_EQ(Narrow(wizard->Text(IDC_VERSION_TEXT)), Narrow(expected));

    // With PSH_WIZARD, Wine's title bar shows the current page's caption.
    EXPECT_EQ(Narrow(wizard->Title()), "Welcome");

    ASSERT_TRUE(WaitForLoaded(*wizard)) << "Next was never enabled";
    Screenshot("loaded");
    EXPECT_FALSE(wizard->IsEnabled(Wizard::kBack));
    EXPECT_TRUE(wizard->IsVisible(Wizard::kNext));
    EXPECT_TRUE(wizard->IsEnabled(Wizard::kCancel));
    EXPECT_FALSE(wizard->IsVisible(Wizard::kFinish));
    EXPECT_EQ(wizard->CurrentPageId(), mode.pageId) << "loading must not leave the page";
}

TEST_P(WelcomePage, ShowsTheComponentChoiceOnlyWhenInstalling) {
    const WelcomeMode& mode = GetParam();
    auto wizard = OpenWizard(mode.updateMode);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("loaded");

    for (int id : {IDC_APPLICATION_BOX, IDC_ARECONT_BOX, IDC_AXIS_BOX}) {
        SCOPED_TRACE(testing::Message() << "box " << id);
        ASSERT_TRUE(wizard->Exists(id));
        EXPECT_EQ(wizard->IsVisible(id), mode.choiceVisible);
    }
    const HWND heading = wizard->PageWindowWithText(kComponentsHeading);
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(Wizard::IsVisible(heading), mode.choiceVisible);
    const HWND separator = wizard->PageWindowWithStyle(SS_SUNKEN);
    ASSERT_NE(separator, nullptr);
    EXPECT_EQ(ui::ClassName(separator), L"Static");
    EXPECT_EQ(Wizard::IsVisible(separator), mode.choiceVisible);
    EXPECT_TRUE(Wizard::IsVisible(wizard->PageWindowWithText(kClickNext)));

    // Both modes propose the application with the Arecont runtime: an update
    // selects them itself, a fresh installation on a machine without the
    // application checks them after loading.
    EXPECT_TRUE(wizard->IsChecked(IDC_APPLICATION_BOX));
    EXPECT_TRUE(wizard->IsChecked(IDC_ARECONT_BOX));
    if (mode.updateMode) {
        EXPECT_FALSE(wizard->IsChecked(IDC_AXIS_BOX)) << "an update never proposes the Axis runtime";
    }
}

TEST_P(WelcomePage, ShowsMarkedTextsInBoldWithoutTheMarker) {
    const WelcomeMode& mode = GetParam();
    auto wizard = OpenWizard(mode.updateMode);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("loaded");

    // No text keeps its marker, shown or hidden.
    const HWND marked = wizard->FindPageWindow([](HWND w) {
        const std::wstring text = ui::WindowText(w);
        return !text.empty() && text[0] == L'!';
    });
    EXPECT_EQ(marked, nullptr) << "still marked: " << Narrow(ui::WindowText(marked));

    // The marked texts read without the "!" and nothing else changed.
    EXPECT_EQ(Narrow(wizard->Text(IDC_APPLICATION_BOX)), "Quentar Software");
    EXPECT_EQ(Narrow(wizard->Text(IDC_ARECONT_BOX)), Narrow(L"Arecont Vision \u00AE runtime components"));
    EXPECT_EQ(Narrow(wizard->Text(IDC_AXIS_BOX)), Narrow(L"Axis Communications \u00AE runtime components"));
    const HWND clickNext = wizard->PageWindowWithText(kClickNext);
    ASSERT_NE(clickNext, nullptr);

    // Bold and plain, as far as the screen shows them (hidden boxes cannot be
    // judged).
    struct Shown {
        const char* what;
        HWND window;
        bool bold;
    };
    std::vector<Shown> shown = {
        {"closing line", clickNext, true},
        {"greeting", wizard->Control(IDC_VERSION_TEXT), false},
    };
    if (mode.choiceVisible) {
        shown.push_back({"application box", wizard->Control(IDC_APPLICATION_BOX), true});
        shown.push_back({"Arecont box", wizard->Control(IDC_ARECONT_BOX), true});
        shown.push_back({"Axis box", wizard->Control(IDC_AXIS_BOX), true});
        shown.push_back({"components heading", wizard->PageWindowWithText(kComponentsHeading), false});
    }
    for (const Shown& s : shown) {
        const Wizard::TextInk ink = wizard->MeasureTextInk(s.window);
        EXPECT_EQ(wizard->IsBold(s.window), s.bold)
            << s.what << ": ink on screen " << ink.shown << ", drawn regular " << ink.regular << ", drawn bold "
            << ink.bold;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, WelcomePage, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.name); });

// The component boxes decide whether there is anything to do: Next is on
// while the application or the Axis runtime is chosen, and the Arecont
// runtime follows the application.
TEST_F(UiTest, WelcomeNextFollowsTheComponentChoice) {
    auto wizard = OpenWizard(false);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    EXPECT_FALSE(wizard->IsEnabled(Wizard::kBack));
    for (int id : {IDC_APPLICATION_BOX, IDC_ARECONT_BOX, IDC_AXIS_BOX}) {
        EXPECT_TRUE(ui::WaitUntil([&] { return wizard->IsEnabled(id); })) << "box " << id << " stays disabled";
    }
    // Start from the application alone (the Axis box depends on what is
    // installed on this machine).
    if (wizard->IsChecked(IDC_AXIS_BOX)) {
        ASSERT_TRUE(wizard->Click(IDD_WELCOME, IDC_AXIS_BOX));
        ASSERT_TRUE(ui::WaitUntil([&] { return !wizard->IsChecked(IDC_AXIS_BOX); }));
    }
    ASSERT_TRUE(wizard->IsChecked(IDC_APPLICATION_BOX));

    struct Step {
        const char* what;
        int click;
        bool application, axis, arecont, nextEnabled;
    };
    const Step steps[] = {
        {"application off", IDC_APPLICATION_BOX, false, false, false, false},
        {"Axis on alone", IDC_AXIS_BOX, false, true, false, true},
        {"Axis off again", IDC_AXIS_BOX, false, false, false, false},
        {"application on", IDC_APPLICATION_BOX, true, false, true, true},
        {"Axis on with it", IDC_AXIS_BOX, true, true, true, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(wizard->Click(IDD_WELCOME, step.click));
        EXPECT_TRUE(ui::WaitUntil([&] {
            return wizard->IsChecked(IDC_APPLICATION_BOX) == step.application &&
                   wizard->IsChecked(IDC_AXIS_BOX) == step.axis && wizard->IsChecked(IDC_ARECONT_BOX) == step.arecont &&
                   wizard->IsEnabled(Wizard::kNext) == step.nextEnabled;
        })) << "application " << wizard->IsChecked(IDC_APPLICATION_BOX) << ", Axis " << wizard->IsChecked(IDC_AXIS_BOX)
            << ", Arecont " << wizard->IsChecked(IDC_ARECONT_BOX) << ", Next " << wizard->IsEnabled(Wizard::kNext);
        Screenshot(step.what);
        EXPECT_FALSE(wizard->IsEnabled(Wizard::kBack));
    }
    // A click on the application box hands the Arecont box to it.
    EXPECT_FALSE(wizard->IsEnabled(IDC_ARECONT_BOX));
}

}  // namespace
}  // namespace ui_test
