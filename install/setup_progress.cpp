#include "install/setup_progress.h"

#include "app/resources/resource_ids.h"

namespace quentar {

CSetupProgress::CSetupProgress() : CSetupPage(IDD_PROGRESS) {}

}  // namespace quentar
