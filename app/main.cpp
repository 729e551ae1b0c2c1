// Process entry of Setup.exe.
#include <windows.h>

#include "app/setup_app.h"

namespace {
quentar::CSetupApp theApp;  // the one application object, built before the entry runs
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return quentar::AfxWinMain(); }
