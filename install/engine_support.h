// Small helpers shared by the installation engine's files: log lines that
// name a Win32 error, and lookups in the install state's string lists.
#pragma once

#include <windows.h>

#include "install/install_feedback.h"
#include "state/text.h"

namespace quentar {

// "error N (the system's text)", or "error N" when the system has none.
U16String DescribeError(DWORD error);

// A decimal number as UTF-16 text.
U16String DecimalText(uint64_t value);

// Shows message 264 "Unable to create file %1\n%2" for `path` with the
// system's text for `error` (error icon), after a log line naming both.
void ReportCreateFileFailure(const U16String& path, DWORD error, InstallFeedback& feedback);

// Whether `list` holds an entry equal to `item`, folding A-Z only.
bool ContainsIgnoreAsciiCase(const StringList& list, U16View item);

// Removes every entry equal to `item`, folding A-Z only; true when one was
// removed.
bool RemoveIgnoreAsciiCase(StringList& list, U16View item);

}  // namespace quentar
