// One setup at a time: a setup program started while another runs says so
// (in a message box, or unattended in the log only) and ends with 1618,
// without touching anything; once the first has ended, a new one runs again.
// Every run appends to the same log.
#include "run_log_reader.h"
#include "state/setup_result.h"

namespace ui_test {
namespace {

constexpr wchar_t kAlreadyRunning[] =
    L"Another Quentar setup is already running. Wait until it has finished, then start this one again.";

TEST_F(UiTest, ASecondSetupWhileOneRunsSaysSoAndEndsWith1618) {
    const std::wstring log = FreshLogPath("single-setup");
    ui::SetupProcess& first = Start(UI_SETUP_EXE, {L"/log:" + log});
    ASSERT_TRUE(first.Started());
    auto wizard = ui::Wizard::WaitFor(first.Id(), PageOrder(false));
    ASSERT_TRUE(wizard) << "the first setup shows no wizard";

    DWORD secondId = 0;
    {
        ui::SetupProcess second(UI_SETUP_EXE, {L"/log:" + log});
        ASSERT_TRUE(second.Started());
        secondId = second.Id();
        const auto box = ui::FindMessageBox(second.Id());
        ASSERT_TRUE(box) << "the second setup says nothing; exit code "
                         << second.WaitForExit(ui::Duration{0}).value_or(STILL_ACTIVE);
        EXPECT_TRUE(ui::WaitUntil([&] { return !box->Text().empty(); }));
        Screenshot("already-running");
        EXPECT_EQ(Narrow(box->Text()), Narrow(kAlreadyRunning));
        EXPECT_EQ(Narrow(box->Caption()), "Setup");
        EXPECT_TRUE(box->HasButton(IDOK));
        EXPECT_TRUE(ui::TopLevelWindows(second.Id()).size() == 1u) << "no wizard of its own beside the box";
        ASSERT_TRUE(box->Answer(IDOK));
        const std::optional<DWORD> exitCode = second.WaitForExit();
        ASSERT_TRUE(exitCode) << "the second setup still runs";
        EXPECT_EQ(*exitCode, quentar::kExitAlreadyRunning);
    }
    EXPECT_TRUE(wizard->Exists()) << "the first setup goes on";

    // Unattended, the same is said in the log only.
    DWORD quietId = 0;
    {
        ui::SetupProcess quiet(UI_SETUP_EXE, {L"/quiet", L"/log:" + log});
        ASSERT_TRUE(quiet.Started());
        quietId = quiet.Id();
        std::optional<DWORD> exitCode;
        bool windowShown = false;
        ASSERT_TRUE(ui::WaitUntil([&] {
            windowShown = windowShown || !ui::TopLevelWindows(quiet.Id()).empty();
            exitCode = quiet.WaitForExit(ui::Duration{5});
            return exitCode.has_value();
        })) << "the unattended setup still runs";
        EXPECT_FALSE(windowShown) << "an unattended setup showed a window";
        EXPECT_EQ(*exitCode, quentar::kExitAlreadyRunning);
    }

    ASSERT_TRUE(WaitForLoaded(*wizard));
    ASSERT_TRUE(wizard->Cancel(IDD_WELCOME));
    const std::optional<DWORD> firstExit = first.WaitForExit();
    ASSERT_TRUE(firstExit);
    EXPECT_EQ(*firstExit, quentar::kExitCancelled);

    // With the first gone, a setup runs again.
    ui::SetupProcess third(UI_SETUP_EXE, {L"/log:" + log});
    auto again = ui::Wizard::WaitFor(third.Id(), PageOrder(false));
    EXPECT_TRUE(again) << "no wizard once the first setup has ended";
    if (again) {
        ASSERT_TRUE(WaitForLoaded(*again));
        again->Cancel(IDD_WELCOME);
        EXPECT_EQ(third.WaitForExit().value_or(STILL_ACTIVE), quentar::kExitCancelled);
    }

    const auto log_ = ReadLog(log);
    ASSERT_TRUE(log_) << "no log at " << Narrow(log);
    const std::vector<std::string> refused = LinesOf(*log_, secondId);
    ASSERT_FALSE(refused.empty()) << "the refused setup wrote nothing";
    EXPECT_EQ(refused.front().rfind("===== Quentar Setup ", 0), 0u) << refused.front();
    EXPECT_TRUE(HasLine(refused, "message: " + Utf8(kAlreadyRunning))) << Joined(refused);
    EXPECT_TRUE(HasLine(refused, "the user answered: OK")) << Joined(refused);
    EXPECT_EQ(refused.back(), "result: another Quentar setup is already running; exit code 1618");
    EXPECT_FALSE(HasLine(refused, "wizard")) << "the refused run showed no wizard";
    const std::vector<std::string> quietRefused = LinesOf(*log_, quietId);
    EXPECT_TRUE(HasLine(quietRefused, "message: " + Utf8(kAlreadyRunning))) << Joined(quietRefused);
    EXPECT_TRUE(HasLine(quietRefused, "nobody to ask; answered: OK")) << Joined(quietRefused);
    EXPECT_EQ(quietRefused.back(), "result: another Quentar setup is already running; exit code 1618");
    for (const unsigned long id : {first.Id(), third.Id()}) {
        const std::vector<std::string> run = LinesOf(*log_, id);
        ASSERT_FALSE(run.empty()) << "nothing from process " << id;
        EXPECT_EQ(run.front().rfind("===== Quentar Setup ", 0), 0u) << run.front();
        EXPECT_TRUE(HasLine(run, "wizard")) << Joined(run);
        EXPECT_EQ(run.back(), "result: cancelled by the user; exit code 1602") << Joined(run);
    }
    ::DeleteFileW(log.c_str());
}

}  // namespace
}  // namespace ui_test
