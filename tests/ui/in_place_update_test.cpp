// The in-place update as it happens on a machine: the running application,
// asked to update, starts the newer setup program, which writes the new
// executable beside the old one, closes the application, puts the new one in
// its place, and starts it after Finish; nothing of a normal installation
// (key, shortcuts, program folder) is made.
#include <set>

#include "lifecycle_support.h"
#include "ui_lifecycle_paths.h"
#include "ui_runtime_paths.h"

namespace ui_test {
namespace {

using ui::Wizard;

// Version A of the application placed in the test's destination, as an
// earlier installation left it, and not yet running.
class InPlaceUpdate : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no Setup B";
        const std::wstring parent = place_.destination.substr(0, place_.destination.rfind(L'\\'));
        ::CreateDirectoryW(parent.c_str(), nullptr);
        ASSERT_TRUE(::CreateDirectoryW(place_.destination.c_str(), nullptr)) << "error " << ::GetLastError();
        ASSERT_TRUE(::CopyFileW(UI_SAMPLE_A_EXE, Exe().c_str(), FALSE));
        ::DeleteFileW(StartNotesPath().c_str());
    }
    void TearDown() override {
        if (setup_ != 0) EndProcess(setup_);
        InstallTest::TearDown();
    }

    std::wstring Exe() const { return place_.destination + L"\\Quentar.exe"; }

    DWORD setup_ = 0;
};

TEST_F(InPlaceUpdate, TheRunningApplicationIsReplacedByTheNewVersionWhichStartsAfterFinish) {
    ASSERT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_A);
    const Snapshot before = TakeSnapshot(place_);

    // The application runs, and is asked to update from the newer setup.
    ui::SetupProcess& application = Start(Exe(), {QUENTAR_SAMPLE_UPDATE_SWITCH + std::wstring(UI_SETUP_B_EXE)});
    ASSERT_TRUE(application.Started());
    const auto setup = WaitForChildProcess(application.Id(), L"Setup.exe");
    ASSERT_TRUE(setup) << "the application did not start the setup program";
    setup_ = *setup;
    auto wizard = Wizard::WaitFor(*setup, PageOrder(true));
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    EXPECT_EQ(wizard->CurrentPageId(), IDD_WELCOME_UPDATE);
    Screenshot("231-update-welcome");

    // The new executable is written beside the running one, chunk by chunk
    // along the progress bar, before the application is asked to close.
    // Watched through the screen and the files only: the setup program's
    // thread is busy and answers no messages.
    const std::wstring tmp = Exe() + L".tmp";
    ASSERT_TRUE(wizard->Next());
    HWND bar = nullptr;
    ASSERT_TRUE(ui::WaitUntil([&] { return (bar = FindProgressBar(wizard->Sheet())) != nullptr; }));
    std::set<int> fills;
    bool tmpSeenWhileRunning = false;
    ui::WaitUntil(
        [&] {
            fills.insert(ProgressFillPercent(bar));
            if (PathExists(tmp) && application.IsRunning()) tmpSeenWhileRunning = true;
            return !application.IsRunning();
        },
        ui::Duration{60000});
    EXPECT_TRUE(tmpSeenWhileRunning) << "Quentar.exe.tmp was not seen while the application ran";
    EXPECT_GT(fills.size(), 5u) << "the progress bar did not move along with the chunks";
    EXPECT_GE(*fills.rbegin(), 95) << "the progress bar did not reach its end";

    // The application was asked to close and did; the new executable took
    // its place, with the SDK and the companion files beside it.
    const auto code = application.WaitForExit(ui::Duration{10000});
    ASSERT_TRUE(code) << "the application was not closed";
    EXPECT_EQ(*code, 0u);
    ASSERT_TRUE(wizard->WaitForPage(IDD_DONE, ui::Duration{30000})) << "on page " << wizard->CurrentPageId();
    Screenshot("229-done");
    EXPECT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_B);
    EXPECT_FALSE(PathExists(tmp));

    // Finish starts the new executable, from its folder.
    EXPECT_TRUE(wizard->IsChecked(IDC_START_BOX));
    ASSERT_TRUE(wizard->Finish());
    ASSERT_TRUE(ui::WaitUntil([] { return SampleWindow(UI_SAMPLE_VERSION_B) != nullptr; }))
        << "version B is not running";
    EXPECT_EQ(ApplicationProcesses(Exe()), std::vector<DWORD>{ProcessOfWindow(SampleWindow(UI_SAMPLE_VERSION_B))});
    EXPECT_TRUE(ProcessEnds(setup_, 10000));
    const std::vector<StartNote> notes = StartNotes();
    ASSERT_EQ(notes.size(), 2u) << "two starts: the application asked to update, and the new one";
    EXPECT_EQ(notes[0].version, UI_SAMPLE_VERSION_A);
    EXPECT_EQ(notes[1].version, UI_SAMPLE_VERSION_B);
    EXPECT_EQ(Narrow(notes[1].path), Narrow(Exe()));
    EXPECT_EQ(Narrow(notes[1].directory), Narrow(place_.destination));

    // The executable changed and the SDK and companion files were added; no
    // key, shortcut or program folder was made.
    std::set<std::string> expected = {"changed: " + Narrow(Exe())};
    for (const char* name : {"AV2000SDK.dll", "help.pdf", "repo.jpg", "zorbel.dll", "zorbelreg.exe"}) {
        expected.insert("new: " + Narrow(place_.destination) + "\\" + name);
    }
    std::set<std::string> differences;
    for (const std::string& line : Lines(Differences(before, TakeSnapshot(place_)))) {
        differences.insert(line.substr(0, line.find(" (")));
    }
    EXPECT_EQ(differences, expected);
}

}  // namespace
}  // namespace ui_test
