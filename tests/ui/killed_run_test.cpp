// Runs of the setup program that are killed, as a deployment tool kills one
// that runs past its time limit or a machine loses power: the lean setup
// with failures injected ends its own process abruptly (TerminateProcess, no
// clean-up) just before the n-th change it makes, for every change from the
// first to the last. After each kill the application is whole (the earlier
// one or the new one), and the same command run again leaves the machine
// exactly as a run that was never killed: no temporary or moved-aside name
// anywhere, no empty or extra uninstall key, no journal left.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <set>

#include "run_log_reader.h"
#include "state/setup_result.h"

namespace ui_test {
namespace {

// The exit code of a run that the fault-injecting build ended at a change.
constexpr DWORD kKilledExitCode = 77;

std::wstring JournalFolder() { return ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Quentar Setup\\Journal"; }

bool IsLowerHex(const std::wstring& text, size_t digits) {
    return text.size() == digits &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return std::iswxdigit(c) && !std::iswupper(c); });
}

// Names the installation makes beside a file: "<name>.<32 digits>" (moved
// aside) and "<name>.~<8 digits>" (written, not yet in place).
bool IsMadeUpName(const std::wstring& name) {
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    const std::wstring tail = name.substr(dot + 1);
    return IsLowerHex(tail, 32) || (tail.size() == 9 && tail[0] == L'~' && IsLowerHex(tail.substr(1), 8));
}

// The snapshot's uninstall keys with the names of GUID-named keys left out:
// every run names its record afresh. One text per key, its values included.
std::multiset<std::string> KeysByContent(const Snapshot& snapshot) {
    std::multiset<std::string> keys;
    for (const auto& [name, values] : snapshot.uninstallKeys) {
        std::string text = name.size() == 38 && name.front() == L'{' ? "{GUID}" : Narrow(name);
        for (const auto& [valueName, value] : values) {
            text += " | " + Narrow(valueName) + "=" + std::to_string(value.type) + ":" + Narrow(SzText(value));
        }
        keys.insert(text);
    }
    return keys;
}

// TakeSnapshot, with each shortcut's facts instead of its bytes: a shell
// link keeps the times its target had when it was saved, which differ from
// run to run.
Snapshot TakeComparableSnapshot(const InstallPlace& place) {
    Snapshot snapshot = TakeSnapshot(place);
    for (auto& [path, facts] : snapshot.files) {
        if (path.size() < 4 || _wcsicmp(path.c_str() + path.size() - 4, L".lnk") != 0) continue;
        const LinkFacts link = ReadLink(path);
        facts = link.loaded ? "link to " + Narrow(link.path) + " " + Narrow(link.arguments) + " in " +
                                  Narrow(link.workingDirectory) + ", " + Narrow(link.description) + ", icon " +
                                  Narrow(link.iconPath) + "," + std::to_string(link.iconIndex) + ", show " +
                                  std::to_string(link.showCommand)
                            : "unreadable link";
    }
    return snapshot;
}

std::string Compared(const Snapshot& expected, const Snapshot& actual) {
    Snapshot a = expected, b = actual;
    a.uninstallKeys.clear();
    b.uninstallKeys.clear();
    std::string differences = Differences(a, b);
    const std::multiset<std::string> keysA = KeysByContent(expected), keysB = KeysByContent(actual);
    for (const std::string& key : keysA) {
        if (keysB.count(key) < keysA.count(key)) differences += "key missing: " + key + "\n";
    }
    for (const std::string& key : keysB) {
        if (keysA.count(key) < keysB.count(key)) differences += "key extra: " + key + "\n";
    }
    return differences;
}

// The lean setup's runs, unattended as a deployment tool starts them, with
// its shortcuts for all users in "Quentar 2009".
class KilledRun : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        ForAllUsers(place_);
        log_ = FreshLogPath("killed-run");
        Prepare(false);
    }
    void TearDown() override {
        InstallTest::TearDown();
        CleanUp(place_);
        ::DeleteFileW(log_.c_str());
    }

    std::wstring Exe() const { return place_.destination + L"\\Quentar.exe"; }

    // The machine before a run: nothing of Quentar in the test's place, or
    // an earlier installation there; no journal.
    void Prepare(bool earlier) {
        CleanUp(place_);
        if (earlier) {
            MakeEarlierInstallation(place_);
            earlierExe_ = ReadBytes(Exe()).value_or("");
        }
    }

    // One unattended run of the lean setup, with `fault` injected; its exit
    // code, or nothing when it did not end.
    std::optional<DWORD> Run(const std::wstring& fault = L"") {
        ui::SetupProcess& process =
            StartSetup(UI_SETUP_LEAN_EXE, fault,
                       {L"/quiet", L"/log:" + log_, L"/dir:" + place_.destination, L"/components:app,arecont"});
        if (!process.Started()) {
            ADD_FAILURE() << "the lean setup did not start, error " << process.StartError();
            return std::nullopt;
        }
        return process.WaitForExit(ui::Duration{60000});
    }

    // What a person would find of the installation: files, shortcuts and
    // records, and the application itself.
    void ExpectNoLeftovers(const std::string& when) {
        const std::wstring desktop = place_.desktopLink.substr(0, place_.desktopLink.rfind(L'\\'));
        for (const std::wstring& folder : {place_.destination, place_.programFolder, desktop}) {
            for (const std::wstring& name : FolderEntries(folder)) {
                EXPECT_FALSE(IsMadeUpName(name)) << when << ": left " << Narrow(folder + L"\\" + name);
            }
        }
        EXPECT_TRUE(FolderEntries(JournalFolder()).empty()) << when << ": a journal is left";
    }

    // The application after a kill: the earlier one or the new one, whole;
    // none only between moving the earlier one aside and moving the new one
    // in, with the earlier one whole under its aside name.
    void ExpectApplicationWhole(const std::string& when, const std::string& fresh) {
        const std::optional<std::string> now = ReadBytes(Exe());
        if (now) {
            EXPECT_TRUE(*now == fresh || (!earlierExe_.empty() && *now == earlierExe_))
                << when << ": Quentar.exe is neither the earlier nor the new one (" << now->size() << " bytes)";
            return;
        }
        if (earlierExe_.empty()) return;
        int asideWhole = 0;
        for (const std::wstring& name : FolderEntries(place_.destination)) {
            if (name.rfind(L"Quentar.exe.", 0) == 0 && IsLowerHex(name.substr(12), 32) &&
                ReadBytes(place_.destination + L"\\" + name) == earlierExe_) {
                ++asideWhole;
            }
        }
        EXPECT_EQ(asideWhole, 1) << when << ": no Quentar.exe, and the earlier one is not whole beside it";
    }

    // The whole table: a clean run for reference, then a run killed before
    // each change in turn and the same command again, until a run makes no
    // more changes than were counted and ends by itself.
    void KillAtEveryChange(bool earlier) {
        const std::string fresh = ReadBytes(std::wstring(UI_LEAN_FILES) + L"\\Quentar.exe").value_or("");
        ASSERT_FALSE(fresh.empty());
        Prepare(earlier);
        const std::optional<DWORD> clean = Run();
        ASSERT_TRUE(clean) << "the clean run did not end";
        ASSERT_EQ(*clean, quentar::kExitInstalled);
        ASSERT_EQ(ReadBytes(Exe()).value_or(""), fresh);
        ExpectNoLeftovers("clean run");
        const Snapshot reference = TakeComparableSnapshot(place_);

        int killed = 0;
        for (int n = 1;; ++n) {
            const std::string when = "killed at change " + std::to_string(n);
            Prepare(earlier);
            const std::optional<DWORD> first = Run(L"Kill-at:" + std::to_wstring(n));
            ASSERT_TRUE(first) << when << ": the run did not end";
            if (*first != kKilledExitCode) {
                // Fewer changes than n: the run went through as the clean one.
                EXPECT_EQ(*first, quentar::kExitInstalled) << when;
                EXPECT_EQ(Compared(reference, TakeComparableSnapshot(place_)), "") << "a run that was not killed";
                break;
            }
            ++killed;
            ExpectApplicationWhole(when, fresh);
            const std::optional<DWORD> again = Run();
            ASSERT_TRUE(again) << when << ": the run after it did not end";
            EXPECT_EQ(*again, quentar::kExitInstalled) << when;
            EXPECT_EQ(Compared(reference, TakeComparableSnapshot(place_)), "") << when;
            ExpectNoLeftovers(when);
            if (HasFailure()) {
                Screenshot("killed-at-" + std::to_string(n));
                break;
            }
        }
        RecordProperty("changes_killed_at", killed);
        EXPECT_GT(killed, 0) << "no run was killed: the fault is not in force";
    }

    std::wstring log_;
    std::string earlierExe_;
};

// Killed half-way through an update of an earlier installation, and then the
// wizard started and cancelled on its welcome page: the earlier installation
// is back byte for byte, before the page has looked for it.
TEST_F(KilledRun, ThenTheWizardCancelledOnItsWelcomePageHasTakenItBack) {
    Prepare(/*earlier=*/true);
    const Snapshot before = TakeSnapshot(place_);
    // Past the application, the SDK and the manual; before the shortcuts.
    const std::optional<DWORD> killed = Run(L"Kill-at:16");
    ASSERT_TRUE(killed);
    ASSERT_EQ(*killed, kKilledExitCode);
    ASSERT_NE(Differences(before, TakeSnapshot(place_)), "") << "the killed run changed nothing";

    ui::SetupProcess& wizardRun = StartSetup(UI_SETUP_LEAN_EXE, L"", {L"/log:" + log_});
    ASSERT_TRUE(wizardRun.Started());
    auto wizard = ui::Wizard::WaitFor(wizardRun.Id(), PageOrder(false));
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(WaitForLoaded(*wizard));
    Screenshot("welcome");
    ASSERT_TRUE(wizard->Cancel(IDD_WELCOME));
    const std::optional<DWORD> exitCode = wizardRun.WaitForExit();
    ASSERT_TRUE(exitCode) << "the wizard did not end";
    EXPECT_EQ(*exitCode, quentar::kExitCancelled);

    EXPECT_EQ(Differences(before, TakeSnapshot(place_)), "");
    EXPECT_TRUE(FolderEntries(JournalFolder()).empty());
    const std::vector<std::string> lines = LinesOf(ReadLog(log_).value_or(std::vector<LogLine>{}), wizardRun.Id());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("did not complete: taking it back") != std::string::npos; }))
        << Joined(lines);
}

// A journal that cannot be read is logged and left as it is, and the run
// goes on.
TEST_F(KilledRun, ADamagedJournalIsLoggedAndLeftAndTheRunGoesOn) {
    // A run makes the journal folder as the program makes it.
    ASSERT_EQ(Run().value_or(1), quentar::kExitInstalled);
    Prepare(/*earlier=*/false);
    const std::wstring folder = JournalFolder();
    ASSERT_TRUE(PathExists(folder));
    const std::wstring damaged = folder + L"\\0000000000000001-00000001.journal";
    // A byte-order mark, then no whole line of the format.
    static const char kDamaged[] = "\xFF\xFE" "quentar-setup-journal\0\t\0" "1\0 damaged beyond reading";
    const std::string bytes(kDamaged, sizeof kDamaged - 1);
    ASSERT_TRUE(WriteBytes(damaged, bytes));

    const std::optional<DWORD> exitCode = Run();
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, quentar::kExitInstalled);
    EXPECT_TRUE(ReadBytes(Exe()).has_value()) << "nothing was installed";
    EXPECT_EQ(ReadBytes(damaged).value_or(""), bytes);
    const std::vector<std::string> lines = LinesOf(ReadLog(log_).value_or(std::vector<LogLine>{}), Process().Id());
    EXPECT_TRUE(HasLineStartingWith(lines, "recovery: the journal " + Utf8(damaged) + " cannot be read (line 1: "))
        << Joined(lines);
    EXPECT_TRUE(HasLineStartingWith(lines, "result: installed")) << Joined(lines);
}

TEST_F(KilledRun, AtEveryChangeOfAnUpdateOverAnEarlierInstallation) { KillAtEveryChange(/*earlier=*/true); }

TEST_F(KilledRun, AtEveryChangeOfAFreshInstallation) { KillAtEveryChange(/*earlier=*/false); }

}  // namespace
}  // namespace ui_test
