#include "components/setup_axis.h"

#include "app/resources/resource_ids.h"

namespace quentar {

CSetupAXIS::CSetupAXIS() : CSetupPage(IDD_AXIS) {}

}  // namespace quentar
