// The welcome page's own logic in-process: the search for an earlier
// installation against real uninstall records and real executables of the
// sample application at several versions, and the page itself in the
// program's real sheet, driven from a thread timer inside the modal loop.
// Both read what the whole machine holds (every uninstall record, the Axis
// registrations), so they run while no other test runs (see CMakeLists.txt).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixture_paths.h"
#include "install/earlier_installation.h"
#include "install/uninstall_record.h"
#include "pages/setup_start.h"
#include "platform/system_api.h"
#include "platform/wide.h"
#include "registry_scratch.h"
#include "state/resource_ids.h"
#include "test_paths.h"
#include "wizard/setup_sheet.h"

namespace quentar {
namespace {

using test_registry::NewGuidText;
using test_registry::ScratchKey;

const FileVersion kOlder{{SAMPLE_APP_OLDER_PARTS}};
const FileVersion kSame{{SETUP_VERSION_PARTS}};
const FileVersion kNewer{{SAMPLE_APP_NEWER_PARTS}};
const FileVersion kNone{};

std::string Describe(const FileVersion& v) {
    return std::to_string(v.parts[0]) + "." + std::to_string(v.parts[1]) + "." + std::to_string(v.parts[2]) + "." +
           std::to_string(v.parts[3]);
}

// One uninstall record as a test lays it out.
struct Record {
    std::wstring name;         // key name under the uninstall root
    const wchar_t* displayName;  // null: no "DisplayName"
    std::vector<std::pair<std::wstring, std::wstring>> values;  // further values, e.g. {"File0", path}
};

std::vector<std::pair<std::wstring, std::wstring>> Files(std::vector<std::wstring> paths) {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    for (size_t i = 0; i < paths.size(); ++i) values.push_back({L"File" + std::to_wstring(i), paths[i]});
    return values;
}

// A GUID key name that sorts first or last among GUID names.
std::wstring GuidSortingFirst() { return L"{0" + NewGuidText().substr(2); }
std::wstring GuidSortingLast() { return L"{F" + NewGuidText().substr(2); }

std::wstring InCapitals(std::wstring path) {
    ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

TEST(EarlierInstallation, TheHighestVersionOfTheApplicationsRecordsCounts) {
    const std::wstring root = AsWide(UninstallRecord::kRoot);
    struct Case {
        const char* what;
        std::vector<Record> records;
        bool found;
        FileVersion version;
    };
    const std::wstring tooLong = L"Quentar" + std::wstring(493, L'x');  // 500 characters: no room for the NUL
    const Case cases[] = {
        {"no record of the application", {}, false, kNone},
        {"an older build", {{NewGuidText(), L"Quentar 2009", Files({SAMPLE_APP_OLDER_PATH})}}, true, kOlder},
        {"the same build", {{NewGuidText(), L"Quentar 2009", Files({SAMPLE_APP_SAME_PATH})}}, true, kSame},
        {"a newer build", {{NewGuidText(), L"Quentar 2009", Files({SAMPLE_APP_NEWER_PATH})}}, true, kNewer},
        {"two records: the higher one counts, whichever comes last",
         {{GuidSortingFirst(), L"Quentar 2009", Files({SAMPLE_APP_SAME_PATH})},
          {GuidSortingLast(), L"Quentar 2009", Files({SAMPLE_APP_OLDER_PATH})}},
         true, kSame},
        {"every file value is looked at, other files passed over",
         {{NewGuidText(), L"Quentar 2009",
           Files({L"C:\\Program Files\\Quentar 2009\\help.pdf", SAMPLE_APP_OLDER_PATH, SAMPLE_APP_NEWER_PATH})}},
         true, kNewer},
        {"reading stops at the first missing file value",
         {{NewGuidText(), L"Quentar 2009", {{L"File0", SAMPLE_APP_OLDER_PATH}, {L"File2", SAMPLE_APP_NEWER_PATH}}}},
         true, kOlder},
        {"the executable's name in capitals",
         {{NewGuidText(), L"Quentar 2009", Files({InCapitals(SAMPLE_APP_NEWER_PATH)})}}, true, kNewer},
        {"display name in capitals", {{NewGuidText(), L"QUENTAR SURVEILLANCE", Files({SAMPLE_APP_SAME_PATH})}}, true,
         kSame},
        {"the product-name key needs no GUID form", {{L"Quentar", L"Quentar 2009", Files({SAMPLE_APP_SAME_PATH})}}, true,
         kSame},
        {"text before the product name", {{NewGuidText(), L"The Quentar 2009", Files({SAMPLE_APP_SAME_PATH})}}, false,
         kNone},
        {"no display name", {{NewGuidText(), nullptr, Files({SAMPLE_APP_SAME_PATH})}}, false, kNone},
        {"display name too long to read", {{NewGuidText(), tooLong.c_str(), Files({SAMPLE_APP_SAME_PATH})}}, false,
         kNone},
        {"a name not in GUID form", {{L"Quentar Backup " + NewGuidText(), L"Quentar 2009", Files({SAMPLE_APP_SAME_PATH})}},
         false, kNone},
        {"an executable without a version", {{NewGuidText(), L"Quentar 2009", Files({UNVERSIONED_APP_PATH})}}, false,
         kNone},
        {"an executable that is not there",
         {{NewGuidText(), L"Quentar 2009", Files({L"C:\\nowhere " + NewGuidText() + L"\\Quentar.exe"})}}, false, kNone},
        // Loadable from the current folder (set below), yet not examined.
        {"the bare file name", {{NewGuidText(), L"Quentar 2009", Files({L"Quentar.exe"})}}, false, kNone},
    };

    // A bare "Quentar.exe" would be found in the current folder.
    wchar_t previousFolder[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previousFolder);
    ASSERT_TRUE(::SetCurrentDirectoryW(SAMPLE_APP_NEWER_FOLDER));
    {
        const HMODULE bare = ::LoadLibraryExW(L"Quentar.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(bare, nullptr) << "the bare name must be loadable for its case to show anything";
        ::FreeLibrary(bare);
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<ScratchKey>> keys;
        for (const Record& r : c.records) {
            keys.push_back(std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, root + L"\\" + r.name));
            ASSERT_TRUE(keys.back()->Created());
            if (r.displayName != nullptr) {
                ASSERT_TRUE(keys.back()->SetText(L"DisplayName", r.displayName));
            }
            for (const auto& [name, text] : r.values) {
                ASSERT_TRUE(keys.back()->SetText(name.c_str(), text));
            }
        }
        InstallState state;
        state.setupVersion = kSame;
        state.installedFound = true;  // what an earlier search left must not linger
        state.installedVersion = FileVersion{{9, 9, 9, 9}};
        const bool proposed = DetectEarlierInstallation(state);

        EXPECT_EQ(state.installedFound, c.found);
        EXPECT_EQ(Describe(state.installedVersion), Describe(c.version));
        // Proposed unless the same or a newer build is installed.
        EXPECT_EQ(proposed, !c.found || c.version < kSame);
    }
    ::SetCurrentDirectoryW(previousFolder);
}

// Runs a sheet modally and drives it from a thread timer of this thread:
// each step is tried on every tick until it answers true, then the next; after
// the last step Cancel ends the wizard. A sheet that does not get there in
// time is closed by force, and Run answers false.
class StepDriver {
public:
    using Step = std::function<bool()>;

    static bool Run(CPropertySheet& sheet, std::vector<Step> steps) {
        StepDriver driver(sheet, std::move(steps));
        current_ = &driver;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &StepDriver::Tick);
        sheet.DoModal();
        ::KillTimer(nullptr, timer);
        current_ = nullptr;
        return driver.next_ == driver.steps_.size();
    }

private:
    StepDriver(CPropertySheet& sheet, std::vector<Step> steps) : sheet_(sheet), steps_(std::move(steps)) {}

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_ != nullptr) current_->Advance();
    }

    void Advance() {
        // A watchdog of about 20 s: reached only when a step never holds.
        if (++ticks_ > 1000) {
            ::DestroyWindow(sheet_.GetSafeHwnd());
            return;
        }
        if (sheet_.GetSafeHwnd() == nullptr || sheet_.ActivePageId() == 0) return;
        while (next_ < steps_.size() && steps_[next_]()) ++next_;
        if (next_ == steps_.size() && !cancelled_) {
            cancelled_ = true;
            sheet_.PressButton(PSBTN_CANCEL);
        }
    }

    static inline StepDriver* current_ = nullptr;
    CPropertySheet& sheet_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    int ticks_ = 0;
    bool cancelled_ = false;
};

// The program's sheet with its welcome page alone, in either mode.
class WelcomePageOnSheet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
        ::InitCommonControlsEx(&controls);
    }

    void Build(bool updateMode) {
        arguments_.updateMode = updateMode;
        sheet_ = std::make_unique<CSetup>(arguments_);
        page_ = std::make_unique<CSetupStart>(updateMode);
        sheet_->AddPage(page_.get());
        sheet_->SetWizardMode();
    }

    HWND Page() const { return reinterpret_cast<HWND>(sheet_->SendMessage(PSM_GETCURRENTPAGEHWND)); }
    HWND Box(int id) const { return ::GetDlgItem(Page(), id); }
    bool Checked(int id) const { return ::SendMessageW(Box(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) const { return ::IsWindowEnabled(Box(id)) != FALSE; }
    // Loading is over once the boxes are enabled again.
    bool Loaded() const { return Enabled(IDC_APPLICATION_BOX) && Enabled(IDC_AXIS_BOX); }
    void Click(int id) const { ::SendMessageW(Box(id), BM_CLICK, 0, 0); }
    InstallState& State() const { return sheet_->installState; }

    UpdateArguments arguments_;
    std::unique_ptr<CSetup> sheet_;
    std::unique_ptr<CSetupStart> page_;
};

// What the choice of the Arecont runtime leaves in the install state, where
// the installation reads it: each click on its box, and the application box,
// which the Arecont box follows.
TEST_F(WelcomePageOnSheet, TheArecontChoiceReachesTheInstallState) {
    Build(false);
    struct BoxClick {
        const char* what;
        int box;
        bool arecontChecked;
        bool arecontEnabled;
    };
    const BoxClick clicks[] = {
        {"Arecont off", IDC_ARECONT_BOX, false, true},
        {"Arecont on", IDC_ARECONT_BOX, true, true},
        {"Axis toggled", IDC_AXIS_BOX, true, true},
        {"application off", IDC_APPLICATION_BOX, false, false},
        {"application on", IDC_APPLICATION_BOX, true, false},
    };
    std::vector<std::string> seen;
    const auto record = [&](const char* what) {
        seen.push_back(std::string(what) + ": box " + (Checked(IDC_ARECONT_BOX) ? "on" : "off") +
                       (Enabled(IDC_ARECONT_BOX) ? " enabled" : " disabled") + ", installArecontRuntime " +
                       (State().installArecontRuntime ? "true" : "false"));
    };
    std::vector<StepDriver::Step> steps = {[&] {
        if (!Loaded()) return false;
        record("loaded");
        return true;
    }};
    for (const BoxClick& c : clicks) {
        steps.push_back([&] {
            Click(c.box);
            record(c.what);
            return true;
        });
    }
    ASSERT_TRUE(StepDriver::Run(*sheet_, steps)) << "the page never finished loading";

    // On a machine without the application, it is proposed with the runtime.
    std::vector<std::string> expected = {"loaded: box on enabled, installArecontRuntime true"};
    for (const BoxClick& c : clicks) {
        expected.push_back(std::string(c.what) + ": box " + (c.arecontChecked ? "on" : "off") +
                           (c.arecontEnabled ? " enabled" : " disabled") + ", installArecontRuntime " +
                           (c.arecontChecked ? "true" : "false"));
    }
    EXPECT_EQ(seen, expected);
}

// Counts what the loading asks of the machine and feeds it a clock: the
// first two tick counts the page reads are `start` and `start + loading`.
class LoadingObserver : public ForwardingSystemApi {
public:
    LoadingObserver(DWORD start, DWORD loading) : ForwardingSystemApi(Sys()), ticks_{start, start + loading} {}
    DWORD GetTickCount() override { return next_ < 2 ? ticks_[next_++] : inner_.GetTickCount(); }
    void Sleep(DWORD milliseconds) override { sleeps.push_back(milliseconds); }
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
        if (key == HKEY_LOCAL_MACHINE && subKey != nullptr &&
            std::wstring(subKey).rfind(AsWide(UninstallRecord::kRoot), 0) == 0) {
            ++recordOpens;
        }
        return inner_.RegOpenKeyExW(key, subKey, options, access, result);
    }
    HRESULT CoCreateInstance(REFCLSID id, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) override {
        ++classCreations;
        return inner_.CoCreateInstance(id, outer, context, iid, object);
    }

    std::vector<DWORD> sleeps;
    int recordOpens = 0;
    int classCreations = 0;

private:
    DWORD ticks_[2];
    int next_ = 0;
};

TEST_F(WelcomePageOnSheet, PausesAsLongAsTheLoadingTookAtMostTwoSeconds) {
    struct Case {
        const char* what;
        DWORD start;
        DWORD loading;
        DWORD pause;
    };
    const Case cases[] = {
        {"300 ms", 1000, 300, 300},
        {"5 s", 1000, 5000, 2000},
        {"exactly 2 s", 1000, 2000, 2000},
        {"across the wrap of the tick count", 0xFFFFFF00u, 0x164, 0x164},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Build(false);
        LoadingObserver observer(c.start, c.loading);
        ScopedSystemApi scope(observer);
        ASSERT_TRUE(StepDriver::Run(*sheet_, {[&] { return Loaded(); }}));
        EXPECT_EQ(observer.sleeps, std::vector<DWORD>{c.pause});
    }
}

// An update selects the application with the Arecont runtime and asks the
// machine nothing; an installation looks at the records and the decoders.
TEST_F(WelcomePageOnSheet, OnlyAnInstallationLooksForEarlierInstallationsAndDecoders) {
    for (bool updateMode : {false, true}) {
        SCOPED_TRACE(updateMode ? "update" : "installation");
        Build(updateMode);
        LoadingObserver observer(0, 0);
        ScopedSystemApi scope(observer);
        bool application = false, arecont = false, axis = false, arecontState = false;
        ASSERT_TRUE(StepDriver::Run(*sheet_, {[&] {
            if (!Loaded()) return false;
            application = Checked(IDC_APPLICATION_BOX);
            arecont = Checked(IDC_ARECONT_BOX);
            axis = Checked(IDC_AXIS_BOX);
            arecontState = State().installArecontRuntime;
            return true;
        }}));
        EXPECT_TRUE(application);
        EXPECT_TRUE(arecont);
        EXPECT_TRUE(arecontState);
        EXPECT_EQ(axis, !updateMode) << "the Axis runtime is proposed when it is missing, never in an update";
        EXPECT_EQ(observer.recordOpens > 0, !updateMode);
        EXPECT_EQ(observer.classCreations, updateMode ? 0 : 1);
    }
}

}  // namespace
}  // namespace quentar
