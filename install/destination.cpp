#include "install/destination.h"

#include <shlobj.h>

#include "install/engine_support.h"
#include "install/journal.h"
#include "payload/payload_archive.h"
#include "payload/payload_names.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/resource_ids.h"

namespace quentar {
namespace {

constexpr char16_t kFallbackProgramFiles[] = u"C:\\Program Files";

U16String ProgramFilesFolder() {
    UniqueCoTaskMem list;
    if (FAILED(Sys().SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES,
                                                 reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put())))) {
        return kFallbackProgramFiles;
    }
    // The shell writes at most MAX_PATH characters.
    wchar_t path[265] = {};
    if (!Sys().SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(list.get()), path) || path[0] == L'\0') {
        // An empty folder would make the default a relative path.
        return kFallbackProgramFiles;
    }
    return FromWide(path);
}

}  // namespace

bool DirectoryExists(const U16String& path) {
    if (path.find_first_of(u"*?") != U16String::npos) return false;
    WIN32_FIND_DATAW found{};
    const UniqueFind search(Sys().FindFirstFileW(AsWide(path), &found));
    if (!search) return false;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreatePathLevels(const U16String& path) {
    size_t separator = path.find(u'\\');
    if (separator == U16String::npos) return false;  // a single segment is never created
    bool created = false;
    for (;;) {
        separator = path.find(u'\\', separator + 1);
        const U16String prefix = path.substr(0, separator);  // npos: the whole path
        WIN32_FIND_DATAW found{};
        const UniqueFind search(Sys().FindFirstFileW(AsWide(prefix), &found));
        if (!search) created = CreateJournaledFolder(prefix) != FALSE;
        if (separator == U16String::npos) return created;
    }
}

StringList MissingLevels(const U16String& path) {
    StringList levels;
    for (U16String level = path; !DirectoryExists(level);) {
        const size_t separator = level.rfind(u'\\');
        if (separator == U16String::npos) break;
        levels.push_back(level);
        level.resize(separator);
    }
    return levels;
}

bool MakeDestinationReady(const U16String& destination, InstallFeedback& feedback, bool askFirst) {
    if (DirectoryExists(destination)) return true;
    const U16String cannotCreate = FormatPositional(LoadStringResource(IDS_PATH_CREATE_FAILED), {destination});
    // Too long to hold the installed files: said at once, and nothing is
    // created (Windows would make only the outer levels of such a path).
    if (destination.size() > kMaxDestinationLength) {
        feedback.Log(u"destination " + destination + u" is longer than " + DecimalText(kMaxDestinationLength) +
                     u" characters");
        feedback.Message(cannotCreate, MB_OK | MB_ICONERROR);
        return false;
    }
    if (askFirst) {
        const U16String question = FormatPositional(LoadStringResource(IDS_PATH_MISSING), {destination});
        if (feedback.Message(question, MB_YESNOCANCEL | MB_ICONQUESTION) != IDYES) return false;
    }
    const bool created = CreatePathLevels(destination);
    const DWORD error = ::GetLastError();
    if (!DirectoryExists(destination)) {
        const bool inTheWay = Sys().GetFileAttributesW(AsWide(destination)) != INVALID_FILE_ATTRIBUTES;
        feedback.Log(u"destination " + destination + u" is not a folder: " +
                     (inTheWay  ? U16String(u"a file of that name is in the way")
                      : created ? U16String(u"it was not found after its creation")
                                : DescribeError(error)));
        feedback.Message(cannotCreate, MB_OK | MB_ICONERROR);
        return false;
    }
    feedback.Log(u"destination created: " + destination);
    return true;
}

U16String DefaultDestination() { return JoinPath(ProgramFilesFolder(), kDefaultProgramFolderName); }

uint32_t SpaceNeededMegabytes(const InstallState& state) {
    uint64_t bytes = 0;
    for (PayloadEntry entry = state.payload ? state.payload->First() : PayloadEntry(); entry;
         entry = state.payload->Next(entry)) {
        switch (RoleOfEntry(entry.FileName())) {
            case EntryRole::Application:
            case EntryRole::Companion: bytes += entry.FileSizeLow(); break;
            case EntryRole::ArecontSdk: bytes += state.installArecontRuntime ? entry.FileSizeLow() : 0; break;
            case EntryRole::AxisPackage: bytes += state.installAxisRuntime ? entry.FileSizeLow() : 0; break;
            case EntryRole::None: break;
        }
    }
    constexpr uint64_t kMegabyte = 1024 * 1024;
    // At most 2^31 entries of under 4 GiB each: the quotient fits 32 bits.
    return static_cast<uint32_t>((bytes + kMegabyte - 1) / kMegabyte);
}

}  // namespace quentar
