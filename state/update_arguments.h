// The update fields of the command line: set once by the parser at start-up,
// read by the welcome page, the page path and the installation.
#pragma once

#include <cstdint>

#include "state/text.h"

namespace quentar {

struct UpdateArguments {
    bool updateMode = false;     // "/update:" was given
    U16String updateExePath;     // "/exe:" value
    U16String updateExeFolder;   // updateExePath before its last backslash (index >= 1)
    uint32_t updateWindow = 0;   // "/wh:" value, low 32 bits
};

}  // namespace quentar
