// The log of a run: one text file that every run of the setup program
// appends to (by default "Setup.log" in a folder only administrators and
// SYSTEM can write, or the file named with "/log:"), so that whoever deployed
// the program can read afterwards what it did, step by step, and why it ended
// as it did.
//
// The program runs elevated, often as SYSTEM: a log name must never lead it
// to write elsewhere. A log is opened without following links and refused
// unless it is a plain file at that very name (PlainFileProblem).
//
// Writing the log never stops an installation: a log that cannot be opened
// or written is done without, line by line.
#pragma once

#include <windows.h>

#include <cstdint>

#include "install/install_feedback.h"
#include "platform/unique_resource.h"
#include "state/text.h"

namespace quentar {

// The default log: kDefaultLogName in the folder kLogFolderName of the setup
// program's data folder, "<common application data>\Quentar Setup\Logs".
inline constexpr char16_t kLogFolderName[] = u"Logs";
inline constexpr char16_t kDefaultLogName[] = u"Setup.log";

// The folder of the default log, made, or kept, so that only Administrators
// and SYSTEM can write it and the data folder above it
// (EnsureAdministratorsOnlyFolder, SetupDataFolder). 0 and its path, or the
// error. `notes` receives a line for each folder made or whose rights were
// reset, for the log.
DWORD DefaultLogFolder(U16String& folder, StringList* notes = nullptr);

// A log name of this run's own, "Setup-20261210-151016-1234.log" (the local
// time and the process), for when the default log is refused.
U16String FreshLogName();

// "2026-12-10 15:10:16.123": the local time as the log writes it.
U16String FormatLogTime(const SYSTEMTIME& time);

class RunLog {
public:
    // Opens `path` for appending, creating the file when it is missing; other
    // runs may append to it and anybody read it meanwhile. The name is opened
    // without following a link, and a file that is not a plain file at that
    // very name is refused (PlainFileProblem); one this call created for
    // nothing is deleted again through its handle. A new, empty file is begun
    // with the UTF-8 byte-order mark. Closes the log opened before. False,
    // with the thread's last error set, when it cannot be opened or is
    // refused; `why` then says which, for the log.
    bool Open(const U16String& path, U16String* why = nullptr);
    bool IsOpen() const { return static_cast<bool>(file_); }
    // The file opened last; empty when none is open.
    const U16String& Path() const { return path_; }
    // Its handle (for tests that make its writes fail); invalid when none.
    HANDLE Handle() const { return file_.get(); }

    // Appends one line: the local time ("hh:mm:ss.mmm"), this process's id
    // in brackets, `line` with every CR or LF made a blank, and CR LF, in
    // UTF-8, with one write (so lines of runs that append at once do not
    // mix), e.g. "15:10:16.123 [1234] written: C:\Q\help.pdf (5000 bytes)". Does nothing when no
    // log is open; a failed write is dropped (the next line tries again).
    // The thread's last error is as it was before.
    void Write(U16View line);

    void Close();

private:
    UniqueFile file_;
    U16String path_;
};

// The log of this process's run (opened by the application object at
// start-up; lines written while none is open are dropped).
RunLog& TheRunLog();

// Whatever a message box would ask of a person, the answer of a run that has
// nobody to ask: OK where OK is all there is, otherwise the answer that goes
// no further (No, Cancel, Abort): Windows is not restarted, a wait is not
// prolonged, a missing folder is not created.
int UnattendedAnswer(uint32_t style);

// The installation's feedback when nobody watches: no progress and no pauses;
// every message, with the answer given in its place, and every log line go to
// the run's log.
class UnattendedFeedback final : public InstallFeedback {
public:
    void BeginProgress(uint32_t steps) override {}
    void Progress(uint32_t position) override {}
    void Pause(uint32_t milliseconds) override {}
    int Message(const U16String& text, uint32_t style) override;
    void Log(U16View line) override { TheRunLog().Write(line); }
};

// The log lines of a message: its text, and the button the user chose or,
// when nobody was asked (`unattended`), the answer given in the user's place.
void LogMessage(U16View text, int answer, bool unattended);

}  // namespace quentar
