// Peak memory of one whole decode, against the decoded size.
//
//   payload_peak_rss            builds the benchmark archive, saves it to a
//                               temporary file and re-runs itself on it, so
//                               the encoder's memory does not count;
//   payload_peak_rss ARCHIVE    reads ARCHIVE (the "resource"), then decodes
//                               it once and reports the rise of the peak
//                               resident set (VmHWM).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_inputs.h"
#include "payload/archive_builder.h"
#include "payload/payload_archive.h"

using namespace quentar;
using payload_bench::NamedFields;

namespace {

long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

int Measure(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> resource((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const long before = PeakKb();
    const auto start = std::chrono::steady_clock::now();
    DecodeResult r = DecodeArchive(resource.data(), resource.size());
    const auto end = std::chrono::steady_clock::now();
    const long after = PeakKb();
    if (r.status != DecodeStatus::Ok) {
        std::fprintf(stderr, "decode failed: %s\n", r.Describe().c_str());
        return 1;
    }
    const double decodedMb = r.archive->Size() / 1048576.0;
    const double riseMb = (after - before) / 1024.0;
    std::printf("resource %.2f MiB, decoded block %.2f MiB\n", resource.size() / 1048576.0, decodedMb);
    std::printf("peak RSS before decode %.2f MiB, after %.2f MiB: rise %.2f MiB = %.2f x decoded size\n",
                before / 1024.0, after / 1024.0, riseMb, riseMb / decodedMb);
    // The first decode of a fresh process, page faults of new memory
    // included: what the setup program pays once.
    std::printf("first decode in a fresh process: %.2f ms\n",
                std::chrono::duration<double, std::milli>(end - start).count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return Measure(argv[1]);
    std::vector<PackedEntry> entries;
    for (const auto& f : payload_bench::LoadInputs()) {
        entries.push_back(PackEntry(NamedFields(f.name), f.bytes.data(), f.bytes.size()));
    }
    const ArchiveKey key = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
    const std::vector<uint8_t> archive = BuildArchive(entries, key);
    char path[] = "/tmp/payload_peak_rss_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, archive.data(), archive.size()) != static_cast<ssize_t>(archive.size())) return 1;
    close(fd);
    std::fflush(stdout);
    const std::string self = "/proc/self/exe";
    const pid_t child = fork();
    if (child == 0) {
        execl(self.c_str(), argv[0], path, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    unlink(path);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
