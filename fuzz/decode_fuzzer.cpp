// Decoding arbitrary bytes never crashes, hangs or touches memory outside its
// buffers: the whole-archive decoder on the input as a resource, and the LZ
// decoder on the input as one entry's compressed data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "payload/decompress.h"
#include "payload/payload_archive.h"

using namespace quentar;

namespace {

// Fuzz inputs are small; a tight block limit keeps a hostile size from
// turning into a large allocation (the limit path is part of what is tested).
constexpr uint64_t kMaxBlock = 64u << 20;

void Check(bool condition) {
    if (!condition) std::abort();
}

void DecodeWhole(const uint8_t* data, size_t size) {
    std::vector<uint32_t> stored;
    DecodeOptions options;
    options.storedLengths = &stored;
    options.maxBlockSize = kMaxBlock;
    const DecodeResult r = DecodeArchive(data, size, options);
    Check((r.status == DecodeStatus::Ok) == (r.archive != nullptr));
    if (r.status != DecodeStatus::Ok) {
        Check(!r.Describe().empty());
        return;
    }
    // The block is exactly the count, the headers and the sizes, and every
    // entry view stays inside it.
    const PayloadArchive& a = *r.archive;
    uint64_t total = 4;
    uint32_t count = 0;
    for (PayloadEntry e = a.First(); e; e = a.Next(e)) {
        Check(e.Header() + entry_layout::kHeaderSize + e.FileSizeLow() <= a.Block() + a.Size());
        total += entry_layout::kHeaderSize + e.FileSizeLow();
        ++count;
        (void)FindEntry(e.FileName(), &a);
    }
    Check(count == a.Count() && count == stored.size() && total == a.Size());
}

void DecompressOne(const uint8_t* data, size_t size) {
    if (size < 2) return;
    // The first two bytes choose the capacity; an exact-size heap buffer
    // lets the sanitizer catch a write or read one byte past it.
    const size_t capacity = static_cast<size_t>(data[0]) << 8 | data[1];
    std::unique_ptr<uint8_t[]> input(new uint8_t[size - 2]);
    std::memcpy(input.get(), data + 2, size - 2);
    std::unique_ptr<uint8_t[]> output(new uint8_t[capacity ? capacity : 1]);
    const LzResult r = DecompressEntryChecked(input.get(), size - 2, output.get(), capacity);
    Check(DecompressEntry(size - 2, capacity, input.get(), output.get()) == (r.fault == LzFault::None));
    Check(r.outputPosition <= capacity && r.inputPosition <= size - 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: the fuzzer's own buffer may be followed by slack.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    DecodeWhole(copy.get(), size);
    DecompressOne(copy.get(), size);
    return 0;
}
