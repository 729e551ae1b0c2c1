// The runtime-components page: runs the carried camera-vendor packages.
#pragma once

#include "wizard/setup_page.h"

namespace quentar {

class CSetupAXIS : public CSetupPage {
public:
    CSetupAXIS();
};

}  // namespace quentar
