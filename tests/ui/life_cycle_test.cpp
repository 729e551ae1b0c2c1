// The application's whole life on a machine, through the wizard and the
// system's own ways: version A installed with the wizard, with the Axis
// runtime packages, and started by the setup program at its end; updated to
// version B while it runs; removed by the command of its uninstall record, run
// as the system's list of programs runs it. Afterwards the destination, the
// program folder, the desktop shortcut and the uninstall records are as they
// were before the installation; the runtime packages stay installed, as
// products of their own.
#include <windows.h>
#include <msi.h>

#include <fstream>
#include <set>

#include "lifecycle_support.h"
#include "sample_runtime.h"
#include "sample_packages.h"
#include "ui_lifecycle_paths.h"
#include "ui_runtime_paths.h"

namespace ui_test {
namespace {

using ui::Wizard;

class LifeCycle : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no Setups A and B";
        RemoveSampleRuntime();
        ::DeleteFileW(StartNotesPath().c_str());
    }

    std::wstring Exe() const { return place_.destination + L"\\Quentar.exe"; }

    // The comparison, kept with the test's screenshots.
    void Keep(const std::string& name, const std::string& differences) {
        std::ofstream out(Narrow(ScreenshotFolder()) + "\\" + name + ".txt", std::ios::binary);
        out << (differences.empty() ? std::string("(no difference)\n") : differences);
    }

    // The command of the uninstall record whose "Folder" is the destination.
    std::wstring UninstallCommand() const {
        for (const auto& [name, values] : ReadUninstallKeys()) {
            const auto folder = values.find(L"Folder");
            const auto command = values.find(L"UninstallString");
            if (folder != values.end() && command != values.end() &&
                ::lstrcmpiW(SzText(folder->second).c_str(), place_.destination.c_str()) == 0) {
                return SzText(command->second);
            }
        }
        return std::wstring();
    }

    // A normal installation of version A with the application, the Arecont
    // and the Axis runtimes and a desktop shortcut; "Start Quentar on exit"
    // kept, Next to the runtime packages, after which the wizard ends by
    // itself.
    void InstallVersionA() {
        ui::SetupProcess& setup = StartSetup(UI_SETUP_A_EXE);
        ASSERT_TRUE(setup.Started());
        auto wizard = Wizard::WaitFor(setup.Id(), PageOrder(false));
        ASSERT_TRUE(wizard);
        WalkChoices choices;
        choices.axisRuntime = true;
        ASSERT_TRUE(WalkToProgress(*wizard, setup.Id(), choices));
        ASSERT_TRUE(wizard->WaitForPage(IDD_DONE, ui::Duration{60000})) << "on page " << wizard->CurrentPageId();
        EXPECT_TRUE(wizard->WaitForState(IDD_DONE, [&] { return wizard->IsChecked(IDC_START_BOX); }));
        Screenshot("229-installed");
        ASSERT_TRUE(wizard->Next(IDD_DONE));
        ASSERT_TRUE(wizard->WaitForPage(IDD_AXIS)) << "on page " << wizard->CurrentPageId();
        Screenshot("230-runtime-components");
        ASSERT_TRUE(setup.WaitForExit(ui::Duration{90000})) << "the setup program did not end";
        for (const SamplePackage& package : kSamplePackages) {
            EXPECT_EQ(::MsiQueryProductStateW(package.productCode), INSTALLSTATE_DEFAULT) << Narrow(package.entry);
        }
    }

    // Asks the running application, through a second start with the update
    // switch as a person would, to update from Setup B, and walks the update
    // to Finish, which starts the new version.
    void UpdateToVersionB(DWORD running) {
        ui::SetupProcess& request = Start(Exe(), {QUENTAR_SAMPLE_UPDATE_SWITCH + std::wstring(UI_SETUP_B_EXE)});
        ASSERT_TRUE(request.Started());
        const auto setup = WaitForChildProcess(running, L"Setup.exe");
        ASSERT_TRUE(setup) << "the running application did not start the setup program";
        EXPECT_TRUE(request.WaitForExit()) << "the second start handed the request over and ended";
        auto wizard = Wizard::WaitFor(*setup, PageOrder(true));
        ASSERT_TRUE(wizard);
        ASSERT_TRUE(WaitForLoaded(*wizard));
        Screenshot("231-update-welcome");
        ASSERT_TRUE(wizard->Next(IDD_WELCOME_UPDATE));
        EXPECT_TRUE(ProcessEnds(running, 60000)) << "the running version A was not closed";
        ASSERT_TRUE(wizard->WaitForPage(IDD_DONE, ui::Duration{60000})) << "on page " << wizard->CurrentPageId();
        Screenshot("229-updated");
        ASSERT_TRUE(wizard->Finish(IDD_DONE));
        EXPECT_TRUE(ProcessEnds(*setup, 20000));
    }
};

TEST_F(LifeCycle, InstallRunUpdateWhileRunningAndUninstallLeaveTheMachineAsBefore) {
    const Snapshot before = TakeSnapshot(place_);

    // Install version A; it is started at the end.
    InstallVersionA();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(ui::WaitUntil([] { return SampleWindow(UI_SAMPLE_VERSION_A) != nullptr; })) << "A is not running";
    const DWORD runningA = ProcessOfWindow(SampleWindow(UI_SAMPLE_VERSION_A));
    EXPECT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_A);
    const Snapshot installed = TakeSnapshot(place_);
    Keep("installed-against-before", Differences(before, installed));
    const std::wstring uninstallCommand = UninstallCommand();
    ASSERT_EQ(Narrow(uninstallCommand), Narrow(L"\"" + Exe() + L"\" /uninstall"));

    // Update it to B while it runs; B is started after Finish.
    UpdateToVersionB(runningA);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(ui::WaitUntil([] { return SampleWindow(UI_SAMPLE_VERSION_B) != nullptr; })) << "B is not running";
    EXPECT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_B);
    const Snapshot afterUpdate = TakeSnapshot(place_);
    const std::string updated = Differences(installed, afterUpdate);
    Keep("updated-against-installed", updated);
    // Only the executable and the record changed: no other key, shortcut or
    // file. The record tells version B, the size of what it lists and the
    // date of the update; its other values are as the installation wrote them.
    const std::vector<std::wstring> records = RecordsFor(place_.destination);
    ASSERT_EQ(records.size(), 1u);
    const std::vector<std::string> changes = Lines(updated);
    ASSERT_EQ(changes.size(), 2u) << updated;
    EXPECT_EQ(changes[0].rfind("changed: " + Narrow(Exe()) + " (", 0), 0u) << updated;
    EXPECT_EQ(changes[1], "key changed: " + Narrow(records[0])) << updated;
    const RegValues& recordA = installed.uninstallKeys.at(records[0]);
    const RegValues& recordB = afterUpdate.uninstallKeys.at(records[0]);
    std::vector<std::wstring> listed;
    for (const auto& [name, value] : recordA) {
        if (name == L"DisplayVersion" || name == L"EstimatedSize" || name == L"InstallDate") continue;
        EXPECT_TRUE(recordB.count(name) == 1 && recordB.at(name) == value) << Narrow(name) << " changed";
        if (name.rfind(L"File", 0) == 0 && name != L"Files") listed.push_back(SzText(value));
    }
    ExpectDeploymentValues(recordB, Exe(), listed);
    EXPECT_EQ(Narrow(SzText(recordB.at(L"DisplayVersion"))), Narrow(UI_SAMPLE_VERSION_B));
    const std::vector<StartNote> notes = StartNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].version, UI_SAMPLE_VERSION_A);
    EXPECT_EQ(notes[1].version, UI_SAMPLE_VERSION_B);
    EXPECT_EQ(Narrow(notes[1].path), Narrow(Exe()));

    // Uninstall with the record's command, as the system runs it, while B
    // still runs; the confirmation is answered as a person would.
    const DWORD runningB = ProcessOfWindow(SampleWindow(UI_SAMPLE_VERSION_B));
    std::wstring commandLine = uninstallCommand;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info))
        << "error " << ::GetLastError();
    const ui::ScopedHandle uninstaller(info.hProcess), thread(info.hThread);
    const auto confirmation = ui::FindMessageBox(info.dwProcessId);
    ASSERT_TRUE(confirmation) << "no confirmation was asked";
    EXPECT_NE(confirmation->Text().find(place_.destination), std::wstring::npos) << Narrow(confirmation->Text());
    ASSERT_TRUE(confirmation->Answer(IDYES));
    ASSERT_EQ(::WaitForSingleObject(uninstaller.Get(), 30000), WAIT_OBJECT_0) << "the uninstaller did not end";
    DWORD code = 255;
    ::GetExitCodeProcess(uninstaller.Get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(ProcessEnds(runningB, 10000)) << "the running version B was not closed";
    // The executable and its folder go once the uninstaller has ended.
    EXPECT_TRUE(ui::WaitUntil([&] { return !PathExists(place_.destination); }));

    // As before, but for the runtime packages' own registrations.
    const std::string left = Differences(before, TakeSnapshot(place_));
    Keep("uninstalled-against-before", left);
    std::set<std::string> expected;
    for (const SamplePackage& package : kSamplePackages) expected.insert("key new: " + Narrow(package.productCode));
    const std::vector<std::string> lines = Lines(left);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected) << left;
}

}  // namespace
}  // namespace ui_test
