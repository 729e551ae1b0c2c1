#include "components/setup_axis.h"

#include "state/resource_ids.h"

namespace quentar {

CSetupAXIS::CSetupAXIS() : CSetupPage(IDD_AXIS) {}

}  // namespace quentar
