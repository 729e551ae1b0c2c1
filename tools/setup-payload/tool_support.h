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
// or null when it can: no path separators, drive colons, "." or "..", and
// none of the characters Windows refuses in names.
const char* EntryNameProblem(quentar::U16View name);
// The same for a decoded entry, which must also hold a NUL-terminated name.
const char* StoredNameProblem(quentar::PayloadEntry entry);

}  // namespace setup_payload
