// Whether the Axis Communications runtime components are registered on this
// machine: one COM class that must be creatable and three DirectX Media
// Objects that must be registered. All or nothing; nothing is reported.
#pragma once

#include <windows.h>

namespace quentar {

// The components' class identifiers, in the order they are tested: the COM
// class first, then the three DMOs.
extern const CLSID kAxisRuntimeClass;
extern const CLSID kAxisRuntimeDmos[3];

// True when an object of kAxisRuntimeClass can be created (any context,
// IUnknown) and DMOGetName succeeds for each DMO, tested in that order and
// stopping at the first failure. Initialises COM for the call and leaves the
// thread's COM initialisation as it found it, also when the thread already
// runs in another apartment mode.
bool IsAxisRuntimeInstalled();

}  // namespace quentar
