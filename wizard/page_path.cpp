#include "wizard/page_path.h"

#include <algorithm>

#include "state/resource_ids.h"

namespace quentar {

int32_t NextPageId(const InstallState& state, uint32_t activePageId) {
    const auto& path = state.pagePath;
    const auto it = std::find(path.begin(), path.end(), activePageId);
    if (it == path.end() || it + 1 == path.end()) return kStayOnPage;
    return static_cast<int32_t>(*(it + 1));
}

int32_t PreviousPageId(const InstallState& state, uint32_t activePageId) {
    const auto& path = state.pagePath;
    const auto it = std::find(path.rbegin(), path.rend(), activePageId);
    if (it == path.rend() || it + 1 == path.rend()) return kStayOnPage;
    return static_cast<int32_t>(*(it + 1));
}

void BuildPagePath(InstallState& state, bool updateMode, bool applicationSelected, bool axisSelected) {
    auto& path = state.pagePath;
    path.clear();
    path.push_back(updateMode ? IDD_WELCOME_UPDATE : IDD_WELCOME);
    if (applicationSelected) {
        if (!updateMode) {
            path.push_back(IDD_LICENSE);
            path.push_back(IDD_DESTINATION);
        }
        path.push_back(IDD_PROGRESS);
        path.push_back(IDD_DONE);
    }
    if (axisSelected) path.push_back(IDD_AXIS);
}

}  // namespace quentar
