#include "pages/setup_done.h"

#include "app/resources/resource_ids.h"

namespace quentar {

CSetupDone::CSetupDone() : CSetupPage(IDD_DONE) {}

}  // namespace quentar
