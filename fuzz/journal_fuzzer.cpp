// Reading arbitrary bytes as a journal never crashes or reads outside them,
// and whatever it accepts is a journal the writer could have written: every
// entry it gives can be written down again and reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "install/journal_format.h"

using namespace quentar;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The file's bytes as UTF-16 units, as recovery reads them (an odd last
    // byte is left out).
    std::vector<char16_t> units(size / 2);
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    const JournalReading reading = ReadJournal(units.data(), units.size());
    if (reading.status != JournalReading::Status::Ok) {
        Check(reading.damagedLine > 0 && !reading.problem.empty());
        return 0;
    }
    Check(reading.unfinishedUnits <= units.size());
    U16String again = EncodeJournalHeader(reading.description);
    for (const JournalEntry& entry : reading.entries) {
        const U16String line = EncodeJournalEntry(entry);
        Check(!line.empty());
        again += line;
    }
    const JournalReading reread = ReadJournal(again.data(), again.size());
    Check(reread.status == JournalReading::Status::Ok);
    Check(reread.description == reading.description);
    Check(reread.entries == reading.entries);
    Check(reread.unfinishedUnits == 0);
    return 0;
}
