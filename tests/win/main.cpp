// Entry of the Windows test program: GoogleTest under Wine, or one scenario
// that a test runs in a process of its own (child_scenario.h).
#include <gtest/gtest.h>

#include <cstring>

#include "child_scenario.h"

int main(int argc, char** argv) {
    constexpr char kChild[] = "--child=";
    if (argc == 2 && std::strncmp(argv[1], kChild, sizeof kChild - 1) == 0) {
        return quentar::testing::RunChildScenario(argv[1] + sizeof kChild - 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
