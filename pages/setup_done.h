// The finish page: reports the installation and offers to start Quentar.
#pragma once

#include "wizard/setup_page.h"

namespace quentar {

class CSetupDone : public CSetupPage {
public:
    CSetupDone();
};

}  // namespace quentar
