#include "install/setup_progress.h"

#include "state/resource_ids.h"

namespace quentar {

CSetupProgress::CSetupProgress() : CSetupPage(IDD_PROGRESS) {}

}  // namespace quentar
