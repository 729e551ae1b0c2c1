// What a payload lets the setup program offer, and the space the chosen
// components need, from payloads made for each case.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_support.h"
#include "install/destination.h"
#include "payload/payload_archive.h"

namespace quentar {
namespace {

testing::CarriedEntry Entry(const char16_t* name, size_t size) {
    return {name, std::vector<uint8_t>(size, 0x5A), testing::kTime2010};
}

// A component is offered when the payload carries its entry (one of the
// runtime packages is enough for the Axis runtime), whatever the case of
// A-Z; other entries offer nothing.
TEST(ComponentsCarried, EachComponentByItsEntries) {
    struct Case {
        const char* what;
        std::vector<testing::CarriedEntry> entries;
        bool application, arecont, axis;
    };
    const Case cases[] = {
        {"everything", {Entry(u"Quentar.exe", 10), Entry(u"AV2000SDK.dll", 10), Entry(u"AxisAACDecoderSetup.msi", 10)},
         true, true, true},
        {"the application alone, companions and a stranger",
         {Entry(u"QUENTAR.EXE", 10), Entry(u"help.pdf", 10), Entry(u"msxml3.dll", 10)}, true, false, false},
        {"the last runtime package alone", {Entry(u"axismpeg4decodersetup.msi", 10)}, false, false, true},
        {"names that only resemble them",
         {Entry(u"Quentar.exe.bak", 10), Entry(u"AV2000SDK.dll ", 10), Entry(u"AxisAACDecoder.msi", 10)}, false,
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto payload = testing::MakePayload(c.entries);
        const CarriedComponents carried = ComponentsCarried(payload.get());
        EXPECT_EQ(carried.application, c.application);
        EXPECT_EQ(carried.arecont, c.arecont);
        EXPECT_EQ(carried.axis, c.axis);
    }
    const CarriedComponents none = ComponentsCarried(static_cast<const PayloadArchive*>(nullptr));
    EXPECT_FALSE(none.application || none.arecont || none.axis);
}

// The application's executable and companions always count; the SDK and the
// packages when their runtime is chosen; other entries never. Whole
// megabytes (MiB), rounded up.
TEST(SpaceNeeded, TheChosenComponentsEntriesRoundedUpToWholeMegabytes) {
    constexpr size_t kMiB = 1024 * 1024;
    const std::vector<testing::CarriedEntry> entries = {
        Entry(u"Quentar.exe", kMiB - 100), Entry(u"help.pdf", 100),          Entry(u"AV2000SDK.dll", 1),
        Entry(u"AxisAACDecoderSetup.msi", 2 * kMiB), Entry(u"AXISMediaControlSDK_redist.exe", kMiB),
        Entry(u"notes.txt", 5 * kMiB)};
    InstallState state;
    state.payload = testing::MakePayload(entries);
    struct Case {
        bool arecont, axis;
        uint32_t megabytes;
    };
    for (const Case& c : {Case{false, false, 1}, Case{true, false, 2}, Case{false, true, 4}, Case{true, true, 5}}) {
        SCOPED_TRACE(::testing::Message() << "arecont " << c.arecont << ", axis " << c.axis);
        state.installArecontRuntime = c.arecont;
        state.installAxisRuntime = c.axis;
        EXPECT_EQ(SpaceNeededMegabytes(state), c.megabytes);
    }
    state.payload.reset();
    EXPECT_EQ(SpaceNeededMegabytes(state), 0u);
}

}  // namespace
}  // namespace quentar
