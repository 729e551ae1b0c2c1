#include "platform/framework/win_app.h"

#include "platform/module_text.h"
#include "platform/system_library.h"
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
    // Never freed: the class lives in the DLL for the life of the process.
    return LoadSystemLibrary(u"riched20.dll") != nullptr;
}

namespace {

// DLLs that system DLLs load later on their own, by bare name (uxtheme's
// delayed import of msimg32 for themed drawing). A loader that then searches
// the program's folder first (Windows without SetDefaultDllDirectories, Wine
// for the delayed imports of its own DLLs) would take a planted file; loaded
// from System32 now, the later lookups find the module already loaded.
constexpr const char16_t* kLoadedBehindTheProgram[] = {u"msimg32.dll"};

}  // namespace

void HardenDllSearchPath() {
    if (const SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories()) {
        // Every later load by bare name, and every DLL's own imports, from
        // System32 only (side-by-side assemblies still apply).
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Takes the current folder out of the search where the default folders
    // could not be set; LoadSystemLibrary loads by full path there.
    ::SetDllDirectoryW(L"");
    // Never freed: they are to stay the loaded copies.
    for (const char16_t* name : kLoadedBehindTheProgram) LoadSystemLibrary(name);
}

int AfxWinMain() {
    HardenDllSearchPath();
    CWinApp* app = CWinApp::Current();
    if (app == nullptr) return 1;
    app->InitInstance();
    return app->ExitInstance();
}

}  // namespace quentar
