// The progress page: runs the installation once it is shown.
#pragma once

#include "wizard/setup_page.h"

namespace quentar {

class CSetupProgress : public CSetupPage {
public:
    CSetupProgress();
};

}  // namespace quentar
