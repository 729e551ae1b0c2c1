// Drives Setup.exe's wizard from another process, the way a person would:
// find the window, read what it shows, click its buttons, answer its boxes.
//
// Everything the wizard does in reaction to a click arrives later (button
// states change through posted PSM_SETWIZBUTTONS, clicks are posted so that a
// modal box cannot block the driver), so a reader is meant to be polled with
// WaitUntil and a time-out; the time-outs are watchdogs, not measurements.
//
// A page that has just become current may still show what the page before it
// left: its activation posts its button changes, which the sheet carries out
// only once it is back in its message loop, and under load that can take a
// while. So the driver acts on a page only once the page and the state it acts
// on have been seen together again and again for a moment (WaitUntilSteady):
// every look at the page is a message the sheet must answer, so by then the
// sheet has been back in its loop several times, and what was posted before
// has been carried out. Clicks name the page they are meant for.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ui {

using Duration = std::chrono::milliseconds;

// Long enough for a slow Wine start on a machine whose cores are busy with
// other work (emulated 32-bit code under load starts a program in tens of
// seconds); reached only when something is wrong.
constexpr Duration kWatchdog{60000};

// Calls `predicate` until it holds or `timeout` has passed; true when it held.
// Window messages of this thread are pumped between polls.
bool WaitUntil(const std::function<bool()>& predicate, Duration timeout = kWatchdog);

// How long, and on how many polls in a row at least, a state must hold before
// WaitUntilSteady trusts it.
constexpr Duration kSteadyFor{250};
constexpr int kSteadyPolls = 4;

// Calls `predicate` until it has held on every call for kSteadyFor and on at
// least kSteadyPolls calls in a row, or `timeout` has passed; true when it
// held so. A state that shows for a moment and goes again (a page's leftover
// button state, replaced by the page's own posted one) starts the count anew.
bool WaitUntilSteady(const std::function<bool()>& predicate, Duration timeout = kWatchdog);

// Owns one kernel handle; closes it on destruction.
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept;
    ~ScopedHandle() { Reset(); }

    HANDLE Get() const { return handle_; }
    HANDLE Release();
    void Reset(HANDLE handle = nullptr);

private:
    HANDLE handle_ = nullptr;
};

// Builds a command line that the C runtime splits back into exactly `args`.
std::wstring QuoteArgument(const std::wstring& arg);

// One run of a setup program. Started on construction; killed on destruction
// if it is still running, so no test leaves a process behind.
class SetupProcess {
public:
    // Each argument quoted as the runtime's splitting needs it.
    SetupProcess(const std::wstring& exePath, const std::vector<std::wstring>& args);
    // The arguments written as a person types them, after the program's
    // quoted path: to see how the program reads a command line, quotes
    // and backslashes included.
    struct Verbatim {};
    SetupProcess(const std::wstring& exePath, Verbatim, const std::wstring& arguments);
    SetupProcess(const SetupProcess&) = delete;
    SetupProcess& operator=(const SetupProcess&) = delete;
    ~SetupProcess();

    bool Started() const { return process_.Get() != nullptr; }
    // The system error of CreateProcessW when the start failed.
    DWORD StartError() const { return startError_; }
    DWORD Id() const { return id_; }
    bool IsRunning() const;
    // The exit code once the process has ended, or nothing after `timeout`.
    std::optional<DWORD> WaitForExit(Duration timeout = kWatchdog) const;
    // Ends the process (exit code 1) and waits for it to be gone.
    void Kill();

private:
    void Launch(const std::wstring& exePath, const std::wstring& commandLine);

    ScopedHandle process_;
    DWORD id_ = 0;
    DWORD startError_ = 0;
};

// Reads a window's text across processes (WM_GETTEXT through
// SendMessageTimeout, so a hung target cannot hang the reader).
std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
// Visible top-level windows of a process.
std::vector<HWND> TopLevelWindows(DWORD processId);

// The wizard sheet of a running setup program.
//
// Pages are told apart by their index in the sheet (PSM_HWNDTOINDEX on the
// current page window): the program always adds its six pages in one fixed
// order, and a page's dialog-template id cannot be read from outside, so
// `pageOrder` maps index to template id. Whether index 0 is the normal or the
// update welcome page depends on how the program was started, which the
// caller knows.
class Wizard {
public:
    static constexpr int kBack = 0x3023;
    static constexpr int kNext = 0x3024;
    static constexpr int kFinish = 0x3025;
    static constexpr int kCancel = IDCANCEL;

    Wizard(HWND sheet, std::vector<int> pageOrder) : sheet_(sheet), pageOrder_(std::move(pageOrder)) {}

    // The sheet: a visible top-level "#32770" window of the process with a
    // child whose id is the Next button's. Waits up to `timeout`.
    static std::optional<Wizard> WaitFor(DWORD processId, std::vector<int> pageOrder, Duration timeout = kWatchdog);

    HWND Sheet() const { return sheet_; }
    bool Exists() const { return ::IsWindow(sheet_) != FALSE; }
    // What the title bar shows.
    std::wstring Title() const { return WindowText(sheet_); }

    HWND CurrentPage() const;
    // Index of the current page in the sheet, -1 when there is none.
    int CurrentPageIndex() const;
    // Template id of the current page (through `pageOrder`), -1 when unknown.
    int CurrentPageId() const;
    // The template id of the sheet's first page (the normal or the update
    // welcome page).
    int FirstPageId() const { return pageOrder_.empty() ? -1 : pageOrder_.front(); }
    // Until the current page is `templateId`, seen once: where the wizard has
    // gone (a page that starts working at once, such as the progress page,
    // may not answer again for a long time). Acting on the page goes through
    // Click, which waits for it to settle.
    bool WaitForPage(int templateId, Duration timeout = kWatchdog) const;
    // Until the current page is `templateId` and `state` holds, the two
    // together steadily (WaitUntilSteady): the page has finished activating
    // and `state` is its own, not what the page before it left.
    bool WaitForState(int templateId, const std::function<bool()>& state, Duration timeout = kWatchdog) const;
    // Until the current page is steadily `templateId`: reads from here on see
    // the page as its activation left it.
    bool WaitForSettled(int templateId, Duration timeout = kWatchdog) const {
        return WaitForState(templateId, [] { return true; }, timeout);
    }

    // A control of the current page, or else of the sheet (the wizard
    // buttons); null when neither has it.
    HWND Control(int id) const;
    // Windows of the current page without an id of their own (-1), found by
    // their text, or by style bits they all have: the first match, or null.
    HWND PageWindowWithText(const std::wstring& text) const;
    HWND PageWindowWithStyle(LONG styleBits) const;
    // The first window of the current page (children of children included)
    // for which `matches` holds, or null.
    HWND FindPageWindow(const std::function<bool(HWND)>& matches) const;
    bool Exists(int id) const { return Control(id) != nullptr; }
    std::wstring Text(int id) const;
    bool IsEnabled(int id) const;
    // Visible on screen: the control and every parent up to the sheet.
    bool IsVisible(int id) const;
    bool IsChecked(int id) const;

    // Brings the wizard to the front as a click on it would, and waits until
    // it is the active window; the dialog manager then gives the focus back
    // to the control that had it when the wizard was last active. (Under Wine
    // without a window manager the X server may hand the focus to the desktop
    // as a message box disappears, where Windows would activate its owner.)
    bool Activate() const;
    // The window with the keyboard focus in the wizard's thread, or null.
    HWND FocusedWindow() const;
    bool HasFocus(int id) const;
    // Moves the focus to a control of the current page as the Tab key would
    // (WM_NEXTDLGCTL to the page).
    bool Focus(int id) const;
    // Replaces a control's text (WM_SETTEXT), as typing it over would.
    bool SetText(int id, const std::wstring& text) const;

    // Font handles as WM_GETFONT answers them. Wine does not carry
    // WM_GETFONT across processes (the send fails and these answer null);
    // on Windows they answer the handles, which still cannot be looked into
    // from here.
    HFONT FontHandle(int id) const { return FontHandle(Control(id)); }
    HFONT PageFontHandle() const;
    static HFONT FontHandle(HWND control);

    // Whether a text is shown in bold, judged from the screen as a person
    // would: the control's text ink (pixels much darker than its background;
    // a check box's box left out) is compared with the same text drawn here
    // in the dialog font at regular and at bold weight, in the control's
    // size and wrapping. The nearer drawing decides. The control must be
    // visible and not covered.
    struct TextInk {
        int shown = -1;    // ink pixels of the control on screen, -1 when not measurable
        int regular = -1;  // the same text drawn at regular weight
        int bold = -1;     // ... and at bold weight
    };
    TextInk MeasureTextInk(HWND control) const;
    bool IsBold(int id) const { return IsBold(Control(id)); }
    bool IsBold(HWND control) const;
    static bool IsVisible(HWND control) { return control != nullptr && ::IsWindowVisible(control); }

    // Clicks a control of the page `templateId` as a person would: once that
    // page is current and the control is there, visible and enabled, all of
    // it steadily (WaitForState); false when that did not come within
    // `timeout`. The click is posted (BM_CLICK), so it is carried out after
    // this returns and a modal box it opens does not block the driver.
    bool Click(int templateId, int id, Duration timeout = kWatchdog) const;
    bool Next(int templateId) const { return Click(templateId, kNext); }
    bool Back(int templateId) const { return Click(templateId, kBack); }
    bool Finish(int templateId) const { return Click(templateId, kFinish); }
    bool Cancel(int templateId) const { return Click(templateId, kCancel); }
    // Presses a wizard button through the sheet (PSM_PRESSBUTTON, posted)
    // once the page `templateId` is steadily current, whatever state the
    // button shows: for walking the page path when a page's own button rules
    // are not what is under test.
    bool Press(int templateId, int psbtn) const;

private:
    HWND sheet_;
    std::vector<int> pageOrder_;
};

// A message box of the setup program: a "#32770" top-level window of the
// process other than the wizard (owned by the wizard, or without an owner
// like the fatal-error box).
class MessageBoxWindow {
public:
    explicit MessageBoxWindow(HWND window) : window_(window) {}

    HWND Window() const { return window_; }
    HWND Owner() const { return ::GetWindow(window_, GW_OWNER); }
    std::wstring Caption() const { return WindowText(window_); }
    // The message, from the static with id 0xFFFF; empty only when the box
    // did not answer within the watchdog.
    std::wstring Text() const;
    // A button the box shows (unused buttons may exist hidden).
    bool HasButton(int id) const {
        const HWND button = ::GetDlgItem(window_, id);
        return button != nullptr && ::IsWindowVisible(button);
    }
    // Presses IDOK, IDYES, IDNO, ... (posted BM_CLICK) and waits until the
    // box has gone, so that a box looked for next is not this one closing;
    // true when it has.
    bool Answer(int id) const;

private:
    HWND window_;
};

// A message box of the process, once it is shown and answers messages: its
// dialog procedure has set its text, and its modal loop runs. (A box becomes
// visible before its loop starts; a program that had not looked at its
// messages for seconds before it, as one waiting for another program does,
// does not answer until then.)
std::optional<MessageBoxWindow> FindMessageBox(DWORD processId, Duration timeout = kWatchdog);

// Sends a message whose arguments and answer hold no pointers (they would
// mean nothing in the other process); nothing when the target did not answer
// in time.
std::optional<LRESULT> Query(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0);

// The first descendant of `parent` (children of children included) of the
// given window class, or null.
HWND FindDescendantOfClass(HWND parent, const std::wstring& className);

// A tree-view control of another process, read through a buffer placed in
// that process (TVM_GETITEMW hands back text through a pointer).
class ForeignTreeView {
public:
    explicit ForeignTreeView(HWND tree) : tree_(tree) {}

    HTREEITEM Selection() const { return Next(nullptr, TVGN_CARET); }
    HTREEITEM Root() const { return Next(nullptr, TVGN_ROOT); }
    HTREEITEM Parent(HTREEITEM item) const { return Next(item, TVGN_PARENT); }
    HTREEITEM FirstChild(HTREEITEM item) const { return Next(item, TVGN_CHILD); }
    HTREEITEM NextSibling(HTREEITEM item) const { return Next(item, TVGN_NEXT); }
    // The item's text; empty when it cannot be read.
    std::wstring Text(HTREEITEM item) const;
    // The texts from the root down to `item`.
    std::vector<std::wstring> PathTo(HTREEITEM item) const;
    // The first child of `item` (expanded first) whose text matches, or null.
    HTREEITEM Child(HTREEITEM item, const std::function<bool(const std::wstring&)>& matches) const;
    HTREEITEM Child(HTREEITEM item, const std::wstring& text) const {
        return Child(item, [&](const std::wstring& t) { return t == text; });
    }
    bool Select(HTREEITEM item) const;

private:
    HTREEITEM Next(HTREEITEM item, UINT relation) const;
    HWND tree_;
};

// Writes a PNG picture of the whole screen to `path`, creating its folders.
bool SaveScreenshot(const std::wstring& path);

// Processes of the Wine prefix (or Windows session) right now.
struct ProcessInfo {
    DWORD id;
    DWORD parentId;
    std::wstring exeName;
};
std::vector<ProcessInfo> ListProcesses();

}  // namespace ui
