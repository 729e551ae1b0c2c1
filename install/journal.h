// The journal of this run on disk (the format is in install/journal_format.h).
//
// The application object arms it at start-up with a folder that only
// administrators and the system account can write; the first entry then
// creates the run's file there, "<start time, 16 hexadecimal digits>-<process
// id, 8 digits>.journal", so a run that changes nothing leaves no file. Each
// entry is written with one WriteFile and flushed (FlushFileBuffers) before
// Record returns: the change it describes may follow. The file stays open,
// shared for reading only, until the run ends, so that it cannot be deleted
// meanwhile and a later run can tell that its writer still runs. Every normal
// end of the run discards it as its last act; a run that is killed leaves it
// for the next run's recovery (removal/recovery.h).
//
// Not armed (tests of the engine, or a folder that could not be made),
// recording does nothing and succeeds.
#pragma once

#include <windows.h>

#include "install/install_feedback.h"
#include "install/journal_format.h"
#include "platform/unique_resource.h"
#include "state/text.h"

namespace quentar {

// The journal's file-name extension.
inline constexpr char16_t kJournalExtension[] = u".journal";

class RunJournal {
public:
    // Entries go to a file in `folder` from now on; `description` heads it
    // (the run's process, time and mode). Forgets a file of an earlier arming
    // without discarding it.
    void Arm(const U16String& folder, const U16String& description);
    bool Armed() const { return !folder_.empty(); }

    // Writes `entry` and flushes it; 0, or the error of the creation, write
    // or flush (ERROR_INVALID_DATA for an entry that cannot be written down).
    // Once an entry has failed, every later one fails with the same error,
    // since the file no longer tells all. 0 without doing anything when not
    // armed.
    DWORD Record(const JournalEntry& entry);

    // The file of this run; empty until the first entry tries to make it.
    const U16String& Path() const { return path_; }

    // Closes and deletes this run's file and disarms; logs a file that
    // cannot be deleted (the next run then recovers it: finishes it when its
    // sequence completed, otherwise takes it back).
    void Discard(InstallFeedback& feedback);

private:
    DWORD Open();

    U16String folder_;
    U16String description_;
    U16String path_;
    UniqueFile file_;
    bool created_ = false;  // path_ was made by this run
    DWORD failed_ = ERROR_SUCCESS;
};

// The journal of this process's run.
RunJournal& TheJournal();

// Records `entry` in this run's journal; when that fails, shows message 264
// naming the journal's file with the error, and returns false: the change
// must then not be made.
bool RecordOrReport(const JournalEntry& entry, InstallFeedback& feedback);

// Creates the folder `path` (one level) after recording it in the journal, so
// that a run taken back removes it again: with the owner and DACL of the SDDL
// `rights` (CreateFolderWithRights), or the default rights when empty.
// Answers as CreateDirectoryW does, with the thread's last error set on
// failure (the journal's error when it could not record the folder, and
// nothing made).
BOOL CreateJournaledFolder(const U16String& path, U16View rights = {});

}  // namespace quentar
