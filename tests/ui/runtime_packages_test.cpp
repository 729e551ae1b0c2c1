// The runtime-components page (230) seen from outside: the carried runtime
// packages are copied into a folder of the run's own under the temporary
// folder and run one after another through the shell, each copy deleted once
// its package has ended, the folder removed, and the wizard ends by itself. What the packages leave behind is read the way any
// program would: the redistributable's marker file, and the Windows
// Installer's own record of the products and their files.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "redist_exit_code.h"
#include "sample_runtime.h"
#include "run_log_reader.h"
#include "sample_packages.h"
#include "state/setup_result.h"
#include "ui_runtime_paths.h"
#include "ui_test_support.h"

namespace ui_test {
namespace {

using ui::Wizard;

// The packages in the order the page runs them.
const std::wstring kRedist = L"AXISMediaControlSDK_redist.exe";
const std::wstring kAac = L"AxisAACDecoderSetup.msi";
const std::wstring kH264 = L"AxisH264DecoderSetup.msi";
const std::wstring kMpeg4 = L"AxisMPEG4DecoderSetup.msi";
const std::vector<std::wstring> kPackageEntries = {kRedist, kAac, kH264, kMpeg4};

// Long enough for the slowest package start Wine was seen to make (the
// Windows Installer's first run in a prefix); reached only when stuck.
constexpr ui::Duration kPackageWatchdog{60000};

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// The temporary folder the setup program sees: it inherits this process's
// environment. Ends with a backslash.
std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
    EXPECT_TRUE(length > 0 && length < MAX_PATH);
    return std::wstring(buffer, length);
}

// Whether `file` is the name of a copy of `entry`: the entry's name with
// nothing or a decimal number before its extension.
bool IsCopyOf(const std::wstring& file, const std::wstring& entry) {
    const size_t dot = entry.rfind(L'.');
    const std::wstring base = Lower(entry.substr(0, dot));
    const std::wstring extension = Lower(entry.substr(dot));
    const std::wstring name = Lower(file);
    if (name.size() < base.size() + extension.size()) return false;
    if (name.compare(0, base.size(), base) != 0) return false;
    if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) return false;
    const std::wstring number = name.substr(base.size(), name.size() - base.size() - extension.size());
    return std::all_of(number.begin(), number.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// The run's private folders in the temporary folder now, full paths.
std::vector<std::wstring> PrivateFoldersNow() {
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((TempFolder() + L"QuentarSetup-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return folders;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(TempFolder() + found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return folders;
}

// Copies of runtime packages in the run's private folders now, by lower-case
// name.
std::set<std::wstring> CopiesNow() {
    std::set<std::wstring> copies;
    for (const std::wstring& folder : PrivateFoldersNow()) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((folder + L"\\Axis*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            for (const std::wstring& entry : kPackageEntries) {
                if (IsCopyOf(found.cFileName, entry)) copies.insert(Lower(found.cFileName));
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    return copies;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << Narrow(path);
}

// Where the sample redistributable leaves its marker.
std::wstring RedistMarkerPath() {
    wchar_t folder[MAX_PATH] = {};
    EXPECT_EQ(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    return std::wstring(folder) + L"\\" SAMPLE_MARKER_FOLDER L"\\" SAMPLE_REDIST_MARKER;
}

// The marker's lines: the path the redistributable ran from, its working folder.
std::vector<std::wstring> RedistMarkerLines() {
    const std::string bytes = ReadFileBytes(RedistMarkerPath());
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = bytes.substr(start, end - start);
        std::wstring wide(line.size(), L'\0');
        wide.resize(::MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                                          static_cast<int>(wide.size())));
        lines.push_back(wide);
    }
    return lines;
}

std::wstring CurrentFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return buffer;
}

// Whether the Windows Installer knows `package` as installed, with its file
// where the installer put it.
bool ProductInstalled(const SamplePackage& package) {
    return ::MsiQueryProductStateW(package.productCode) == INSTALLSTATE_DEFAULT;
}

std::wstring InstalledFilePath(const SamplePackage& package) {
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const INSTALLSTATE state = ::MsiGetComponentPathW(package.productCode, package.componentCode, path, &size);
    return state == INSTALLSTATE_LOCAL ? std::wstring(path) : std::wstring();
}

// Watches the private folders from a thread of its own, so that no copy
// slips by while the test waits for something else: what the page was seen
// doing while the setup program ran.
class PackageWatch {
public:
    ~PackageWatch() { Stop(); }

    // Starts watching; `sheet` may be set later.
    void Start() {
        running_ = true;
        thread_ = std::thread([this] {
            while (running_) {
                Poll();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    void SetSheet(HWND sheet) { sheet_ = sheet; }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }

    // Copies of the page's now.
    std::set<std::wstring> Now() const { return CopiesNow(); }
    // The copies in the order they first appeared.
    std::vector<std::wstring> Appeared() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return appeared_;
    }
    size_t MostAtOnce() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return mostAtOnce_;
    }
    // Whether the sheet took input at a moment when a copy existed.
    bool SheetEnabledWithCopy() const { return sheetEnabledWithCopy_; }

private:
    void Poll() {
        const std::set<std::wstring> now = Now();
        const HWND sheet = sheet_;
        if (!now.empty() && sheet != nullptr && ::IsWindow(sheet) && ::IsWindowEnabled(sheet)) {
            sheetEnabledWithCopy_ = true;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        mostAtOnce_ = std::max(mostAtOnce_, now.size());
        for (const std::wstring& name : now) {
            if (seen_.insert(name).second) appeared_.push_back(name);
        }
    }

    std::atomic<bool> running_{false};
    std::atomic<HWND> sheet_{nullptr};
    std::atomic<bool> sheetEnabledWithCopy_{false};
    mutable std::mutex mutex_;
    std::vector<std::wstring> appeared_;
    std::set<std::wstring> seen_;
    size_t mostAtOnce_ = 0;
    std::thread thread_;
};

std::string Describe(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names) text += (text.empty() ? "" : ", ") + Narrow(name);
    return "[" + text + "]";
}

std::vector<std::wstring> LowerAll(std::vector<std::wstring> names) {
    for (std::wstring& name : names) name = Lower(name);
    return names;
}

class RuntimePackages : public UiTest {
protected:
    // Nothing of an earlier run may count: the sample products are removed,
    // the marker and stray copies deleted.
    void SetUp() override {
        UiTest::SetUp();
        if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no packages to run";
        ASSERT_NO_FATAL_FAILURE(RemoveSampleRuntime());
        ASSERT_FALSE(HasFailure());
        ::DeleteFileW(RedistMarkerPath().c_str());
        // Left by a run that was killed.
        for (const std::wstring& folder : PrivateFoldersNow()) DeleteFolder(folder);
    }

    static void DeleteFolder(const std::wstring& folder) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    void TearDown() override {
        watch_.Stop();
        // A package still running after a failure (an installer showing its
        // box) would outlive the test and hold its output open.
        if (process_ && process_->Started()) {
            for (const ui::ProcessInfo& p : ui::ListProcesses()) {
                if (p.parentId != process_->Id() || Lower(p.exeName) == L"explorer.exe") continue;
                const ui::ScopedHandle child(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.id));
                if (child.Get() != nullptr && ::TerminateProcess(child.Get(), 1)) {
                    ::WaitForSingleObject(child.Get(), 5000);
                }
            }
        }
        UiTest::TearDown();
        for (const std::wstring& path : placed_) ::DeleteFileW(path.c_str());
    }

    // A file of this name in the temporary folder before the setup program
    // runs; deleted after the test.
    void PlaceInTemp(const std::wstring& name, const std::string& bytes) {
        placed_.push_back(TempFolder() + name);
        WriteFileBytes(placed_.back(), bytes);
    }

    // Starts `exe` with `args` and walks its wizard to page 230 with only the
    // Axis runtime chosen.
    std::optional<Wizard> OpenRuntimePage(const std::wstring& exe, const std::vector<std::wstring>& args = {}) {
        watch_.Start();
        ui::SetupProcess& process = Start(exe, args);
        if (!process.Started()) {
            ADD_FAILURE() << Narrow(exe) << " did not start, error " << process.StartError();
            return std::nullopt;
        }
        auto wizard = Wizard::WaitFor(process.Id(), PageOrder(false));
        if (!wizard) {
            ADD_FAILURE() << "no wizard window appeared";
            return std::nullopt;
        }
        watch_.SetSheet(wizard->Sheet());
        if (!WaitForLoaded(*wizard)) {
            ADD_FAILURE() << "the welcome page never loaded";
            return std::nullopt;
        }
        // Only the Axis runtime: the application (and with it the Arecont
        // runtime) unchecked, the Axis box checked.
        if (wizard->IsChecked(IDC_APPLICATION_BOX)) wizard->Click(IDD_WELCOME, IDC_APPLICATION_BOX);
        if (!wizard->IsChecked(IDC_AXIS_BOX)) wizard->Click(IDD_WELCOME, IDC_AXIS_BOX);
        const bool chosen = ui::WaitUntil([&] {
            return !wizard->IsChecked(IDC_APPLICATION_BOX) && wizard->IsChecked(IDC_AXIS_BOX) &&
                   wizard->IsEnabled(Wizard::kNext);
        });
        if (!chosen) {
            ADD_FAILURE() << "the Axis runtime alone could not be chosen";
            return std::nullopt;
        }
        Screenshot("axis-only");
        wizard->Next(IDD_WELCOME);
        if (!wizard->WaitForPage(IDD_AXIS)) {
            ADD_FAILURE() << "Next led to page " << wizard->CurrentPageId() << ", not 230";
            return std::nullopt;
        }
        return wizard;
    }

    // The page as it shows while packages run.
    void ExpectRunningPage(const Wizard& wizard) {
        EXPECT_TRUE(ui::WaitUntil([&] { return wizard.Title() == L"AXIS Runtime components"; }))
            << "title " << Narrow(wizard.Title());
        EXPECT_NE(wizard.PageWindowWithText(L"Installing AXIS runtime components..."), nullptr);
        // Only a disabled Finish button; the sheet takes no input at all.
        EXPECT_TRUE(ui::WaitUntil([&] {
            return wizard.IsVisible(Wizard::kFinish) && !wizard.IsEnabled(Wizard::kFinish) &&
                   !wizard.IsEnabled(Wizard::kNext) && !wizard.IsEnabled(Wizard::kBack);
        }));
        EXPECT_TRUE(ui::WaitUntil([&] { return !::IsWindowEnabled(wizard.Sheet()); }))
            << "the sheet stays enabled while packages run";
    }

    // Waits for the setup program to end by itself with `expectedExit` and
    // checks that it left no copy behind.
    void ExpectWizardEndsByItself(const Wizard& wizard, DWORD expectedExit = quentar::kExitInstalled) {
        const std::optional<DWORD> exitCode = Process().WaitForExit(kPackageWatchdog);
        watch_.Stop();
        ASSERT_TRUE(exitCode) << "the wizard did not end; copies seen " << Describe(watch_.Appeared());
        EXPECT_EQ(*exitCode, expectedExit);
        const std::set<std::wstring> left = watch_.Now();
        EXPECT_TRUE(left.empty()) << "copies left: " << Describe({left.begin(), left.end()});
        EXPECT_EQ(watch_.MostAtOnce(), 1u) << "packages ran at the same time";
        EXPECT_TRUE(PrivateFoldersNow().empty()) << "the run's folder was left";
        EXPECT_FALSE(watch_.SheetEnabledWithCopy()) << "the sheet took input while a package ran";
    }

    PackageWatch watch_;
    std::vector<std::wstring> placed_;
};

struct RunCase {
    const char* name;
    const wchar_t* exe;
    std::vector<std::wstring> taken;     // names already in the temporary folder
    std::vector<std::wstring> copies;    // the copies the page makes, in order
    std::vector<bool> productsInstalled;  // AAC, H264, MPEG4
    unsigned redistExitCode = 0;          // what the redistributable ends with
    DWORD setupExitCode = quentar::kExitInstalled;
};

const RunCase kRunCases[] = {
    {"AllFourInTableOrder", UI_SETUP_EXE, {}, {kRedist, kAac, kH264, kMpeg4}, {true, true, true}},
    {"MissingPackageIsSkipped", UI_SETUP_WITHOUT_AAC_EXE, {}, {kRedist, kH264, kMpeg4}, {false, true, true}},
    // Names taken in the shared temporary folder: left alone, and no concern
    // of the run's own folder.
    {"NamesTakenInTheTemporaryFolderAreLeftAlone",
     UI_SETUP_EXE,
     {kH264, L"AxisH264DecoderSetup1.msi"},
     {kRedist, kAac, kH264, kMpeg4},
     {true, true, true}},
    // The redistributable installed and needs a restart of Windows, or has
    // started one: the others still run, and the run ends telling so
    // (Windows is not restarted).
    {"PackageAsksForARestart",
     UI_SETUP_EXE,
     {},
     {kRedist, kAac, kH264, kMpeg4},
     {true, true, true},
     ERROR_SUCCESS_REBOOT_REQUIRED,
     quentar::kExitRestartNeeded},
    {"PackageStartedARestart",
     UI_SETUP_EXE,
     {},
     {kRedist, kAac, kH264, kMpeg4},
     {true, true, true},
     ERROR_SUCCESS_REBOOT_INITIATED,
     quentar::kExitRestartNeeded},
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RuntimePackageRun : public RuntimePackages, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RuntimePackageRun, RunsOneAfterAnotherInTableOrderThenEndsTheWizard) {
    const RunCase& c = GetParam();
    std::map<std::wstring, std::string> takenBytes;
    for (const std::wstring& name : c.taken) {
        takenBytes[name] = "not a package: " + Narrow(name);
        PlaceInTemp(name, takenBytes[name]);
    }

    const RedistExitCode redistExit(c.redistExitCode);
    ASSERT_TRUE(redistExit.Written());

    const std::wstring log = FreshLogPath(std::string("runtime-") + c.name);
    auto wizard = OpenRuntimePage(c.exe, {L"/log:" + log});
    ASSERT_TRUE(wizard);
    ExpectRunningPage(*wizard);
    Screenshot("runtime-components");
    ExpectWizardEndsByItself(*wizard, c.setupExitCode);

    // What the redistributable answered, and what that means, in the log.
    const auto logLines = ReadLog(log);
    ASSERT_TRUE(logLines) << "no log at " << Narrow(log);
    const std::vector<std::string> lines = LinesOf(*logLines, Process().Id());
    const std::string redist = "runtime package " + Utf8(kRedist);
    EXPECT_TRUE(HasLine(lines, redist + " ended with exit code " + std::to_string(c.redistExitCode))) << Joined(lines);
    EXPECT_EQ(HasLine(lines, redist + " needs a restart of Windows to finish"),
              c.setupExitCode == quentar::kExitRestartNeeded)
        << Joined(lines);
    ::DeleteFileW(log.c_str());

    EXPECT_EQ(Describe(watch_.Appeared()), Describe(LowerAll(c.copies)));
    for (const auto& [name, bytes] : takenBytes) {
        EXPECT_EQ(ReadFileBytes(TempFolder() + name), bytes) << Narrow(name) << " was touched";
    }

    // The redistributable ran from its copy in the run's own folder, which
    // was also its working folder.
    const std::vector<std::wstring> marker = RedistMarkerLines();
    ASSERT_EQ(marker.size(), 2u) << "the redistributable left no marker";
    const std::wstring folder = Lower(marker[1]);
    EXPECT_EQ(folder.rfind(Lower(TempFolder() + L"QuentarSetup-"), 0), 0u) << Narrow(folder);
    EXPECT_EQ(Narrow(Lower(marker[0])), Narrow(folder + L"\\" + Lower(kRedist)));
    EXPECT_NE(Narrow(folder), Narrow(Lower(CurrentFolder())));

    for (size_t i = 0; i < c.productsInstalled.size(); ++i) {
        const SamplePackage& package = kSamplePackages[i];
        EXPECT_EQ(ProductInstalled(package), c.productsInstalled[i]) << Narrow(package.entry);
        const std::wstring file = InstalledFilePath(package);
        if (c.productsInstalled[i]) {
            EXPECT_TRUE(FileExists(file)) << Narrow(package.entry) << " installed no file at " << Narrow(file);
            EXPECT_EQ(Lower(file.substr(file.rfind(L'\\') + 1)), Lower(package.installedFile)) << Narrow(file);
        } else {
            EXPECT_EQ(Narrow(file), "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Payloads, RuntimePackageRun, ::testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A message box of a program the setup program started (`exeName`, a child
// process of `setupId`).
std::optional<ui::MessageBoxWindow> FindChildBox(DWORD setupId, const std::wstring& exeName) {
    std::optional<ui::MessageBoxWindow> box;
    ui::WaitUntil(
        [&] {
            for (const ui::ProcessInfo& p : ui::ListProcesses()) {
                if (p.parentId == setupId && Lower(p.exeName) == Lower(exeName)) {
                    box = ui::FindMessageBox(p.id, ui::Duration{0});
                    if (box) return true;
                }
            }
            return false;
        },
        kPackageWatchdog);
    return box;
}

// A package the shell cannot start is skipped once the shell's own error has
// been answered; a package that fails in its installer counts as ended. Both
// copies are deleted, and the packages after them run.
TEST_F(RuntimePackages, FailingPackagesAreSkippedAndTheNextOnesRun) {
    auto wizard = OpenRuntimePage(UI_SETUP_FAILING_PACKAGES_EXE);
    ASSERT_TRUE(wizard);

    // The redistributable entry is no program: the shell says so in a box of
    // the setup program (the record asks for no silence), while the copy is
    // in place.
    const auto shellError = ui::FindMessageBox(Process().Id(), kPackageWatchdog);
    ASSERT_TRUE(shellError) << "no error from the shell";
    Screenshot("shell-error");
    EXPECT_EQ(Describe(watch_.Appeared()), Describe(LowerAll({kRedist})));
    EXPECT_EQ(watch_.Now(), std::set<std::wstring>{Lower(kRedist)});
    ASSERT_TRUE(shellError->Answer(IDOK));

    // The refusing package: the Windows Installer tells why and fails.
    const auto refusal = FindChildBox(Process().Id(), L"msiexec.exe");
    ASSERT_TRUE(refusal) << "the refusing package showed nothing";
    Screenshot("install-failed");
    EXPECT_EQ(Narrow(refusal->Text()), Narrow(SAMPLE_REFUSAL_MESSAGE));
    EXPECT_EQ(watch_.Now(), std::set<std::wstring>{Lower(kH264)});
    EXPECT_EQ(wizard->CurrentPageId(), IDD_AXIS);
    ASSERT_TRUE(refusal->Answer(IDOK));

    ExpectWizardEndsByItself(*wizard);
    EXPECT_EQ(Describe(watch_.Appeared()), Describe(LowerAll(kPackageEntries)));
    EXPECT_FALSE(FileExists(RedistMarkerPath()));
    EXPECT_TRUE(ProductInstalled(kSamplePackages[0]));
    EXPECT_FALSE(ProductInstalled(kRefusingSamplePackage));
    EXPECT_TRUE(ProductInstalled(kSamplePackages[2]));
}

}  // namespace
}  // namespace ui_test
