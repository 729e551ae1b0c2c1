// The destination page: program folder, destination folder and desktop shortcut.
#pragma once

#include "wizard/setup_page.h"

namespace quentar {

class CSetupDest : public CSetupPage {
public:
    CSetupDest();
};

}  // namespace quentar
