#include "payload/payload_names.h"

namespace quentar {

EntryRole RoleOfEntry(U16View name) {
    if (EqualsIgnoreAsciiCase(name, kApplicationEntryName)) return EntryRole::Application;
    if (EqualsIgnoreAsciiCase(name, kArecontSdkEntryName)) return EntryRole::ArecontSdk;
    for (const char16_t* companion : kCompanionEntryNames) {
        if (EqualsIgnoreAsciiCase(name, companion)) return EntryRole::Companion;
    }
    for (const char16_t* package : kAxisPackageEntryNames) {
        if (EqualsIgnoreAsciiCase(name, package)) return EntryRole::AxisPackage;
    }
    return EntryRole::None;
}

}  // namespace quentar
