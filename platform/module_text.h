// Texts the program takes from Windows: string-table entries, the system's
// message for an error code, the application's title.
#pragma once

#include <windows.h>

#include "state/text.h"

namespace quentar {

// The module that holds the program's resources (the executable).
HINSTANCE ResourceModule();

// String-table entry `id` of the program; empty when there is none.
U16String LoadStringResource(UINT id);

// The system's text for a Win32 error code, made one line (every CR LF becomes
// a space) and trimmed; empty when the system has no text for it.
U16String SystemErrorText(DWORD error);

// Full path of the running executable.
U16String ModuleFileName(HMODULE module = nullptr);

// The application's title: the executable's file name without its extension
// ("Setup" for Setup.exe).
U16String ApplicationTitle();

}  // namespace quentar
