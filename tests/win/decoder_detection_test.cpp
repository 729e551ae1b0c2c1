// Detection of the Axis runtime components against Wine's real COM and DMO
// registrations: the tests register the COM class to their own in-process
// server and the DMOs through the system's DMO registry, and take all of it
// back at the end. These tests change machine-wide registrations, so they run
// apart from the tests that read them (see CMakeLists.txt).
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "axis_registration.h"
#include "components/decoder_detection.h"
#include "platform/system_api.h"
#include "fixture_paths.h"

namespace quentar {
namespace {

using test_registry::ScopedComClass;
using test_registry::ScopedDmo;

// Counts the DMO lookups, forwarding them to the system.
class CountingDmoLookups : public ForwardingSystemApi {
public:
    CountingDmoLookups() : ForwardingSystemApi(Sys()) {}
    HRESULT DMOGetName(REFCLSID classId, WCHAR* name) override {
        ++lookups;
        return inner_.DMOGetName(classId, name);
    }
    int lookups = 0;
};

TEST(AxisRuntimeDetection, AnswersTrueOnlyWhenTheClassAndAllThreeDmosAreRegistered) {
    struct Case {
        const char* what;
        bool comClass;
        bool dmos[3];
        bool installed;
        int lookups;  // DMOs looked up before the answer was known
    };
    const Case cases[] = {
        {"nothing registered", false, {false, false, false}, false, 0},
        {"the DMOs without the class", false, {true, true, true}, false, 0},
        {"the class without DMOs", true, {false, false, false}, false, 1},
        {"first DMO missing", true, {false, true, true}, false, 1},
        {"second DMO missing", true, {true, false, true}, false, 2},
        {"third DMO missing", true, {true, true, false}, false, 3},
        {"everything registered", true, {true, true, true}, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ScopedComClass> comClass;
        if (c.comClass) {
            comClass = std::make_unique<ScopedComClass>(kAxisRuntimeClass, PROBE_COM_SERVER_PATH);
            ASSERT_TRUE(comClass->Registered());
        }
        std::vector<std::unique_ptr<ScopedDmo>> dmos;
        for (int i = 0; i < 3; ++i) {
            if (!c.dmos[i]) continue;
            dmos.push_back(std::make_unique<ScopedDmo>(kAxisRuntimeDmos[i]));
            ASSERT_TRUE(dmos.back()->Registered());
        }
        CountingDmoLookups counting;
        ScopedSystemApi scope(counting);
        EXPECT_EQ(IsAxisRuntimeInstalled(), c.installed);
        EXPECT_EQ(counting.lookups, c.lookups);
    }
    // Everything taken back: the answer is false again.
    EXPECT_FALSE(IsAxisRuntimeInstalled());
}

TEST(AxisRuntimeDetection, AnEmptyDmoNameStillCountsAsRegistered) {
    ScopedComClass comClass(kAxisRuntimeClass, PROBE_COM_SERVER_PATH);
    ScopedDmo first(kAxisRuntimeDmos[0], L"");
    ScopedDmo second(kAxisRuntimeDmos[1]);
    ScopedDmo third(kAxisRuntimeDmos[2]);
    ASSERT_TRUE(comClass.Registered() && first.Registered() && second.Registered() && third.Registered());
    EXPECT_TRUE(IsAxisRuntimeInstalled());
}

// The apartment of the calling thread after the call, and whether one
// release then ends the thread's COM use as it did before the call.
TEST(AxisRuntimeDetection, LeavesTheThreadsComInitialisationAsItFoundIt) {
    ScopedComClass comClass(kAxisRuntimeClass, PROBE_COM_SERVER_PATH);
    ScopedDmo first(kAxisRuntimeDmos[0]), second(kAxisRuntimeDmos[1]), third(kAxisRuntimeDmos[2]);
    ASSERT_TRUE(comClass.Registered() && first.Registered() && second.Registered() && third.Registered());

    struct Case {
        const char* what;
        bool initialiseFirst;
        DWORD model;
    };
    const Case cases[] = {
        {"thread without COM", false, 0},
        {"single-threaded apartment", true, COINIT_APARTMENTTHREADED},
        {"multi-threaded apartment (the call's own initialisation fails)", true, COINIT_MULTITHREADED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A thread of its own, so that nothing of another case lingers.
        bool installed = false;
        HRESULT afterCall = E_FAIL, afterRelease = E_FAIL;
        APTTYPE typeAfterCall = APTTYPE_CURRENT, typeBefore = APTTYPE_CURRENT;
        APTTYPEQUALIFIER qualifier{};
        std::thread([&] {
            if (c.initialiseFirst) {
                ASSERT_EQ(::CoInitializeEx(nullptr, c.model), S_OK);
                ASSERT_EQ(::CoGetApartmentType(&typeBefore, &qualifier), S_OK);
            }
            installed = IsAxisRuntimeInstalled();
            afterCall = ::CoGetApartmentType(&typeAfterCall, &qualifier);
            if (c.initialiseFirst) {
                ::CoUninitialize();
                APTTYPE type{};
                afterRelease = ::CoGetApartmentType(&type, &qualifier);
            }
        }).join();
        EXPECT_TRUE(installed);
        if (c.initialiseFirst) {
            EXPECT_EQ(afterCall, S_OK) << "the call released the caller's COM";
            EXPECT_EQ(typeAfterCall, typeBefore);
            EXPECT_EQ(afterRelease, CO_E_NOTINITIALIZED) << "the call left an initialisation behind";
        } else {
            EXPECT_EQ(afterCall, CO_E_NOTINITIALIZED) << "the call left an initialisation behind";
        }
    }
}

}  // namespace
}  // namespace quentar
