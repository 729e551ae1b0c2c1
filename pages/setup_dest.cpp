#include "pages/setup_dest.h"

#include "state/resource_ids.h"

namespace quentar {

CSetupDest::CSetupDest() : CSetupPage(IDD_DESTINATION) {}

}  // namespace quentar
