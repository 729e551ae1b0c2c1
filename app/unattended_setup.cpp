#include "app/unattended_setup.h"

#include "components/decoder_detection.h"
#include "components/runtime_packages.h"
#include "install/chunk_plan.h"
#include "install/destination.h"
#include "install/earlier_installation.h"
#include "install/engine_support.h"
#include "install/install_sequence.h"
#include "payload/load_payload.h"
#include "payload/payload_names.h"
#include "platform/module_text.h"
#include "platform/resources.h"
#include "removal/remove_installation.h"
#include "removal/restart.h"
#include "state/resource_ids.h"

namespace quentar {
namespace {

const char16_t* YesNo(bool value) { return value ? u"yes" : u"no"; }

U16String VersionText(const FileVersion& version) { return FormatVersionText(u"%i.%i.%i.%i", version); }

// What the payload lacks of `choice`, for the log; empty when it carries
// every component chosen but the application (whose absence the install
// sequence reports).
U16String ComponentsNotCarried(const ComponentChoice& choice, const CarriedComponents& carried) {
    U16String missing;
    if (choice.arecont && !carried.arecont) {
        missing = U16String(u"the Arecont Vision runtime (") + kArecontSdkEntryName + u")";
    }
    if (choice.axis && !carried.axis) {
        missing += (missing.empty() ? u"" : u" and ") + U16String(u"the Axis runtime (none of its packages)");
    }
    return missing;
}

// The components of the run: the command line's list, or the wizard's
// proposal on this machine, of what the payload carries. False when the list
// cannot be read or names a component the payload does not carry.
bool ChooseComponents(const SetupOptions& options, const UpdateArguments& arguments, InstallState& state,
                      ComponentChoice& choice, InstallFeedback& feedback) {
    const CarriedComponents carried = ComponentsCarried(state);
    if (options.componentsGiven) {
        U16String problem;
        if (!ParseComponentList(options.components, choice, problem)) {
            feedback.Log(u"/components:" + options.components + u" cannot be used: " + problem);
            return false;
        }
        const U16String missing = ComponentsNotCarried(choice, carried);
        if (!missing.empty()) {
            feedback.Log(u"/components:" + options.components + u" cannot be used: this setup program does not carry " +
                         missing);
            return false;
        }
        feedback.Log(u"components from the command line: " + options.components);
        return true;
    }
    if (!carried.arecont) {
        feedback.Log(U16String(u"the payload carries no ") + kArecontSdkEntryName +
                     u": the Arecont Vision runtime is not offered");
    }
    if (arguments.updateMode) {
        choice.application = true;
        choice.arecont = carried.arecont;
        feedback.Log(choice.arecont
                         ? u"components proposed for the update: the application and the Arecont Vision runtime"
                         : u"components proposed for the update: the application");
        return true;
    }
    choice.application = DetectEarlierInstallation(state);
    choice.arecont = choice.application && carried.arecont;
    if (state.installedFound) {
        feedback.Log(u"earlier installation found: version " + VersionText(state.installedVersion) +
                     (choice.application ? u", older than this setup's " : u", not older than this setup's ") +
                     VersionText(state.setupVersion));
    } else {
        feedback.Log(u"no earlier installation found");
    }
    if (!carried.axis) {
        feedback.Log(u"the payload carries no Axis runtime package: the Axis runtime is not offered");
        return true;
    }
    const bool axisInstalled = IsAxisRuntimeInstalled();
    feedback.Log(axisInstalled ? u"the Axis runtime is installed" : u"the Axis runtime is not installed");
    choice.axis = !axisInstalled;
    return true;
}

// The destination and the shortcuts of an installation outside an update;
// false when the destination cannot be used (told through `feedback`). The
// folders made for the destination are listed in installedFolders, innermost
// first, so that taking the installation back removes them again, also when
// only some of them could be made.
bool PrepareInstallation(const SetupOptions& options, InstallState& state, InstallFeedback& feedback) {
    state.programFolderName = kDefaultProgramFolderName;
    state.createDesktopShortcut = !options.noDesktop;
    state.shortcutsForAllUsers = true;
    if (!options.directoryGiven) {
        state.destinationFolder = DefaultDestination();
    } else if (options.directory.empty()) {
        // The destination page does not take an empty field either.
        feedback.Log(u"/dir: names no folder");
        feedback.Message(LoadStringResource(IDS_FIELD_EMPTY), MB_OK | MB_ICONERROR);
        return false;
    } else {
        state.destinationFolder = options.directory;
    }
    feedback.Log(u"destination: " + state.destinationFolder);
    const StringList missing = MissingLevels(state.destinationFolder);
    const bool ready =
        MakeDestinationReady(state.destinationFolder, state, feedback, /*askFirst=*/false) == DestinationOutcome::kReady;
    for (const U16String& level : missing) {
        if (DirectoryExists(level)) AddUnique(state.installedFolders, level);
    }
    return ready;
}

}  // namespace

SetupResult RunUnattended(const SetupOptions& options, const UpdateArguments& arguments, InstallState& state,
                          InstallFeedback& feedback) {
    ReadFileVersion(nullptr, state.setupVersion);
    LoadPayload(state);
    state.applicationEntry = FindEntry(kApplicationEntryName, state);

    uint32_t packageTimeout = kDefaultPackageTimeoutMinutes;
    if (options.packageTimeoutGiven && !ParsePackageTimeout(options.packageTimeout, packageTimeout)) {
        feedback.Log(u"/packagetimeout:" + options.packageTimeout + u" cannot be used: minutes from 1 to " +
                     DecimalText(kMaxPackageTimeoutMinutes) + u" are");
        return SetupResult::Failed;
    }

    ComponentChoice choice;
    if (!ChooseComponents(options, arguments, state, choice, feedback)) return SetupResult::Failed;
    state.installArecontRuntime = choice.application && choice.arecont;
    state.installAxisRuntime = choice.axis;
    feedback.Log(U16String(u"chosen: application ") + YesNo(choice.application) + u", Arecont Vision runtime " +
                 YesNo(state.installArecontRuntime) + u", Axis runtime " + YesNo(state.installAxisRuntime));
    if (!choice.application && !choice.axis) {
        feedback.Log(u"nothing to install");
        return SetupResult::Installed;
    }

    if (choice.application) {
        bool prepared = true;
        if (arguments.updateMode) {
            PrefillForUpdate(arguments, state);
        } else {
            prepared = PrepareInstallation(options, state, feedback);
        }
        ChunkPlan plan;
        // A payload without the application gives no chunks; the sequence
        // then refuses to install.
        PlanChunks(state.applicationEntry ? state.applicationEntry.FileSizeLow() : 0, plan);
        feedback.BeginProgress(static_cast<uint32_t>(plan.size()));
        if (!prepared || !RunInstallSequence(state, arguments, plan, feedback)) {
            feedback.Log(u"rollback of the failed installation");
            RemoveInstallation(state, feedback);
            return SetupResult::Failed;
        }
    }

    PackagesOutcome packages;
    if (state.installAxisRuntime) {
        feedback.Log(u"step: the Axis runtime packages, each waited for at most " + DecimalText(packageTimeout) +
                     u" minutes");
        packages = RunRuntimePackages(state, feedback, packageTimeout);
    }

    // Before the exit code is decided: files in use make it 3010, and so does
    // a package that asked for a restart, unless Windows restarts now.
    const SetupResult result = EndSuccessfulRun(state, feedback, RestartQuestion::Ask, packages.restartNeeded);
    // A package that did not end may still be changing the machine: the run
    // cannot say it installed.
    if (packages.timedOut) return SetupResult::Failed;
    if (arguments.updateMode && choice.application) state.startApplication = true;
    return result;
}

}  // namespace quentar
