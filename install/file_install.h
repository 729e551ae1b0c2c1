// Putting payload entries on disk and keeping account of what was put there.
//
// Every file of the installation becomes whole before it takes its name: it
// is written under a temporary name in its own folder (staged_names.h),
// flushed to the disk, given its times and closed; only then is a file
// already at the name moved aside (MoveAsideExisting) and the temporary file
// moved onto the name, both with write-through. So the name holds the earlier
// file or the new one, each whole, at every instant but the one between the
// two moves, and a write that fails never touches the earlier file. Each step
// is recorded in the run's journal (install/journal.h) before it is made.
//
// What is installed is recorded in the install state's lists
// (installedFolders, installedFiles) for the uninstall record and for the
// removal of a failed installation. Moved-aside names are collected in
// replacedFiles: moving aside works even for the executable of a running
// program, and keeps the earlier installation's file so that a failed
// installation can put it back; the end of a successful run deletes them.
//
// Failures are shown where they are found: message 264 "Unable to create file
// %1\n%2" (the path and the system's text for the error) through
// InstallFeedback::Message with the error icon; the caller only stops. No
// function here throws or touches a window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "install/chunk_plan.h"
#include "install/install_feedback.h"
#include "install/staged_names.h"
#include "platform/unique_resource.h"
#include "state/install_state.h"
#include "state/text.h"

namespace quentar {

// Fills the four words with pseudo-random values from the run-time library's
// generator, seeded once per process from GetTickCount (with a 15-bit rand(),
// bits 15 and 31 of each word are 0). The fallback when no GUID can be made.
void FillRandomWords(uint32_t words[4]);

// When a file (not a folder) exists at `path`, records the move in the
// journal, moves it to a fresh aside name (AsideName of a new GUID, or of
// FillRandomWords when CoCreateGuid fails; MoveFileExW with write-through)
// and appends that name to replacedFiles. True when nothing was there or the
// move succeeded; false when the journal or the move failed, with the
// thread's last error set to that error and the file left where it was.
// Shows no message.
bool MoveAsideExisting(InstallState& state, const U16String& path, InstallFeedback& feedback);

// A new file for `path` on its way: records it in the journal and chooses a
// temporary name beside it that nothing uses yet. The caller writes the file
// there (and flushes it, FlushWholeFile, when it did not write it through a
// handle of its own), then puts it in place with PutWholeFileInPlace or
// discards it with DiscardTemporaryFile. 0, or the error of the journal; a
// folder at `path` gives ERROR_ACCESS_DENIED, as creating the file would,
// without a journal entry.
DWORD PrepareTemporaryName(const U16String& path, U16String& temporary, InstallFeedback& feedback);

// Flushes the file at `temporary` to the disk; 0 or the error.
DWORD FlushWholeFile(const U16String& temporary);

enum class WhenNotMovable {
    Fail,       // an earlier file that cannot be moved aside fails the step
    Overwrite,  // it is replaced in place (and cannot be put back)
};

// Gives the whole file `temporary` the name `path`: a file already there is
// moved aside first (MoveAsideExisting), then `temporary` is moved onto the
// name (MoveFileExW, write-through). When the earlier file cannot be moved
// aside, `notMovable` decides. 0, or the error of the failed move; the
// earlier file is then at its name again (moved back, write-through), and
// `temporary` is where it was.
DWORD PutWholeFileInPlace(InstallState& state, const U16String& path, const U16String& temporary,
                          WhenNotMovable notMovable, InstallFeedback& feedback);

// Deletes a temporary file that will not become its file; one that cannot be
// deleted is logged and appended to replacedFiles, so that the end of the run
// deletes it (or has it deleted when Windows next starts) and the removal of
// a failed installation tries again. A name where nothing is does nothing.
void DiscardTemporaryFile(InstallState& state, const U16String& temporary, InstallFeedback& feedback);

// True when the file at `path` exists, is exactly `size` bytes long and holds
// exactly `data` (`size` readable bytes). False on any problem (missing,
// unreadable, other length, read error).
bool IsSameContent(const U16String& path, const uint8_t* data, uint32_t size);

// Writes the payload entry called `entryName` into destinationFolder under
// the same name.
// - No such entry: true, nothing written or recorded.
// - A file with identical content already there: true; the file is not
//   touched, but is listed (installedFolders, installedFiles) and remembered
//   in keptFiles, so that a failed installation's removal leaves it.
// - Otherwise the file is written whole under its temporary name
//   (GENERIC_WRITE, shared for reading, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE),
//   flushed and put in place; then the folder is added to installedFolders
//   and the path to installedFiles, and the result is true. When the
//   temporary file cannot be created, a write falls short or fails, or the
//   flush, the close or a move fails, message 264 is shown for the path with
//   that error, the temporary file is discarded (DiscardTemporaryFile), the
//   earlier file stays at its name untouched, and the result is false.
// The written file keeps the time of writing.
bool InstallEntryFile(InstallState& state, U16View entryName, InstallFeedback& feedback);

// Writes applicationEntry's data to applicationPath as InstallEntryFile
// writes a file (nothing is compared first, and no folder is recorded), in
// the order of `plan`: for chunk k, feedback.Progress(k), a write of the
// chunk's bytes at its position, then feedback.Pause(10). The caller has
// announced plan.size() steps with BeginProgress. Before it takes its name,
// the file gets the entry's ftLastWriteTime as its creation, last-access and
// last-write time.
// Every chunk must lie inside the entry's data and the chunks' sizes must add
// up to the entry's size (PlanChunks of FileSizeLow() gives such a plan).
// True when the file is in place. False, with message 264 shown, when any
// step fails as for InstallEntryFile, or when the plan does not fit the
// entry; false without a message when there is no applicationEntry.
bool WriteApplicationExecutable(InstallState& state, const ChunkPlan& plan, InstallFeedback& feedback);

}  // namespace quentar
