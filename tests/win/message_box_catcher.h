// Answers the message boxes a test provokes in its own process: a CBT hook on
// the calling thread sees each dialog box as it is activated, records its
// caption, text and owner, and presses the chosen button.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quentar::testing {

struct CaughtBox {
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;
    HWND focusBefore = nullptr;  // the window that had the focus as the box opened
};

class MessageBoxCatcher {
public:
    explicit MessageBoxCatcher(int answer = IDOK) : answer_(answer) {
        previous_ = current_;
        current_ = this;
        hook_ = ::SetWindowsHookExW(WH_CBT, &MessageBoxCatcher::Hook, nullptr, ::GetCurrentThreadId());
    }
    ~MessageBoxCatcher() {
        ::UnhookWindowsHookEx(hook_);
        current_ = previous_;
    }
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    const std::vector<CaughtBox>& boxes() const { return boxes_; }

private:
    static std::wstring TextOf(HWND hwnd) {
        wchar_t buffer[1024] = {};
        ::GetWindowTextW(hwnd, buffer, 1024);
        return buffer;
    }

    static LRESULT CALLBACK Hook(int code, WPARAM w, LPARAM l) {
        MessageBoxCatcher* self = current_;
        if (code == HCBT_ACTIVATE && self != nullptr) {
            const HWND box = reinterpret_cast<HWND>(w);
            wchar_t className[32] = {};
            ::GetClassNameW(box, className, 32);
            if (std::wstring(className) == L"#32770" && ::GetDlgItem(box, 0xFFFF) != nullptr) {
                self->boxes_.push_back(
                    {TextOf(box), TextOf(::GetDlgItem(box, 0xFFFF)), ::GetWindow(box, GW_OWNER), ::GetFocus()});
                ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(self->answer_, BN_CLICKED), 0);
            }
        }
        return ::CallNextHookEx(nullptr, code, w, l);
    }

    static inline thread_local MessageBoxCatcher* current_ = nullptr;
    MessageBoxCatcher* previous_ = nullptr;
    HHOOK hook_ = nullptr;
    int answer_;
    std::vector<CaughtBox> boxes_;
};

}  // namespace quentar::testing
