// setup-payload: builds, lists and extracts the archive that Setup.exe
// carries. See README.md for the commands and the format.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "os_io.h"
#include "payload/archive_builder.h"
#include "payload/payload_archive.h"
#include "platform/page_memory.h"
#include "state/text.h"
#include "tool_support.h"

using namespace quentar;
using namespace setup_payload;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage:\n"
    "  setup-payload pack -o ARCHIVE [--key HEX32] [--epoch SECONDS] [ENTRY=]FILE...\n"
    "  setup-payload list ARCHIVE\n"
    "  setup-payload extract ARCHIVE -C DIR\n";

// A usage error: exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Any other failure: exit code 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Archives larger than this show a progress line on a terminal.
constexpr uint64_t kProgressThreshold = 4u << 20;

class Progress {
public:
    Progress(const char* verb, uint64_t totalBytes)
        : verb_(verb), shown_(totalBytes > kProgressThreshold && StderrIsTerminal()) {}
    void Step(size_t index, size_t count, const std::string& name) {
        if (shown_) std::fprintf(stderr, "\r\033[K%s %zu/%zu %s", verb_, index + 1, count, name.c_str());
    }
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }

private:
    const char* verb_;
    bool shown_;
};

std::vector<uint8_t> ReadOrFail(const std::string& path) {
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadWholeFile(path, data, error)) throw Failure(error);
    return data;
}

// ---- pack -------------------------------------------------------------------

struct PackRequest {
    std::string output;
    bool haveKey = false;
    ArchiveKey key{};
    bool haveEpoch = false;
    uint64_t epoch = 0;
    std::vector<std::pair<std::string, std::string>> files;  // entry name (UTF-8), path
};

PackRequest ParsePack(const std::vector<std::string>& args) {
    PackRequest r;
    for (size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        auto value = [&]() -> const std::string& {
            if (k + 1 >= args.size()) throw UsageError(a + " needs a value");
            return args[++k];
        };
        if (a == "-o") {
            r.output = value();
        } else if (a == "--key") {
            if (!ParseKey(value(), r.key)) throw UsageError("--key takes 32 hexadecimal digits");
            r.haveKey = true;
        } else if (a == "--epoch") {
            if (!ParseEpoch(value(), r.epoch)) throw UsageError("--epoch takes a number of seconds since 1970");
            r.haveEpoch = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            const size_t eq = a.find('=');
            if (eq == std::string::npos) {
                r.files.emplace_back(BaseName(a), a);
            } else {
                r.files.emplace_back(a.substr(0, eq), a.substr(eq + 1));
            }
        }
    }
    if (r.output.empty()) throw UsageError("pack needs -o ARCHIVE");
    if (r.files.empty()) throw UsageError("pack needs at least one FILE");
    if (!r.haveEpoch) {
        const char* env = std::getenv("SOURCE_DATE_EPOCH");
        if (env && *env) {
            if (!ParseEpoch(env, r.epoch)) throw UsageError("SOURCE_DATE_EPOCH is not a number of seconds");
            r.haveEpoch = true;
        }
    }
    return r;
}

int Pack(const std::vector<std::string>& args) {
    PackRequest request = ParsePack(args);

    // Check every input before the slow part.
    std::vector<EntryFields> fields;
    std::vector<FileFacts> facts(request.files.size());
    uint64_t totalBytes = 0;
    for (size_t k = 0; k < request.files.size(); ++k) {
        const auto& [name, path] = request.files[k];
        EntryFields f;
        f.name = FromUtf8(name);
        if (const char* problem = EntryNameProblem(f.name)) throw Failure(path + ": entry name \"" + name + "\" " + problem);
        for (const EntryFields& earlier : fields) {
            if (EqualsIgnoreAsciiCase(earlier.name, f.name)) throw Failure("entry name \"" + name + "\" is given twice");
        }
        std::string error;
        if (!StatFile(path, facts[k], error)) throw Failure(error);
        if (!facts[k].regular) throw Failure(path + ": not a regular file");
        if (facts[k].size > 0xFFFFFFFFull) throw Failure(path + ": larger than 4 GiB - 1 bytes, the format's limit");
        f.attributes = kFileAttributeArchive | (facts[k].writable ? 0 : kFileAttributeReadonly);
        const uint64_t fixed = request.haveEpoch ? FileTimeFromUnix(request.epoch) : 0;
        f.creationTime = request.haveEpoch ? fixed : facts[k].creationTime;
        f.lastAccessTime = request.haveEpoch ? fixed : facts[k].lastAccessTime;
        f.lastWriteTime = request.haveEpoch ? fixed : facts[k].lastWriteTime;
        totalBytes += facts[k].size;
        fields.push_back(std::move(f));
    }
    if (!request.haveKey) {
        std::string error;
        if (!SecureRandom(request.key.data(), request.key.size(), error)) throw Failure(error);
    }

    std::vector<PackedEntry> entries;
    {
        Progress progress("packing", totalBytes);
        for (size_t k = 0; k < fields.size(); ++k) {
            progress.Step(k, fields.size(), request.files[k].first);
            const std::vector<uint8_t> data = ReadOrFail(request.files[k].second);
            try {
                entries.push_back(PackEntry(std::move(fields[k]), data.data(), data.size()));
            } catch (const std::length_error& e) {  // grown past 4 GiB - 1 since checked
                throw Failure(request.files[k].second + ": " + e.what());
            }
        }
    }
    const std::vector<uint8_t> archive = BuildArchive(entries, request.key);
    std::string error;
    if (!WriteWholeFile(request.output, archive.data(), archive.size(), error)) {
        RemoveFile(request.output);
        throw Failure(error);
    }
    return kExitOk;
}

// ---- list / extract -----------------------------------------------------------

// Decodes the whole archive or fails with one line naming the fault.
DecodeResult DecodeOrFail(const std::string& path, const std::vector<uint8_t>& bytes,
                          std::vector<uint32_t>* storedLengths) {
    DecodeOptions options;
    options.storedLengths = storedLengths;
    options.pages = &SystemPageAllocator();
    DecodeResult r = DecodeArchive(bytes.data(), bytes.size(), options);
    if (r.status == DecodeStatus::NoArchive) throw Failure(path + ": not an archive (20 bytes or less)");
    if (r.status != DecodeStatus::Ok) throw Failure(path + ": " + r.Describe());
    return r;
}

int List(const std::vector<std::string>& args) {
    if (args.size() != 2) throw UsageError("list takes one ARCHIVE");
    const std::vector<uint8_t> bytes = ReadOrFail(args[1]);
    std::vector<uint32_t> stored;
    const DecodeResult r = DecodeOrFail(args[1], bytes, &stored);
    size_t k = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++k) {
        std::printf("%s\t%u\t%u\t%s\n", ToUtf8(e.FileName()).c_str(), e.FileSizeLow(), stored[k],
                    FormatFileTime(e.LastWriteTime()).c_str());
    }
    return kExitOk;
}

int Extract(const std::vector<std::string>& args) {
    std::string archivePath, folder;
    for (size_t k = 1; k < args.size(); ++k) {
        if (args[k] == "-C") {
            if (k + 1 >= args.size()) throw UsageError("-C needs a folder");
            folder = args[++k];
        } else if (args[k].size() > 1 && args[k][0] == '-') {
            throw UsageError("unknown option " + args[k]);
        } else if (archivePath.empty()) {
            archivePath = args[k];
        } else {
            throw UsageError("extract takes one ARCHIVE");
        }
    }
    if (archivePath.empty() || folder.empty()) throw UsageError("extract needs ARCHIVE and -C DIR");

    // Decode and check every name before anything is written.
    const std::vector<uint8_t> bytes = ReadOrFail(archivePath);
    const DecodeResult r = DecodeOrFail(archivePath, bytes, nullptr);
    size_t index = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++index) {
        if (const char* problem = StoredNameProblem(e)) {
            throw Failure(archivePath + ": entry " + std::to_string(index) + " (\"" + ToUtf8(e.FileName()) + "\"): name " + problem);
        }
    }
    std::string error;
    if (!EnsureFolder(folder, error)) throw Failure(error);
    Progress progress("extracting", r.archive->Size());
    index = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++index) {
        const std::string name = ToUtf8(e.FileName());
        progress.Step(index, r.archive->Count(), name);
        const std::string path = JoinFolder(folder, name);
        if (!WriteWholeFile(path, e.Data(), e.FileSizeLow(), error)) throw Failure(error);
        if (!SetFileTimes(path, e.LastAccessTime(), e.LastWriteTime(), error)) throw Failure(error);
    }
    return kExitOk;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("no command");
    const std::string& command = args[0];
    if (command == "pack") return Pack(args);
    if (command == "list") return List(args);
    if (command == "extract") return Extract(args);
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    throw UsageError("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(Utf8Arguments(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "setup-payload: %s\n%s", e.what(), kUsage);
        return kExitUsage;
    } catch (const Failure& e) {
        std::fprintf(stderr, "setup-payload: %s\n", e.what());
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "setup-payload: out of memory\n");
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "setup-payload: %s\n", e.what());
        return kExitFailure;
    }
}
