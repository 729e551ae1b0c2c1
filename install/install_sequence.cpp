#include "install/install_sequence.h"

#include <windows.h>

#include <cstring>

#include "install/earlier_files.h"
#include "install/engine_support.h"
#include "install/file_install.h"
#include "install/journal.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"
#include "install/update.h"
#include "payload/payload_archive.h"
#include "payload/payload_names.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/guid_text.h"
#include "state/little_endian.h"
#include "state/resource_ids.h"

namespace quentar {

namespace {

// Access with which the installation's key is created: KEY_READ | KEY_WRITE.
constexpr REGSAM kInstallKeyAccess = KEY_READ | KEY_WRITE;

void ShowError(InstallFeedback& feedback, UINT messageId) {
    feedback.Message(LoadStringResource(messageId), MB_OK | MB_ICONHAND);
}

// Creates the installation's uninstall key under a fresh name and records
// its path in uninstallKeyPath. The key stays empty until the record is
// written at the end; its creation is the first write of the installation,
// so a user without administrator rights is stopped before the disk is
// touched.
bool CreateUninstallKey(InstallState& state, InstallFeedback& feedback) {
    uint32_t words[4];
    NewInstallationWords(words);
    const U16String path = UninstallRecord::KeyPath(FormatGuidText(words[0], words[1], words[2], words[3]));
    if (!RecordOrReport({JournalStep::Key, path}, feedback)) return false;

    UniqueKey key;
    const LSTATUS status = Sys().RegCreateKeyExW(HKEY_LOCAL_MACHINE, AsWide(path), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, kInstallKeyAccess, nullptr, key.put(),
                                                 nullptr);
    if (status != ERROR_SUCCESS) {
        feedback.Log(u"uninstall key HKLM\\" + path + u" not created: " + DescribeError(static_cast<DWORD>(status)));
        ShowError(feedback, IDS_ADMIN_REQUIRED);
        return false;
    }
    key.reset();
    state.uninstallKeyPath = path;
    feedback.Log(u"uninstall key created: HKLM\\" + path);
    return true;
}

// The SDK when chosen, then the companion files that the payload carries.
// Only the SDK stops the installation: a companion that cannot be written
// has been reported and the installation goes on without it.
bool InstallLibraries(InstallState& state, InstallFeedback& feedback) {
    if (!state.installArecontRuntime) {
        feedback.Log(u"step: the Arecont Vision runtime is not chosen");
    } else if (!FindEntry(kArecontSdkEntryName, state)) {
        feedback.Log(U16String(u"step: the Arecont Vision runtime: the payload carries no ") + kArecontSdkEntryName);
    } else {
        feedback.Log(U16String(u"step: the Arecont Vision runtime, ") + kArecontSdkEntryName);
        if (!InstallEntryFile(state, kArecontSdkEntryName, feedback)) return false;
    }
    feedback.Log(u"step: companion files");
    for (const char16_t* name : kCompanionEntryNames) {
        if (FindEntry(name, state)) InstallEntryFile(state, name, feedback);
    }
    return true;
}

// Marks the sequence complete in the journal: from here on a run that is
// killed is finished by the next one (its moved-aside files deleted), not
// taken back. A journal that cannot record it is only logged: nothing
// remains to be changed, and a run that ends normally discards its journal.
void RecordCompletion(const InstallState& state, InstallFeedback& feedback) {
    // The record's key and folder tell the next run which records to sweep;
    // an update makes no record and sweeps none.
    const U16String folder = state.uninstallKeyPath.empty() ? U16String() : state.destinationFolder;
    if (const DWORD error = TheJournal().Record({JournalStep::Complete, state.uninstallKeyPath, folder})) {
        feedback.Log(u"the journal cannot record the completion: " + DescribeError(error));
    }
    feedback.Log(u"install sequence complete");
}

}  // namespace

void NewInstallationWords(uint32_t words[4]) {
    GUID guid{};
    if (FAILED(Sys().CoCreateGuid(&guid))) {
        FillRandomWords(words);
        return;
    }
    uint8_t bytes[sizeof(GUID)];
    static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");
    std::memcpy(bytes, &guid, sizeof(bytes));
    for (int k = 0; k < 4; ++k) words[k] = ReadLe32(bytes + 4 * k);
}

bool RunInstallSequence(InstallState& state, const UpdateArguments& arguments, const ChunkPlan& plan,
                        InstallFeedback& feedback) {
    // Nothing can be installed without the application's executable: refuse
    // before the machine is touched.
    if (!state.applicationEntry) {
        feedback.Log(u"The payload holds no application executable");
        ShowError(feedback, IDS_NO_APPLICATION);
        return false;
    }

    const bool update = arguments.updateMode;
    const U16String target = update ? state.applicationPath : JoinPath(state.destinationFolder, kApplicationEntryName);
    if (update) {
        feedback.Log(u"install sequence (update of " + arguments.updateExePath + u") into " + state.destinationFolder);
    } else {
        feedback.Log(u"install sequence into " + state.destinationFolder + u", program folder \"" +
                     state.programFolderName + u"\", desktop shortcut " +
                     (state.createDesktopShortcut ? u"yes" : u"no"));
        feedback.Log(u"step: uninstall key");
        if (!CreateUninstallKey(state, feedback)) return false;
    }
    state.applicationPath = target;

    feedback.Log(u"step: the application executable, " + target);
    if (!WriteApplicationExecutable(state, plan, feedback)) return false;

    if (update) {
        // Recorded before the running executable is deleted, so that a run
        // killed in between never leaves the application without one.
        if (!RecordOrReport({JournalStep::Replace, arguments.updateExePath, state.applicationPath}, feedback) ||
            !UpdateGoesOn(ReplaceRunningApplication(state, arguments, feedback))) {
            return false;
        }
    }

    if (!InstallLibraries(state, feedback)) return false;

    if (update) {
        state.runPath = arguments.updateExePath;
        state.runDirectory = arguments.updateExeFolder;
        RecordCompletion(state, feedback);
        // The record describes the version now installed. After the
        // completion, so that a run killed in between is finished with the
        // record still naming the earlier version (a tool that reads it runs
        // the update again), never taken back under a record that names the
        // new one.
        RewriteRecordsAfterUpdate(state, feedback);
        return true;
    }

    feedback.Log(u"step: program folder and shortcuts");
    CreateShortcuts(state, feedback);

    // What an earlier installation here had and this one has not goes with
    // the files it replaced, so that the record covers all that is left.
    TakeBackEarlierFiles(state, feedback);

    feedback.Log(u"step: uninstall record");
    if (!WriteUninstallRecordValues(state, &feedback)) {
        ShowError(feedback, IDS_UNINSTALL_KEY_FAILED);
        return false;
    }
    RecordCompletion(state, feedback);
    // After the completion: a run killed while sweeping is finished by the
    // next one, which sweeps again, rather than taken back with the earlier
    // records gone.
    RemoveSupersededRecords(state.destinationFolder, state.uninstallKeyPath, &feedback);
    return true;
}

}  // namespace quentar
