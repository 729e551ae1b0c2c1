// Speed of the payload decoder against reference points measured in the same
// run: OpenSSL's RC4 for the cipher and the whole decode, memcpy of the
// decoded size and lz4 for the LZ decoder; and the encoder's throughput and
// ratio (optimal against greedy parsing). bench/report.py turns the JSON
// output into the table of docs/performance.md.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <openssl/rc4.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_inputs.h"
#include "payload/archive_builder.h"
#include "payload/decompress.h"
#include "payload/payload_archive.h"
#include "payload/system_pages.h"
#include "payload/rc4.h"

using namespace quentar;
using payload_bench::NamedFields;

namespace {

const ArchiveKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct Fixture {
    std::vector<payload_bench::InputFile> files;
    std::vector<PackedEntry> entries;
    std::vector<uint8_t> archive;
    size_t decodedData = 0;  // sum of file sizes
    size_t decodedBlock = 0;
    std::vector<std::vector<char>> lz4;  // each file, LZ4_compress_default
    size_t lz4Compressed = 0;

    Fixture() {
        files = payload_bench::LoadInputs();
        for (const auto& f : files) {
            entries.push_back(PackEntry(NamedFields(f.name), f.bytes.data(), f.bytes.size()));
            decodedData += f.bytes.size();
            std::vector<char> c(LZ4_compressBound(static_cast<int>(f.bytes.size())));
            const int n = LZ4_compress_default(reinterpret_cast<const char*>(f.bytes.data()), c.data(),
                                               static_cast<int>(f.bytes.size()), static_cast<int>(c.size()));
            c.resize(n);
            lz4Compressed += c.size();
            lz4.push_back(std::move(c));
        }
        archive = BuildArchive(entries, kKey);
        decodedBlock = 4 + files.size() * entry_layout::kHeaderSize + decodedData;
        std::fprintf(stderr, "archive: %zu bytes, %zu entries, decoded block %zu bytes\n", archive.size(),
                     files.size(), decodedBlock);
    }
};

Fixture& Data() {
    static Fixture fixture;
    return fixture;
}

// ---- RC4 over the enciphered part of the archive ---------------------------

void BM_Rc4(benchmark::State& state) {
    const Fixture& d = Data();
    const size_t n = d.archive.size() - kKeySize;
    std::vector<uint8_t> out(n);
    for (auto _ : state) {
        Rc4State rc4;
        Rc4KeySchedule(rc4, d.archive.data(), kKeySize);
        Rc4Xor(rc4, d.archive.data() + kKeySize, out.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_OpenSslRc4(benchmark::State& state) {
    const Fixture& d = Data();
    const size_t n = d.archive.size() - kKeySize;
    std::vector<uint8_t> out(n);
    for (auto _ : state) {
        RC4_KEY key;
        RC4_set_key(&key, static_cast<int>(kKeySize), d.archive.data());
        RC4(&key, n, d.archive.data() + kKeySize, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// ---- LZ decode of every entry, against memcpy and lz4 ------------------------

void BM_LzDecode(benchmark::State& state) {
    const Fixture& d = Data();
    std::vector<uint8_t> out(d.decodedData);
    for (auto _ : state) {
        uint8_t* o = out.data();
        for (const PackedEntry& e : d.entries) {
            if (!DecompressEntry(e.compressed.size(), e.size, e.compressed.data(), o)) state.SkipWithError("decode failed");
            o += e.size;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.decodedData));
}

void BM_Memcpy(benchmark::State& state) {
    const Fixture& d = Data();
    std::vector<uint8_t> in(d.decodedData, 1), out(d.decodedData);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.decodedData));
}

void BM_Lz4DecompressSafe(benchmark::State& state) {
    const Fixture& d = Data();
    std::vector<char> out(d.decodedData);
    for (auto _ : state) {
        char* o = out.data();
        for (size_t k = 0; k < d.files.size(); ++k) {
            const int size = static_cast<int>(d.files[k].bytes.size());
            if (LZ4_decompress_safe(d.lz4[k].data(), o, static_cast<int>(d.lz4[k].size()), size) != size) {
                state.SkipWithError("lz4 failed");
            }
            o += size;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.decodedData));
    state.counters["ratio"] = static_cast<double>(d.lz4Compressed) / static_cast<double>(d.decodedData);
}

// ---- Whole decode --------------------------------------------------------------

void BM_DecodeArchive(benchmark::State& state) {
    const Fixture& d = Data();
    DecodeOptions options;
    options.pages = &SystemPageAllocator();
    for (auto _ : state) {
        DecodeResult r = DecodeArchive(d.archive.data(), d.archive.size(), options);
        if (r.status != DecodeStatus::Ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r.archive->Block());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.archive.size()));
}

// ---- Encoder ---------------------------------------------------------------------

void Compress(benchmark::State& state, ParseMode mode) {
    const Fixture& d = Data();
    size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& f : d.files) packed += CompressEntry(f.bytes.data(), f.bytes.size(), mode).size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.decodedData));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(d.decodedData);
}

void BM_CompressOptimal(benchmark::State& state) { Compress(state, ParseMode::Optimal); }
void BM_CompressGreedy(benchmark::State& state) { Compress(state, ParseMode::Greedy); }

}  // namespace

BENCHMARK(BM_Rc4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslRc4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lz4DecompressSafe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressOptimal)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CompressGreedy)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
