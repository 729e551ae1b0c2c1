#include "removal/recovery.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "install/engine_support.h"
#include "install/journal.h"
#include "install/journal_format.h"
#include "install/uninstall_record.h"
#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "removal/restart.h"

namespace quentar {
namespace {

constexpr char16_t kJournalFolderName[] = u"Journal";
// A run's journal holds some hundreds of lines of a few hundred characters:
// a larger file is no journal of this program, and is not read into memory.
constexpr DWORD kLargestJournal = 4 * 1024 * 1024;

bool Exists(const U16String& path) { return Sys().GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES; }

// Deletes a new file of the interrupted run. True when it is gone.
bool DeleteNew(const U16String& path, InstallFeedback& feedback) {
    if (!Exists(path)) return true;
    if (Sys().DeleteFileW(AsWide(path))) {
        feedback.Log(u"recovery: deleted " + path);
        return true;
    }
    feedback.Log(u"recovery: cannot delete " + path + u": " + DescribeError(::GetLastError()));
    return false;
}

// Takes back one change; what cannot be put back goes to `outcome`.
void TakeBack(const JournalEntry& entry, InstallFeedback& feedback, RecoveryOutcome& outcome) {
    switch (entry.step) {
        case JournalStep::Complete:
            break;
        case JournalStep::Key: {
            const LSTATUS result = DeleteKeyTree(HKEY_LOCAL_MACHINE, AsWide(entry.path));
            if (result == ERROR_SUCCESS) {
                feedback.Log(u"recovery: deleted the key HKLM\\" + entry.path);
            } else if (result != kKeyNotOpened) {
                feedback.Log(u"recovery: cannot delete the key HKLM\\" + entry.path + u": " +
                             DescribeError(static_cast<DWORD>(result)));
                outcome.notRestored.push_back(u"HKLM\\" + entry.path);
            }
            break;
        }
        case JournalStep::Folder:
            if (!Exists(entry.path)) break;
            if (Sys().RemoveDirectoryW(AsWide(entry.path))) {
                feedback.Log(u"recovery: removed the folder " + entry.path);
            } else {
                feedback.Log(u"recovery: folder left: " + entry.path + u": " + DescribeError(::GetLastError()));
            }
            break;
        case JournalStep::Write:
            DeleteNew(entry.other, feedback);
            // Where nothing stood, whatever stands now is the run's.
            if (!entry.earlier && !DeleteNew(entry.path, feedback)) outcome.notRestored.push_back(entry.path);
            break;
        case JournalStep::Aside:
            // Not moved aside yet (or moved back already): the earlier file
            // is at its name.
            if (!Exists(entry.other)) break;
            if (!DeleteNew(entry.path, feedback)) {
                outcome.notRestored.push_back(entry.path);
            } else if (Sys().MoveFileExW(AsWide(entry.other), AsWide(entry.path), MOVEFILE_WRITE_THROUGH)) {
                feedback.Log(u"recovery: moved back " + entry.other + u" -> " + entry.path);
            } else {
                feedback.Log(u"recovery: cannot move back " + entry.other + u" -> " + entry.path + u": " +
                             DescribeError(::GetLastError()));
                outcome.notRestored.push_back(entry.path);
            }
            break;
        case JournalStep::Replace: {
            const bool old = Exists(entry.path);
            const bool fresh = Exists(entry.other);
            // Both there: the running executable was not deleted yet.
            if (old && fresh) break;
            if (!old && fresh) {
                // The earlier executable had been deleted: the new one takes
                // its place, so that the application can start.
                if (Sys().MoveFileExW(AsWide(entry.other), AsWide(entry.path), MOVEFILE_WRITE_THROUGH)) {
                    feedback.Log(u"recovery: the earlier " + entry.path + u" had been deleted by the update; " +
                                 entry.other + u" moved in its place");
                } else {
                    feedback.Log(u"recovery: cannot move " + entry.other + u" -> " + entry.path + u": " +
                                 DescribeError(::GetLastError()));
                }
            } else {
                feedback.Log(u"recovery: the update had replaced " + entry.path + u" already");
            }
            outcome.notRestored.push_back(entry.path);
            break;
        }
    }
}

// Finishes one change of a run whose sequence had completed; `written` holds
// the names the run wrote new files to. A file moved aside from any other
// name was an earlier installation's file taken back, whose name stays empty.
void Finish(const JournalEntry& entry, const StringList& written, InstallFeedback& feedback,
            RecoveryOutcome& outcome) {
    U16String leftover;
    if (entry.step == JournalStep::Aside || entry.step == JournalStep::Write) leftover = entry.other;
    const bool takenBack = entry.step == JournalStep::Aside && !ContainsIgnoreAsciiCase(written, entry.path);
    if (!leftover.empty() && Exists(leftover) &&
        DeleteNowOrAtRestart(leftover, feedback, takenBack) == DeletionOutcome::AtRestart) {
        outcome.restartNeeded = true;
    }
    if (entry.step == JournalStep::Complete && !entry.path.empty() && !entry.other.empty()) {
        RemoveSupersededRecords(entry.other, entry.path, &feedback);
    }
}

// Reads the journal at `path`, held open by `file`. False when it cannot be
// read; the reason is logged.
bool ReadJournalFile(const U16String& path, HANDLE file, JournalReading& reading, InstallFeedback& feedback) {
    DWORD high = 0;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD size = Sys().GetFileSize(file, &high);
    if ((size == INVALID_FILE_SIZE && ::GetLastError() != ERROR_SUCCESS) || high != 0 || size > kLargestJournal) {
        feedback.Log(u"recovery: the journal " + path + u" is no journal of a run (its size): left as it is");
        return false;
    }
    // A unit cut in half belongs to the entry whose writing was cut off.
    std::vector<char16_t> units(size / sizeof(char16_t));
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(units.size() * sizeof(char16_t));
    if (wanted > 0 && (!Sys().ReadFile(file, units.data(), wanted, &got, nullptr) || got != wanted)) {
        feedback.Log(u"recovery: the journal " + path + u" cannot be read (" + DescribeError(::GetLastError()) +
                     u"): left as it is");
        return false;
    }
    reading = ReadJournal(units.data(), units.size());
    if (reading.status != JournalReading::Status::Ok) {
        feedback.Log(u"recovery: the journal " + path + u" cannot be read (line " + DecimalText(reading.damagedLine) +
                     u": " + reading.problem + u"): left as it is");
        return false;
    }
    return true;
}

void RecoverOne(const U16String& path, InstallFeedback& feedback, RecoveryOutcome& outcome) {
    // Its writer holds it open without sharing its deletion while it runs.
    UniqueFile file(Sys().CreateFileW(AsWide(path), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        feedback.Log(u"recovery: the journal " + path + u" cannot be opened (" + DescribeError(::GetLastError()) +
                     u"): its run may still be running; left as it is");
        return;
    }
    JournalReading reading;
    if (!ReadJournalFile(path, file.get(), reading, feedback)) return;
    const bool completed = std::any_of(reading.entries.begin(), reading.entries.end(),
                                       [](const JournalEntry& e) { return e.step == JournalStep::Complete; });
    feedback.Log(u"recovery: the run of " + path + u" (" + reading.description + u") " +
                 (completed ? u"had completed: finishing it" : u"did not complete: taking it back"));
    if (reading.unfinishedUnits > 0) feedback.Log(u"recovery: its last entry was cut off and is ignored");
    if (completed) {
        StringList written;
        for (const JournalEntry& entry : reading.entries) {
            if (entry.step == JournalStep::Write) written.push_back(entry.path);
        }
        for (const JournalEntry& entry : reading.entries) Finish(entry, written, feedback, outcome);
    } else {
        for (auto it = reading.entries.rbegin(); it != reading.entries.rend(); ++it) TakeBack(*it, feedback, outcome);
    }
    file.reset();
    if (Sys().DeleteFileW(AsWide(path))) {
        feedback.Log(u"recovery: journal removed: " + path);
    } else {
        feedback.Log(u"recovery: the journal " + path + u" cannot be removed: " + DescribeError(::GetLastError()));
    }
}

// The journals in `folder`, newest first (their names begin with their
// run's start time).
StringList JournalsIn(const U16String& folder) {
    StringList names;
    WIN32_FIND_DATAW found{};
    UniqueFind search(Sys().FindFirstFileW(AsWide(JoinPath(folder, U16String(u"*") + kJournalExtension)), &found));
    if (!search) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(FromWide(found.cFileName));
    } while (Sys().FindNextFileW(search.get(), &found));
    std::sort(names.rbegin(), names.rend());
    for (U16String& name : names) name = JoinPath(folder, name);
    return names;
}

}  // namespace

RecoveryOutcome RecoverInterruptedRuns(const U16String& folder, InstallFeedback& feedback) {
    RecoveryOutcome outcome;
    for (const U16String& journal : JournalsIn(folder)) RecoverOne(journal, feedback, outcome);
    return outcome;
}

RecoveryOutcome PrepareRunJournal(const U16String& description, InstallFeedback& feedback) {
    U16String data;
    FolderRights dataRights;
    FolderRights journalRights;
    DWORD error = SetupDataFolder(data, &dataRights);
    const U16String folder = JoinPath(data, kJournalFolderName);
    if (error == ERROR_SUCCESS) error = EnsureAdministratorsOnlyFolder(folder, &journalRights);
    if (error != ERROR_SUCCESS) {
        feedback.Log(u"no journal: its folder cannot be made (" + DescribeError(error) +
                     u"); a run that is killed cannot be taken back by the next one");
        return {};
    }
    RecoveryOutcome outcome;
    if (dataRights.changed || journalRights.changed) {
        feedback.Log(u"the journal folder " + folder + u" could be written by others (" +
                     (journalRights.changed ? journalRights.found : dataRights.found) +
                     u"): its rights were reset, and the journals found in it are not trusted and left as they are");
    } else {
        outcome = RecoverInterruptedRuns(folder, feedback);
    }
    TheJournal().Arm(folder, description);
    return outcome;
}

}  // namespace quentar
