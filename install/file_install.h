// Putting payload entries on disk and keeping account of what was put there.
//
// Every target file is created through CreateTargetFile, which records it in
// the install state's lists (installedFolders, installedFiles) for the
// uninstall record and for the removal of a failed installation. A file
// already at the target's name is first moved aside under a temporary name
// in the same folder (MoveAsideExisting): this works even for the executable
// of a running program, and it keeps the earlier installation's file so that
// a failed installation can put it back. The temporary names are collected in
// replacedFiles; the end of a successful wizard deletes them.
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
#include "platform/unique_resource.h"
#include "state/install_state.h"
#include "state/text.h"

namespace quentar {

// Length of what a temporary name adds to the original full path: "." and 32
// lower-case hexadecimal digits.
constexpr size_t kAsideSuffixLength = 33;

// path + "." + the 16 bytes in memory order, each as two lower-case
// hexadecimal digits.
U16String AsideName(const U16String& path, const uint8_t bytes[16]);

// The original full path of a temporary name made by AsideName, or empty when
// `asideName` does not end in "." and 32 hexadecimal digits.
U16String OriginalNameOf(U16View asideName);

// Fills the four words with pseudo-random values from the run-time library's
// generator, seeded once per process from GetTickCount (with a 15-bit rand(),
// bits 15 and 31 of each word are 0). The fallback when no GUID can be made.
void FillRandomWords(uint32_t words[4]);

// When a file (not a folder) exists at `path`, moves it to a fresh temporary
// name (AsideName of a new GUID, or of FillRandomWords when CoCreateGuid
// fails) and appends that name to replacedFiles. True when nothing was there
// or the move succeeded; false when the move failed, with the thread's last
// error set to the move's error and the file left where it was. Shows no
// message.
bool MoveAsideExisting(InstallState& state, const U16String& path, InstallFeedback& feedback);

// Creates (or truncates) for writing the file JoinPath(*folder, name), or
// `name` taken as a full path when `folder` is null: GENERIC_WRITE, shared
// for reading, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE. A file already there is
// moved aside first (MoveAsideExisting) and moved back if the new file cannot
// be created. On success the folder (when given) is added to
// installedFolders and the path to installedFiles, and the open handle is
// returned. On failure message 264 is shown with the error of the failed move
// or creation, and an empty handle is returned.
UniqueFile CreateTargetFile(const U16String* folder, InstallState& state, U16View name, InstallFeedback& feedback);

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
// - Otherwise the file is created with CreateTargetFile and written; true
//   when every byte was written and the file closed. When the file cannot be
//   created, or the write or the close fails or falls short, message 264 is
//   shown and the result is false; a file that was created is deleted again,
//   dropped from installedFiles and the earlier file moved back, as if it
//   could not be created.
// The written file keeps the time of writing.
bool InstallEntryFile(InstallState& state, U16View entryName, InstallFeedback& feedback);

// Writes applicationEntry's data to applicationPath (created with
// CreateTargetFile without a folder) in the order of `plan`: for chunk k,
// feedback.Progress(k), a write of the chunk's bytes at its position, then
// feedback.Pause(10). The caller has announced plan.size() steps with
// BeginProgress. The file then gets the entry's ftLastWriteTime as its
// creation, last-access and last-write time.
// Every chunk must lie inside the entry's data and the chunks' sizes must add
// up to the entry's size (PlanChunks of FileSizeLow() gives such a plan).
// True when the file was written completely and closed. False, with message
// 264 shown, when it cannot be created or a positioning, write or close
// fails or falls short (the file is then deleted and the earlier one moved
// back, as for InstallEntryFile), or when the plan does not fit the entry;
// false without a message when there is no applicationEntry.
bool WriteApplicationExecutable(InstallState& state, const ChunkPlan& plan, InstallFeedback& feedback);

}  // namespace quentar
