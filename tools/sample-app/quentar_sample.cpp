// A small stand-in for Quentar: a window that shows its own version and ends
// when it receives the setup program's close request (WM_QUERYENDSESSION with
// the updater's lParam). Started with "/uninstall" it says so and ends.
#include <windows.h>

#include <cwchar>

namespace {

constexpr LPARAM kUpdaterCloseRequest = 0x38A7BE4C;
constexpr wchar_t kClassName[] = L"QuentarSampleWindow";

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_QUERYENDSESSION:
            if (l == kUpdaterCloseRequest) {
                DestroyWindow(hwnd);
                return TRUE;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, w, l);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int show) {
    if (commandLine != nullptr && wcsstr(commandLine, L"/uninstall") != nullptr) {
        MessageBoxW(nullptr, L"Quentar sample: uninstall requested.", L"Quentar", MB_OK);
        return 0;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&wc);

    wchar_t title[64];
    swprintf(title, 64, L"Quentar %ls", QUENTAR_SAMPLE_VERSION_TEXT);
    HWND hwnd = CreateWindowExW(0, kClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 240,
                                nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return 1;
    ShowWindow(hwnd, show);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
