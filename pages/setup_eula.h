// The licence-agreement page: the agreement must be accepted before the installation goes on.
#pragma once

#include "wizard/setup_page.h"

namespace quentar {

class CSetupEula : public CSetupPage {
public:
    CSetupEula();
};

}  // namespace quentar
