// Encode then decode gives the input back: the compressor in both parse
// modes against the LZ decoder, and a packed archive against DecodeArchive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "payload/archive_builder.h"
#include "payload/compress.h"
#include "payload/decompress.h"
#include "payload/payload_archive.h"

using namespace quentar;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CompressRoundTrip(const uint8_t* data, size_t size, ParseMode mode) {
    const std::vector<uint8_t> packed = CompressEntry(data, size, mode);
    Check(packed.size() <= CompressBound(size));
    std::vector<uint8_t> out(size);
    Check(DecompressEntry(packed.size(), size, packed.data(), out.data()));
    Check(size == 0 || std::memcmp(out.data(), data, size) == 0);
}

// The input cut into entries at every 0xFF byte, each named after its index.
void ArchiveRoundTrip(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> files(1);
    for (size_t k = 0; k < size; ++k) {
        if (data[k] == 0xFF && files.size() < 16) files.emplace_back();
        else files.back().push_back(data[k]);
    }
    ArchiveKey key{};
    for (size_t k = 0; k < key.size() && k < size; ++k) key[k] = data[k];
    std::vector<PackedEntry> entries;
    for (size_t k = 0; k < files.size(); ++k) {
        EntryFields f;
        f.name = u"entry" + std::u16string(1, static_cast<char16_t>(u'A' + k));
        f.lastWriteTime = size * 1000003ull + k;
        entries.push_back(PackEntry(f, files[k].data(), files[k].size()));
    }
    const std::vector<uint8_t> archive = BuildArchive(entries, key);
    const DecodeResult r = DecodeArchive(archive.data(), archive.size());
    Check(r.status == DecodeStatus::Ok);
    size_t k = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++k) {
        Check(k < files.size());
        Check(e.FileSizeLow() == files[k].size());
        Check(files[k].empty() || std::memcmp(e.Data(), files[k].data(), files[k].size()) == 0);
        Check(e.LastWriteTime() == size * 1000003ull + k);
        Check(FindEntry(entries[k].fields.name, r.archive.get()) == e);
    }
    Check(k == files.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CompressRoundTrip(data, size, ParseMode::Optimal);
    CompressRoundTrip(data, size, ParseMode::Greedy);
    ArchiveRoundTrip(data, size);
    return 0;
}
