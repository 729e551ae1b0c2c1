// Navigation by page path: the wizard's pages are identified by their dialog
// template ids, and Next and Back move along InstallState::pagePath.
#pragma once

#include <cstdint>

#include "state/install_state.h"

namespace quentar {

// Result of a Next or Back handler: a template id to go to, or kStayOnPage.
constexpr int32_t kStayOnPage = -1;

// The page after `activePageId` in the path: the first occurrence of the id
// is taken; kStayOnPage when the id is absent or last.
int32_t NextPageId(const InstallState& state, uint32_t activePageId);

// The page before `activePageId`: the last occurrence of the id is taken;
// kStayOnPage when the id is absent or first.
int32_t PreviousPageId(const InstallState& state, uint32_t activePageId);

// Replaces the path: the welcome page (231 in update mode, else 107); then,
// with the application selected, licence and destination (not in update
// mode), progress and finish; then the runtime-components page when chosen.
void BuildPagePath(InstallState& state, bool updateMode, bool applicationSelected, bool axisSelected);

}  // namespace quentar
