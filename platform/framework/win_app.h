// The application object and the framework's process-wide services: the
// message box captioned with the application's title, and the boundary that
// carries exceptions out of window procedures.
#pragma once

#include <windows.h>

#include <exception>

#include "state/text.h"

namespace quentar {

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Called once at process start. Returning false ends the process without
    // a main message loop.
    virtual BOOL InitInstance() { return FALSE; }
    // Called once InitInstance has returned; its answer is the process's
    // exit code.
    virtual int ExitInstance() { return 0; }

    // An exception escaped a window procedure or a guarded step. Window
    // procedures of foreign code (comctl32, user32) cannot be unwound, so
    // every entry point of ours catches at its boundary and hands the
    // exception here. The default ends the process with exit code 2.
    virtual void OnUncaughtException(std::exception_ptr error);

    // The window that owns the application's message boxes while it exists.
    HWND m_hMainWnd = nullptr;

    static CWinApp* Current() { return current_; }

private:
    static CWinApp* current_;
};

// Runs `f`, handing any exception to the application object. Returns
// `fallback` when `f` threw and the application chose not to end.
template <typename F, typename R>
R CallGuarded(F&& f, R fallback) {
    try {
        return f();
    } catch (...) {
        if (CWinApp* app = CWinApp::Current()) app->OnUncaughtException(std::current_exception());
        return fallback;
    }
}

// Shows `text` in a message box owned by the application's main window (or
// the active window), captioned with the application's title. Returns the
// button pressed.
int AfxMessageBox(const U16String& text, UINT type = MB_OK | MB_ICONHAND);
// The same with string-table entry `id`.
int AfxMessageBox(UINT id, UINT type = MB_OK | MB_ICONHAND);
// The same, owned by `owner` (the framework's choice above when null).
int AfxMessageBox(HWND owner, const U16String& text, UINT type);

// Registers the rich-edit 2.0 window class ("RichEdit20W"): loads
// riched20.dll from System32 (LoadSystemLibrary), never by a search.
// Returns whether the DLL is loaded.
bool AfxInitRichEdit2();

// Restricts where the process may load DLLs from to System32 and takes the
// current folder out of the search. Called first thing at start: a setup
// program is run from download folders, where planted DLLs wait. Where
// Windows lacks SetDefaultDllDirectories only the current folder can be
// taken out; system DLLs are then loaded by full path (LoadSystemLibrary).
void HardenDllSearchPath();

// The framework's entry: hardens the process, then runs the application
// object's InitInstance. Returns the process exit code, which the
// application object's ExitInstance gives.
int AfxWinMain();

}  // namespace quentar
