// Unattended runs ("/quiet") as a deployment tool starts them: no window of
// the setup program ever appears, the exit code tells the outcome and the
// log tells the rest. What lands on the disk and in the registry is read
// back as the system and other programs read it (reg.exe, shell links, the
// Windows Installer's product list).
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <functional>
#include <set>
#include <utility>

#include "axis_runtime.h"
#include "destination_forms.h"
#include "lifecycle_support.h"
#include "redist_exit_code.h"
#include "run_log_reader.h"
#include "sample_runtime.h"
#include "sample_packages.h"
#include "state/fatal_error.h"
#include "state/setup_result.h"
#include "ui_lifecycle_paths.h"
#include "ui_runtime_paths.h"
#include "tests/common/unix_side.h"

namespace ui_test {
namespace {

constexpr wchar_t kRestartQuestion[] =
    L"Note: Because some files used by Quentar are also used by other programs, a reboot is require to complete "
    L"installation.\nClick Yes to restart now. Click No to manually restart later.";

std::string LogText(const std::wstring& text) {
    std::wstring line = text;
    std::replace(line.begin(), line.end(), L'\n', L' ');
    return Utf8(line);
}

// What one unattended run showed and left.
struct QuietRun {
    std::optional<DWORD> exitCode;  // none: still running after the watchdog
    bool windowSeen = false;
    std::vector<std::string> log;   // the run's own lines
};

// The restarting sample product, which the runtime's removal does not know,
// removed through the Windows Installer (it asks for a restart again as it
// goes, which is not done).
void RemoveRestartingSample() {
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    if (::MsiQueryProductStateW(kRestartingSamplePackage.productCode) != INSTALLSTATE_DEFAULT) return;
    const UINT removed =
        ::MsiConfigureProductW(kRestartingSamplePackage.productCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    EXPECT_TRUE(removed == ERROR_SUCCESS || removed == ERROR_SUCCESS_REBOOT_REQUIRED) << removed;
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

// The temporary folder the setup program sees (it inherits this process's
// environment); ends with a backslash.
std::wstring TempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    return std::wstring(folder, length <= MAX_PATH ? length : 0);
}

// What reg.exe prints for one value of HKLM\<key>, or empty.
std::string RegQuery(const std::wstring& key, const std::wstring& value) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return std::string();
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring command = L"reg.exe query \"HKLM\\" + key + L"\" /v " + value;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                          nullptr, &startup, &process);
    ::CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD read = 0;
        while (::ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
        ::WaitForSingleObject(process.hProcess, 10000);
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    }
    ::CloseHandle(readEnd);
    return output;
}

std::wstring ToLower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// How many of the Axis runtime's parts the detection looks for are there:
// the media control's COM class (registered to a server that exists; the
// setup program's own detection creates it, which would keep the server
// loaded here) and the decoders' three DMOs.
int AxisRuntimeParts() {
    int parts = 0;
    const std::optional<RegValues> server = ReadKeyValues(
        L"Software\\Classes\\CLSID\\" + test_registry::GuidString(AxisRuntime::kClass) + L"\\InprocServer32");
    if (server && server->count(L"") == 1 && PathExists(SzText(server->at(L"")))) ++parts;
    for (const CLSID& dmo : AxisRuntime::kDmos) {
        WCHAR name[80];
        if (SUCCEEDED(::DMOGetName(dmo, name))) ++parts;
    }
    return parts;
}

// An unattended installation puts its shortcuts into the Start menu and onto
// the desktop of all users, in the program folder "Quentar 2009": the test's
// place says so, so that its snapshots and its clean-up cover them.
class Unattended : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        ForAllUsers(place_);
        CleanUp(place_);
        log_ = FreshLogPath("unattended");
    }
    void TearDown() override {
        InstallTest::TearDown();
        ::DeleteFileW(log_.c_str());
    }

    std::wstring Exe() const { return place_.destination + L"\\Quentar.exe"; }

    // Starts `exe` with "/quiet", "/log:" and `args`, watches for a window of
    // it until it ends, and reads its lines of the log.
    QuietRun RunQuiet(const std::wstring& exe, std::vector<std::wstring> args, const std::wstring& fault = L"",
                      ui::Duration timeout = ui::Duration{120000}) {
        args.insert(args.begin(), {L"/quiet", L"/log:" + log_});
        return Watch(StartSetup(exe, fault, args), timeout);
    }

    // Starts `exe` with `arguments` written as a person types them (they
    // name the log themselves), and watches it as RunQuiet does.
    QuietRun RunVerbatim(const std::wstring& exe, const std::wstring& arguments, const std::wstring& fault) {
        ::SetEnvironmentVariableW(L"QUENTAR_FAULT", fault.empty() ? nullptr : fault.c_str());
        ui::SetupProcess& process = StartVerbatim(exe, arguments);
        ::SetEnvironmentVariableW(L"QUENTAR_FAULT", nullptr);
        return Watch(process, ui::Duration{120000});
    }

    // Watches for a window of `process` until it ends, and reads its lines of
    // the log.
    QuietRun Watch(ui::SetupProcess& process, ui::Duration timeout) {
        QuietRun run;
        if (!process.Started()) {
            ADD_FAILURE() << "the setup program did not start, error " << process.StartError();
            return run;
        }
        ui::WaitUntil(
            [&] {
                run.windowSeen = run.windowSeen || !ui::TopLevelWindows(process.Id()).empty();
                run.exitCode = process.WaitForExit(ui::Duration{5});
                return run.exitCode.has_value();
            },
            timeout);
        if (run.windowSeen) Screenshot("window-seen");
        if (const auto lines = ReadLog(log_)) run.log = LinesOf(*lines, process.Id());
        return run;
    }

    // The log's last line: the result and the exit code.
    static void ExpectEnd(const QuietRun& run, const std::string& result, DWORD code) {
        ASSERT_FALSE(run.log.empty()) << "the run wrote no log";
        EXPECT_EQ(run.log.back(), "result: " + result + "; exit code " + std::to_string(code)) << Joined(run.log);
    }

    // The premise of a test of what the wizard would propose: no record of
    // Quentar on the machine.
    static void ExpectNoQuentarInstalled() {
        for (const auto& [name, values] : ReadUninstallKeys()) {
            const auto it = values.find(L"DisplayName");
            ASSERT_FALSE(it != values.end() && _wcsnicmp(SzText(it->second).c_str(), L"Quentar", 7) == 0)
                << "Quentar is installed already: " << Narrow(name);
        }
    }

    std::wstring log_;
};

TEST_F(Unattended, InstallsWhatTheWizardWouldProposeWithoutAnyWindowAndLogsEveryFile) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no runtime packages";
    RemoveSampleRuntime();
    // A machine without Quentar and without the Axis runtime: the wizard
    // would propose everything. The destination does not exist yet.
    ASSERT_FALSE(PathExists(place_.destination));
    ASSERT_NO_FATAL_FAILURE(ExpectNoQuentarInstalled());
    const QuietRun run = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination});
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitInstalled) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";

    // Every file, with the payload's content.
    std::vector<std::wstring> recorded;
    for (const PayloadFile& file : InstalledPayloadFiles()) {
        const std::wstring path = place_.destination + L"\\" + file.name;
        SCOPED_TRACE(Narrow(path));
        const auto installed = ReadBytes(path);
        ASSERT_TRUE(installed) << "not installed";
        EXPECT_TRUE(installed == ReadBytes(file.source)) << "content differs from the payload's";
        EXPECT_TRUE(HasLineStartingWith(run.log, "written: " + Utf8(path) + " (" + std::to_string(installed->size()) +
                                                     " bytes"))
            << Joined(run.log);
        recorded.push_back(path);
    }

    // The shortcuts, for all users.
    const std::vector<std::pair<std::wstring, std::wstring>> links = {
        {place_.programFolder + L"\\Quentar.lnk", L""},
        {place_.programFolder + L"\\Uninstall Quentar.lnk", L"/uninstall"},
        {place_.desktopLink, L""}};
    for (const auto& [file, arguments] : links) {
        SCOPED_TRACE(Narrow(file));
        const LinkFacts link = ReadLink(file);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(Narrow(link.path), Narrow(Exe()));
        EXPECT_EQ(Narrow(link.arguments), Narrow(arguments));
        EXPECT_EQ(Narrow(link.workingDirectory), Narrow(place_.destination));
        EXPECT_TRUE(HasLine(run.log, "shortcut written: " + Utf8(file))) << Joined(run.log);
        recorded.push_back(file);
    }

    // The record, with what deployment tools read, also through reg.exe.
    const std::vector<std::wstring> records = RecordsFor(place_.destination);
    ASSERT_EQ(records.size(), 1u);
    const RegValues values = ReadUninstallKeys().at(records[0]);
    EXPECT_EQ(Narrow(SzText(values.at(L"DisplayName"))), "Quentar 2009");
    EXPECT_EQ(Narrow(SzText(values.at(L"Path"))), Narrow(place_.programFolder));
    for (size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(Narrow(SzText(values.at(L"File" + std::to_wstring(i)))), Narrow(recorded[i]));
    }
    ExpectDeploymentValues(values, Exe(), recorded);
    const std::wstring key = std::wstring(kUninstallRoot) + L"\\" + records[0];
    const std::string shown = RegQuery(key, L"DisplayVersion");
    EXPECT_NE(shown.find("REG_SZ    " + Utf8(FileVersionText(Exe()))), std::string::npos) << shown;
    EXPECT_TRUE(HasLine(run.log, "uninstall record written: HKLM\\" + Utf8(key) + ", " +
                                     std::to_string(values.size()) + " values"))
        << Joined(run.log);

    // The Axis runtime's packages ran without a window of their own and
    // installed their products.
    for (const SamplePackage& package : kSamplePackages) {
        EXPECT_EQ(::MsiQueryProductStateW(package.productCode), INSTALLSTATE_DEFAULT) << Narrow(package.entry);
        EXPECT_TRUE(HasLine(run.log, "runtime package " + Utf8(package.entry) + " ended with exit code 0"))
            << Joined(run.log);
    }
    // Nobody is there to use the application: it is not started.
    EXPECT_TRUE(ApplicationProcesses(Exe()).empty());
    ExpectEnd(run, "installed", 0);

    // The packages registered what the detection looks for, so the same
    // setup run again finds everything installed and does nothing.
    EXPECT_EQ(AxisRuntimeParts(), 4) << "the media control's class and the three decoders";
    const Snapshot installed = TakeSnapshot(place_);
    const QuietRun second = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination});
    ASSERT_TRUE(second.exitCode) << "still running";
    EXPECT_EQ(*second.exitCode, quentar::kExitInstalled) << Joined(second.log);
    EXPECT_FALSE(second.windowSeen) << "a window of the setup program appeared";
    EXPECT_TRUE(HasLine(second.log, "the Axis runtime is installed")) << Joined(second.log);
    EXPECT_TRUE(HasLine(second.log, "nothing to install")) << Joined(second.log);
    EXPECT_FALSE(HasLineStartingWith(second.log, "runtime package ")) << Joined(second.log);
    EXPECT_EQ(Differences(installed, TakeSnapshot(place_)), "");

    // Each package's own uninstallation takes its registration back.
    RemoveSampleRuntime();
    EXPECT_EQ(AxisRuntimeParts(), 0);
}

// A runtime package that installed and needs a restart of Windows to finish
// (3010), or has started one (1641), does not stop the packages after it; the
// run ends with 3010 and Windows is not restarted.
class RestartingPackageUnattended : public Unattended, public ::testing::WithParamInterface<DWORD> {};

TEST_P(RestartingPackageUnattended, ARuntimePackageAskingForARestartGives3010) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no runtime packages";
    RemoveSampleRuntime();
    const DWORD packageExit = GetParam();
    const RedistExitCode redistExit(packageExit);
    ASSERT_TRUE(redistExit.Written());
    const QuietRun run = RunQuiet(UI_SETUP_EXE, {L"/components:axis"});
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitRestartNeeded) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";
    EXPECT_TRUE(HasLine(run.log, "runtime package AXISMediaControlSDK_redist.exe ended with exit code " +
                                     std::to_string(packageExit)))
        << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, "runtime package AXISMediaControlSDK_redist.exe needs a restart of Windows to finish"))
        << Joined(run.log);
    for (const SamplePackage& package : kSamplePackages) {
        EXPECT_EQ(::MsiQueryProductStateW(package.productCode), INSTALLSTATE_DEFAULT) << Narrow(package.entry);
    }
    ExpectEnd(run, "installed; a restart of Windows is needed to finish", quentar::kExitRestartNeeded);
    RemoveSampleRuntime();
}

INSTANTIATE_TEST_SUITE_P(PackageExit, RestartingPackageUnattended,
                         ::testing::Values(ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS_REBOOT_INITIATED),
                         [](const auto& info) { return "ExitCode" + std::to_string(info.param); });

// Unattended, each Windows Installer package is run by the system's msiexec
// with "/qn /norestart", as the log shows: no window, and no restart of
// Windows even for a package that asks for one; that package ends with 3010,
// and so does the run.
TEST_F(Unattended, InstallerPackagesRunWithoutWindowOrRestartAndOneAskingForARestartGives3010) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no runtime packages";
    RemoveSampleRuntime();
    RemoveRestartingSample();
    // A program of the session, which a restart of Windows would end.
    ui::SetupProcess bystander(SystemFolder() + L"\\notepad.exe", {});
    ASSERT_TRUE(bystander.Started());
    ASSERT_TRUE(ui::WaitUntil([&] { return !ui::TopLevelWindows(bystander.Id()).empty(); }));

    const QuietRun run = RunQuiet(UI_SETUP_RESTARTING_PACKAGE_EXE, {L"/components:axis"});
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitRestartNeeded) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";

    const std::string msiexec = Utf8(SystemFolder() + L"\\msiexec.exe");
    for (const SamplePackage& package : {kSamplePackages[0], kSamplePackages[1], kRestartingSamplePackage}) {
        SCOPED_TRACE(Narrow(package.entry));
        // "runtime package <entry> started from <copy> by <msiexec> /i "<copy>" /qn /norestart"
        const std::string started = "runtime package " + Utf8(package.entry) + " started from ";
        const auto line = std::find_if(run.log.begin(), run.log.end(),
                                       [&](const std::string& l) { return l.rfind(started, 0) == 0; });
        ASSERT_NE(line, run.log.end()) << Joined(run.log);
        const std::string copy = line->substr(started.size(), line->find(" by ") - started.size());
        EXPECT_EQ(copy.rfind(Utf8(TempFolder()), 0), 0u) << copy;
        EXPECT_EQ(*line, started + copy + " by " + msiexec + " /i \"" + copy + "\" /qn /norestart");
        EXPECT_EQ(::MsiQueryProductStateW(package.productCode), INSTALLSTATE_DEFAULT);
    }
    const std::string restarting = "runtime package " + Utf8(kRestartingSamplePackage.entry);
    EXPECT_TRUE(HasLine(run.log, restarting + " ended with exit code 3010")) << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, restarting + " needs a restart of Windows to finish")) << Joined(run.log);
    EXPECT_TRUE(bystander.IsRunning()) << "the session's programs were ended: Windows was restarted";
    ExpectEnd(run, "installed; a restart of Windows is needed to finish", quentar::kExitRestartNeeded);
    RemoveSampleRuntime();
    RemoveRestartingSample();
}

// Unattended, a package the shell cannot start is logged and skipped without
// a box of the shell's (nobody would answer it), a package whose installer
// fails is logged with its exit code, and the run ends by itself.
TEST_F(Unattended, FailingPackagesAreLoggedAndSkippedWithoutAWindow) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no runtime packages";
    RemoveSampleRuntime();
    // A run that waits for an answer never ends: RunQuiet's watchdog tells.
    const QuietRun run = RunQuiet(UI_SETUP_FAILING_PACKAGES_EXE, {L"/components:axis"});
    EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";
    ASSERT_TRUE(run.exitCode) << "the run did not end by itself";
    EXPECT_EQ(*run.exitCode, quentar::kExitInstalled) << Joined(run.log);
    EXPECT_TRUE(HasLineStartingWith(run.log, "runtime package AXISMediaControlSDK_redist.exe could not be started: "
                                             "error "))
        << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, "runtime package AxisH264DecoderSetup.msi ended with exit code 1603"))
        << Joined(run.log);
    // The packages after each failure ran.
    EXPECT_EQ(::MsiQueryProductStateW(kSamplePackages[0].productCode), INSTALLSTATE_DEFAULT);
    EXPECT_NE(::MsiQueryProductStateW(kRefusingSamplePackage.productCode), INSTALLSTATE_DEFAULT);
    EXPECT_EQ(::MsiQueryProductStateW(kSamplePackages[2].productCode), INSTALLSTATE_DEFAULT);
    ExpectEnd(run, "installed", quentar::kExitInstalled);
    RemoveSampleRuntime();
}

// A runtime package that never ends does not hold an unattended run: after
// "/packagetimeout:" (a minute here, on the fault-injecting build's fast
// clock) it is left running and the run ends with 1603, its single-run mutex
// released. (That the next package still follows is seen in-process, where
// the clock is the test's: here a real package would be timed out too.)
TEST_F(Unattended, APackageThatNeverEndsIsLeftAfterTheTimeoutAndTheRunFails) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no runtime packages";
    const QuietRun run = RunQuiet(UI_SETUP_NEVER_ENDING_PACKAGE_EXE, {L"/components:axis", L"/packagetimeout:1"},
                                  L"GetTickCount-fast");
    const std::vector<ui::ProcessInfo> started = StartedBySetup();
    for (const ui::ProcessInfo& p : started) EndProcess(p.id);
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitFailed) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen);
    EXPECT_TRUE(HasLine(run.log, "runtime package AXISMediaControlSDK_redist.exe is still running after 1 minutes: "
                                 "left running, the run fails"))
        << Joined(run.log);
    ExpectEnd(run, "the installation failed and was taken back", quentar::kExitFailed);
    // The package was still running when the run ended.
    bool packageLeft = false;
    for (const ui::ProcessInfo& p : started) packageLeft = packageLeft || p.exeName == L"AXISMediaControlSDK_redist.exe";
    EXPECT_TRUE(packageLeft) << "the package did not outlive the run";

    // Nobody holds the mutex: the next setup may run.
    const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\Quentar Setup");
    EXPECT_EQ(mutex, nullptr) << "the mutex is still held";
    if (mutex != nullptr) ::CloseHandle(mutex);
}

// A Setup.exe whose payload was changed after the build (one byte of it, or
// the SHA-256 stored beside it, or that SHA-256 taken out), or whose payload
// cannot be decoded, installs nothing when nobody watches either: no window,
// the fatal error in the log, exit code 2, the machine as before.
TEST_F(Unattended, TamperedPayloadInstallsNothingAndEndsWithTheFatalError) {
    // The box would say only "Unexpected error 1"; the log says which check
    // failed and what to do.
    const std::string differs =
        "cause of the fatal error: the payload differs from the SHA-256 stored with it: this Setup.exe is damaged or "
        "was changed after it was built; download it again";
    const struct {
        const wchar_t* exe;
        std::string cause;  // the start of the line
    } cases[] = {
        {UI_SETUP_TAMPERED_EXE, differs},
        {UI_SETUP_WRONG_DIGEST_EXE, differs},
        {UI_SETUP_NO_DIGEST_EXE,
         "cause of the fatal error: the SHA-256 of the payload (resource RCDATA 103) is missing: this Setup.exe is "
         "damaged or was changed after it was built; download it again"},
        {UI_SETUP_CORRUPT_EXE, "cause of the fatal error: the payload cannot be decoded: "},
    };
    for (const auto& [exe, cause] : cases) {
        SCOPED_TRACE(Narrow(exe));
        const Snapshot before = TakeSnapshot(place_);
        const QuietRun run = RunQuiet(exe, {L"/dir:" + place_.destination, L"/components:app,arecont"});
        ASSERT_TRUE(run.exitCode) << "still running";
        EXPECT_EQ(*run.exitCode, quentar::kFatalExitCode) << Joined(run.log);
        EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";
        EXPECT_FALSE(PathExists(place_.destination)) << "the destination was made";
        EXPECT_EQ(Differences(before, TakeSnapshot(place_)), "");
        EXPECT_TRUE(HasLine(run.log, "fatal error: Unexpected error 1")) << Joined(run.log);
        EXPECT_TRUE(HasLineStartingWith(run.log, cause)) << Joined(run.log);
        ExpectEnd(run, "fatal error", quentar::kFatalExitCode);
    }
}

// With the Axis runtime installed the wizard would propose the application
// alone; the same setup run again finds its own installation, not older than
// itself, and has nothing left to do.
TEST_F(Unattended, WithTheAxisRuntimeInstalledTheApplicationAloneAndOnceOnly) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no runtime packages";
    RemoveSampleRuntime();
    ASSERT_NO_FATAL_FAILURE(ExpectNoQuentarInstalled());
    AxisRuntime axis;
    ASSERT_TRUE(axis.Registered());

    const QuietRun first = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination});
    ASSERT_TRUE(first.exitCode) << "still running";
    EXPECT_EQ(*first.exitCode, quentar::kExitInstalled) << Joined(first.log);
    EXPECT_TRUE(PathExists(Exe()));
    EXPECT_TRUE(PathExists(place_.destination + L"\\AV2000SDK.dll")) << "the Arecont runtime goes with the application";
    for (const SamplePackage& package : kSamplePackages) {
        EXPECT_NE(::MsiQueryProductStateW(package.productCode), INSTALLSTATE_DEFAULT)
            << Narrow(package.entry) << " was run although the Axis runtime is installed";
    }
    const Snapshot installed = TakeSnapshot(place_);

    const QuietRun second = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination});
    ASSERT_TRUE(second.exitCode) << "still running";
    EXPECT_EQ(*second.exitCode, quentar::kExitInstalled) << Joined(second.log);
    EXPECT_FALSE(first.windowSeen || second.windowSeen) << "a window of the setup program appeared";
    EXPECT_TRUE(HasLine(second.log, "nothing to install")) << Joined(second.log);
    EXPECT_EQ(Differences(installed, TakeSnapshot(place_)), "");
}

// Runs that cannot install: each ends with 1603 without a window, says why
// in the log, and leaves the machine as it was.
struct RefusedCase {
    const char* name;
    const wchar_t* exe;    // the setup program
    const wchar_t* fault;  // QUENTAR_FAULT of the fault-injecting build
    enum class Place { EarlierInstallation, FileInTheWay, FolderMade, Link, Nothing } place;
    std::wstring (*dir)(const InstallPlace& place);
    const wchar_t* components;
    // Lines the log must hold, "<dest>" standing for the destination,
    // "<over>" for the number of characters by which it is too long and
    // "<guid>" for a GUID in braces (a fresh one each run).
    std::vector<std::wstring> logLines;
    bool runtimeFixture = false;  // `exe` is built only with the payload tool
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

std::wstring TheDestination(const InstallPlace& place) { return place.destination; }
std::wstring Nowhere(const InstallPlace&) { return L""; }
std::wstring WithIllegalName(const InstallPlace& place) { return place.destination + L"\\sub\\a|b"; }
std::wstring TooLong(const InstallPlace& place) { return place.destination + L"\\" + std::wstring(200, L'x'); }
// One character too long for the default payload (kMaxDestinationLength).
std::wstring OneTooLong(const InstallPlace& place) {
    return place.destination + L"\\" + std::wstring(kMaxDestinationLength - place.destination.size(), L'y');
}
const std::wstring kTooLongMessage = L"message: The path is too long: <dest>  Shorten it by <over> character(s).";

// Whether a line is `before`, a GUID in braces ("{" 8-4-4-4-12 hexadecimal
// digits "}"), then `after`.
bool HasLineWithGuid(const std::vector<std::string>& lines, const std::string& before, const std::string& after) {
    constexpr size_t kGuidLength = 38;
    for (const std::string& l : lines) {
        if (l.size() != before.size() + kGuidLength + after.size() || l.rfind(before, 0) != 0 ||
            l.compare(l.size() - after.size(), after.size(), after) != 0) {
            continue;
        }
        const std::string guid = l.substr(before.size(), kGuidLength);
        bool isGuid = guid.front() == '{' && guid.back() == '}';
        for (size_t i = 1; isGuid && i + 1 < kGuidLength; ++i) {
            isGuid = (i == 9 || i == 14 || i == 19 || i == 24) ? guid[i] == '-' : std::isxdigit(guid[i]) != 0;
        }
        if (isGuid) return true;
    }
    return false;
}

std::wstring SystemLine(DWORD error) { return L"error " + std::to_wstring(error) + L" (" + SystemText(error) + L")"; }

const RefusedCase kRefused[] = {
    // The library cannot be written after the executable has replaced the
    // earlier one: everything is taken back.
    {"FileCannotBeWritten", UI_SETUP_FAULTS_EXE, L"WriteFile-full:AV2000SDK.dll:1", RefusedCase::Place::EarlierInstallation,
     &TheDestination, L"app,arecont",
     {L"cannot write <dest>\\AV2000SDK.dll: " + SystemLine(ERROR_DISK_FULL),
      L"message: Unable to create file <dest>\\AV2000SDK.dll " + SystemText(ERROR_DISK_FULL),
      L"nobody to ask; answered: OK", L"rollback: deleted <dest>\\Quentar.exe"}},
    {"DestinationIsAFile", UI_SETUP_EXE, nullptr, RefusedCase::Place::FileInTheWay, &TheDestination, L"app,arecont",
     {L"destination <dest> is not a folder: a file of that name is in the way",
      L"message: Unable to create path: <dest>"}},
    // Refused before anything is made, whether the folder is there or not.
    {"DestinationTooLong", UI_SETUP_EXE, nullptr, RefusedCase::Place::Nothing, &TooLong, L"app,arecont",
     {kTooLongMessage}},
    {"ExistingDestinationTooLong", UI_SETUP_EXE, nullptr, RefusedCase::Place::FolderMade, &OneTooLong, L"app,arecont",
     {L"destination <dest> is too long by 1: the longest path the installation makes there (<dest>\\"
      L"AV2000SDK.dll and a suffix of 33 characters) is 260 characters long, Windows takes 259",
      kTooLongMessage}},
    // The outer levels are made before the name Windows refuses: they go again.
    {"IllegalCharacter", UI_SETUP_EXE, nullptr, RefusedCase::Place::Nothing, &WithIllegalName, L"app,arecont",
     {L"destination <dest> is not a folder: " + SystemLine(ERROR_INVALID_NAME),
      L"message: Unable to create path: <dest>"}},
    // The first write is refused: the log names the key and the system's
    // error, and the folders made for the destination go again.
    {"UninstallKeyCannotBeCreated", UI_SETUP_FAULTS_EXE, L"RegCreateKeyExW", RefusedCase::Place::Nothing,
     &TheDestination, L"app,arecont",
     {L"uninstall key HKLM\\" + std::wstring(kUninstallRoot) + L"\\<guid> not created: " +
          SystemLine(ERROR_ACCESS_DENIED),
      L"message: Administrator privileges are needed to install the software. Setup aborted."}},
    // A Unix link stands for a junction or symbolic link: nothing is written
    // where it leads.
    {"DestinationIsALink", UI_SETUP_EXE, nullptr, RefusedCase::Place::Link, &TheDestination, L"app,arecont",
     {L"destination <dest> is a junction or a symbolic link: refused",
      L"message: The destination is a junction or a symbolic link: <dest>  Choose a folder that is not a link to "
      L"another place."}},
    {"EmptyDestination", UI_SETUP_EXE, nullptr, RefusedCase::Place::Nothing, &Nowhere, L"app,arecont",
     {L"/dir: names no folder", L"message: The field cannot be empty"}},
    {"PayloadWithoutTheApplication", UI_SETUP_NO_APPLICATION_EXE, nullptr, RefusedCase::Place::Nothing,
     &TheDestination, L"app,arecont",
     {L"message: This setup program does not contain the Quentar application. Setup aborted."}},
    {"UnknownComponent", UI_SETUP_EXE, nullptr, RefusedCase::Place::Nothing, &TheDestination, L"app,arecont,cameras",
     {L"/components:app,arecont,cameras cannot be used: unknown component \"cameras\" (known: app, arecont, axis)"}},
    // What the runtime leaves of "/components:app, arecont".
    {"EmptyComponentName", UI_SETUP_EXE, nullptr, RefusedCase::Place::Nothing, &TheDestination, L"app,",
     {L"/components:app, cannot be used: empty component name in \"app,\" (write the names without blanks, e.g. "
      L"app,arecont)"}},
    // A component the payload does not carry is not installed "successfully"
    // by doing nothing.
    {"ArecontNotCarried", UI_SETUP_WITHOUT_SDK_EXE, nullptr, RefusedCase::Place::Nothing, &TheDestination,
     L"app,arecont",
     {L"/components:app,arecont cannot be used: this setup program does not carry the Arecont Vision runtime "
      L"(AV2000SDK.dll)"},
     true},
    {"AxisNotCarried", UI_SETUP_WITHOUT_AXIS_EXE, nullptr, RefusedCase::Place::Nothing, &TheDestination, L"axis",
     {L"/components:axis cannot be used: this setup program does not carry the Axis runtime (none of its packages)"},
     true},
};

class RefusedUnattended : public Unattended, public ::testing::WithParamInterface<RefusedCase> {
protected:
    // Where a link at the destination leads.
    std::wstring LinkTarget() const { return place_.destination + L" (link target)"; }
};

TEST_P(RefusedUnattended, EndsWith1603AndLeavesTheMachineAsItWas) {
    const RefusedCase& c = GetParam();
    if (c.runtimeFixture && !UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no such payload";
    switch (c.place) {
        case RefusedCase::Place::EarlierInstallation:
            MakeEarlierInstallation(place_);
            break;
        case RefusedCase::Place::FileInTheWay:
            ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
            ASSERT_TRUE(WriteBytes(place_.destination, "a file where the folder would go\r\n"));
            break;
        case RefusedCase::Place::FolderMade:
            ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
            ASSERT_TRUE(::CreateDirectoryW(place_.destination.c_str(), nullptr));
            ASSERT_TRUE(::CreateDirectoryW(c.dir(place_).c_str(), nullptr));
        case RefusedCase::Place::Link:
            ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
            DeleteTree(LinkTarget());
            ASSERT_TRUE(::CreateDirectoryW(LinkTarget().c_str(), nullptr));
            ASSERT_TRUE(unix_side::MakeUnixLink(LinkTarget(), place_.destination));
            break;
        case RefusedCase::Place::Nothing:
            break;
    }
    ASSERT_FALSE(HasFailure());
    const Snapshot before = TakeSnapshot(place_);
    const std::wstring dir = c.dir(place_);
    const size_t longestPath = dir.size() + 1 + kLongestNameMovedAside;
    const QuietRun run = RunQuiet(c.exe, {L"/dir:" + dir, std::wstring(L"/components:") + c.components},
                                  c.fault != nullptr ? c.fault : L"");
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitFailed) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";
    for (std::wstring line : c.logLines) {
        for (size_t at; (at = line.find(L"<dest>")) != std::wstring::npos;) line.replace(at, 6, dir);
        const size_t over = line.find(L"<over>");
        if (over != std::wstring::npos) line.replace(over, 6, std::to_wstring(longestPath - (MAX_PATH - 1)));
        const size_t guid = line.find(L"<guid>");
        const bool found = guid == std::wstring::npos
                               ? HasLine(run.log, LogText(line))
                               : HasLineWithGuid(run.log, LogText(line.substr(0, guid)), LogText(line.substr(guid + 6)));
        EXPECT_TRUE(found) << "missing: " << LogText(line) << "\n" << Joined(run.log);
    }
    ExpectEnd(run, "the installation failed and was taken back", quentar::kExitFailed);
    EXPECT_EQ(Differences(before, TakeSnapshot(place_)), "");
    if (c.place == RefusedCase::Place::Link) {
        EXPECT_TRUE(FolderEntries(LinkTarget()).empty()) << "written where the link leads";
        EXPECT_TRUE(unix_side::RemoveUnixLink(place_.destination));
        DeleteTree(LinkTarget());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedUnattended, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

// "/dir:" takes only a full path, as the destination page does (the same
// table, destination_page_test.cpp): any other form ends the run with 1603
// and the reason in the log, before anything is made. The setup program
// without the application stops each run that passes after its destination.
TEST_F(Unattended, DirTakesOnlyFullPathsWhateverTheirForm) {
    ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
    ASSERT_TRUE(::CreateDirectoryW(place_.destination.c_str(), nullptr));
    for (const DestinationForm& form : DestinationForms(place_.destination)) {
        SCOPED_TRACE(form.name);
        const QuietRun run = RunQuiet(UI_SETUP_NO_APPLICATION_EXE, {L"/dir:" + form.path, L"/components:app"});
        ASSERT_TRUE(run.exitCode) << "still running";
        EXPECT_EQ(*run.exitCode, quentar::kExitFailed) << Joined(run.log);
        const std::string refusal = "destination " + Utf8(form.path) +
                                    " is not a full path (a drive letter, a colon and a backslash, or \\\\server\\share)";
        EXPECT_EQ(HasLine(run.log, refusal), !form.full) << Joined(run.log);
        if (!form.full) {
            EXPECT_TRUE(HasLine(run.log, "message: Unable to create path: " + Utf8(form.path))) << Joined(run.log);
            EXPECT_FALSE(PathExists(form.path)) << "made relative to the current folder";
        }
    }
}

// A destination outside the program-files folder, two levels of it missing:
// each level is made with the rights of an installed program, which the log
// names, and neither they nor the installed files let the group or others
// write on the Unix side. Run again after the destination was opened to
// everybody, the installation gives it those rights back without a
// question.
TEST_F(Unattended, TheDestinationAndEveryLevelMadeForItOnlyAdministratorsCanChange) {
    const std::wstring outer = place_.destination;
    place_.destination = outer + L"\\Cameras";  // what the clean-up removes
    DeleteTree(outer);
    const std::string rights = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

    const QuietRun first = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination, L"/components:app,arecont"});
    ASSERT_TRUE(first.exitCode) << "still running";
    EXPECT_EQ(*first.exitCode, quentar::kExitInstalled) << Joined(first.log);
    for (const std::wstring& level : {outer, place_.destination}) {
        EXPECT_TRUE(HasLine(first.log, "folder created: " + Utf8(level) + " with rights " + rights))
            << Joined(first.log);
    }
    std::vector<std::wstring> made = {outer, place_.destination};
    for (const PayloadFile& file : InstalledPayloadFiles()) made.push_back(place_.destination + L"\\" + file.name);
    for (const std::wstring& path : made) {
        ASSERT_TRUE(PathExists(path)) << Narrow(path);
        const std::optional<unsigned> mode = unix_side::UnixMode(path);
        ASSERT_TRUE(mode) << "the Unix mode of " << Narrow(path) << " cannot be read";
        EXPECT_FALSE(unix_side::GroupOrOthersMayWrite(*mode)) << Narrow(path) << ": mode " << std::oct << *mode;
    }

    ASSERT_TRUE(MakeWritableForEverybody(place_.destination));
    ASSERT_EQ(unix_side::UnixMode(place_.destination), 0777u);
    const QuietRun second = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination, L"/components:app,arecont"});
    ASSERT_TRUE(second.exitCode) << "still running";
    EXPECT_EQ(*second.exitCode, quentar::kExitInstalled) << Joined(second.log);
    const std::string path = Utf8(place_.destination);
    EXPECT_TRUE(HasLineStartingWith(second.log, "rights found on " + path + ": ")) << Joined(second.log);
    EXPECT_TRUE(HasLine(second.log, "rights set on " + path + ": " + rights)) << Joined(second.log);
    EXPECT_FALSE(HasLineStartingWith(second.log, "message:")) << Joined(second.log);
    // Nobody else may write any more (the group keeps the bits Wine derives
    // from the account's own ACEs).
    const std::optional<unsigned> mode = unix_side::UnixMode(place_.destination);
    ASSERT_TRUE(mode) << "the Unix mode of the destination cannot be read";
    EXPECT_EQ(*mode & 02, 0u) << "mode " << std::oct << *mode;
    CleanUp(place_);
    EXPECT_TRUE(::RemoveDirectoryW(outer.c_str())) << "error " << ::GetLastError();
}

// Over an earlier installation whose Quentar.exe runs: the executable moved
// aside waits for the next start of Windows, which is not brought about,
// with "/norestart" or without: 3010.
class InUseUnattended : public Unattended, public ::testing::WithParamInterface<bool> {};

TEST_P(InUseUnattended, FilesLeftForTheNextStartGive3010AndNoRestart) {
    const bool noRestart = GetParam();
    const EarlierInstallation earlier = MakeEarlierInstallation(place_);
    ASSERT_FALSE(HasFailure());
    ui::SetupProcess running(earlier.executable, {});
    ASSERT_TRUE(running.Started());
    ASSERT_TRUE(ui::WaitUntil([&] { return !ApplicationProcesses(earlier.executable).empty(); }));

    std::vector<std::wstring> args = {L"/dir:" + place_.destination, L"/components:app,arecont"};
    if (noRestart) args.push_back(L"/norestart");
    const QuietRun run = RunQuiet(UI_SETUP_EXE, args);
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitRestartNeeded) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen);

    // The earlier executable, moved aside, is still in use and waits.
    const std::vector<std::wstring> pending = PendingDeletions();
    const auto aside = std::find_if(pending.begin(), pending.end(), [&](const std::wstring& file) {
        return _wcsnicmp(file.c_str(), (Exe() + L".").c_str(), Exe().size() + 1) == 0;
    });
    ASSERT_NE(aside, pending.end()) << "the executable moved aside is not left for the next start";
    EXPECT_TRUE(HasLineStartingWith(run.log, "scheduled for deletion at the next start of Windows: " + Utf8(*aside)))
        << Joined(run.log);
    // The log names what was moved aside and what was left as identical.
    EXPECT_TRUE(HasLine(run.log, "moved aside: " + Utf8(Exe()) + " -> " + Utf8(*aside))) << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, "identical file left as it is: " + Utf8(place_.destination) + "\\repo.jpg"))
        << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, "message: " + LogText(kRestartQuestion))) << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, "nobody to ask; answered: No")) << Joined(run.log);
    EXPECT_FALSE(HasLine(run.log, "restart of Windows requested"));
    EXPECT_TRUE(running.IsRunning()) << "the earlier application was ended: Windows was restarted";
    const auto payload = std::find_if(InstalledPayloadFiles().begin(), InstalledPayloadFiles().end(),
                                      [](const PayloadFile& file) { return file.name == L"Quentar.exe"; });
    ASSERT_NE(payload, InstalledPayloadFiles().end());
    EXPECT_TRUE(ReadBytes(Exe()) == ReadBytes(payload->source)) << "the new executable is not in place";
    ExpectEnd(run, "installed; a restart of Windows is needed to finish", quentar::kExitRestartNeeded);
    running.Kill();
}

INSTANTIATE_TEST_SUITE_P(Restart, InUseUnattended, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "NoRestart" : "Quiet"); });

// The running application asks for its update from a background service:
// the setup program replaces it without a window and starts the new one; or,
// when it does not close, stops waiting after the bounded time and leaves it.
struct UpdateCase {
    const char* name;
    const wchar_t* exe;    // the newer setup program
    const wchar_t* fault;
    bool holdOldExecutable;
    DWORD exitCode;
};

void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }

class UnattendedUpdate : public Unattended, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UnattendedUpdate, ReplacesTheRunningApplicationOrLeavesIt) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no Setup B";
    const UpdateCase& c = GetParam();
    ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
    ASSERT_TRUE(::CreateDirectoryW(place_.destination.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(UI_SAMPLE_A_EXE, Exe().c_str(), FALSE));
    WriteRecord(place_.destination, L"", {Exe()});
    ::DeleteFileW(StartNotesPath().c_str());
    const std::optional<std::string> installed = ReadBytes(Exe());

    ui::SetupProcess application(Exe(), {});
    ASSERT_TRUE(application.Started());
    HWND window = nullptr;
    ASSERT_TRUE(ui::WaitUntil([&] { return (window = SampleWindow(UI_SAMPLE_VERSION_A)) != nullptr; }));
    ui::ScopedHandle held;
    if (c.holdOldExecutable) {
        held.Reset(::CreateFileW(Exe().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(held.Get(), INVALID_HANDLE_VALUE);
    }

    const QuietRun run = RunQuiet(c.exe,
                                  {L"/update:", L"/wh:" + std::to_wstring(reinterpret_cast<uintptr_t>(window)),
                                   L"/exe:" + Exe()},
                                  c.fault != nullptr ? c.fault : L"");
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, c.exitCode) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen);
    EXPECT_TRUE(application.WaitForExit()) << "the application was not asked to close";
    held.Reset();

    if (c.exitCode == quentar::kExitInstalled) {
        EXPECT_EQ(FileVersionText(Exe()), UI_SAMPLE_VERSION_B);
        ASSERT_TRUE(ui::WaitUntil([] { return SampleWindow(UI_SAMPLE_VERSION_B) != nullptr; }))
            << "version B was not started";
        const std::vector<StartNote> notes = StartNotes();
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[1].version, UI_SAMPLE_VERSION_B);
        EXPECT_EQ(Narrow(notes[1].path), Narrow(Exe()));
        EXPECT_EQ(Narrow(notes[1].directory), Narrow(place_.destination));
        EXPECT_TRUE(HasLine(run.log, "update: moved " + Utf8(Exe()) + ".tmp to " + Utf8(Exe()))) << Joined(run.log);
        EXPECT_TRUE(HasLine(run.log, "started " + Utf8(Exe()))) << Joined(run.log);
        ExpectEnd(run, "installed", 0);
    } else {
        // The installed version stays, and nothing is started.
        EXPECT_EQ(ReadBytes(Exe()), installed);
        EXPECT_FALSE(PathExists(Exe() + L".tmp"));
        EXPECT_EQ(StartNotes().size(), 1u);
        EXPECT_TRUE(HasLine(run.log, "message: " + LogText(L"Quentar is still running:\n" + Exe() +
                                                             L"\n\nClose Quentar and click Retry to continue the "
                                                             L"update, or click Cancel to stop the update and keep "
                                                             L"the installed version.")))
            << Joined(run.log);
        EXPECT_TRUE(HasLine(run.log, "nobody to ask; answered: Cancel")) << Joined(run.log);
        ExpectEnd(run, "the installation failed and was taken back", quentar::kExitFailed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnattendedUpdate,
    ::testing::Values(UpdateCase{"Replaced", UI_SETUP_B_EXE, nullptr, false, quentar::kExitInstalled},
                      // The old executable stays in use; the minute passes quickly.
                      UpdateCase{"StillRunning", UI_SETUP_FAULTS_EXE, L"GetTickCount-fast", true,
                                 quentar::kExitFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// A reinstallation with fewer components over a fuller one: what only the
// earlier one had (the SDK, the desktop shortcut) goes, the new record lists
// everything left, and the removal that record commands leaves the machine as
// it was before either.
TEST_F(Unattended, AReinstallWithFewerComponentsTakesBackTheRestAndItsRemovalLeavesNothing) {
    const Snapshot before = TakeSnapshot(place_);
    const QuietRun full = RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination, L"/components:app,arecont"});
    ASSERT_TRUE(full.exitCode) << "still running";
    ASSERT_EQ(*full.exitCode, quentar::kExitInstalled) << Joined(full.log);
    const std::wstring sdk = place_.destination + L"\\AV2000SDK.dll";
    ASSERT_TRUE(PathExists(sdk));
    ASSERT_TRUE(PathExists(place_.desktopLink));

    const QuietRun fewer =
        RunQuiet(UI_SETUP_EXE, {L"/dir:" + place_.destination, L"/components:app", L"/nodesktop"});
    ASSERT_TRUE(fewer.exitCode) << "still running";
    EXPECT_EQ(*fewer.exitCode, quentar::kExitInstalled) << Joined(fewer.log);
    EXPECT_FALSE(fewer.windowSeen);
    EXPECT_FALSE(PathExists(sdk)) << "the SDK stayed";
    EXPECT_FALSE(PathExists(place_.desktopLink)) << "the desktop shortcut stayed";
    for (const std::wstring& taken : {sdk, place_.desktopLink}) {
        EXPECT_TRUE(HasLineStartingWith(fewer.log, "moved aside: " + Utf8(taken) + " -> " + Utf8(taken) + "."))
            << Joined(fewer.log);
    }
    // Nothing is left under a temporary name, and the one record lists
    // exactly what is on the disk.
    const Snapshot reinstalled = TakeSnapshot(place_);
    const std::vector<std::wstring> records = RecordsFor(place_.destination);
    ASSERT_EQ(records.size(), 1u);
    std::set<std::wstring> listed;
    for (const auto& [name, value] : reinstalled.uninstallKeys.at(records[0])) {
        if (name.rfind(L"File", 0) == 0 && name != L"Files") listed.insert(ToLower(SzText(value)));
    }
    std::set<std::wstring> present;
    for (const auto& [path, facts] : reinstalled.files) {
        if (facts != "folder") present.insert(ToLower(path));
    }
    EXPECT_EQ(listed, present);

    // The record's own quiet removal, as a deployment tool runs it.
    std::wstring command = SzText(reinstalled.uninstallKeys.at(records[0]).at(L"QuietUninstallString"));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        << "error " << ::GetLastError();
    const ui::ScopedHandle uninstaller(info.hProcess), thread(info.hThread);
    ASSERT_EQ(::WaitForSingleObject(uninstaller.Get(), 60000), WAIT_OBJECT_0) << "the removal did not end";
    EXPECT_TRUE(ui::WaitUntil([&] { return !PathExists(place_.destination); })) << "the destination stayed";
    EXPECT_EQ(Differences(before, TakeSnapshot(place_)), "");
}

// Command lines as people and deployment tools write them, each run as typed:
// what the program read (its log says) and what the run did.
struct TypedCommandLine {
    const char* name;
    const wchar_t* exe;
    const wchar_t* fault;
    std::wstring arguments;  // "<log>" and "<dest>" stand for the test's log and destination
    std::wstring readAs;     // the log's "command line read as:" line, the same stand-ins
    DWORD exitCode;
    std::wstring logLine;    // a further line the log must hold
};

void PrintTo(const TypedCommandLine& c, std::ostream* os) { *os << c.name; }

std::wstring WithPlaces(std::wstring text, const std::wstring& log, const std::wstring& destination) {
    for (const auto& [mark, value] : {std::pair<std::wstring, std::wstring>{L"<log>", log}, {L"<dest>", destination}}) {
        for (size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value.size())) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

const std::wstring kEmptyName =
    L"/components:app, cannot be used: empty component name in \"app,\" (write the names without blanks, e.g. "
    L"app,arecont)";

const TypedCommandLine kTypedCommandLines[] = {
    // Other installers' switch, and a folder written with a trailing
    // backslash inside quotes: the runtime makes that backslash escape the
    // quote, and everything after it reaches the program as part of the
    // folder. The quote ends the folder; the rest is read as it was meant.
    {"SilentSwitchAndQuotedTrailingBackslash", UI_SETUP_EXE, L"",
     L"/S /log:<log> /dir:\"<dest>\\\" /components:app /nodesktop",
     L"/quiet /dir:\"<dest>\" /components:app /nodesktop /log:<log>", quentar::kExitInstalled,
     L"install sequence into <dest>, program folder \"Quentar 2009\", desktop shortcut no"},
    {"SilentWord", UI_SETUP_EXE, L"", L"/silent /log:<log> /components:app,", L"/quiet /components:app, /log:<log>",
     quentar::kExitFailed, kEmptyName},
    // "app, arecont": the blank ends the argument, "arecont" is no argument.
    {"VerySilentAndABlankInTheList", UI_SETUP_EXE, L"", L"/VERYSILENT /log:<log> /components:app, arecont",
     L"/quiet /components:app, /log:<log>", quentar::kExitFailed, kEmptyName},
    {"InstallerServiceSwitchQn", UI_SETUP_EXE, L"", L"/qn /log:<log> /components:cameras",
     L"/quiet /components:cameras /log:<log>", quentar::kExitFailed,
     L"/components:cameras cannot be used: unknown component \"cameras\" (known: app, arecont, axis)"},
    {"InstallerServiceSwitchQ", UI_SETUP_EXE, L"", L"/q /log:\"<log>\" /components:", L"/quiet /components:\"\" /log:<log>",
     quentar::kExitFailed, L"/components: cannot be used: no component named (known: app, arecont, axis)"},
    // Started as a service would start it: a wizard nobody could answer.
    {"WizardWhereNobodyCanSeeIt", UI_SETUP_FAULTS_EXE, L"WindowStation-hidden", L"/log:<log>", L"/log:<log>",
     quentar::kExitFailed,
     L"the wizard cannot be shown: this process's window station is not interactive (a service, or the system "
     L"account in session 0), so nobody could answer it; start Setup.exe with /quiet to install without a window"},
};

class TypedUnattended : public Unattended, public ::testing::WithParamInterface<TypedCommandLine> {};

TEST_P(TypedUnattended, IsReadAsMeantAndEndsWithoutAWindow) {
    const TypedCommandLine& c = GetParam();
    const QuietRun run = RunVerbatim(c.exe, WithPlaces(c.arguments, log_, place_.destination), c.fault);
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, c.exitCode) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen) << "a window of the setup program appeared";
    EXPECT_TRUE(HasLine(run.log, "command line read as: " + Utf8(WithPlaces(c.readAs, log_, place_.destination))))
        << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, Utf8(WithPlaces(c.logLine, log_, place_.destination)))) << Joined(run.log);
    if (c.exitCode == quentar::kExitInstalled) {
        EXPECT_TRUE(PathExists(Exe())) << "not installed into the folder meant";
        EXPECT_FALSE(PathExists(place_.desktopLink)) << "/nodesktop was lost";
    } else {
        EXPECT_FALSE(PathExists(place_.destination)) << "the destination was made";
        ExpectEnd(run, "the installation failed and was taken back", quentar::kExitFailed);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TypedUnattended, ::testing::ValuesIn(kTypedCommandLines),
                         [](const auto& info) { return std::string(info.param.name); });
// The update's arguments come from a program any user may start, while the
// setup program runs elevated: whatever "/exe:" names that is not the
// Quentar.exe of an installation this program recorded is refused before
// anything is touched. The installation and a folder of someone else's (the
// victim) are compared before and after; nothing may be started.
struct RefusalCase {
    const char* name;
    // The "/exe:" value, given the installation's folder and the victim's.
    std::function<std::wstring(const std::wstring& installed, const std::wstring& victim)> exe;
    // Makes the case's own premise in the victim's folder; none when empty.
    std::function<void(const std::wstring& victim)> prepare = {};
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusedUpdate : public Unattended, public ::testing::WithParamInterface<RefusalCase> {
protected:
    void SetUp() override {
        Unattended::SetUp();
        victim_ = PlaceFor(std::string("victim-") + GetParam().name);
        CleanUp(victim_);
    }
    void TearDown() override {
        Unattended::TearDown();
        CleanUp(victim_);
    }
    InstallPlace victim_;
};

TEST_P(RefusedUpdate, TouchesNothingAndStartsNothing) {
    const RefusalCase& c = GetParam();
    ::CreateDirectoryW(L"C:\\Quentar UI tests", nullptr);
    // The recorded installation, and a folder of someone else's with a
    // read-only file of the same name and a help file.
    for (const std::wstring& folder : {place_.destination, victim_.destination}) {
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(::CopyFileW(UI_SAMPLE_A_EXE, (folder + L"\\Quentar.exe").c_str(), FALSE));
        ASSERT_TRUE(WriteBytes(folder + L"\\help.pdf", "%PDF-1.4\n% the folder's own help\n"));
    }
    ASSERT_TRUE(::SetFileAttributesW((victim_.destination + L"\\Quentar.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteBytes(victim_.destination + L"\\important.dat", "important data"));
    WriteRecord(place_.destination, L"", {Exe(), place_.destination + L"\\help.pdf"});
    if (c.prepare) c.prepare(victim_.destination);
    ::DeleteFileW(StartNotesPath().c_str());
    const Snapshot installedBefore = TakeSnapshot(place_);
    const Snapshot victimBefore = TakeSnapshot(victim_);

    const std::wstring exe = c.exe(place_.destination, victim_.destination);
    const QuietRun run = RunQuiet(UI_SETUP_EXE, {L"/update:", L"/wh:0", L"/exe:" + exe});
    ASSERT_TRUE(run.exitCode) << "still running";
    EXPECT_EQ(*run.exitCode, quentar::kExitFailed) << Joined(run.log);
    EXPECT_FALSE(run.windowSeen);
    EXPECT_TRUE(HasLineStartingWith(run.log, "update refused, nothing done: ")) << Joined(run.log);
    EXPECT_TRUE(HasLine(run.log, "message: " + LogText(L"The update was refused:\n" + exe +
                                                         L"\nis not Quentar as installed by this setup program. "
                                                         L"Setup aborted.")))
        << Joined(run.log);

    EXPECT_EQ(Differences(installedBefore, TakeSnapshot(place_)), "");
    EXPECT_EQ(Differences(victimBefore, TakeSnapshot(victim_)), "");
    EXPECT_TRUE(StartedBySetup().empty()) << "the setup program started a program";
    EXPECT_TRUE(StartNotes().empty());
}

std::wstring LeafOf(const std::wstring& folder) { return folder.substr(folder.rfind(L'\\') + 1); }

INSTANTIATE_TEST_SUITE_P(
    Arguments, RefusedUpdate,
    ::testing::Values(
        RefusalCase{"OutsideAnyInstallation",
                    [](const std::wstring&, const std::wstring& victim) { return victim + L"\\Quentar.exe"; }},
        RefusalCase{"AnotherFileOfTheInstallation",
                    [](const std::wstring& installed, const std::wstring&) { return installed + L"\\help.pdf"; }},
        RefusalCase{"AnotherFileOutsideIt",
                    [](const std::wstring&, const std::wstring& victim) { return victim + L"\\important.dat"; }},
        RefusalCase{"UncPath",
                    [](const std::wstring&, const std::wstring& victim) {
                        return L"\\\\localhost\\C$" + victim.substr(2) + L"\\Quentar.exe";
                    }},
        RefusalCase{"WayOutWithDotDot",
                    [](const std::wstring& installed, const std::wstring& victim) {
                        return installed + L"\\..\\" + LeafOf(victim) + L"\\Quentar.exe";
                    }},
        // Recorded as this program records it, but a folder stands at the name.
        RefusalCase{"FolderAtTheName",
                    [](const std::wstring&, const std::wstring& victim) { return victim + L"\\Quentar.exe"; },
                    [](const std::wstring& victim) {
                        const std::wstring exe = victim + L"\\Quentar.exe";
                        ::SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
                        EXPECT_TRUE(::DeleteFileW(exe.c_str()));
                        EXPECT_TRUE(::CreateDirectoryW(exe.c_str(), nullptr));
                        WriteRecord(victim, L"", {exe});
                    }},
        // Another product's record of the victim's folder, listing the file.
        RefusalCase{"RecordOfAnotherProduct",
                    [](const std::wstring&, const std::wstring& victim) { return victim + L"\\Quentar.exe"; },
                    [](const std::wstring& victim) {
                        WriteRecord(victim, L"", {victim + L"\\Quentar.exe"}, L"Zorbel Viewer");
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ui_test
