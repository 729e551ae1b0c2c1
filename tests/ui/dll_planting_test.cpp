// A setup program is downloaded into a folder full of other downloads and run
// from there, elevated. This test plants a marker DLL (tests/ui/marker_dll.c:
// loading it leaves "<name>.dll.loaded" beside it) under the name of every
// DLL the program loads, beside a copy of Setup.exe, walks the wizard from
// that folder and checks that no marker ever appears.
//
// The walk runs twice. Once with Wine's own load order, as a Wine user would
// meet it: Wine maps its built-in copy for most system names even when a
// file of that name lies on the search path, but not for all (shcore). Once
// native-first (Wine's per-program DllOverrides key, meaningless on
// Windows): then Wine, like Windows, takes a planted file wherever its search
// finds one before System32.
//
// To extend the test to more of the program: lengthen the walk (Walk()) and
// run it once with WINEDEBUG=+loaddll; every DLL name the log shows for the
// setup process beyond those here goes into kPlantedNames.
#include <algorithm>
#include <cwctype>
#include <functional>
#include <vector>

#include "install_support.h"
#include "ui_runtime_paths.h"

namespace ui_test {
namespace {

// Every DLL that +loaddll shows the program loading in the walk below, less
// the three Wine always maps from its own folder (ntdll, kernelbase,
// kernel32) and its display driver (winex11.drv).
const wchar_t* const kPlantedNames[] = {
    L"advapi32", L"bcrypt",  L"combase", L"comctl32", L"gdi32",   L"imm32",    L"msimg32", L"msvcrt",
    L"ole32",    L"oleaut32", L"riched20", L"rpcrt4",  L"sechost", L"shcore",   L"shell32", L"shlwapi",
    L"ucrtbase", L"user32",   L"usp10",   L"uxtheme", L"version", L"win32u",   L"zlib1",
};

// Of those, the ones the loader brings in at process start, before the
// program's first line: the static imports Setup.exe is allowed (see
// SETUP_STATIC_IMPORTS) and what Wine's own copies of them import. Windows
// takes the former from System32 whatever the search path (known DLLs); the
// latter are Wine's doing, not the program's. They stay planted, but Wine
// keeps its own load order for them.
const wchar_t* const kLoadedBeforeTheProgram[] = {
    L"advapi32", L"gdi32", L"imm32", L"msvcrt", L"sechost", L"ucrtbase", L"user32", L"version", L"win32u", L"zlib1",
};

bool LoadedBeforeTheProgram(const std::wstring& name) {
    return std::any_of(std::begin(kLoadedBeforeTheProgram), std::end(kLoadedBeforeTheProgram),
                       [&](const wchar_t* early) { return name == early; });
}

// Makes Wine take every planted name but those loaded before the program
// from the search, native first, in the processes of `exeName` while it
// lives (Wine's per-program load order; Windows has no use for the key).
// Without `nativeFirst` it does nothing.
class NativeFirstLoadOrder {
public:
    // `names`: the DLLs taken native first; by default every planted name but
    // those loaded before the program.
    NativeFirstLoadOrder(const std::wstring& exeName, bool nativeFirst, std::vector<std::wstring> names = {})
        : key_(L"Software\\Wine\\AppDefaults\\" + exeName + L"\\DllOverrides") {
        if (!nativeFirst) {
            ok_ = true;
            key_.clear();
            return;
        }
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr) != ERROR_SUCCESS) {
            return;
        }
        ok_ = true;
        if (names.empty()) {
            for (const wchar_t* name : kPlantedNames) {
                if (!LoadedBeforeTheProgram(name)) names.push_back(name);
            }
        }
        static const wchar_t kNativeFirst[] = L"native,builtin";
        for (const std::wstring& name : names) {
            ok_ = ok_ && ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst),
                                          sizeof(kNativeFirst)) == ERROR_SUCCESS;
        }
        ::RegCloseKey(key);
    }
    ~NativeFirstLoadOrder() {
        if (!key_.empty()) ::RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
    }
    bool Ok() const { return ok_; }

private:
    std::wstring key_;
    bool ok_ = false;
};

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::wstring& folder) {
        wchar_t previous[MAX_PATH];
        const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, previous);
        // A length not below MAX_PATH is the size the path would need.
        if (length > 0 && length < MAX_PATH) previous_.assign(previous, length);
        ::SetCurrentDirectoryW(folder.c_str());
    }
    ~ScopedCurrentDirectory() {
        if (!previous_.empty()) ::SetCurrentDirectoryW(previous_.c_str());
    }

private:
    std::wstring previous_;
};

// File names in `folder` that match `pattern`.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// The folder, existing and empty.
bool MakeEmptyFolder(const std::wstring& folder) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& name : FilesIn(folder, L"*")) ::DeleteFileW((folder + L"\\" + name).c_str());
    return (::GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0 && FilesIn(folder, L"*").empty();
}

std::string Join(const std::vector<std::wstring>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : " ") + Narrow(name);
    return text;
}

struct LoadOrder {
    const char* name;
    bool nativeFirst;
};

void PrintTo(const LoadOrder& order, std::ostream* os) { *os << order.name; }

class DllPlanting : public InstallTest, public ::testing::WithParamInterface<LoadOrder> {
protected:
    // One step of the walk: what a person does, and whether the program
    // answered as it should.
    struct Step {
        const char* name;
        std::function<bool(const ui::Wizard&, ui::SetupProcess&)> run;
    };

    // The walk through the wizard, from the first page to the program's end:
    // a whole installation with the runtime packages. Lengthen it as the
    // program grows, and plant what the new steps load.
    std::vector<Step> Walk() {
        return {
            {"the wizard leads from the welcome page to the installation",
             [this](const ui::Wizard& w, ui::SetupProcess& p) {
                 return WalkToProgress(w, p.Id(), {/*desktopShortcut=*/true, /*axisRuntime=*/true});
             }},
            {"the installation ends on the finish page",
             [](const ui::Wizard& w, ui::SetupProcess& p) {
                 ui::WaitUntil([&] { return ui::FindMessageBox(p.Id(), ui::Duration{0}) || w.CurrentPageId() == IDD_DONE; },
                               ui::Duration{60000});
                 return !ui::FindMessageBox(p.Id(), ui::Duration{0}) && w.CurrentPageId() == IDD_DONE;
             }},
            {"the finish page, the installed program not to be started, leads on to the runtime packages",
             [](const ui::Wizard& w, ui::SetupProcess&) {
                 if (!w.WaitForState(IDD_DONE, [&] { return w.IsEnabled(ui::Wizard::kNext); })) return false;
                 if (w.IsChecked(IDC_START_BOX) && !w.Click(IDD_DONE, IDC_START_BOX)) return false;
                 return ui::WaitUntil([&] { return !w.IsChecked(IDC_START_BOX); }) && w.Next(IDD_DONE) &&
                        w.WaitForPage(IDD_AXIS);
             }},
            {"the runtime packages run and the wizard ends by itself",
             [](const ui::Wizard&, ui::SetupProcess& p) {
                 const std::optional<DWORD> exitCode = p.WaitForExit(ui::Duration{90000});
                 return exitCode == 0u;
             }},
        };
    }
};

TEST_P(DllPlanting, NoDllBesideTheProgramIsLoadedInAWholeRun) {
    const std::wstring folder = UI_PLANTING_DIR;
    ASSERT_TRUE(MakeEmptyFolder(folder)) << Narrow(folder);

    // The marker works: loaded by its full path, it refuses and leaves its mark.
    const std::wstring check = folder + L"\\marker-check.dll";
    ASSERT_TRUE(::CopyFileW(UI_MARKER_DLL, check.c_str(), FALSE)) << "error " << ::GetLastError();
    EXPECT_EQ(::LoadLibraryW(check.c_str()), nullptr);
    ASSERT_EQ(Join(FilesIn(folder, L"*.loaded")), "marker-check.dll.loaded");
    ASSERT_TRUE(MakeEmptyFolder(folder));

    const std::wstring setup = folder + L"\\Setup.exe";
    ASSERT_TRUE(::CopyFileW(UI_SETUP_EXE, setup.c_str(), FALSE)) << "error " << ::GetLastError();
    for (const wchar_t* name : kPlantedNames) {
        const std::wstring planted = folder + L"\\" + name + L".dll";
        ASSERT_TRUE(::CopyFileW(UI_MARKER_DLL, planted.c_str(), FALSE)) << Narrow(name);
    }

    const NativeFirstLoadOrder loadOrder(L"Setup.exe", GetParam().nativeFirst);
    ASSERT_TRUE(loadOrder.Ok());
    {
        // Started as from a download folder: the program's folder is also
        // the current one.
        ScopedCurrentDirectory current(folder);
        ASSERT_TRUE(StartSetup(setup).Started()) << "error " << Process().StartError();
    }

    std::string stoppedAt;
    if (auto wizard = ui::Wizard::WaitFor(Process().Id(), PageOrder(false))) {
        for (const Step& step : Walk()) {
            if (!step.run(*wizard, Process())) {
                stoppedAt = step.name;
                Screenshot("stopped");
                break;
            }
        }
    } else {
        stoppedAt = "the wizard appears";
    }
    if (Process().IsRunning()) Process().Kill();

    EXPECT_EQ(Join(FilesIn(folder, L"*.loaded")), "") << "markers of DLLs loaded from beside the program";
    EXPECT_EQ(stoppedAt, "") << "the walk did not get past this step, so later loads went unchecked";
}

const LoadOrder kLoadOrders[] = {{"WinesOwn", false}, {"NativeFirst", true}};

INSTANTIATE_TEST_SUITE_P(LoadOrders, DllPlanting, ::testing::ValuesIn(kLoadOrders),
                         [](const auto& info) { return std::string(info.param.name); });

// The setup program copies a runtime package out of its payload and starts
// it; run unattended by a deployment tool as SYSTEM, its temporary folder is
// one every user may write. A version.dll planted there must not be loaded
// by the package (one that imports it), native first as in the walk above.
class PackagePlanting : public InstallTest {
protected:
    void TearDown() override {
        if (!previousTmp_.empty()) ::SetEnvironmentVariableW(L"TMP", previousTmp_.c_str());
        InstallTest::TearDown();
    }
    std::wstring previousTmp_;
};

TEST_F(PackagePlanting, AVersionDllInTheTemporaryFolderIsNotLoadedByARuntimePackage) {
    if (!UI_HAVE_RUNTIME_FIXTURES) GTEST_SKIP() << "built without the payload tool: no stand-in package";
    const std::wstring temp = std::wstring(UI_PLANTING_DIR) + L"\\temp";
    ::CreateDirectoryW(UI_PLANTING_DIR, nullptr);
    ASSERT_TRUE(MakeEmptyFolder(temp)) << Narrow(temp);
    ASSERT_TRUE(::CopyFileW(UI_MARKER_DLL, (temp + L"\\version.dll").c_str(), FALSE));
    const std::wstring package = L"AXISMediaControlSDK_redist.exe";
    const NativeFirstLoadOrder loadOrder(package, true, {L"version"});
    ASSERT_TRUE(loadOrder.Ok());

    // The plant works: the package started beside it, as it was from the
    // temporary folder, loads it.
    {
        const std::wstring beside = temp + L"\\" + package;
        ASSERT_TRUE(::CopyFileW(UI_PACKAGE_VERSION_IMPORTER, beside.c_str(), FALSE));
        ui::SetupProcess direct(beside, {});
        ASSERT_TRUE(direct.Started());
        direct.WaitForExit();
        // Named as the package imports it (VERSION.dll).
        const std::vector<std::wstring> loaded = FilesIn(temp, L"*.loaded");
        ASSERT_EQ(loaded.size(), 1u) << "the planted DLL was not loaded";
        ASSERT_EQ(_wcsicmp(loaded[0].c_str(), L"version.dll.loaded"), 0) << Narrow(loaded[0]);
        ASSERT_TRUE(MakeEmptyFolder(temp));
        ASSERT_TRUE(::CopyFileW(UI_MARKER_DLL, (temp + L"\\version.dll").c_str(), FALSE));
    }

    // The setup program's temporary folder is the planted one.
    wchar_t previous[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TMP", previous, MAX_PATH) > 0) previousTmp_ = previous;
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", temp.c_str()));
    const std::wstring log = temp + L"\\run.log";
    ui::SetupProcess& setup = StartSetup(UI_SETUP_VERSION_IMPORTER_EXE, L"",
                                         {L"/quiet", L"/components:axis", L"/log:" + log});
    ::SetEnvironmentVariableW(L"TMP", previousTmp_.empty() ? nullptr : previousTmp_.c_str());
    ASSERT_TRUE(setup.Started());
    EXPECT_EQ(setup.WaitForExit(ui::Duration{90000}), std::optional<DWORD>(0u));

    EXPECT_EQ(Join(FilesIn(temp, L"*.loaded")), "") << "the package loaded the planted DLL";
    const std::optional<std::string> text = ReadBytes(log);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("runtime package " + Narrow(package) + " ended with exit code 0"), std::string::npos)
        << *text;
    // The run's own folder went with it.
    for (const std::wstring& name : FolderEntries(temp)) {
        EXPECT_NE(name.rfind(L"QuentarSetup-", 0), 0u) << Narrow(name) << " was left";
    }
}

}  // namespace
}  // namespace ui_test
