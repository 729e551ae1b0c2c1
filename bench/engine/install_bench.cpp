// Time of writing an installation's files through the installation engine
// (WriteApplicationExecutable for the application executable, InstallEntryFile
// for the rest), against CopyFileW of the same decoded files, measured in the
// same run under Wine. The pauses kept for a person (200 x 10 ms while the
// executable is written) are left out: the feedback's Pause does nothing.
//
//   install_bench.exe [REPETITIONS]
//
// The inputs are the payload benchmark's files (bench/bench_inputs.cpp); the
// first becomes the application executable "Quentar.exe". Three cases, each
// against CopyFileW in the same situation:
//   fresh      into an empty folder
//   upgrade    over an earlier installation whose files all differ in their
//              last byte (the engine compares, moves the earlier file aside,
//              writes; CopyFileW overwrites)
//   identical  over an installation with the same files (the engine compares
//              and leaves them; the executable is always written)
// Repetitions of the six measurements run in an order shuffled per round.
// Then the steps after the files, on their own: the program folder with its
// two shortcuts and the desktop shortcut (CreateShortcuts, through the shell
// link objects), and the uninstall record's values for the installed files
// (WriteUninstallRecord into a freshly created key); each undone, untimed,
// before the next repetition.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_inputs.h"
#include "install/chunk_plan.h"
#include "install/file_install.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"
#include "payload/archive_builder.h"
#include "payload/payload_archive.h"
#include "platform/wide.h"
#include "removal/remove_installation.h"
#include "state/guid_text.h"
#include "state/install_state.h"

using namespace quentar;

namespace {

// Watches nothing: no bar, no pauses, no boxes.
class SilentFeedback : public InstallFeedback {
public:
    void BeginProgress(uint32_t) override {}
    void Progress(uint32_t) override {}
    void Pause(uint32_t) override {}
    int Message(const U16String& text, uint32_t) override {
        std::fprintf(stderr, "message: %s\n", ToUtf8(text).c_str());
        failed = true;
        return IDOK;
    }
    bool failed = false;
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void RemoveTree(const U16String& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE search = ::FindFirstFileW(AsWide(folder + u"\\*"), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const U16String name = FromWide(data.cFileName);
            if (name == u"." || name == u"..") continue;
            const U16String child = folder + u"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::DeleteFileW(AsWide(child));
            }
        } while (::FindNextFileW(search, &data));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(AsWide(folder));
}

bool WriteWhole(const U16String& path, const uint8_t* data, size_t size) {
    const HANDLE file = ::CreateFileW(AsWide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == size;
}

// The decoded archive of the inputs as the welcome page would hold it: the
// first file under the application executable's name.
std::unique_ptr<PayloadArchive> DecodedPayload(const std::vector<payload_bench::InputFile>& files,
                                               std::vector<U16String>& names) {
    size_t size = 4;
    for (const auto& f : files) size += entry_layout::kHeaderSize + f.bytes.size();
    std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
    const uint32_t count = static_cast<uint32_t>(files.size());
    std::memcpy(block.get(), &count, 4);
    size_t at = 4;
    for (size_t i = 0; i < files.size(); ++i) {
        EntryFields fields = payload_bench::NamedFields(i == 0 ? "Quentar.exe" : files[i].name);
        fields.lastWriteTime = 129067776000000000ull;  // 2010-01-01
        names.push_back(fields.name);
        EncodeHeader(fields, 0, static_cast<uint32_t>(files[i].bytes.size()), block.get() + at);
        at += entry_layout::kHeaderSize;
        std::memcpy(block.get() + at, files[i].bytes.data(), files[i].bytes.size());
        at += files[i].bytes.size();
    }
    return std::make_unique<PayloadArchive>(std::move(block), size);
}

struct Series {
    std::string name;
    std::vector<double> times;
    double Min() const { return *std::min_element(times.begin(), times.end()); }
    double Median() const {
        std::vector<double> t = times;
        std::sort(t.begin(), t.end());
        return t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    // The input list names Linux paths; from the root of drive Z: (the Linux
    // root under Wine) they resolve as they are.
    ::SetCurrentDirectoryW(L"Z:\\");
    const std::vector<payload_bench::InputFile> files = payload_bench::LoadInputs();
    if (files.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    std::vector<U16String> names;
    std::shared_ptr<PayloadArchive> payload = DecodedPayload(files, names);
    size_t total = 0;
    for (const auto& f : files) total += f.bytes.size();

    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    const U16String work = FromWide(temp) + u"install-bench-" + FromUtf8(std::to_string(::GetTickCount()));
    const U16String source = work + u"\\source";
    ::CreateDirectoryW(AsWide(work), nullptr);
    ::CreateDirectoryW(AsWide(source), nullptr);
    for (size_t i = 0; i < files.size(); ++i) {
        if (!WriteWhole(source + u"\\" + names[i], files[i].bytes.data(), files[i].bytes.size())) {
            std::fprintf(stderr, "cannot write the source files\n");
            return 1;
        }
    }
    // The earlier installation of the upgrade case: every file differs in
    // its last byte, so the comparison reads each to the end.
    const U16String earlier = work + u"\\earlier";
    ::CreateDirectoryW(AsWide(earlier), nullptr);
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> bytes = files[i].bytes;
        if (!bytes.empty()) bytes.back() ^= 0xFF;
        WriteWhole(earlier + u"\\" + names[i], bytes.data(), bytes.size());
    }

    ChunkPlan plan;
    PlanChunks(static_cast<uint32_t>(files[0].bytes.size()), plan);
    bool failed = false;

    enum class Start { Empty, Earlier, Identical };
    // Prepares `folder` as the case needs it (not timed).
    auto prepare = [&](const U16String& folder, Start start) {
        ::CreateDirectoryW(AsWide(folder), nullptr);
        if (start == Start::Empty) return;
        const U16String& from = start == Start::Earlier ? earlier : source;
        for (const U16String& name : names) {
            ::CopyFileW(AsWide(from + u"\\" + name), AsWide(folder + u"\\" + name), FALSE);
        }
    };
    // An install state over `folder` holding the decoded payload, which goes
    // back to `payload` when the measurement is done.
    auto stateFor = [&](InstallState& state, const U16String& folder) {
        state.payload = std::move(payload);
        state.destinationFolder = folder;
        state.applicationPath = folder + u"\\Quentar.exe";
        state.applicationEntry = FindEntry(u"Quentar.exe", state);
    };
    auto engine = [&](const U16String& folder) {
        InstallState state;
        SilentFeedback feedback;
        stateFor(state, folder);
        const double t0 = Now();
        bool ok = WriteApplicationExecutable(state, plan, feedback);
        for (size_t i = 1; i < names.size(); ++i) ok = InstallEntryFile(state, names[i], feedback) && ok;
        const double t1 = Now();
        payload = std::move(state.payload);
        if (!ok || feedback.failed) failed = true;
        return t1 - t0;
    };
    auto copy = [&](const U16String& folder) {
        const double t0 = Now();
        for (const U16String& name : names) {
            if (!::CopyFileW(AsWide(source + u"\\" + name), AsWide(folder + u"\\" + name), FALSE)) failed = true;
        }
        return Now() - t0;
    };

    struct Measurement {
        Series series;
        Start start;
        std::function<double(const U16String&)> run;
    };
    std::vector<Measurement> measurements = {
        {{"engine, fresh", {}}, Start::Empty, engine},
        {{"CopyFileW, fresh", {}}, Start::Empty, copy},
        {{"engine, upgrade", {}}, Start::Earlier, engine},
        {{"CopyFileW, upgrade", {}}, Start::Earlier, copy},
        {{"engine, identical", {}}, Start::Identical, engine},
        {{"CopyFileW, identical", {}}, Start::Identical, copy},
    };
    std::mt19937 rng(::GetTickCount());
    std::vector<size_t> order(measurements.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (int round = 0; round < repetitions + 1; ++round) {
        std::shuffle(order.begin(), order.end(), rng);
        for (size_t i : order) {
            const U16String folder = work + u"\\run";
            prepare(folder, measurements[i].start);
            const double ms = measurements[i].run(folder);
            // Round 0 warms the caches and is not counted.
            if (round > 0) measurements[i].series.times.push_back(ms);
            RemoveTree(folder);
        }
    }

    // The steps after the files, against the files of the source folder.
    ::CoInitialize(nullptr);
    Series shortcutSeries{"shortcuts", {}};
    Series recordSeries{"record", {}};
    const U16String stamp = FromUtf8(std::to_string(::GetTickCount()));
    for (int round = 0; round < repetitions + 1; ++round) {
        InstallState state;
        SilentFeedback feedback;
        stateFor(state, source);
        state.programFolderName = u"Quentar bench " + stamp;
        state.createDesktopShortcut = true;
        for (const U16String& name : names) state.installedFiles.push_back(source + u"\\" + name);

        double t0 = Now();
        CreateShortcuts(state, feedback);
        const double shortcuts = Now() - t0;

        const U16String key = UninstallRecord::KeyPath(
            FormatGuidText(0x51ABE7C4u, static_cast<uint32_t>(round), ::GetTickCount(), 0xBE7C4000u));
        HKEY created = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, AsWide(key), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &created, nullptr) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot create the record's key\n");
            failed = true;
            break;
        }
        ::RegCloseKey(created);
        state.uninstallKeyPath = key;
        t0 = Now();
        if (!WriteUninstallRecord(state, &feedback)) failed = true;
        const double record = Now() - t0;

        // Undo: the shortcuts and the program folder (the installation's own
        // files stay out of the removal's lists), then the record's key.
        state.installedFiles.erase(state.installedFiles.begin(), state.installedFiles.begin() + names.size());
        state.uninstallKeyPath.clear();
        RemoveInstallation(state, feedback);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, AsWide(key));
        payload = std::move(state.payload);
        if (feedback.failed || state.programFolderPath.empty()) failed = true;
        if (round > 0) {
            shortcutSeries.times.push_back(shortcuts);
            recordSeries.times.push_back(record);
        }
    }
    ::CoUninitialize();

    RemoveTree(work);
    if (failed) {
        std::fprintf(stderr, "a write or copy failed: the figures do not count\n");
        return 1;
    }

    std::printf("%zu files, %.2f MB (application executable %.2f MB in %zu chunks); %d repetitions.\n\n",
                files.size(), total / 1e6, files[0].bytes.size() / 1e6, plan.size(), repetitions);
    std::printf("| Case | engine min (ms) | engine median (ms) | CopyFileW min / median (ms) | ratio of min | "
                "ratio of median | Target |\n|---|---:|---:|---|---:|---:|---|\n");
    for (size_t i = 0; i < measurements.size(); i += 2) {
        const Series& e = measurements[i].series;
        const Series& c = measurements[i + 1].series;
        const std::string label = e.name.substr(e.name.find(", ") + 2);
        std::printf("| %s | %.2f | %.2f | %.2f / %.2f | %.2f | %.2f | %s |\n", label.c_str(), e.Min(), e.Median(),
                    c.Min(), c.Median(), e.Min() / c.Min(), e.Median() / c.Median(), i == 0 ? "<= 1.3" : "-");
    }
    std::printf("\nThe wizard adds %zu pauses of 10 ms (%.2f s) while the executable is written.\n", plan.size(),
                plan.size() * 0.010);
    std::printf("\n| Step | min (ms) | median (ms) |\n|---|---:|---:|\n");
    std::printf("| program folder, its two shortcuts and the desktop shortcut | %.2f | %.2f |\n",
                shortcutSeries.Min(), shortcutSeries.Median());
    std::printf("| uninstall record (%zu files) | %.2f | %.2f |\n", names.size(), recordSeries.Min(),
                recordSeries.Median());
    return 0;
}
