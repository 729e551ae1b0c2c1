// The entry names the setup program looks for in the carried archive.
// Release engineers pack the files under exactly these names (case does not
// matter: lookups fold A-Z); other entries are carried and ignored.
#pragma once

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

}  // namespace quentar
