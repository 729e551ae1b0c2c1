// Peak memory and time of the first decode in a fresh process: what the
// setup program pays, once, with the page faults of new memory included
// (payload_bench repeats decodes in one process, where the C library may
// hand back memory the previous decode already touched).
//
//   payload_peak_rss [RUNS]            builds the benchmark archive, saves it
//                                      to a temporary file and runs itself on
//                                      it RUNS times (default 10) in each of
//                                      the two modes below, alternately, then
//                                      prints the peak memory of a decode and
//                                      the min and median of both times;
//   payload_peak_rss decode ARCHIVE    reads ARCHIVE (the "resource"), then
//                                      decodes it once and prints the rise of
//                                      the peak resident set (VmHWM) and the
//                                      time;
//   payload_peak_rss rc4 ARCHIVE       reads ARCHIVE and times OpenSSL's RC4
//                                      over it into new memory: the reference.
#include <openssl/rc4.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench_inputs.h"
#include "payload/archive_builder.h"
#include "payload/payload_archive.h"
#include "payload/system_pages.h"

using namespace quentar;
using payload_bench::NamedFields;

namespace {

using Clock = std::chrono::steady_clock;

long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// Child modes print one line "time MS" last, which the parent collects.
int MeasureDecode(const char* path) {
    const std::vector<uint8_t> resource = ReadFile(path);
    const long before = PeakKb();
    const auto start = Clock::now();
    DecodeOptions options;
    options.pages = &SystemPageAllocator();
    DecodeResult r = DecodeArchive(resource.data(), resource.size(), options);
    const auto end = Clock::now();
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
    std::printf("time %.3f\n", Ms(start, end));
    return 0;
}

int MeasureRc4(const char* path) {
    const std::vector<uint8_t> resource = ReadFile(path);
    const size_t n = resource.size() - kKeySize;
    const auto start = Clock::now();
    std::unique_ptr<uint8_t[]> out(new uint8_t[n]);
    RC4_KEY key;
    RC4_set_key(&key, static_cast<int>(kKeySize), resource.data());
    RC4(&key, n, resource.data() + kKeySize, out.get());
    const auto end = Clock::now();
    std::printf("check %u\ntime %.3f\n", out[n / 2], Ms(start, end));
    return 0;
}

// Runs this program in `mode` on `path`; returns its output.
std::string RunChild(const char* self, const char* mode, const char* path) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", self, mode, path, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t got;
    while ((got = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(got));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "";
}

double TimeOf(const std::string& out) {
    const size_t at = out.rfind("time ");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + 5);
}

void MinMedian(std::vector<double> v, double& min, double& median) {
    std::sort(v.begin(), v.end());
    min = v.front();
    median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "decode") == 0) return MeasureDecode(argv[2]);
    if (argc > 2 && std::strcmp(argv[1], "rc4") == 0) return MeasureRc4(argv[2]);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

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

    std::vector<double> decode, rc4;
    std::string first;
    for (int k = 0; k < runs; ++k) {
        const std::string d = RunChild(argv[0], "decode", path);
        const std::string r = RunChild(argv[0], "rc4", path);
        if (d.empty() || r.empty()) {
            unlink(path);
            std::fprintf(stderr, "a measuring run failed\n");
            return 1;
        }
        if (first.empty()) first = d.substr(0, d.rfind("time "));
        decode.push_back(TimeOf(d));
        rc4.push_back(TimeOf(r));
    }
    unlink(path);
    double dMin, dMed, rMin, rMed;
    MinMedian(decode, dMin, dMed);
    MinMedian(rc4, rMin, rMed);
    std::printf("%s", first.c_str());
    std::printf("first decode in a fresh process, %d runs: min %.2f ms, median %.2f ms\n", runs, dMin, dMed);
    std::printf("OpenSSL RC4 into new memory, fresh process: min %.2f ms, median %.2f ms\n", rMin, rMed);
    std::printf("ratio: %.2f of min, %.2f of median\n", dMin / rMin, dMed / rMed);
    return 0;
}
