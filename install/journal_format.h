// The journal of a run: what the run is about to change on the machine, one
// entry per change, each on disk before the change is made, so that the next
// run can take back a run that was killed, or finish one that had completed.
//
// The text is UTF-16 (so that every path round-trips unit for unit), stored
// little-endian with a byte-order mark, one line per entry, each ending in
// CR LF. A line's fields are separated by tabs and its last field is "#" and
// eight lower-case hexadecimal digits: the FNV-1a hash (32 bits) of the
// line's bytes before that field's tab, which shows a damaged line. The
// first line is the header:
//
//   quentar-setup-journal<TAB>1<TAB><description>
//
// and every later line one entry (paths are full paths; key paths are
// relative to HKEY_LOCAL_MACHINE):
//
//   key<TAB><key path>                    before the uninstall key is created
//   folder<TAB><path>                     before a folder is created
//   write<TAB><path><TAB><temporary name><TAB>new|earlier
//                                         before a file is written under its
//                                         temporary name; "earlier" when a
//                                         file stood at the path then
//   aside<TAB><path><TAB><aside name>     before the file at the path is
//                                         moved aside
//   replace<TAB><executable><TAB><new executable>
//                                         before an update deletes the
//                                         running executable to put the new
//                                         one in its place
//   complete<TAB><key path><TAB><folder>  the install sequence has completed
//                                         (both may be empty: an update)
//
// Temporary and aside names must belong to their path (staged_names.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "state/text.h"

namespace quentar {

enum class JournalStep { Key, Folder, Write, Aside, Replace, Complete };

struct JournalEntry {
    JournalEntry() = default;
    JournalEntry(JournalStep s, U16String p, U16String o = U16String(), bool e = false)
        : step(s), path(std::move(p)), other(std::move(o)), earlier(e) {}

    JournalStep step = JournalStep::Key;
    // Key and Complete: the key path; Folder, Write, Aside: the path; Replace:
    // the executable replaced.
    U16String path;
    // Write: the temporary name; Aside: the aside name; Replace: the new
    // executable; Complete: the destination folder; otherwise empty.
    U16String other;
    // Write: a file stood at `path` when the write began.
    bool earlier = false;

    bool operator==(const JournalEntry& o) const {
        return step == o.step && path == o.path && other == o.other && earlier == o.earlier;
    }
};

// The byte-order mark and the header line, CR LF included. `description`
// (the run: its process, start and mode, for the log) must hold no tab, CR
// or LF; such characters are made blanks.
U16String EncodeJournalHeader(U16View description);

// One entry's line, CR LF included; empty when the entry cannot be written
// down: a field that must not be empty is, a field holds a tab, CR or LF, or
// a temporary or aside name does not belong to its path.
U16String EncodeJournalEntry(const JournalEntry& entry);

struct JournalReading {
    enum class Status {
        Ok,       // header and every complete line read
        Damaged,  // something that is not a journal of this format; nothing
                  // of it may be acted on
    };
    Status status = Status::Damaged;
    U16String description;              // from the header
    std::vector<JournalEntry> entries;  // in the order written
    // Units after the last CR LF: an entry whose writing was cut off. Its
    // change never began (each entry is on disk before its change), so it
    // is ignored.
    size_t unfinishedUnits = 0;
    // For the log when Damaged: the line (1 = header) and what is wrong.
    size_t damagedLine = 0;
    U16String problem;
};

// Reads a journal from `count` UTF-16 units at `units` (the file's content
// with the byte-order mark; the caller has checked that the file's length is
// even, or passes the whole units only). Never reads outside [units, units +
// count). The result is Ok only when the text starts with the byte-order mark
// and a complete header of this format and version, and every complete line
// after it is an entry of a known kind with the right fields and a matching
// hash; anything else makes it Damaged. An unfinished last line is left out
// (unfinishedUnits).
JournalReading ReadJournal(const char16_t* units, size_t count);

}  // namespace quentar
