#include "pages/setup_eula.h"

#include "state/resource_ids.h"

namespace quentar {

CSetupEula::CSetupEula() : CSetupPage(IDD_LICENSE) {}

}  // namespace quentar
