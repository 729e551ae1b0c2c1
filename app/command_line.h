// The command line of the setup program: "/update", "/wh" and "/exe", each
// written as key, colon, value. Anything else is ignored; malformed arguments
// are never errors.
#pragma once

#include <cstdint>
#include <vector>

#include "state/install_state.h"
#include "state/text.h"
#include "state/update_arguments.h"

namespace quentar {

// Reads the arguments after argv[0] (already split and unquoted by the
// runtime). A key given twice applies again from the later value.
UpdateArguments ParseCommandLine(const std::vector<U16String>& argv);

// Update mode only: the installation goes into the folder of the executable
// being replaced, and the new executable is first written next to it with
// ".tmp" appended. Outside update mode the state is left alone.
void PrefillForUpdate(const UpdateArguments& args, InstallState& state);

// The value read as a signed 64-bit decimal number the way the C runtime's
// wide strtoll reads it: leading white space skipped, optional sign, digits up
// to the first non-digit, 0 without digits, saturating on overflow.
int64_t ParseDecimal64(U16View text);

}  // namespace quentar
