// The installation's feedback inside the wizard: message boxes owned by the
// sheet and captioned with the application's title, the pauses kept for the
// person watching, an optional progress bar that is repainted at once (no
// messages are processed while the installation runs), and the run's log.
#pragma once

#include <windows.h>

#include <optional>

#include "install/install_feedback.h"
#include "platform/framework/wnd.h"

namespace quentar {

class WizardFeedback final : public InstallFeedback {
public:
    // `owner` owns the message boxes (the sheet's window; null lets the
    // framework choose). `bar` is moved by the progress calls, or null when
    // the page has none; it must outlive this object.
    explicit WizardFeedback(HWND owner, const CProgressCtrl* bar = nullptr) : owner_(owner), bar_(bar) {}

    // The bar's range becomes 0 .. steps - 1 (0 .. 0 when there are none).
    void BeginProgress(uint32_t steps) override;
    void Progress(uint32_t position) override;
    void Pause(uint32_t milliseconds) override;
    // Shows the box; its text and the answer also go to the run's log.
    int Message(const U16String& text, uint32_t style) override;
    // To the run's log.
    void Log(U16View line) override;
    // The wait cursor (the framework's CWaitCursor) from BeginWait to EndWait.
    void BeginWait() override { waitCursor_.emplace(); }
    void EndWait() override { waitCursor_.reset(); }

private:
    HWND owner_;
    const CProgressCtrl* bar_;
    std::optional<CWaitCursor> waitCursor_;
};

}  // namespace quentar
