// Recovery of runs that did not end: at the start of every run, once the
// single-instance lock is held and before anything else, each journal that a
// run left behind (install/journal.h) is read and its run finished or taken
// back, so that the machine is as if that run had finished or never started.
//
// - A run whose install sequence had completed is finished: its moved-aside
//   files are deleted (those in use marked for deletion when Windows next
//   starts), a temporary file it left is deleted, and the uninstall records
//   its own superseded are swept.
// - Any other run is taken back, its entries last to first: the uninstall
//   key it created is deleted, each file it wrote where none stood is
//   deleted, its temporary files are deleted, every file it moved aside is
//   moved back to its name (the new file there deleted first), the folders
//   it made are removed when empty. An update whose running executable had
//   already been deleted keeps the new executable in its place: the
//   application must never be left without one.
// - A journal still open for deletion by its writer (a run that still runs)
//   is left alone, and so is one that cannot be read: it is logged and never
//   guessed from.
// Every action goes to the log. What cannot be put back as it was is handed
// to the caller, who tells the user.
#pragma once

#include "install/install_feedback.h"
#include "state/text.h"

namespace quentar {

struct RecoveryOutcome {
    // Files of a finished run wait for the next start of Windows.
    bool restartNeeded = false;
    // What could not be put back as it was (paths; registry keys as
    // "HKLM\<path>"), in the order met.
    StringList notRestored;
};

// Finishes or takes back the run of every journal in `folder`, newest first,
// and deletes each journal that was dealt with.
RecoveryOutcome RecoverInterruptedRuns(const U16String& folder, InstallFeedback& feedback);

// The run's start: makes the journal folder (the setup data folder's
// "Journal", both administrators-only), recovers the journals found there
// and arms this run's journal (TheJournal) with `description`. Journals in a
// folder whose rights had to be reset, because others could write it, are
// not trusted: they are logged and left. Without a journal folder the run
// goes on without a journal (logged).
RecoveryOutcome PrepareRunJournal(const U16String& description, InstallFeedback& feedback);

}  // namespace quentar
