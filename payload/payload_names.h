// The entry names the setup program looks for in the carried archive.
// Release engineers pack the files under exactly these names (case does not
// matter: lookups fold A-Z); other entries are carried and ignored.
#pragma once

#include "state/text.h"

namespace quentar {

// The application executable; installed as "Quentar.exe".
inline constexpr char16_t kApplicationEntryName[] = u"Quentar.exe";
// The camera SDK installed with the Arecont Vision runtime component.
inline constexpr char16_t kArecontSdkEntryName[] = u"AV2000SDK.dll";
// Companion files, written when present.
inline constexpr const char16_t* kCompanionEntryNames[] = {u"help.pdf", u"repo.jpg", u"zorbel.dll",
                                                           u"zorbelreg.exe"};
// Runtime packages, run in this order when the Axis runtime is chosen.
inline constexpr const char16_t* kAxisPackageEntryNames[] = {
    u"AXISMediaControlSDK_redist.exe", u"AxisAACDecoderSetup.msi", u"AxisH264DecoderSetup.msi",
    u"AxisMPEG4DecoderSetup.msi"};

// What the setup program does with an entry.
enum class EntryRole {
    None,         // nothing: the program never installs or runs it
    Application,  // kApplicationEntryName
    ArecontSdk,   // kArecontSdkEntryName
    Companion,    // one of kCompanionEntryNames
    AxisPackage,  // one of kAxisPackageEntryNames
};

// The role of an entry named `name`, folding A-Z as the lookups do.
EntryRole RoleOfEntry(U16View name);

}  // namespace quentar
