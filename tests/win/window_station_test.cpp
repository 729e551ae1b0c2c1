// Whether anybody can see the process's windows, told by its window station's
// flags, through SystemApi.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/system_api.h"
#include "platform/window_station.h"

namespace quentar {
namespace {

// Answers the station's flags as asked, or fails the call.
class StationFlags : public ForwardingSystemApi {
public:
    StationFlags(bool readable, DWORD flags) : ForwardingSystemApi(Sys()), readable_(readable), flags_(flags) {}
    BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed) override {
        ++calls;
        if (!readable_) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (index != UOI_FLAGS || size < sizeof(USEROBJECTFLAGS)) return FALSE;
        *static_cast<USEROBJECTFLAGS*>(info) = USEROBJECTFLAGS{FALSE, FALSE, flags_};
        if (needed != nullptr) *needed = sizeof(USEROBJECTFLAGS);
        return TRUE;
    }
    int calls = 0;

private:
    bool readable_;
    DWORD flags_;
};

TEST(WindowStation, WindowsAreSeenOnlyOnTheInteractiveStation) {
    // The test runs on the display of the test environment: its station is
    // the interactive one, as the system reports it.
    EXPECT_TRUE(WindowsCanBeSeen());

    struct Case {
        const char* what;
        bool readable;
        DWORD flags;
        bool seen;
    };
    const Case cases[] = {
        {"interactive", true, WSF_VISIBLE, true},
        {"a service's station", true, 0, false},
        {"other flags alone", true, ~static_cast<DWORD>(WSF_VISIBLE), false},
        {"flags that cannot be read", false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StationFlags station(c.readable, c.flags);
        ScopedSystemApi scope(station);
        EXPECT_EQ(WindowsCanBeSeen(), c.seen);
        EXPECT_EQ(station.calls, 1);
    }
}

}  // namespace
}  // namespace quentar
