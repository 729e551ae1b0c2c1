// Parts of tests that must run in a process of their own, because what they
// show ends the process (the fatal-error path ends it with exit code 2). A
// scenario is registered by name and run as "win_tests --child=NAME"; the
// test that starts it watches it from outside, as a user would see it.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "ui_driver.h"

namespace quentar::testing {

using ChildScenario = int (*)();

inline std::map<std::string, ChildScenario>& ChildScenarios() {
    static std::map<std::string, ChildScenario> scenarios;
    return scenarios;
}

struct RegisterChildScenario {
    RegisterChildScenario(const char* name, ChildScenario scenario) { ChildScenarios()[name] = scenario; }
};

// Runs the named scenario; its result is the process exit code (125 for an
// unknown name).
inline int RunChildScenario(const std::string& name) {
    const auto it = ChildScenarios().find(name);
    return it == ChildScenarios().end() ? 125 : it->second();
}

// Starts this program again on the named scenario.
inline std::unique_ptr<ui::SetupProcess> StartChildScenario(const std::string& name) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::make_unique<ui::SetupProcess>(self,
                                              std::vector<std::wstring>{L"--child=" + std::wstring(name.begin(), name.end())});
}

}  // namespace quentar::testing
