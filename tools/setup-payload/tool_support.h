// Pure helpers of the archive tool: argument values, times, entry names.
#pragma once

#include <cstdint>
#include <string>

#include "payload/archive_builder.h"
#include "payload/payload_archive.h"
#include "state/text.h"

namespace setup_payload {

// 32 hexadecimal digits (either case) into 16 key bytes.
bool ParseKey(const std::string& hex, quentar::ArchiveKey& key);
// A non-negative decimal number of seconds since 1970-01-01 UTC that a
// FILETIME can hold.
bool ParseEpoch(const std::string& text, uint64_t& seconds);
uint64_t FileTimeFromUnix(uint64_t seconds);
// "2024-05-01T12:00:00Z", with ".fffffff" before the Z when the count has a
// fraction of a second.
std::string FormatFileTime(uint64_t fileTime);

// Why `name` cannot name an entry (a bare Windows file name of 1..259 units),
// or null when it can: no path separators, drive colons, "." or "..", none of
// the characters Windows refuses in names, no dot or space at the end (Windows
// strips them, so the file would be created under another name) and no device
// name (CON, NUL, COM1, "nul.txt" ...; Windows opens the device instead).
const char* EntryNameProblem(quentar::U16View name);
// The same for a decoded entry, which must also hold a NUL-terminated name.
const char* StoredNameProblem(quentar::PayloadEntry entry);

// `text` with every character that would act on a terminal instead of being
// shown (controls, escapes, bidirectional overrides, lone surrogates) written
// as \xNN or \u{NNNN}, tab, line feed and carriage return as \t, \n, \r;
// with `escapeBackslash` a backslash becomes \\ so the result reads back
// unambiguously (entry names, which cannot hold one).
std::string Printable(quentar::U16View text, bool escapeBackslash);

}  // namespace setup_payload
