// The Axis runtime as its installer leaves it on a machine (its COM class and
// its three DMOs, served by the tests' own in-process server), registered for
// the life of the object: the setup program then finds it installed.
#pragma once

#include "axis_registration.h"
#include "fixture_paths.h"

namespace ui_test {

struct AxisRuntime {
    // The identifiers the setup program tests.
    static constexpr CLSID kClass = {0x4F1D0C59, 0x5ECC, 0x4028, {0x87, 0xF3, 0x48, 0x21, 0x91, 0xD2, 0x23, 0x0F}};
    static constexpr CLSID kDmos[3] = {
        {0xBA7A56EB, 0xD1B9, 0x443B, {0x96, 0xE9, 0x08, 0x65, 0x32, 0xA3, 0x78, 0xF1}},
        {0x7340F0E4, 0xAEDA, 0x47C6, {0x89, 0x71, 0x9D, 0xB3, 0x14, 0x03, 0x0B, 0xD7}},
        {0xC32FE9F1, 0xA857, 0x48B0, {0xB7, 0xBF, 0x06, 0x5B, 0x57, 0x92, 0xF2, 0x8D}},
    };
    test_registry::ScopedComClass comClass{kClass, PROBE_COM_SERVER_PATH};
    test_registry::ScopedDmo first{kDmos[0]}, second{kDmos[1]}, third{kDmos[2]};
    bool Registered() const {
        return comClass.Registered() && first.Registered() && second.Registered() && third.Registered();
    }
};

}  // namespace ui_test
