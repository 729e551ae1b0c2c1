#include "platform/framework/win_app.h"

#include "platform/module_text.h"
#include "platform/wide.h"

namespace quentar {

CWinApp* CWinApp::current_ = nullptr;

CWinApp::CWinApp() { current_ = this; }
CWinApp::~CWinApp() {
    if (current_ == this) current_ = nullptr;
}

void CWinApp::OnUncaughtException(std::exception_ptr) { ::ExitProcess(2); }

int AfxMessageBox(HWND owner, const U16String& text, UINT type) {
    if (owner == nullptr) {
        if (CWinApp* app = CWinApp::Current(); app && ::IsWindow(app->m_hMainWnd)) owner = app->m_hMainWnd;
    }
    if (owner == nullptr) owner = ::GetActiveWindow();
    const U16String caption = ApplicationTitle();
    return ::MessageBoxW(owner, AsWide(text), AsWide(caption), type);
}

int AfxMessageBox(const U16String& text, UINT type) { return AfxMessageBox(nullptr, text, type); }

int AfxMessageBox(UINT id, UINT type) { return AfxMessageBox(LoadStringResource(id), type); }

bool AfxInitRichEdit2() {
    // Kept loaded for the life of the process: the class lives in the DLL.
    static HMODULE richEdit = ::LoadLibraryExW(L"riched20.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (richEdit == nullptr) richEdit = ::LoadLibraryW(L"riched20.dll");  // systems without the flag
    return richEdit != nullptr;
}

void HardenDllSearchPath() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");  // removes the current folder from the search
}

int AfxWinMain() {
    HardenDllSearchPath();
    CWinApp* app = CWinApp::Current();
    if (app == nullptr) return 1;
    app->InitInstance();
    return 0;
}

}  // namespace quentar
