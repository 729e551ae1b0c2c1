// A fixture that walks a fresh wizard to the licence or the destination page
// the way a user does: welcome page loaded, Next, "I Agree", Next.
#pragma once

#include "ui_test_support.h"

namespace ui_test {

class PageWalkTest : public UiTest {
protected:
    // Starts `exe` (a normal installation) with `args` and walks to
    // `templateId` (IDD_LICENSE or IDD_DESTINATION). Nothing when a step
    // failed; the failure is recorded.
    std::optional<ui::Wizard> OpenAt(int templateId, const std::wstring& exe = UI_SETUP_EXE,
                                     const std::vector<std::wstring>& args = {}) {
        ui::SetupProcess& process = Start(exe, args);
        if (!process.Started()) {
            ADD_FAILURE() << "setup did not start, error " << process.StartError();
            return std::nullopt;
        }
        auto wizard = ui::Wizard::WaitFor(process.Id(), PageOrder(false));
        if (!wizard) {
            ADD_FAILURE() << "no wizard window appeared";
            return std::nullopt;
        }
        if (!WaitForLoaded(*wizard) || !wizard->Next(IDD_WELCOME) || !wizard->WaitForPage(IDD_LICENSE)) {
            ADD_FAILURE() << "the licence page was not reached; on page " << wizard->CurrentPageId();
            return std::nullopt;
        }
        if (templateId == IDD_LICENSE) {
            if (!wizard->WaitForSettled(IDD_LICENSE)) {
                ADD_FAILURE() << "the licence page did not settle";
                return std::nullopt;
            }
            return wizard;
        }
        if (!wizard->Click(IDD_LICENSE, IDC_AGREE) || !wizard->Next(IDD_LICENSE) ||
            !wizard->WaitForPage(IDD_DESTINATION)) {
            ADD_FAILURE() << "the destination page was not reached; on page " << wizard->CurrentPageId();
            return std::nullopt;
        }
        if (!wizard->WaitForSettled(IDD_DESTINATION)) {
            ADD_FAILURE() << "the destination page did not settle";
            return std::nullopt;
        }
        return wizard;
    }
};

}  // namespace ui_test
