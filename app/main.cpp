// Process entry of Setup.exe. When it runs, the loader has brought in only the
// static imports, which are kept to DLLs that Windows always takes from
// System32 (platform/CMakeLists.txt); every other system DLL is loaded on
// first use, after AfxWinMain has restricted the search to System32.
#include <windows.h>

#include "app/setup_app.h"

namespace {
quentar::CSetupApp theApp;  // the one application object, built before the entry runs
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return quentar::AfxWinMain(); }
