// The fixture every UI test starts from: one setup process per test, killed
// in teardown if it still runs, and screenshots filed under the test's name.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "sample_runtime.h"
#include "ui_driver.h"
#include "ui_paths.h"

namespace ui_test {

// The sheet's pages by index, as the program adds them.
inline std::vector<int> PageOrder(bool updateMode) {
    return {updateMode ? IDD_WELCOME_UPDATE : IDD_WELCOME, IDD_LICENSE, IDD_DESTINATION, IDD_PROGRESS, IDD_DONE,
            IDD_AXIS};
}

// The installation the update arguments below name.
constexpr wchar_t kUpdateTargetFolder[] = L"C:\\Apps\\Quentar";

// The arguments with which the running application starts its updater.
inline std::vector<std::wstring> UpdateArguments() {
    return {L"/update:1", L"/wh:0", L"/exe:" + std::wstring(kUpdateTargetFolder) + L"\\Quentar.exe"};
}

// The longest destination that takes the default payload: the longest path
// the installation makes in it, one of the payload's longest names
// ("AV2000SDK.dll", "zorbelreg.exe") moved aside (a dot and 32 hexadecimal
// digits added), must fit MAX_PATH with its terminating zero.
constexpr size_t kLongestNameMovedAside = 13 + 33;
constexpr size_t kMaxDestinationLength = MAX_PATH - 1 - 1 /* backslash */ - kLongestNameMovedAside;
// The installation the update arguments name, as an earlier run of the setup
// program recorded it (the setup program updates nothing else): its folder,
// and its uninstall record listing its Quentar.exe. Removed again, record and
// folder, by RemoveUpdateTarget. In install_support.cpp.
void RecordUpdateTarget();
void RemoveUpdateTarget();

inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// For messages: UTF-16 text shown as ASCII with \u escapes.
inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out;
}

class UiTest : public ::testing::Test {
protected:
    // Pictures of an earlier run of this test would mislead: start afresh.
    void SetUp() override {
        const std::wstring folder = ScreenshotFolder();
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((folder + L"\\*.png").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }

    // The sample runtime packages a test ran leave what the setup program
    // detects: they are taken back, so that the next test starts without.
    void TearDown() override {
        if (HasFailure()) Screenshot("failure");
        if (process_ && process_->IsRunning()) process_->Kill();
        process_.reset();
        RemoveSampleRuntime();
        if (updateTargetRecorded_) RemoveUpdateTarget();
        updateTargetRecorded_ = false;
    }

    // Starts a setup program; check Started() on the result.
    ui::SetupProcess& Start(const std::wstring& exe, const std::vector<std::wstring>& args = {}) {
        process_ = std::make_unique<ui::SetupProcess>(exe, args);
        return *process_;
    }
    // Starts a setup program with arguments written as a person types them.
    ui::SetupProcess& StartVerbatim(const std::wstring& exe, const std::wstring& arguments) {
        process_ = std::make_unique<ui::SetupProcess>(exe, ui::SetupProcess::Verbatim{}, arguments);
        return *process_;
    }

    // Starts Setup.exe and waits for its wizard; nothing when it did not show.
    std::optional<ui::Wizard> OpenWizard(bool updateMode) {
        if (updateMode && !updateTargetRecorded_) {
            RecordUpdateTarget();
            updateTargetRecorded_ = true;
        }
        ui::SetupProcess& process = Start(UI_SETUP_EXE, updateMode ? UpdateArguments() : std::vector<std::wstring>{});
        if (!process.Started()) {
            ADD_FAILURE() << "Setup.exe did not start, error " << process.StartError();
            return std::nullopt;
        }
        auto wizard = ui::Wizard::WaitFor(process.Id(), PageOrder(updateMode));
        if (!wizard) ADD_FAILURE() << "no wizard window appeared";
        return wizard;
    }

    // Waits until the welcome page (normal or update) has loaded the
    // payload: the component boxes, disabled while the payload loads, are
    // enabled again and so is Next, steadily. Next alone is no sign: the sheet
    // shows it enabled until the page's own posted button change arrives.
    static bool WaitForLoaded(const ui::Wizard& wizard) {
        return wizard.WaitForState(wizard.FirstPageId(), [&] {
            return wizard.IsEnabled(IDC_APPLICATION_BOX) && wizard.IsEnabled(ui::Wizard::kNext);
        });
    }

    // BUILD_DIR\ui-screenshots\<Suite.Test>
    static std::wstring ScreenshotFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string folder = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : folder) {
            if (c == '/' || c == '\\' || c == ':') c = '_';
        }
        return std::wstring(UI_SCREENSHOT_DIR) + L"\\" + Widen(folder);
    }

    // A picture of the screen: <ScreenshotFolder>\<name>.png
    void Screenshot(const std::string& name) {
        std::string file = name;
        for (char& c : file) {
            if (!isalnum(static_cast<unsigned char>(c))) c = '-';
        }
        const std::wstring path = ScreenshotFolder() + L"\\" + Widen(file) + L".png";
        EXPECT_TRUE(ui::SaveScreenshot(path)) << "screenshot " << name << " not written";
    }

    ui::SetupProcess& Process() { return *process_; }

    std::unique_ptr<ui::SetupProcess> process_;
    bool updateTargetRecorded_ = false;
};

}  // namespace ui_test
