#include "wizard/page_path.h"

#include <gtest/gtest.h>

namespace quentar {
namespace {

using Path = std::vector<uint32_t>;

struct BuildCase {
    const char* name;
    bool updateMode, application, axis;
    Path expected;
};

// Names the case in test listings (otherwise its bytes, which change between runs).
void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.name; }

class BuildPagePathTable : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildPagePathTable, ReplacesThePath) {
    const BuildCase& c = GetParam();
    InstallState state;
    state.pagePath = {1, 2, 3};  // an earlier path is replaced, not extended
    BuildPagePath(state, c.updateMode, c.application, c.axis);
    EXPECT_EQ(state.pagePath, c.expected);
}

const BuildCase kBuildCases[] = {
    {"normal", false, true, false, {107, 224, 227, 228, 229}},
    {"normal_with_axis", false, true, true, {107, 224, 227, 228, 229, 230}},
    {"axis_only", false, false, true, {107, 230}},
    {"nothing", false, false, false, {107}},
    {"update", true, true, false, {231, 228, 229}},
    {"update_with_axis", true, true, true, {231, 228, 229, 230}},
    {"update_axis_only", true, false, true, {231, 230}},
};

INSTANTIATE_TEST_SUITE_P(Choices, BuildPagePathTable, ::testing::ValuesIn(kBuildCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct MoveCase {
    Path path;
    uint32_t active;
    int32_t next, previous;
};

TEST(PageNavigation, MovesAlongThePath) {
    const MoveCase cases[] = {
        {{107, 224, 227, 228, 229}, 224, 227, 107},
        {{107, 224, 227, 228, 229}, 229, kStayOnPage, 228},
        {{107, 224, 227, 228, 229}, 107, 224, kStayOnPage},
        {{231, 228, 229, 230}, 228, 229, 231},
        {{107, 230}, 107, 230, kStayOnPage},
        {{107}, 107, kStayOnPage, kStayOnPage},
        // Before the welcome page's Next the path is empty: every page stays.
        {{}, 107, kStayOnPage, kStayOnPage},
        {{}, 229, kStayOnPage, kStayOnPage},
        // A page that is not on the path stays.
        {{107, 230}, 224, kStayOnPage, kStayOnPage},
        // Next takes the first occurrence, Back the last one.
        {{107, 5, 6, 5, 8}, 5, 6, 6},
    };
    for (const auto& c : cases) {
        InstallState state;
        state.pagePath = c.path;
        SCOPED_TRACE(::testing::Message() << "active " << c.active << " path size " << c.path.size());
        EXPECT_EQ(NextPageId(state, c.active), c.next);
        EXPECT_EQ(PreviousPageId(state, c.active), c.previous);
    }
}

}  // namespace
}  // namespace quentar
