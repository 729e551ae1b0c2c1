#include "ui_driver.h"

#include <commctrl.h>
#include <prsht.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "png_writer.h"

namespace ui {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr Duration kPollInterval{25};

// Not SMTO_ABORTIFHUNG: a thread that has not looked at its messages for five
// seconds counts as hung and every send to it fails at once, even after it
// has shown a window and is about to answer (a message box shown after a long
// wait without messages is visible before its loop runs). The time-out alone
// keeps a hung target from hanging the reader.
bool SendWithTimeout(HWND window, UINT message, WPARAM w, LPARAM l, DWORD_PTR* result) {
    DWORD_PTR answer = 0;
    const LRESULT ok = ::SendMessageTimeoutW(window, message, w, l, SMTO_BLOCK, kSendTimeoutMs, &answer);
    if (result != nullptr) *result = answer;
    return ok != 0;
}

DWORD_PTR SendOrZero(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR answer = 0;
    return SendWithTimeout(window, message, w, l, &answer) ? answer : 0;
}

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool IsDialogWindow(HWND window) { return ClassName(window) == L"#32770"; }

bool CreateFolders(const std::wstring& folder) {
    if (folder.empty()) return true;
    if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return true;
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return false;
    if (!CreateFolders(folder.substr(0, slash))) return false;
    return ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& predicate, Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return predicate();
        PumpMessages();
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool WaitUntilSteady(const std::function<bool()>& predicate, Duration timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    Clock::time_point holdingSince = Clock::now();
    int polls = 0;  // calls in a row on which the predicate held
    for (;;) {
        if (predicate()) {
            if (polls == 0) holdingSince = Clock::now();
            ++polls;
            if (polls >= kSteadyPolls && Clock::now() - holdingSince >= kSteadyFor) return true;
        } else {
            polls = 0;
        }
        if (Clock::now() >= deadline) return false;
        PumpMessages();
        std::this_thread::sleep_for(kPollInterval);
    }
}

// --- ScopedHandle -------------------------------------------------------------

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

HANDLE ScopedHandle::Release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
}

void ScopedHandle::Reset(HANDLE handle) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = handle;
}

// --- SetupProcess -------------------------------------------------------------

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    // Backslashes are literal except before a quote: double those, and the
    // ones before the closing quote.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

SetupProcess::SetupProcess(const std::wstring& exePath, const std::vector<std::wstring>& args) {
    std::wstring commandLine = QuoteArgument(exePath);
    for (const std::wstring& arg : args) commandLine += L" " + QuoteArgument(arg);
    Launch(exePath, commandLine);
}

SetupProcess::SetupProcess(const std::wstring& exePath, Verbatim, const std::wstring& arguments) {
    Launch(exePath, QuoteArgument(exePath) + L" " + arguments);
}

void SetupProcess::Launch(const std::wstring& exePath, const std::wstring& commandLine) {
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exePath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        startError_ = ::GetLastError();
        return;
    }
    process_.Reset(info.hProcess);
    const ScopedHandle thread(info.hThread);
    id_ = info.dwProcessId;
}

SetupProcess::~SetupProcess() {
    if (IsRunning()) Kill();
}

bool SetupProcess::IsRunning() const {
    return Started() && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> SetupProcess::WaitForExit(Duration timeout) const {
    if (!Started()) return std::nullopt;
    if (::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.Get(), &code)) return std::nullopt;
    return code;
}

void SetupProcess::Kill() {
    if (!Started()) return;
    ::TerminateProcess(process_.Get(), 1);
    ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(kWatchdog.count()));
}

// --- Windows ------------------------------------------------------------------

std::wstring WindowText(HWND window) {
    const DWORD_PTR length = SendOrZero(window, WM_GETTEXTLENGTH);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) return {};
    text.resize(copied < text.size() ? copied : text.size() - 1);
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    const int length = ::GetClassNameW(window, name, 64);
    return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace {

struct TopLevelSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TopLevelSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && ::IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD processId) {
    TopLevelSearch search{processId, {}};
    ::EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// --- Wizard -------------------------------------------------------------------

std::optional<Wizard> Wizard::WaitFor(DWORD processId, std::vector<int> pageOrder, Duration timeout) {
    HWND sheet = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId)) {
                if (IsDialogWindow(window) && ::GetDlgItem(window, kNext) != nullptr) {
                    sheet = window;
                    return true;
                }
            }
            return false;
        },
        timeout);
    if (sheet == nullptr) return std::nullopt;
    return Wizard(sheet, std::move(pageOrder));
}

HWND Wizard::CurrentPage() const { return reinterpret_cast<HWND>(SendOrZero(sheet_, PSM_GETCURRENTPAGEHWND)); }

int Wizard::CurrentPageIndex() const {
    const HWND page = CurrentPage();
    if (page == nullptr) return -1;
    DWORD_PTR index = 0;
    if (!SendWithTimeout(sheet_, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0, &index)) return -1;
    return static_cast<int>(static_cast<LONG_PTR>(index));
}

int Wizard::CurrentPageId() const {
    const int index = CurrentPageIndex();
    if (index < 0 || static_cast<size_t>(index) >= pageOrder_.size()) return -1;
    return pageOrder_[static_cast<size_t>(index)];
}

bool Wizard::WaitForPage(int templateId, Duration timeout) const {
    return WaitUntil([&] { return CurrentPageId() == templateId; }, timeout);
}

bool Wizard::WaitForState(int templateId, const std::function<bool()>& state, Duration timeout) const {
    return WaitUntilSteady([&] { return CurrentPageId() == templateId && state(); }, timeout);
}

HWND Wizard::Control(int id) const {
    if (const HWND page = CurrentPage()) {
        if (const HWND control = ::GetDlgItem(page, id)) return control;
    }
    return ::GetDlgItem(sheet_, id);
}

namespace {

struct ChildSearch {
    const std::function<bool(HWND)>* matches;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ChildSearch*>(context);
    if (!(*search->matches)(window)) return TRUE;
    search->found = window;
    return FALSE;  // the first match is enough
}

HWND FindChild(HWND parent, const std::function<bool(HWND)>& matches) {
    if (parent == nullptr) return nullptr;
    ChildSearch search{&matches, nullptr};
    ::EnumChildWindows(parent, &MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

HWND Wizard::FindPageWindow(const std::function<bool(HWND)>& matches) const {
    return FindChild(CurrentPage(), matches);
}

HWND Wizard::PageWindowWithText(const std::wstring& text) const {
    return FindPageWindow([&](HWND window) { return WindowText(window) == text; });
}

HWND Wizard::PageWindowWithStyle(LONG styleBits) const {
    return FindPageWindow([&](HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & styleBits) == styleBits; });
}

std::wstring Wizard::Text(int id) const {
    const HWND control = Control(id);
    return control ? WindowText(control) : std::wstring();
}

bool Wizard::IsEnabled(int id) const {
    const HWND control = Control(id);
    return control != nullptr && ::IsWindowEnabled(control);
}

bool Wizard::IsVisible(int id) const {
    const HWND control = Control(id);
    return control != nullptr && ::IsWindowVisible(control);
}

bool Wizard::IsChecked(int id) const {
    const HWND control = Control(id);
    return control != nullptr && SendOrZero(control, BM_GETCHECK) == BST_CHECKED;
}

bool Wizard::Activate() const {
    const auto active = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        const DWORD thread = ::GetWindowThreadProcessId(sheet_, nullptr);
        return thread != 0 && ::GetGUIThreadInfo(thread, &info) && info.hwndActive == sheet_;
    };
    if (active()) return true;
    ::SetForegroundWindow(sheet_);
    return WaitUntil(active);
}

HWND Wizard::FocusedWindow() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = ::GetWindowThreadProcessId(sheet_, nullptr);
    if (thread == 0 || !::GetGUIThreadInfo(thread, &info)) return nullptr;
    return info.hwndFocus;
}

bool Wizard::HasFocus(int id) const {
    const HWND control = Control(id);
    return control != nullptr && FocusedWindow() == control;
}

bool Wizard::Focus(int id) const {
    const HWND page = CurrentPage();
    const HWND control = Control(id);
    return page != nullptr && control != nullptr &&
           SendWithTimeout(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE, nullptr);
}

bool Wizard::SetText(int id, const std::wstring& text) const {
    const HWND control = Control(id);
    DWORD_PTR done = 0;
    return control != nullptr &&
           SendWithTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &done) && done != 0;
}

HFONT Wizard::FontHandle(HWND control) {
    return control ? reinterpret_cast<HFONT>(SendOrZero(control, WM_GETFONT)) : nullptr;
}

HFONT Wizard::PageFontHandle() const {
    const HWND page = CurrentPage();
    return page ? reinterpret_cast<HFONT>(SendOrZero(page, WM_GETFONT)) : nullptr;
}

namespace {

// A 32-bit top-down picture held in a memory DC.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        const HDC screen = ::GetDC(nullptr);
        dc_ = ::CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        ::ReleaseDC(nullptr, screen);
        if (dc_ != nullptr && bitmap_ != nullptr) previous_ = ::SelectObject(dc_, bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas() {
        if (previous_ != nullptr) ::SelectObject(dc_, previous_);
        if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
        if (dc_ != nullptr) ::DeleteDC(dc_);
    }
    bool Ok() const { return previous_ != nullptr; }
    HDC Dc() const { return dc_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Luminance 0..255 of a pixel.
    // Reads are valid after GdiFlush once the drawing is done.
    int Luma(int x, int y) const {
        const uint32_t p = bits_[static_cast<size_t>(y) * width_ + x];
        return static_cast<int>((((p >> 16) & 0xFF) * 299 + ((p >> 8) & 0xFF) * 587 + (p & 0xFF) * 114) / 1000);
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// Pixels darker than the background by more than this count as ink.
constexpr int kInkContrast = 96;

// The most common luminance of the canvas: the background.
int BackgroundLuma(const Canvas& canvas) {
    int counts[256] = {};
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = 0; x < canvas.Width(); ++x) ++counts[canvas.Luma(x, y)];
    }
    int best = 0;
    for (int i = 1; i < 256; ++i) {
        if (counts[i] > counts[best]) best = i;
    }
    return best;
}

bool IsInk(const Canvas& canvas, int x, int y, int background) {
    return background - canvas.Luma(x, y) > kInkContrast;
}

// Anything visibly drawn, however light (a box frame is light grey).
constexpr int kDrawnContrast = 24;

bool ColumnIsDrawn(const Canvas& canvas, int x, int background) {
    for (int y = 0; y < canvas.Height(); ++y) {
        if (std::abs(background - canvas.Luma(x, y)) > kDrawnContrast) return true;
    }
    return false;
}

int CountInk(const Canvas& canvas, int fromX, int background) {
    int ink = 0;
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = fromX; x < canvas.Width(); ++x) ink += IsInk(canvas, x, y, background) ? 1 : 0;
    }
    return ink;
}

// First column right of a check box's box: the box is the first run of
// drawn columns (its frame runs through all of them), the text follows after
// a gap.
int TextStartAfterBox(const Canvas& canvas, int background) {
    int x = 0;
    while (x < canvas.Width() && !ColumnIsDrawn(canvas, x, background)) ++x;
    while (x < canvas.Width() && ColumnIsDrawn(canvas, x, background)) ++x;
    return x;
}

bool IsCheckBox(HWND control) {
    if (ClassName(control) != L"Button") return false;
    const LONG type = ::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
           type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

// The text drawn here in the dialog font ("MS Shell Dlg", 8 points) at the
// given weight, into an area of the given size; returns its ink.
int DrawnInk(const std::wstring& text, int width, int height, int weight, bool singleLine) {
    Canvas canvas(width, height);
    if (!canvas.Ok()) return -1;
    RECT all{0, 0, width, height};
    ::FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    const int pixelsPerInch = ::GetDeviceCaps(canvas.Dc(), LOGPIXELSY);
    const HFONT font = ::CreateFontW(-::MulDiv(8, pixelsPerInch, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg");
    const HGDIOBJ previous = ::SelectObject(canvas.Dc(), font);
    ::SetTextColor(canvas.Dc(), RGB(0, 0, 0));
    ::SetBkMode(canvas.Dc(), TRANSPARENT);
    const UINT format = singleLine ? DT_SINGLELINE | DT_VCENTER | DT_LEFT : DT_WORDBREAK | DT_LEFT;
    ::DrawTextW(canvas.Dc(), text.c_str(), static_cast<int>(text.size()), &all, format);
    ::GdiFlush();
    ::SelectObject(canvas.Dc(), previous);
    ::DeleteObject(font);
    return CountInk(canvas, 0, 255);
}

}  // namespace

Wizard::TextInk Wizard::MeasureTextInk(HWND control) const {
    TextInk ink;
    RECT rect{};
    if (control == nullptr || !::IsWindowVisible(control) || !::GetWindowRect(control, &rect)) return ink;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return ink;

    Canvas shown(width, height);
    if (!shown.Ok()) return ink;
    const HDC screen = ::GetDC(nullptr);
    const BOOL copied = ::BitBlt(shown.Dc(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::ReleaseDC(nullptr, screen);
    ::GdiFlush();
    if (!copied) return ink;

    const int background = BackgroundLuma(shown);
    const bool checkBox = IsCheckBox(control);
    const int textStart = checkBox ? TextStartAfterBox(shown, background) : 0;
    ink.shown = CountInk(shown, textStart, background);

    const std::wstring text = WindowText(control);
    const int textWidth = width - textStart;
    if (textWidth <= 0) return ink;
    ink.regular = DrawnInk(text, textWidth, height, FW_NORMAL, checkBox);
    ink.bold = DrawnInk(text, textWidth, height, FW_BOLD, checkBox);
    return ink;
}

bool Wizard::IsBold(HWND control) const {
    const TextInk ink = MeasureTextInk(control);
    if (ink.shown <= 0 || ink.regular <= 0 || ink.bold <= ink.regular) return false;
    return std::abs(ink.shown - ink.bold) < std::abs(ink.shown - ink.regular);
}

bool Wizard::Click(int templateId, int id, Duration timeout) const {
    HWND control = nullptr;
    const bool ready = WaitForState(
        templateId,
        [&] {
            control = Control(id);
            return control != nullptr && ::IsWindowVisible(control) && ::IsWindowEnabled(control);
        },
        timeout);
    return ready && ::PostMessageW(control, BM_CLICK, 0, 0) != FALSE;
}

bool Wizard::Press(int templateId, int psbtn) const {
    return WaitForSettled(templateId) && ::PostMessageW(sheet_, PSM_PRESSBUTTON, psbtn, 0) != FALSE;
}

// --- Message boxes ------------------------------------------------------------

namespace {

// The text of a window that is known to answer: a read that fails (the
// target busy for longer than one send's time-out) is tried again until the
// watchdog, so that a failed read is never taken for an empty text.
std::wstring AnsweredText(HWND window) {
    std::wstring text;
    WaitUntil([&] {
        const DWORD_PTR length = SendOrZero(window, WM_GETTEXTLENGTH);
        std::wstring buffer(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (!SendWithTimeout(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &copied)) {
            return !::IsWindow(window);
        }
        buffer.resize(copied < buffer.size() ? copied : buffer.size() - 1);
        text = buffer;
        return true;
    });
    return text;
}

}  // namespace

std::wstring MessageBoxWindow::Text() const {
    const HWND text = ::GetDlgItem(window_, 0xFFFF);
    return text ? AnsweredText(text) : std::wstring();
}

bool MessageBoxWindow::Answer(int id) const {
    const HWND button = ::GetDlgItem(window_, id);
    return button != nullptr && ::PostMessageW(button, BM_CLICK, 0, 0) != FALSE &&
           WaitUntil([&] { return !::IsWindow(window_); });
}

std::optional<MessageBoxWindow> FindMessageBox(DWORD processId, Duration timeout) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId)) {
                // Shown, and its loop answers: WM_INITDIALOG, which sets the
                // text, is over.
                if (IsDialogWindow(window) && ::GetDlgItem(window, Wizard::kNext) == nullptr &&
                    ::IsWindowVisible(window) && SendWithTimeout(window, WM_NULL, 0, 0, nullptr)) {
                    box = window;
                    return true;
                }
            }
            return false;
        },
        timeout);
    if (box == nullptr) return std::nullopt;
    return MessageBoxWindow(box);
}

// --- Other windows of the process ---------------------------------------------

std::optional<LRESULT> Query(HWND window, UINT message, WPARAM w, LPARAM l) {
    DWORD_PTR answer = 0;
    if (window == nullptr || !SendWithTimeout(window, message, w, l, &answer)) return std::nullopt;
    return static_cast<LRESULT>(answer);
}

HWND FindDescendantOfClass(HWND parent, const std::wstring& className) {
    return FindChild(parent, [&](HWND window) { return ClassName(window) == className; });
}

HTREEITEM ForeignTreeView::Next(HTREEITEM item, UINT relation) const {
    return reinterpret_cast<HTREEITEM>(
        SendOrZero(tree_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

std::wstring ForeignTreeView::Text(HTREEITEM item) const {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(tree_, &processId);
    const ScopedHandle process(
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    if (process.Get() == nullptr || item == nullptr) return {};

    constexpr int kChars = 520;
    const SIZE_T size = sizeof(TVITEMW) + kChars * sizeof(wchar_t);
    auto* remote = static_cast<uint8_t*>(::VirtualAllocEx(process.Get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (remote == nullptr) return {};
    std::wstring text;
    TVITEMW request{};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
    request.cchTextMax = kChars;
    if (::WriteProcessMemory(process.Get(), remote, &request, sizeof(request), nullptr) &&
        SendOrZero(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) != 0) {
        // The control may point pszText at its own storage instead.
        TVITEMW answer{};
        std::vector<wchar_t> chars(kChars + 1, L'\0');
        if (::ReadProcessMemory(process.Get(), remote, &answer, sizeof(answer), nullptr) &&
            ::ReadProcessMemory(process.Get(), answer.pszText, chars.data(), kChars * sizeof(wchar_t), nullptr)) {
            text = chars.data();
        }
    }
    ::VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    return text;
}

std::vector<std::wstring> ForeignTreeView::PathTo(HTREEITEM item) const {
    std::vector<std::wstring> path;
    for (HTREEITEM at = item; at != nullptr; at = Parent(at)) path.insert(path.begin(), Text(at));
    return path;
}

HTREEITEM ForeignTreeView::Child(HTREEITEM item, const std::function<bool(const std::wstring&)>& matches) const {
    SendOrZero(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    for (HTREEITEM child = FirstChild(item); child != nullptr; child = NextSibling(child)) {
        if (matches(Text(child))) return child;
    }
    return nullptr;
}

bool ForeignTreeView::Select(HTREEITEM item) const {
    return SendOrZero(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

// --- Screenshots --------------------------------------------------------------

bool SaveScreenshot(const std::wstring& path) {
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0) return false;

    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) return false;
    const HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool captured = false;
    std::vector<uint8_t> rgb;
    if (memory != nullptr && bitmap != nullptr) {
        const HGDIOBJ previous = ::SelectObject(memory, bitmap);
        captured = ::BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT) != FALSE;
        ::GdiFlush();
        if (captured) {
            const auto* bgra = static_cast<const uint8_t*>(bits);
            const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
            rgb.resize(pixels * 3);
            for (size_t i = 0; i < pixels; ++i) {
                rgb[i * 3 + 0] = bgra[i * 4 + 2];
                rgb[i * 3 + 1] = bgra[i * 4 + 1];
                rgb[i * 3 + 2] = bgra[i * 4 + 0];
            }
        }
        ::SelectObject(memory, previous);
    }
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    if (memory != nullptr) ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (!captured) return false;

    const size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && !CreateFolders(path.substr(0, slash))) return false;
    const std::vector<uint8_t> png = EncodePng(static_cast<uint32_t>(width), static_cast<uint32_t>(height), rgb);
    const ScopedHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
           written == png.size();
}

// --- Processes ----------------------------------------------------------------

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> processes;
    const ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    }
    return processes;
}

}  // namespace ui
