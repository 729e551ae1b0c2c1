// The in-place update as it happens on a machine: the running application,
// asked to update, starts the newer setup program, which writes the new
// executable beside the old one, closes the application, puts the new one in
// its place, and starts it after Finish; nothing of a normal installation
// (key, shortcuts, program folder) is made.
#include <set>

#include "lifecycle_support.h"
#include "state/setup_result.h"
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
        // Installed by an earlier run: only such an installation is updated.
        recordKey_ = WriteRecord(place_.destination, L"", {Exe()});
        ::DeleteFileW(StartNotesPath().c_str());
    }
    void TearDown() override {
        if (setup_ != 0) EndProcess(setup_);
        InstallTest::TearDown();
    }

    std::wstring Exe() const { return place_.destination + L"\\Quentar.exe"; }

    // Starts the application with the request to update from `setupExe` and
    // waits for the loaded welcome page of the setup program it starts.
    std::optional<Wizard> RequestUpdate(const std::wstring& setupExe) {
        ui::SetupProcess& application = Start(Exe(), {QUENTAR_SAMPLE_UPDATE_SWITCH + setupExe});
        if (!application.Started()) {
            ADD_FAILURE() << "the application did not start";
            return std::nullopt;
        }
        const auto setup = WaitForChildProcess(application.Id(), L"Setup.exe");
        if (!setup) {
            ADD_FAILURE() << "the application did not start the setup program";
            return std::nullopt;
        }
        setup_ = *setup;
        auto wizard = Wizard::WaitFor(*setup, PageOrder(true));
        if (!wizard || !WaitForLoaded(*wizard)) {
            ADD_FAILURE() << "the setup program's welcome page did not load";
            return std::nullopt;
        }
        return wizard;
    }

    DWORD setup_ = 0;
    std::wstring recordKey_;  // the earlier installation's record
};

TEST_F(InPlaceUpdate, TheRunningApplicationIsReplacedByTheNewVersionWhichStartsAfterFinish) {
    ASSERT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_A);
    const Snapshot before = TakeSnapshot(place_);

    // The application runs, and is asked to update from the newer setup.
    auto wizard = RequestUpdate(UI_SETUP_B_EXE);
    ASSERT_TRUE(wizard);
    ui::SetupProcess& application = Process();
    EXPECT_EQ(wizard->CurrentPageId(), IDD_WELCOME_UPDATE);
    Screenshot("231-update-welcome");

    // The new executable is written beside the running one, chunk by chunk
    // along the progress bar, before the application is asked to close.
    // Watched through the screen and the files only: the setup program's
    // thread is busy and answers no messages.
    const std::wstring tmp = Exe() + L".tmp";
    // Written whole under a temporary name of its own beside it first
    // ("Quentar.exe.tmp.~" and 8 hexadecimal digits), then moved onto
    // Quentar.exe.tmp, which the close request follows at once.
    const auto written = [&] {
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((tmp + L".~*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return PathExists(tmp);
        ::FindClose(search);
        return true;
    };
    ASSERT_TRUE(wizard->Next(IDD_WELCOME_UPDATE));
    HWND bar = nullptr;
    ASSERT_TRUE(ui::WaitUntil([&] { return (bar = FindProgressBar(wizard->Sheet())) != nullptr; }));
    std::set<int> fills;
    bool tmpSeenWhileRunning = false;
    ui::WaitUntil(
        [&] {
            fills.insert(ProgressFillPercent(bar));
            if (written() && application.IsRunning()) tmpSeenWhileRunning = true;
            return !application.IsRunning();
        },
        ui::Duration{60000});
    EXPECT_TRUE(tmpSeenWhileRunning) << "Quentar.exe.tmp was not seen being written while the application ran";
    EXPECT_GT(fills.size(), 5u) << "the progress bar did not move along with the chunks";
    EXPECT_GE(*fills.rbegin(), 95) << "the progress bar did not reach its end";

    // The application was asked to close and did; the new executable took
    // its place, with the SDK and the companion files beside it.
    const auto code = application.WaitForExit();
    ASSERT_TRUE(code) << "the application was not closed";
    EXPECT_EQ(*code, 0u);
    ASSERT_TRUE(wizard->WaitForPage(IDD_DONE)) << "on page " << wizard->CurrentPageId();
    Screenshot("229-done");
    EXPECT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_B);
    EXPECT_FALSE(PathExists(tmp));

    // Finish starts the new executable, from its folder.
    EXPECT_TRUE(wizard->WaitForState(IDD_DONE, [&] { return wizard->IsChecked(IDC_START_BOX); }));
    ASSERT_TRUE(wizard->Finish(IDD_DONE));
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

    // The executable changed and the SDK and companion files were added; the
    // record of the installation says so (its version, size and date); no
    // key, shortcut or program folder was made.
    std::set<std::string> expected = {"changed: " + Narrow(Exe()), "key changed: " + Narrow(recordKey_)};
    for (const char* name : {"AV2000SDK.dll", "help.pdf", "repo.jpg", "zorbel.dll", "zorbelreg.exe"}) {
        expected.insert("new: " + Narrow(place_.destination) + "\\" + name);
    }
    std::set<std::string> differences;
    for (const std::string& line : Lines(Differences(before, TakeSnapshot(place_)))) {
        differences.insert(line.substr(0, line.find(" (")));
    }
    EXPECT_EQ(differences, expected);
}

// Started with arguments that do not name the installed application (here a
// file of the installation that is not its executable), the wizard does not
// open: the user is told which path was refused, nothing changes and the run
// ends with 1603.
TEST_F(InPlaceUpdate, AnExecutableThatIsNotTheInstalledOneIsRefusedBeforeTheWizard) {
    const std::wstring named = place_.destination + L"\\help.pdf";
    ASSERT_TRUE(WriteBytes(named, "%PDF-1.4\n% the installation's help\n"));
    const Snapshot before = TakeSnapshot(place_);

    ui::SetupProcess& setup = StartSetup(UI_SETUP_B_EXE, L"", {L"/update:", L"/wh:0", L"/exe:" + named});
    ASSERT_TRUE(setup.Started());
    const auto box = ui::FindMessageBox(setup.Id(), ui::Duration{60000});
    ASSERT_TRUE(box) << "no message";
    Screenshot("refused");
    EXPECT_EQ(Narrow(box->Text()),
              Narrow(L"The update was refused:\n" + named + L"\nis not Quentar as installed by this setup program. "
                     L"Setup aborted."));
    EXPECT_EQ(Narrow(box->Caption()), "Setup");
    EXPECT_FALSE(ui::Wizard::WaitFor(setup.Id(), PageOrder(true), ui::Duration{0})) << "the wizard opened";
    ASSERT_TRUE(box->Answer(IDOK));
    EXPECT_EQ(setup.WaitForExit(), std::optional<DWORD>(quentar::kExitFailed));
    EXPECT_EQ(Differences(before, TakeSnapshot(place_)), "");
    EXPECT_TRUE(StartedBySetup().empty());
}

// When the update cannot complete, the user is told in the wizard and the
// setup program ends, leaving a working application behind: the installed
// one when the user stops waiting for it to close, or the new one beside its
// place when it cannot be moved there (the fault-injecting build of the
// setup program, which carries the default payload, makes both happen).
struct Box {
    std::wstring (*text)(const std::wstring& exe);
    int answer;
};

std::wstring StillRunning(const std::wstring& exe) {
    return L"Quentar is still running:\n" + exe +
           L"\n\nClose Quentar and click Retry to continue the update, or click Cancel to stop the update and keep "
           L"the installed version.";
}

std::wstring NotMoved(const std::wstring& exe) {
    const std::wstring tmp = exe + L".tmp";
    return L"Unable to move file " + tmp + L"\nto " + exe + L"\n" + SystemText(ERROR_ACCESS_DENIED) +
           L"\n\nThe new version of Quentar is kept as " + tmp + L". Rename it to " + exe +
           L" to complete the update.";
}

struct FailureCase {
    const char* name;
    const wchar_t* fault;
    bool holdOldExecutable;  // the old executable stays in use after the application has closed
    std::vector<Box> boxes;
    bool newExecutableKept;  // at Quentar.exe.tmp; else the installed one stays at Quentar.exe
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class InPlaceUpdateFailure : public InPlaceUpdate, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InPlaceUpdateFailure, TellsTheUserAndLeavesAWorkingApplication) {
    const FailureCase& c = GetParam();
    const std::optional<std::string> installed = ReadBytes(Exe());
    ASSERT_TRUE(installed);
    ui::ScopedHandle held;
    if (c.holdOldExecutable) {
        held.Reset(::CreateFileW(Exe().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(held.Get(), INVALID_HANDLE_VALUE);
    }
    // The setup program that the application starts inherits the fault.
    ::SetEnvironmentVariableW(L"QUENTAR_FAULT", c.fault);
    auto wizard = RequestUpdate(UI_SETUP_FAULTS_EXE);
    ::SetEnvironmentVariableW(L"QUENTAR_FAULT", nullptr);
    ASSERT_TRUE(wizard);
    ui::SetupProcess& application = Process();
    ASSERT_TRUE(wizard->Next(IDD_WELCOME_UPDATE));

    for (const Box& expected : c.boxes) {
        const auto box = ui::FindMessageBox(setup_, ui::Duration{60000});
        ASSERT_TRUE(box) << "no box; expected \"" << Narrow(expected.text(Exe())) << "\"";
        EXPECT_EQ(Narrow(box->Text()), Narrow(expected.text(Exe())));
        // The picture once the box has had time to paint its text.
        ui::WaitUntil([] { return false; }, ui::Duration{300});
        Screenshot(std::string("box-") + std::to_string(expected.answer));
        EXPECT_EQ(Narrow(box->Caption()), "Setup");
        EXPECT_TRUE(box->HasButton(expected.answer));
        ASSERT_TRUE(box->Answer(expected.answer));
        ASSERT_TRUE(ui::WaitUntil([&] { return !::IsWindow(box->Window()); }));
    }
    EXPECT_TRUE(ProcessEnds(setup_, 30000)) << "the setup program did not end";
    EXPECT_TRUE(application.WaitForExit()) << "the application was not asked to close";
    held.Reset();

    if (c.newExecutableKept) {
        EXPECT_FALSE(PathExists(Exe()));
        EXPECT_EQ(ReadBytes(Exe() + L".tmp"), ReadBytes(std::wstring(UI_SAMPLE_FILES) + L"\\QuentarSample.exe"));
    } else {
        EXPECT_FALSE(PathExists(Exe() + L".tmp"));
        EXPECT_EQ(ReadBytes(Exe()), installed);
    }
    // Nothing was started after the failed update.
    EXPECT_EQ(StartNotes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, InPlaceUpdateFailure,
    ::testing::Values(
        // The old executable stays in use; the minute passes quickly. Retry
        // waits another minute, Cancel stops the update.
        FailureCase{"GivenUpAfterWaitingTwice", L"GetTickCount-fast", true,
                    {{&StillRunning, IDRETRY}, {&StillRunning, IDCANCEL}}, false},
        // The old executable is gone, the new one cannot take its place.
        FailureCase{"NewExecutableCannotBeMoved", L"MoveFileW:Quentar.exe", false, {{&NotMoved, IDOK}}, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ui_test
