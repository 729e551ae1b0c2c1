#include "platform/window_station.h"

#include <windows.h>

#include "platform/system_api.h"

namespace quentar {

bool WindowsCanBeSeen() {
    // The station's handle belongs to the process and is not closed.
    const HWINSTA station = Sys().GetProcessWindowStation();
    if (station == nullptr) return true;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!Sys().GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace quentar
