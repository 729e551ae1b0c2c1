// Files an elevated run opens by name where others may have been before it:
// a log named on the command line, the copy of a package it is about to
// start. Such a name may be a symbolic link, a junction on the way, or a
// second name (hard link) of a file the run must never write; opened as it
// is, the run would write or start whatever the name leads to.
//
// The file is opened with FILE_FLAG_OPEN_REPARSE_POINT, so that a link is
// opened as itself, and then judged by its handle, which no later change of
// the name can redirect.
#pragma once

#include <windows.h>

#include "state/text.h"

namespace quentar {

// Why the file open as `file`, opened by the name `path`, is not a plain file
// at that very name; empty when it is one. Refused: a handle that is not a
// file on a disk, a folder, a junction or symbolic link, a file with more than
// one name, and a file whose final path (the system's, after every link on
// the way) is not `path` made full and long (A-Z compared without regard to
// case). Every query goes through Sys().
U16String PlainFileProblem(HANDLE file, const U16String& path);

// `path` made a full path (GetFullPathNameW) with its short names made long
// where they exist (GetLongPathNameW); `path` itself when that fails.
U16String FullLongPath(const U16String& path);

}  // namespace quentar
