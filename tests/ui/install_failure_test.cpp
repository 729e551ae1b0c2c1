// Installations that fail, over an earlier installation: the message that
// explains the failure, then the wizard closes and the machine is as it was
// before the run: the new files, shortcuts, folders and record gone and every
// file of the earlier installation back, byte for byte.
//
// Failures that Wine produces are made for real (a file held open by another
// program, a folder where a file is to go); the others are injected into the
// fault-injecting test build of the setup program (fault_injection.cpp).
#include <functional>

#include "install_support.h"
#include "state/setup_result.h"

namespace ui_test {
namespace {

using ui::Wizard;

enum class Build { Shipped, Faults, NoApplication };

struct FailureCase {
    const char* name;
    Build build;
    const wchar_t* fault;  // QUENTAR_FAULT of the fault-injecting build
    // What the earlier installation is given before the run (see Prepare).
    enum class Condition { None, ExecutableLocked, SdkLocked, SdkIsAFolder } condition;
    // The message: a string-table text, or 264 for `file` with the system's
    // text for `error`.
    const wchar_t* text;
    const wchar_t* file;
    DWORD error;
};

constexpr wchar_t kAdminRequired[] = L"Administrator privileges are needed to install the software. Setup aborted.";
constexpr wchar_t kRecordFailed[] = L"Unable to create uninstall section. Setup aborted.";
constexpr wchar_t kNoApplication[] =
    L"This setup program does not contain the Quentar application. Setup aborted.";

using C = FailureCase::Condition;

const FailureCase kFailures[] = {
    // The uninstall key comes first: nothing is written before it.
    {"KeyCreationRefused", Build::Faults, L"RegCreateKeyExW", C::None, kAdminRequired, nullptr, 0},
    // The executable cannot be replaced: the earlier one is held open.
    {"ExecutableLocked", Build::Shipped, nullptr, C::ExecutableLocked, nullptr, L"Quentar.exe",
     ERROR_SHARING_VIOLATION},
    // The executable's writes fail: short (taken for a full disk), or refused.
    {"ExecutableShortWrite", Build::Faults, L"WriteFile-short:Quentar.exe", C::None, nullptr, L"Quentar.exe",
     ERROR_DISK_FULL},
    {"ExecutableDiskFullMidway", Build::Faults, L"WriteFile-full:Quentar.exe:50", C::None, nullptr, L"Quentar.exe",
     ERROR_DISK_FULL},
    // The SDK fails after the executable was written over the earlier one.
    {"SdkLocked", Build::Shipped, nullptr, C::SdkLocked, nullptr, L"AV2000SDK.dll", ERROR_SHARING_VIOLATION},
    {"SdkTargetIsAFolder", Build::Shipped, nullptr, C::SdkIsAFolder, nullptr, L"AV2000SDK.dll",
     ERROR_ACCESS_DENIED},
    {"SdkShortWrite", Build::Faults, L"WriteFile-short:AV2000SDK.dll", C::None, nullptr, L"AV2000SDK.dll",
     ERROR_DISK_FULL},
    // The record fails at its third file after everything else was made.
    {"ThirdFileValueRefused", Build::Faults, L"RegSetValueExW:File2", C::None, kRecordFailed, nullptr, 0},
    // A payload without the application cannot be installed at all.
    {"PayloadWithoutTheApplication", Build::NoApplication, nullptr, C::None, kNoApplication, nullptr, 0},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const wchar_t* ExeOf(Build build) {
    switch (build) {
        case Build::Faults:
            return UI_SETUP_FAULTS_EXE;
        case Build::NoApplication:
            return UI_SETUP_NO_APPLICATION_EXE;
        default:
            return UI_SETUP_EXE;
    }
}

class FailedInstallation : public InstallTest, public ::testing::WithParamInterface<FailureCase> {
protected:
    // Gives the earlier installation the case's condition, all but the locks.
    void Prepare(const FailureCase& c) {
        switch (c.condition) {
            case C::SdkIsAFolder: {
                const std::wstring folder = place_.destination + L"\\AV2000SDK.dll";
                ASSERT_TRUE(::DeleteFileW(folder.c_str()));
                ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
                ASSERT_TRUE(WriteBytes(folder + L"\\inside.txt", "a folder with the library's name\r\n"));
                break;
            }
            default:
                break;
        }
    }

    // Holds the case's file open without sharing, as another program may,
    // until ReleaseLocks. Taken after the snapshot: a file held so cannot be
    // read.
    void LockFor(const FailureCase& c) {
        if (c.condition == C::ExecutableLocked) Lock(place_.destination + L"\\Quentar.exe");
        if (c.condition == C::SdkLocked) Lock(place_.destination + L"\\AV2000SDK.dll");
    }

    void Lock(const std::wstring& path) {
        lock_.Reset(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(lock_.Get(), INVALID_HANDLE_VALUE) << "cannot hold " << Narrow(path);
    }

    void ReleaseLocks() { lock_.Reset(); }

    std::wstring ExpectedMessage(const FailureCase& c) const {
        if (c.text != nullptr) return c.text;
        return L"Unable to create file " + place_.destination + L"\\" + c.file + L"\n" + SystemText(c.error);
    }

    ui::ScopedHandle lock_;
};

TEST_P(FailedInstallation, ShowsWhyAndLeavesTheMachineAsItWas) {
    const FailureCase& c = GetParam();
    MakeEarlierInstallation(place_);
    Prepare(c);
    ASSERT_FALSE(HasFailure()) << "the earlier installation could not be prepared";
    const Snapshot before = TakeSnapshot(place_);
    ASSERT_FALSE(before.files.empty());
    LockFor(c);
    ASSERT_FALSE(HasFailure());

    ui::SetupProcess& process = StartSetup(ExeOf(c.build), c.fault != nullptr ? c.fault : L"");
    ASSERT_TRUE(process.Started()) << "error " << process.StartError();
    auto wizard = Wizard::WaitFor(process.Id(), PageOrder(false));
    ASSERT_TRUE(wizard) << "no wizard appeared (exit code "
                        << process.WaitForExit(ui::Duration{0}).value_or(STILL_ACTIVE) << ")";
    ASSERT_TRUE(WalkToProgress(*wizard, process.Id(), {/*desktopShortcut=*/true, /*axisRuntime=*/false}));

    const auto box = ui::FindMessageBox(process.Id(), ui::Duration{60000});
    ASSERT_TRUE(box) << "no message; the wizard is on page " << wizard->CurrentPageId();
    EXPECT_TRUE(ui::WaitUntil([&] { return !box->Text().empty(); }));
    Screenshot("message");
    EXPECT_EQ(Narrow(box->Text()), Narrow(ExpectedMessage(c)));
    EXPECT_EQ(Narrow(box->Caption()), "Setup");
    EXPECT_EQ(box->Owner(), wizard->Sheet());
    EXPECT_TRUE(box->HasButton(IDOK));
    ASSERT_TRUE(box->Answer(IDOK));

    // The wizard closes by itself, and nothing is started.
    const std::optional<DWORD> exitCode = process.WaitForExit();
    if (!exitCode) {
        const auto next = ui::FindMessageBox(process.Id(), ui::Duration{0});
        FAIL() << "still running after the failure" << (next ? ", showing \"" + Narrow(next->Text()) + "\"" : "");
    }
    EXPECT_EQ(*exitCode, quentar::kExitFailed) << "the exit code of an installation taken back";
    const std::vector<ui::ProcessInfo> started = StartedBySetup();
    EXPECT_TRUE(started.empty()) << "a failed installation started " << Narrow(started[0].exeName);

    ReleaseLocks();
    const Snapshot after = TakeSnapshot(place_);
    EXPECT_EQ(Differences(before, after), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedInstallation, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ui_test
