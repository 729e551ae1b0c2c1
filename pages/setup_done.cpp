#include "pages/setup_done.h"

#include "state/resource_ids.h"

namespace quentar {

CSetupDone::CSetupDone() : CSetupPage(IDD_DONE) {}

}  // namespace quentar
