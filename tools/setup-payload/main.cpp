// setup-payload: builds, lists and extracts the archive that Setup.exe
// carries. See README.md for the commands and the format.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <exception>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "os_io.h"
#include "pe_resource.h"
#include "payload/archive_builder.h"
#include "payload/payload_archive.h"
#include "payload/payload_names.h"
#include "payload/system_pages.h"
#include "state/file_version.h"
#include "state/text.h"
#include "sha256.h"
#include "tool_support.h"

using namespace quentar;
using namespace setup_payload;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage:\n"
    "  setup-payload pack -o ARCHIVE [--key HEX32] [--epoch SECONDS] [--] [ENTRY=]FILE|FOLDER...\n"
    "  setup-payload list [--sha256] ARCHIVE|SETUP.EXE\n"
    "  setup-payload extract [--force] ARCHIVE|SETUP.EXE -C DIR\n"
    "  setup-payload check ARCHIVE|SETUP.EXE\n";

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
        if (shown_) {
            std::fprintf(stderr, "\r\033[K%s %zu/%zu %s", verb_, index + 1, count, Printable(FromUtf8(name), true).c_str());
        }
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

// One FILE argument: ENTRY=FILE names its entry, a bare FILE or FOLDER does not.
struct PackArgument {
    std::string name;  // UTF-8, empty when not given
    std::string path;
};

// One file to store.
struct PackInput {
    std::string name;  // entry name, UTF-8
    std::string path;
    FileFacts facts;
};

struct PackRequest {
    std::string output;
    bool haveKey = false;
    ArchiveKey key{};
    bool haveEpoch = false;
    uint64_t epoch = 0;
    std::vector<PackArgument> arguments;
};

PackRequest ParsePack(const std::vector<std::string>& args) {
    PackRequest r;
    bool options = true;  // until "--", after which every argument is a FILE
    for (size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (!options || a.size() < 2 || a[0] != '-') {
            const size_t eq = a.find('=');
            if (eq == std::string::npos) {
                r.arguments.push_back({"", a});
            } else {
                r.arguments.push_back({a.substr(0, eq), a.substr(eq + 1)});
            }
            continue;
        }
        auto value = [&]() -> const std::string& {
            if (k + 1 >= args.size()) throw UsageError(a + " needs a value");
            return args[++k];
        };
        if (a == "--") {
            options = false;
        } else if (a == "-o") {
            r.output = value();
        } else if (a == "--key") {
            if (!ParseKey(value(), r.key)) throw UsageError("--key takes 32 hexadecimal digits");
            r.haveKey = true;
        } else if (a == "--epoch") {
            if (!ParseEpoch(value(), r.epoch)) throw UsageError("--epoch takes a number of seconds since 1970");
            r.haveEpoch = true;
        } else {
            throw UsageError("unknown option " + a);
        }
    }
    if (r.output.empty()) throw UsageError("pack needs -o ARCHIVE");
    if (r.arguments.empty()) throw UsageError("pack needs at least one FILE");
    if (!r.haveEpoch) {
        const char* env = std::getenv("SOURCE_DATE_EPOCH");
        if (env && *env) {
            if (!ParseEpoch(env, r.epoch)) throw UsageError("SOURCE_DATE_EPOCH is not a number of seconds");
            r.haveEpoch = true;
        }
    }
    return r;
}

FileFacts StatOrFail(const std::string& path) {
    FileFacts facts;
    std::string error;
    if (!StatFile(path, facts, error)) throw Failure(error);
    return facts;
}

// The files the arguments stand for, in order: a FOLDER stands for the files
// directly in it, sorted by name. Entries are bare file names, so a folder
// that holds a folder is refused rather than carried without it, and so is an
// empty one, which most likely names the wrong place.
std::vector<PackInput> ExpandArguments(const std::vector<PackArgument>& arguments) {
    std::vector<PackInput> inputs;
    for (const PackArgument& a : arguments) {
        const FileFacts facts = StatOrFail(a.path);
        if (!facts.folder) {
            inputs.push_back({a.name.empty() ? BaseName(a.path) : a.name, a.path, facts});
            continue;
        }
        if (!a.name.empty()) throw Failure(a.path + ": is a folder; ENTRY=FILE names one file");
        std::vector<std::string> names;
        std::string error;
        if (!ListFolder(a.path, names, error)) throw Failure(error);
        if (names.empty()) throw Failure(a.path + ": is an empty folder");
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = JoinFolder(a.path, name);
            const FileFacts inner = StatOrFail(path);
            if (inner.folder) {
                throw Failure(a.path + ": holds the folder \"" + name +
                              "\"; entries are bare file names, so a folder's subfolders cannot be carried");
            }
            inputs.push_back({name, path, inner});
        }
    }
    return inputs;
}

// Every input's entry fields, or a failure naming the first unusable one.
std::vector<EntryFields> CheckInputs(const std::vector<PackInput>& inputs, const PackRequest& request) {
    std::vector<EntryFields> fields;
    for (const PackInput& in : inputs) {
        EntryFields f;
        f.name = FromUtf8(in.name);
        const std::string shown = Printable(f.name, true);
        if (ToUtf8(f.name) != in.name) throw Failure(in.path + ": entry name \"" + shown + "\" is not valid UTF-8");
        if (const char* problem = EntryNameProblem(f.name)) {
            throw Failure(in.path + ": entry name \"" + shown + "\" " + problem);
        }
        for (size_t k = 0; k < fields.size(); ++k) {
            if (!EqualsIgnoreAsciiCase(fields[k].name, f.name)) continue;
            throw Failure("entry name \"" + shown + "\" is given twice: for " + inputs[k].path + " and for " + in.path +
                          (fields[k].name == f.name ? "" : " (the setup program does not tell the cases of A-Z apart)"));
        }
        if (!in.facts.regular) throw Failure(in.path + ": not a regular file");
        if (in.facts.size > 0xFFFFFFFFull) throw Failure(in.path + ": larger than 4 GiB - 1 bytes, the format's limit");
        f.attributes = kFileAttributeArchive | (in.facts.writable ? 0 : kFileAttributeReadonly);
        const uint64_t fixed = request.haveEpoch ? FileTimeFromUnix(request.epoch) : 0;
        f.creationTime = request.haveEpoch ? fixed : in.facts.creationTime;
        f.lastAccessTime = request.haveEpoch ? fixed : in.facts.lastAccessTime;
        f.lastWriteTime = request.haveEpoch ? fixed : in.facts.lastWriteTime;
        fields.push_back(std::move(f));
    }
    return fields;
}

int Pack(const std::vector<std::string>& args) {
    PackRequest request = ParsePack(args);

    // Check every input before the slow part.
    const std::vector<PackInput> inputs = ExpandArguments(request.arguments);
    std::vector<EntryFields> fields = CheckInputs(inputs, request);
    uint64_t totalBytes = 0;
    for (const PackInput& in : inputs) totalBytes += in.facts.size;

    // With a fixed epoch and no key the key is derived from what is stored
    // (every header and every file's bytes), so equal inputs give equal
    // archives and different ones, different keys.
    const bool deriveKey = !request.haveKey && request.haveEpoch;
    Sha256 keySource;
    static const char kKeyContext[] = "setup-payload archive key";
    keySource.Update(kKeyContext, sizeof kKeyContext);
    std::vector<PackedEntry> entries;
    {
        Progress progress("packing", totalBytes);
        for (size_t k = 0; k < fields.size(); ++k) {
            progress.Step(k, fields.size(), inputs[k].name);
            const std::vector<uint8_t> data = ReadOrFail(inputs[k].path);
            if (deriveKey) {
                uint8_t header[entry_layout::kHeaderSize];
                EncodeHeader(fields[k], 0, static_cast<uint32_t>(data.size() & 0xFFFFFFFFu), header);
                keySource.Update(header, sizeof header);
                keySource.Update(data.data(), data.size());
            }
            try {
                entries.push_back(PackEntry(std::move(fields[k]), data.data(), data.size()));
            } catch (const std::length_error& e) {  // grown past 4 GiB - 1 since checked
                throw Failure(inputs[k].path + ": " + e.what());
            }
        }
    }
    if (deriveKey) {
        const Sha256::Digest digest = keySource.Finish();
        std::copy(digest.begin(), digest.begin() + request.key.size(), request.key.begin());
    } else if (!request.haveKey) {
        std::string error;
        if (!SecureRandom(request.key.data(), request.key.size(), error)) throw Failure(error);
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

// The archive bytes of a file: the whole file, or the payload resource when
// the file is a Windows executable (a built Setup.exe).
struct ArchiveSource {
    std::vector<uint8_t> file;
    size_t offset = 0;
    size_t size = 0;
    std::string label;  // how messages name it
    const uint8_t* Data() const { return file.data() + offset; }
};

ArchiveSource ReadArchiveSource(const std::string& path) {
    ArchiveSource source;
    source.file = ReadOrFail(path);
    source.size = source.file.size();
    source.label = path;
    const PeResourceLookup pe = FindPeResource(source.file.data(), source.file.size(), kResourceTypeRcData, kPayloadResourceId);
    switch (pe.status) {
        case PeResourceLookup::NotExecutable:
            break;
        case PeResourceLookup::Found: {
            source.offset = pe.offset;
            source.size = pe.size;
            source.label = path + " (resource RCDATA 101)";
            // Setup.exe refuses a payload that differs from the SHA-256 beside
            // it; so does this tool. Executables built before the digest are
            // read as they are.
            const PeResourceLookup digest =
                FindPeResource(source.file.data(), source.file.size(), kResourceTypeRcData, kPayloadDigestResourceId);
            if (digest.status == PeResourceLookup::Found) {
                std::string stored(reinterpret_cast<const char*>(source.file.data() + digest.offset), digest.size);
                for (char& c : stored) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
                if (stored != Sha256::Hex(source.Data(), source.size)) {
                    throw Failure(source.label + ": not the payload the program was built with: its SHA-256 differs "
                                                 "from the one in resource RCDATA 103, so the program refuses it");
                }
            }
            break;
        }
        case PeResourceLookup::Missing:
            throw Failure(path + ": an executable without a payload (" + pe.problem + ")");
        case PeResourceLookup::Malformed:
            throw Failure(path + ": an executable that cannot be read (" + pe.problem + ")");
    }
    return source;
}

// Decodes the whole archive or fails with one line naming the fault. The
// archive must end with its last entry: bytes after it belong to no entry and
// mean the file is not what it seems (two archives joined, a cut download
// padded out).
DecodeResult DecodeOrFail(const ArchiveSource& source, std::vector<uint32_t>& storedLengths) {
    DecodeOptions options;
    options.storedLengths = &storedLengths;
    options.pages = &SystemPageAllocator();
    DecodeResult r = DecodeArchive(source.Data(), source.size, options);
    if (r.status == DecodeStatus::NoArchive) throw Failure(source.label + ": not an archive (20 bytes or less)");
    if (r.status != DecodeStatus::Ok) throw Failure(source.label + ": " + r.Describe());
    uint64_t end = kFirstEntryOffset;
    for (uint32_t stored : storedLengths) end += entry_layout::kHeaderSize + uint64_t{stored};
    if (end < source.size) {
        const uint64_t extra = source.size - end;
        throw Failure(source.label + ": " + std::to_string(extra) + (extra == 1 ? " byte follows" : " bytes follow") +
                      " the last entry (an archive ends with its last entry's data)");
    }
    return r;
}

std::string EntryLabel(const ArchiveSource& source, size_t index, PayloadEntry e) {
    return source.label + ": entry " + std::to_string(index) + " (\"" + Printable(e.FileName(), true) + "\")";
}

// The arguments of list and extract: one ARCHIVE, their flags and, for
// extract, -C DIR.
struct ReadRequest {
    std::string archive;
    std::string folder;
    bool sha256 = false;
    bool force = false;
};

ReadRequest ParseRead(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    const bool extract = command == "extract";
    ReadRequest r;
    for (size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (extract && a == "-C") {
            if (k + 1 >= args.size()) throw UsageError("-C needs a folder");
            r.folder = args[++k];
        } else if (extract && a == "--force") {
            r.force = true;
        } else if (command == "list" && a == "--sha256") {
            r.sha256 = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else if (r.archive.empty()) {
            r.archive = a;
        } else {
            throw UsageError(command + " takes one ARCHIVE");
        }
    }
    if (r.archive.empty()) throw UsageError(command + " needs an ARCHIVE");
    if (extract && r.folder.empty()) throw UsageError("extract needs -C DIR");
    return r;
}

int List(const std::vector<std::string>& args) {
    const ReadRequest request = ParseRead(args);
    const ArchiveSource source = ReadArchiveSource(request.archive);
    std::vector<uint32_t> stored;
    const DecodeResult r = DecodeOrFail(source, stored);
    size_t k = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++k) {
        std::printf("%s\t%u\t%u\t%s", Printable(e.FileName(), true).c_str(), e.FileSizeLow(), stored[k],
                    FormatFileTime(e.LastWriteTime()).c_str());
        if (request.sha256) std::printf("\t%s", Sha256::Hex(e.Data(), e.FileSizeLow()).c_str());
        std::printf("\n");
    }
    return kExitOk;
}

// Where extract puts each entry: written into a staging folder inside DIR
// first, then moved into place, so that a failure while writing leaves DIR
// as it was.
class Extraction {
public:
    Extraction(std::string folder, bool force) : folder_(std::move(folder)), force_(force) {}
    ~Extraction() { Discard(); }

    // Creates DIR when missing and the staging folder inside it.
    void Begin() {
        std::string error;
        if (!EnsureFolder(folder_, createdFolder_, error)) throw Failure(error);
        if (!MakeStagingFolder(folder_, staging_, error)) throw Failure(error);
    }

    void Write(const std::string& name, PayloadEntry e) {
        const std::string path = JoinFolder(staging_, name);
        std::string error;
        staged_.push_back(name);
        if (!WriteWholeFile(path, e.Data(), e.FileSizeLow(), error)) throw Failure(error);
        if (!SetFileTimes(path, e.LastAccessTime(), e.LastWriteTime(), error)) throw Failure(error);
    }

    // Moves every staged file into DIR. When one cannot be moved, the files
    // already moved that replaced nothing are taken back out.
    void Commit() {
        std::vector<std::string> placed;
        for (const std::string& name : staged_) {
            std::string error;
            if (!MoveIntoPlace(JoinFolder(staging_, name), JoinFolder(folder_, name), force_, error)) {
                for (const std::string& back : placed) RemoveFile(JoinFolder(folder_, back));
                throw Failure(error);
            }
            if (!replaced_.count(name)) placed.push_back(name);
        }
        staged_.clear();
        RemoveFolder(staging_);
        staging_.clear();
        createdFolder_ = false;
    }

    void NoteReplaced(const std::string& name) { replaced_.insert(name); }

private:
    void Discard() {
        for (const std::string& name : staged_) RemoveFile(JoinFolder(staging_, name));
        if (!staging_.empty()) RemoveFolder(staging_);
        if (createdFolder_) RemoveFolder(folder_);
    }

    std::string folder_;
    bool force_;
    bool createdFolder_ = false;
    std::string staging_;
    std::vector<std::string> staged_;
    std::set<std::string> replaced_;
};

int Extract(const std::vector<std::string>& args) {
    const ReadRequest request = ParseRead(args);
    const std::string& folder = request.folder;
    const bool force = request.force;

    // Decode, then check every name and every target before anything is
    // written.
    const ArchiveSource source = ReadArchiveSource(request.archive);
    std::vector<uint32_t> stored;
    const DecodeResult r = DecodeOrFail(source, stored);
    const PathKind folderKind = ProbePath(folder);
    if (folderKind != PathKind::Missing && folderKind != PathKind::Folder) throw Failure(folder + ": not a folder");
    Extraction extraction(folder, force);
    std::vector<U16String> names;
    size_t index = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++index) {
        if (const char* problem = StoredNameProblem(e)) throw Failure(EntryLabel(source, index, e) + ": name " + problem);
        const U16String name = e.FileName();
        for (size_t k = 0; k < names.size(); ++k) {
            if (EqualsIgnoreAsciiCase(names[k], name)) {
                throw Failure(EntryLabel(source, index, e) + ": same file name as entry " + std::to_string(k));
            }
        }
        names.push_back(name);
        const std::string target = JoinFolder(folder, ToUtf8(name));
        switch (folderKind == PathKind::Missing ? PathKind::Missing : ProbePath(target)) {
            case PathKind::Missing:
                break;
            case PathKind::File:
                if (!force) throw Failure(target + ": already exists (--force replaces it)");
                extraction.NoteReplaced(ToUtf8(name));
                break;
            case PathKind::Folder:
                throw Failure(target + ": is a folder, so entry " + std::to_string(index) + " cannot be written there");
            case PathKind::Other:
                throw Failure(target + ": exists and is not a plain file");
        }
    }

    extraction.Begin();
    Progress progress("extracting", r.archive->Size());
    index = 0;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e), ++index) {
        const std::string name = ToUtf8(e.FileName());
        progress.Step(index, r.archive->Count(), name);
        extraction.Write(name, e);
    }
    extraction.Commit();
    return kExitOk;
}

// ---- check ----------------------------------------------------------------------

const char* RoleName(EntryRole role) {
    switch (role) {
        case EntryRole::Application: return "application";
        case EntryRole::ArecontSdk: return "arecont";
        case EntryRole::Companion: return "companion";
        case EntryRole::AxisPackage: return "axis";
        case EntryRole::None: break;
    }
    return "none";
}

// The names the setup program installs and runs, as a sentence.
std::string NamesWithARole() {
    std::string installs = ToUtf8(kApplicationEntryName) + ", " + ToUtf8(kArecontSdkEntryName);
    for (const char16_t* name : kCompanionEntryNames) installs += ", " + ToUtf8(name);
    std::string runs;
    for (const char16_t* name : kAxisPackageEntryNames) runs += (runs.empty() ? "" : ", ") + ToUtf8(name);
    return "it installs " + installs + " and runs " + runs;
}

// A payload to ship: the application is there, and every entry is one the
// setup program installs or runs (anything else would be carried for
// nothing, most likely under a name it was not meant to have).
int Check(const std::vector<std::string>& args) {
    const ReadRequest request = ParseRead(args);
    const ArchiveSource source = ReadArchiveSource(request.archive);
    std::vector<uint32_t> stored;
    const DecodeResult r = DecodeOrFail(source, stored);
    std::vector<std::string> unused;
    bool application = false;
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e)) {
        const EntryRole role = RoleOfEntry(e.FileName());
        if (role == EntryRole::None) unused.push_back("\"" + Printable(e.FileName(), true) + "\"");
        application = application || role == EntryRole::Application;
    }
    if (!unused.empty()) {
        std::string names;
        for (const std::string& name : unused) names += (names.empty() ? "" : ", ") + name;
        throw Failure(source.label + (unused.size() == 1 ? ": entry " : ": entries ") + names +
                      (unused.size() == 1 ? " is" : " are") + " never installed or run by Setup.exe; " +
                      NamesWithARole());
    }
    if (!application) {
        throw Failure(source.label + ": no entry \"" + ToUtf8(kApplicationEntryName) +
                      "\": Setup.exe installs nothing without the application");
    }
    for (PayloadEntry e = r.archive->First(); e; e = r.archive->Next(e)) {
        const EntryRole role = RoleOfEntry(e.FileName());
        std::printf("%s\t%s", RoleName(role), Printable(e.FileName(), true).c_str());
        if (role == EntryRole::Application) {
            FileVersion version;
            const bool found = ReadImageFileVersion(e.Data(), e.FileSizeLow(), version);
            std::printf("\t%s", found ? ToUtf8(FormatVersionText(u"%i.%i.%i.%i", version)).c_str() : "");
        }
        std::printf("\n");
    }
    return kExitOk;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("no command");
    const std::string& command = args[0];
    if (command == "pack") return Pack(args);
    if (command == "list") return List(args);
    if (command == "extract") return Extract(args);
    if (command == "check") return Check(args);
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
        std::fprintf(stderr, "setup-payload: %s\n%s", Printable(FromUtf8(e.what()), false).c_str(), kUsage);
        return kExitUsage;
    } catch (const Failure& e) {
        // Paths and names come from files and archives: show them, never
        // let them act on the terminal.
        std::fprintf(stderr, "setup-payload: %s\n", Printable(FromUtf8(e.what()), false).c_str());
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "setup-payload: out of memory\n");
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "setup-payload: %s\n", e.what());
        return kExitFailure;
    }
}
