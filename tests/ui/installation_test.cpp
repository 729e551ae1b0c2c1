// Whole installations through the real wizard, from the welcome page to the
// end of the program: what lands on the disk and in the registry, the
// progress bar on the screen, the finish page, the start of the installed
// application, and installing over an earlier installation, also while its
// Quentar.exe runs.
#include <algorithm>
#include <cwctype>
#include <set>

#include "install_support.h"
#include "state/setup_result.h"

namespace ui_test {
namespace {

using ui::Wizard;

const std::wstring kRestartQuestion =
    L"Note: Because some files used by Quentar are also used by other programs, a reboot is require to complete "
    L"installation.\nClick Yes to restart now. Click No to manually restart later.";

bool IsHex32(const std::wstring& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return std::iswxdigit(c) && !std::iswupper(c); });
}

// Files of `folder` named "<name>.<32 hexadecimal digits>": earlier files
// moved aside.
std::vector<std::wstring> MovedAside(const std::wstring& folder) {
    std::vector<std::wstring> found;
    for (const std::wstring& name : FolderEntries(folder)) {
        const size_t dot = name.rfind(L'.');
        if (dot != std::wstring::npos && IsHex32(name.substr(dot + 1))) found.push_back(folder + L"\\" + name);
    }
    return found;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::string TimeText(const FILETIME& t) {
    return std::to_string((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// The registry text form of a GUID: braces, upper-case digits, 8-4-4-4-12.
bool IsGuidKeyName(const std::wstring& name) {
    if (name.size() != 38 || name.front() != L'{' || name.back() != L'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? name[i] != L'-' : !(std::iswdigit(name[i]) || (name[i] >= L'A' && name[i] <= L'F'))) return false;
    }
    return true;
}

class Installation : public InstallTest {
protected:
    // Starts Setup.exe and walks to the progress page.
    std::optional<Wizard> InstallUpToProgress(const WalkChoices& choices) {
        ui::SetupProcess& process = StartSetup(UI_SETUP_EXE);
        if (!process.Started()) {
            ADD_FAILURE() << "Setup.exe did not start, error " << process.StartError();
            return std::nullopt;
        }
        auto wizard = Wizard::WaitFor(process.Id(), PageOrder(false));
        if (!wizard) {
            ADD_FAILURE() << "no wizard appeared";
            return std::nullopt;
        }
        if (!WalkToProgress(*wizard, process.Id(), choices)) return std::nullopt;
        return wizard;
    }

    // Waits for the finish page after the installation, failing with the
    // message of a box if one came instead.
    bool WaitForFinishPage(const Wizard& wizard) {
        const bool reached = ui::WaitUntil(
            [&] { return ui::FindMessageBox(Process().Id(), ui::Duration{0}) || wizard.CurrentPageId() == IDD_DONE; },
            ui::Duration{60000});
        if (const auto box = ui::FindMessageBox(Process().Id(), ui::Duration{0})) {
            ADD_FAILURE() << "the installation showed \"" << Narrow(box->Text()) << "\"";
            return false;
        }
        if (!reached) {
            ADD_FAILURE() << "the finish page did not appear; page " << wizard.CurrentPageId();
            return false;
        }
        // Settled: Finish, or Next when the runtime page follows, as the
        // page's own activation set them.
        if (!wizard.WaitForState(IDD_DONE, [&] {
                return wizard.IsEnabled(Wizard::kFinish) || wizard.IsEnabled(Wizard::kNext);
            })) {
            ADD_FAILURE() << "the finish page did not settle";
            return false;
        }
        return true;
    }

    // Every payload file in the destination with the payload's content, and
    // nothing else of the installation's there.
    void ExpectPayloadFilesInstalled() {
        std::set<std::wstring> expectedNames;
        for (const PayloadFile& file : InstalledPayloadFiles()) {
            SCOPED_TRACE(Narrow(file.name));
            const auto installed = ReadBytes(place_.destination + L"\\" + file.name);
            const auto source = ReadBytes(file.source);
            ASSERT_TRUE(source) << "sample file missing: " << Narrow(file.source);
            ASSERT_TRUE(installed) << "not installed";
            EXPECT_EQ(installed->size(), source->size());
            EXPECT_TRUE(*installed == *source) << "content differs from the payload's";
            expectedNames.insert(file.name);
        }
        for (const std::wstring& name : FolderEntries(place_.destination)) {
            if (name == L"notes.txt" || IsHex32(name.substr(name.rfind(L'.') + 1))) continue;
            EXPECT_TRUE(expectedNames.count(name)) << "unexpected file " << Narrow(name);
        }
    }

    // Read before anything else opens the file.
    void ExpectExecutableCarriesTheEntryTime() {
        const ui::ScopedHandle file(::CreateFileW((place_.destination + L"\\Quentar.exe").c_str(),
                                                  FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
        FILETIME created{}, accessed{}, written{};
        ASSERT_TRUE(::GetFileTime(file.Get(), &created, &accessed, &written));
        const FILETIME entry = PayloadFileTime();
        EXPECT_TRUE(SameTime(written, entry)) << TimeText(written) << " instead of " << TimeText(entry);
        EXPECT_TRUE(SameTime(accessed, entry)) << TimeText(accessed) << " instead of " << TimeText(entry);
    }

    std::vector<std::wstring> ExpectedShortcuts(bool desktop) const {
        std::vector<std::wstring> links = {place_.programFolder + L"\\Quentar.lnk",
                                           place_.programFolder + L"\\Uninstall Quentar.lnk"};
        if (desktop) links.push_back(place_.desktopLink);
        return links;
    }

    void ExpectShortcuts(bool desktop) {
        const std::wstring exe = place_.destination + L"\\Quentar.exe";
        std::vector<std::wstring> inFolder = FolderEntries(place_.programFolder);
        inFolder.erase(std::remove_if(inFolder.begin(), inFolder.end(),
                                      [](const std::wstring& n) { return IsHex32(n.substr(n.rfind(L'.') + 1)); }),
                       inFolder.end());
        EXPECT_EQ(inFolder, (std::vector<std::wstring>{L"Quentar.lnk", L"Uninstall Quentar.lnk"}));
        EXPECT_EQ(PathExists(place_.desktopLink), desktop);
        for (const std::wstring& file : ExpectedShortcuts(desktop)) {
            SCOPED_TRACE(Narrow(file));
            const bool uninstall = file.find(L"Uninstall") != std::wstring::npos;
            const LinkFacts link = ReadLink(file);
            ASSERT_TRUE(link.loaded);
            EXPECT_EQ(Narrow(link.path), Narrow(exe));
            EXPECT_EQ(Narrow(link.arguments), uninstall ? "/uninstall" : "");
            EXPECT_EQ(Narrow(link.workingDirectory), Narrow(place_.destination));
            EXPECT_EQ(Narrow(link.description), uninstall ? "Uninstall" : "Quentar");
            EXPECT_EQ(Narrow(link.iconPath), Narrow(exe));
            EXPECT_EQ(link.iconIndex, 0);
            EXPECT_EQ(link.hotkey, 0);
            EXPECT_EQ(link.showCommand, static_cast<DWORD>(SW_SHOWMAXIMIZED));
        }
    }

    // The one record of this destination, with every value.
    void ExpectRecord(bool desktop) {
        const std::vector<std::wstring> records = RecordsFor(place_.destination);
        ASSERT_EQ(records.size(), 1u) << "records of the destination";
        EXPECT_TRUE(IsGuidKeyName(records[0])) << Narrow(records[0]);
        const RegValues values = ReadUninstallKeys().at(records[0]);

        std::vector<std::wstring> files;
        for (const PayloadFile& file : InstalledPayloadFiles()) files.push_back(place_.destination + L"\\" + file.name);
        for (const std::wstring& link : ExpectedShortcuts(desktop)) files.push_back(link);

        const DWORD count = static_cast<DWORD>(files.size());
        RegValues expected = {
            {L"DisplayName", {REG_SZ, SzBytes(L"Quentar 2009")}},
            {L"Folder", {REG_SZ, SzBytes(place_.destination)}},
            {L"Path", {REG_SZ, SzBytes(place_.programFolder)}},
            {L"UninstallString", {REG_SZ, SzBytes(UninstallCommand(place_.destination + L"\\Quentar.exe"))}},
            {L"Files", {REG_DWORD, std::string(reinterpret_cast<const char*>(&count), sizeof count)}},
        };
        for (size_t i = 0; i < files.size(); ++i) expected[L"File" + std::to_wstring(i)] = {REG_SZ, SzBytes(files[i])};

        for (const auto& [name, value] : expected) {
            const auto it = values.find(name);
            if (it == values.end()) {
                ADD_FAILURE() << "value " << Narrow(name) << " missing";
                continue;
            }
            EXPECT_EQ(it->second.type, value.type) << Narrow(name);
            EXPECT_EQ(Narrow(SzText(it->second)), Narrow(SzText(value))) << Narrow(name);
            EXPECT_TRUE(it->second == value) << Narrow(name) << ": stored bytes differ";
        }
        ExpectDeploymentValues(values, place_.destination + L"\\Quentar.exe", files);
        const std::vector<std::wstring>& deployment = DeploymentValueNames();
        for (const auto& [name, value] : values) {
            EXPECT_TRUE(expected.count(name) ||
                        std::find(deployment.begin(), deployment.end(), name) != deployment.end())
                << "extra value " << Narrow(name);
        }
    }

    // Quentar started by the setup program from the destination, showing its
    // window.
    bool InstalledApplicationStarted() {
        std::vector<DWORD> started;
        for (const ui::ProcessInfo& p : StartedBySetup()) {
            if (_wcsicmp(p.exeName.c_str(), L"Quentar.exe") == 0) started.push_back(p.id);
        }
        if (started.size() != 1) return false;
        return ui::WaitUntil([&] {
            const std::vector<DWORD> shown = ApplicationProcesses(place_.destination + L"\\Quentar.exe");
            return std::find(shown.begin(), shown.end(), started[0]) != shown.end();
        });
    }

    // Starts the earlier installation's Quentar.exe into `running` and waits
    // for its window.
    static void RunEarlierApplication(const EarlierInstallation& earlier, std::optional<ui::SetupProcess>& running) {
        running.emplace(earlier.executable, std::vector<std::wstring>{});
        ASSERT_TRUE(running->Started()) << "the earlier Quentar.exe did not start, error " << running->StartError();
        ASSERT_TRUE(ui::WaitUntil([&] { return !ApplicationProcesses(earlier.executable).empty(); }))
            << "the earlier Quentar.exe shows no window";
    }

    // The installed application with " /uninstall", its path quoted so that
    // a path with blanks cannot be taken for a shorter program.
    static std::wstring UninstallCommand(const std::wstring& exe) { return L"\"" + exe + L"\" /uninstall"; }
};

TEST_F(Installation, FromWelcomeToFinishInstallsEverythingAndStartsQuentar) {
    auto wizard = InstallUpToProgress({/*desktopShortcut=*/true, /*axisRuntime=*/false});
    ASSERT_TRUE(wizard);

    // The bar as the screen shows it, sampled while the program is busy and
    // answers no messages, until it is full or gone. A sample taken as the
    // finish page replaces the progress page shows that page instead: only
    // the samples up to the fullest one count.
    const HWND bar = FindProgressBar(wizard->Sheet());
    std::vector<int> fills;
    bool picture = false;
    ui::WaitUntil(
        [&] {
            const int fill = ProgressFillPercent(bar);
            if (fill >= 0 && (fills.empty() || fills.back() != fill)) fills.push_back(fill);
            if (!picture && fill >= 30 && fill <= 70) {
                Screenshot("installing");
                picture = true;
            }
            return fill >= 100 || !::IsWindowVisible(bar) || ui::FindMessageBox(Process().Id(), ui::Duration{0});
        },
        ui::Duration{60000});
    ASSERT_TRUE(WaitForFinishPage(*wizard));
    Screenshot("finish-page");

    std::string seen;
    for (int fill : fills) seen += std::to_string(fill) + " ";
    RecordProperty("progress_fill_percent_seen", seen);
    const auto fullest = std::max_element(fills.begin(), fills.end());
    ASSERT_NE(fullest, fills.end()) << "the bar was never seen";
    EXPECT_TRUE(std::is_sorted(fills.begin(), fullest + 1)) << "the bar went back: " << seen;
    EXPECT_GE(fullest - fills.begin(), 10) << "the bar was seen at too few positions: " << seen;
    EXPECT_GE(*fullest, 95) << "the bar did not reach its end: " << seen;

    // The finish page: Finish only, its hint, the start box ticked.
    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->IsEnabled(Wizard::kFinish); }));
    EXPECT_TRUE(wizard->IsVisible(Wizard::kFinish));
    EXPECT_FALSE(wizard->IsVisible(Wizard::kNext));
    EXPECT_FALSE(wizard->IsEnabled(Wizard::kBack));
    EXPECT_TRUE(wizard->IsVisible(IDC_FINISH_HINT));
    EXPECT_FALSE(wizard->IsVisible(IDC_RUNTIME_HINT));
    EXPECT_EQ(Narrow(wizard->Text(IDC_FINISH_HINT)), "Click \"Finish\" to exit");
    EXPECT_TRUE(wizard->IsChecked(IDC_START_BOX));

    ExpectExecutableCarriesTheEntryTime();
    ExpectPayloadFilesInstalled();
    ExpectShortcuts(/*desktop=*/true);
    ExpectRecord(/*desktop=*/true);
    EXPECT_TRUE(MovedAside(place_.destination).empty()) << "nothing was there to move aside";

    ASSERT_TRUE(wizard->Finish(IDD_DONE));
    const std::optional<DWORD> exitCode = Process().WaitForExit();
    if (!exitCode) {
        const auto box = ui::FindMessageBox(Process().Id(), ui::Duration{0});
        FAIL() << "still running after Finish" << (box ? ", showing \"" + Narrow(box->Text()) + "\"" : "");
    }
    EXPECT_EQ(*exitCode, 0u);
    EXPECT_TRUE(InstalledApplicationStarted()) << "Quentar was not started from the destination";
}

TEST_F(Installation, WithTheAxisRuntimeChosenTheFinishPageLeadsOnAndNoDesktopShortcutIsMade) {
    auto wizard = InstallUpToProgress({/*desktopShortcut=*/false, /*axisRuntime=*/true});
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForFinishPage(*wizard));
    Screenshot("finish-page");

    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->IsEnabled(Wizard::kNext); }));
    EXPECT_FALSE(wizard->IsVisible(Wizard::kFinish));
    EXPECT_FALSE(wizard->IsEnabled(Wizard::kBack));
    EXPECT_TRUE(wizard->IsVisible(IDC_RUNTIME_HINT));
    EXPECT_FALSE(wizard->IsVisible(IDC_FINISH_HINT));
    EXPECT_EQ(Narrow(wizard->Text(IDC_RUNTIME_HINT)), "Click \"Next\" to install runtime components");

    ExpectShortcuts(/*desktop=*/false);
    ExpectRecord(/*desktop=*/false);

    // Next keeps the start request for the end of the wizard, which the
    // runtime page reaches by itself once its packages have run.
    ASSERT_TRUE(wizard->Next(IDD_DONE));
    EXPECT_TRUE(wizard->WaitForPage(IDD_AXIS)) << "page " << wizard->CurrentPageId();
    const std::optional<DWORD> exitCode = Process().WaitForExit(ui::Duration{90000});
    if (!exitCode) {
        const auto box = ui::FindMessageBox(Process().Id(), ui::Duration{0});
        FAIL() << "the wizard did not end after the runtime page"
               << (box ? ", showing \"" + Narrow(box->Text()) + "\"" : "");
    }
    EXPECT_EQ(*exitCode, 0u);
    EXPECT_TRUE(InstalledApplicationStarted()) << "the start request stored by Next was not kept";
}

// Over an earlier installation: its files and shortcuts are replaced and its
// record superseded; the files moved aside go at Finish, at once when nothing
// uses them, else at the next start of Windows after the restart question,
// answered No here.
struct EarlierCase {
    const char* name;
    bool running;        // the earlier Quentar.exe runs during the installation
    bool startQuentar;   // "Start Quentar on exit" left ticked
    bool readOnly;       // the earlier files are read-only
};

void PrintTo(const EarlierCase& c, std::ostream* os) { *os << c.name; }

class OverEarlierInstallation : public Installation, public ::testing::WithParamInterface<EarlierCase> {};

TEST_P(OverEarlierInstallation, ReplacesItAndDealsWithTheMovedFilesAtFinish) {
    const EarlierCase& c = GetParam();
    const EarlierInstallation earlier = MakeEarlierInstallation(place_);
    ASSERT_FALSE(HasFailure()) << "the earlier installation could not be made";
    const std::string userNotes = ReadBytes(place_.destination + L"\\notes.txt").value_or("");
    if (c.readOnly) {
        for (const wchar_t* name : {L"Quentar.exe", L"AV2000SDK.dll", L"help.pdf", L"repo.jpg"}) {
            ASSERT_TRUE(::SetFileAttributesW((place_.destination + L"\\" + name).c_str(), FILE_ATTRIBUTE_READONLY));
        }
    }

    std::optional<ui::SetupProcess> running;
    if (c.running) ASSERT_NO_FATAL_FAILURE(RunEarlierApplication(earlier, running));

    auto wizard = InstallUpToProgress({/*desktopShortcut=*/true, /*axisRuntime=*/false});
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForFinishPage(*wizard));

    ExpectPayloadFilesInstalled();
    ExpectShortcuts(/*desktop=*/true);
    ExpectRecord(/*desktop=*/true);
    EXPECT_EQ(RecordsFor(place_.destination).size(), 1u) << "the earlier record was not superseded";
    EXPECT_FALSE(ReadUninstallKeys().count(earlier.keyName)) << "the earlier record is still there";
    EXPECT_EQ(ReadBytes(place_.destination + L"\\notes.txt").value_or(""), userNotes);
    // Until Finish, the earlier files wait under temporary names: the three
    // that differ from the payload (repo.jpg is identical and stays as it
    // is) and the three shortcuts.
    const std::wstring desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    EXPECT_EQ(MovedAside(place_.destination).size(), 3u);
    EXPECT_EQ(MovedAside(place_.programFolder).size(), 2u);
    EXPECT_EQ(MovedAside(desktop).size(), 1u);
    const std::vector<std::wstring> asideExecutable = [&] {
        std::vector<std::wstring> found;
        for (const std::wstring& path : MovedAside(place_.destination)) {
            if (path.find(L"\\Quentar.exe.") != std::wstring::npos) found.push_back(path);
        }
        return found;
    }();
    ASSERT_EQ(asideExecutable.size(), 1u);
    if (!c.startQuentar) {
        ASSERT_TRUE(wizard->Click(IDD_DONE, IDC_START_BOX));
        ASSERT_TRUE(ui::WaitUntil([&] { return !wizard->IsChecked(IDC_START_BOX); }));
    }
    Screenshot("finish-page");

    ASSERT_TRUE(wizard->Finish(IDD_DONE));
    if (c.running) {
        const auto box = ui::FindMessageBox(Process().Id());
        ASSERT_TRUE(box) << "no restart question while the earlier Quentar.exe runs";
        EXPECT_TRUE(ui::WaitUntil([&] { return !box->Text().empty(); }));
        Screenshot("restart-question");
        EXPECT_EQ(Narrow(box->Text()), Narrow(kRestartQuestion));
        EXPECT_EQ(Narrow(box->Caption()), "Setup");
        EXPECT_EQ(box->Owner(), wizard->Sheet());
        EXPECT_TRUE(box->HasButton(IDYES));
        EXPECT_TRUE(box->HasButton(IDNO));
        ASSERT_TRUE(box->Answer(IDNO));
    }
    const std::optional<DWORD> exitCode = Process().WaitForExit();
    if (!exitCode) {
        const auto box = ui::FindMessageBox(Process().Id(), ui::Duration{0});
        FAIL() << "still running after Finish" << (box ? ", showing \"" + Narrow(box->Text()) + "\"" : "");
    }
    // A file left for the next start of Windows, and no restart: 3010.
    EXPECT_EQ(*exitCode, c.running ? quentar::kExitRestartNeeded : quentar::kExitInstalled);
    if (c.startQuentar) {
        EXPECT_TRUE(InstalledApplicationStarted()) << "Quentar was not started from the destination";
    } else {
        EXPECT_TRUE(StartedBySetup().empty()) << "something was started with the start box cleared";
    }

    // The files nothing used are gone; the executable in use waits for the
    // next start of Windows.
    const std::vector<std::wstring> pending = PendingDeletions();
    const auto scheduled = [&](const std::wstring& path) {
        return std::any_of(pending.begin(), pending.end(),
                           [&](const std::wstring& p) { return _wcsicmp(p.c_str(), path.c_str()) == 0; });
    };
    EXPECT_TRUE(MovedAside(place_.programFolder).empty());
    EXPECT_TRUE(MovedAside(desktop).empty());
    if (c.running) {
        EXPECT_EQ(MovedAside(place_.destination), asideExecutable);
        EXPECT_TRUE(scheduled(asideExecutable[0])) << "not scheduled: " << Narrow(asideExecutable[0]);
    } else {
        EXPECT_TRUE(MovedAside(place_.destination).empty());
        EXPECT_FALSE(scheduled(asideExecutable[0]));
    }
    if (running) running->Kill();
}

// After an installation over an earlier one, the wizard left from the
// finish page another way than Finish: the files moved aside go all the
// same, without the restart question; one still in use waits for the next
// start of Windows, and the exit code says so.
enum class Leave { Cancel, CloseBox, Escape };

struct LeaveCase {
    const char* name;
    Leave leave;
    bool running;  // the earlier Quentar.exe runs
};

void PrintTo(const LeaveCase& c, std::ostream* os) { *os << c.name; }

class LeftOnTheFinishPage : public Installation, public ::testing::WithParamInterface<LeaveCase> {
protected:
    // What a person does: the button, the close box, or Esc on the page.
    static bool LeaveBy(const Wizard& wizard, Leave how) {
        switch (how) {
            case Leave::Cancel:
                return wizard.Cancel(IDD_DONE);
            case Leave::CloseBox:
                return ::PostMessageW(wizard.Sheet(), WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE;
            case Leave::Escape: {
                GUITHREADINFO info{};
                info.cbSize = sizeof(info);
                ::GetGUIThreadInfo(::GetWindowThreadProcessId(wizard.Sheet(), nullptr), &info);
                const HWND target = info.hwndFocus != nullptr ? info.hwndFocus : wizard.Sheet();
                return ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001) != FALSE &&
                       ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001) != FALSE;
            }
        }
        return false;
    }
};

TEST_P(LeftOnTheFinishPage, LeavesNoMovedAsideFileBehind) {
    const LeaveCase& c = GetParam();
    const EarlierInstallation earlier = MakeEarlierInstallation(place_);
    ASSERT_FALSE(HasFailure()) << "the earlier installation could not be made";
    std::optional<ui::SetupProcess> running;
    if (c.running) ASSERT_NO_FATAL_FAILURE(RunEarlierApplication(earlier, running));

    auto wizard = InstallUpToProgress({/*desktopShortcut=*/true, /*axisRuntime=*/false});
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForFinishPage(*wizard));
    ASSERT_TRUE(ui::WaitUntil([&] { return wizard->IsEnabled(Wizard::kFinish); }));
    const std::wstring desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    const std::vector<std::wstring> aside = MovedAside(place_.destination);
    ASSERT_EQ(aside.size(), 3u) << "nothing to clear up";
    ASSERT_EQ(MovedAside(place_.programFolder).size(), 2u);

    ASSERT_TRUE(LeaveBy(*wizard, c.leave));
    const std::optional<DWORD> exitCode = Process().WaitForExit();
    if (!exitCode) {
        const auto box = ui::FindMessageBox(Process().Id(), ui::Duration{0});
        FAIL() << "still running" << (box ? ", showing \"" + Narrow(box->Text()) + "\"" : "");
    }
    EXPECT_EQ(*exitCode, c.running ? quentar::kExitRestartNeeded : quentar::kExitInstalled);
    // The start request is Finish's alone.
    EXPECT_TRUE(StartedBySetup().empty());

    EXPECT_TRUE(MovedAside(place_.programFolder).empty());
    EXPECT_TRUE(MovedAside(desktop).empty());
    const std::vector<std::wstring> left = MovedAside(place_.destination);
    const std::vector<std::wstring> pending = PendingDeletions();
    if (c.running) {
        ASSERT_EQ(left.size(), 1u);
        EXPECT_NE(left[0].find(L"\\Quentar.exe."), std::wstring::npos) << Narrow(left[0]);
        EXPECT_TRUE(std::any_of(pending.begin(), pending.end(),
                                [&](const std::wstring& p) { return _wcsicmp(p.c_str(), left[0].c_str()) == 0; }))
            << "not scheduled: " << Narrow(left[0]);
    } else {
        EXPECT_TRUE(left.empty()) << Narrow(left.front());
    }
    ExpectPayloadFilesInstalled();
    if (running) running->Kill();
}

const LeaveCase kLeaveCases[] = {
    {"Cancel", Leave::Cancel, false},
    {"CloseBoxWhileQuentarRuns", Leave::CloseBox, true},
    {"Escape", Leave::Escape, false},
};

INSTANTIATE_TEST_SUITE_P(Ways, LeftOnTheFinishPage, ::testing::ValuesIn(kLeaveCases),
                         [](const auto& info) { return std::string(info.param.name); });

const EarlierCase kEarlierCases[] = {
    {"NotRunningStartBoxCleared", false, false, false},
    {"ReadOnlyFiles", false, true, true},
    {"QuentarRunning", true, true, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, OverEarlierInstallation, ::testing::ValuesIn(kEarlierCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ui_test
