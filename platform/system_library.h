// Loading system DLLs only from where Windows keeps them.
//
// A setup program is started from download folders, where a file named like
// a system DLL may wait beside it; a bare name given to LoadLibrary is looked
// for in the program's folder first. Every system DLL the program loads after
// start goes through LoadSystemLibrary: the explicit loads and, through the
// delay-load hook defined with it, every delay-loaded import (see
// platform/CMakeLists.txt).
#pragma once

#include <windows.h>

#include "state/text.h"

namespace quentar {

// SetDefaultDllDirectories where this Windows has it, and with it the
// LOAD_LIBRARY_SEARCH_* flags (Windows 8 and later, Windows 7 with its
// loader update); null elsewhere. Looked up through Sys(), so tests can play
// a system without it.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories();
inline bool SystemSearchFlagsSupported() { return FindSetDefaultDllDirectories() != nullptr; }

// System32 as this process sees it (a 32-bit process on 64-bit Windows gets
// the 32-bit folder through the file-system redirection), without a trailing
// backslash.
U16String SystemFolder();

// Loads the system DLL `fileName` (a file name such as u"riched20.dll", no
// folder) and returns its module, or null with the system's error when it
// cannot be loaded. The DLL and the DLLs it imports are taken from System32:
// with LOAD_LIBRARY_SEARCH_SYSTEM32 where the system has it, else by the
// full System32 path with the search for its imports starting in System32.
// A DLL that the program's manifest binds to a side-by-side assembly
// (comctl32 version 6) comes from that assembly: the loader resolves it
// there before any search, so a file beside the program cannot stand in.
// The module stays loaded until the caller frees it.
HMODULE LoadSystemLibrary(const U16String& fileName);

}  // namespace quentar
