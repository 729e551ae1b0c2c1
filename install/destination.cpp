#include "install/destination.h"

#include <shlobj.h>

#include <string>

#include "install/engine_support.h"
#include "install/journal.h"
#include "payload/payload_archive.h"
#include "payload/payload_names.h"
#include "platform/folder_security.h"
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

// The longest of the names the installation may write into the destination
// that the payload carries: the application's executable (always: without it
// nothing is installed), the Arecont Vision SDK, the companion files.
U16String LongestNameInDestination(const InstallState& state) {
    U16String longest = kApplicationEntryName;
    const auto consider = [&](const char16_t* name) {
        if (FindEntry(name, state) && std::char_traits<char16_t>::length(name) > longest.size()) longest = name;
    };
    consider(kArecontSdkEntryName);
    for (const char16_t* name : kCompanionEntryNames) consider(name);
    return longest;
}

// The longest full path Windows takes: MAX_PATH units with the terminating
// zero.
constexpr size_t kLongestPath = MAX_PATH - 1;

}  // namespace

size_t LongestPathInDestination(const U16String& destination, const InstallState& state) {
    return JoinPath(destination, LongestNameInDestination(state)).size() + kLongestNameSuffix;
}

size_t DestinationOverlength(const U16String& destination, const InstallState& state) {
    const size_t longest = LongestPathInDestination(destination, state);
    return longest > kLongestPath ? longest - kLongestPath : 0;
}

bool DestinationFits(const U16String& destination, const InstallState& state, InstallFeedback& feedback) {
    const size_t overlength = DestinationOverlength(destination, state);
    if (overlength == 0) return true;
    feedback.Log(u"destination " + destination + u" is too long by " + DecimalText(overlength) +
                 u": the longest path the installation makes there (" +
                 JoinPath(destination, LongestNameInDestination(state)) + u" and a suffix of " +
                 DecimalText(kLongestNameSuffix) + u" characters) is " +
                 DecimalText(LongestPathInDestination(destination, state)) + u" characters long, Windows takes " +
                 DecimalText(kLongestPath));
    feedback.Message(FormatPositional(LoadStringResource(IDS_PATH_TOO_LONG), {destination, DecimalText(overlength)}),
                     MB_OK | MB_ICONERROR);
    return false;
}

bool DirectoryExists(const U16String& path) {
    // The "?" of the long-path prefix is no wildcard.
    const bool prefixed = U16View(path).substr(0, kLongPathPrefix.size()) == kLongPathPrefix;
    if (path.find_first_of(u"*?", prefixed ? kLongPathPrefix.size() : 0) != U16String::npos) return false;
    WIN32_FIND_DATAW found{};
    const UniqueFind search(Sys().FindFirstFileW(AsWide(path), &found));
    if (!search) return false;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreatePathLevels(const U16String& path, StringList* made) {
    const size_t root = FullPathRootLength(path);
    if (root >= path.size()) return false;  // a root alone is never created
    // The backslash that ends the root, or the first segment of another path.
    size_t separator = root != 0 ? root - 1 : path.find(u'\\');
    if (separator == U16String::npos) return false;  // a single segment is never created
    bool created = false;
    DWORD lastError = ERROR_SUCCESS;
    for (;;) {
        separator = path.find(u'\\', separator + 1);
        const U16String prefix = path.substr(0, separator);  // npos: the whole path
        WIN32_FIND_DATAW found{};
        const UniqueFind search(Sys().FindFirstFileW(AsWide(prefix), &found));
        if (!search) {
            created = CreateJournaledFolder(prefix, kInstalledProgramRights) != FALSE;
            lastError = created ? ERROR_SUCCESS : ::GetLastError();
            if (created && made != nullptr) made->push_back(prefix);
        }
        if (separator == U16String::npos) break;
    }
    ::SetLastError(lastError);
    return created;
}

StringList MissingLevels(const U16String& path) {
    const size_t root = FullPathRootLength(path);
    StringList levels;
    for (U16String level = path; level.size() > root && !DirectoryExists(level);) {
        const size_t separator = level.rfind(u'\\');
        if (separator == U16String::npos) break;
        levels.push_back(level);
        level.resize(separator);
    }
    return levels;
}

namespace {

// An existing destination: refused when it is a link; kept when only the
// trusted accounts can change it; else given the rights of an installed
// program, after asking when `askFirst`.
DestinationOutcome SecureExistingDestination(const U16String& destination, InstallFeedback& feedback,
                                             bool askFirst) {
    U16String found;
    bool othersMayWrite = true;
    const DWORD error = JudgeExistingFolder(destination, found, othersMayWrite);
    if (error == kReparsePointEncountered) {
        // Whatever it leads to could be changed behind the installation's back.
        feedback.Log(u"destination " + destination + u" is a junction or a symbolic link: refused");
        feedback.Message(FormatPositional(LoadStringResource(IDS_DESTINATION_LINK), {destination}),
                         MB_OK | MB_ICONERROR);
        return DestinationOutcome::kRefused;
    }
    if (error != ERROR_SUCCESS) {
        feedback.Log(u"destination " + destination + u" cannot be used: " + DescribeError(error));
        feedback.Message(FormatPositional(LoadStringResource(IDS_PATH_CREATE_FAILED), {destination}),
                         MB_OK | MB_ICONERROR);
        return DestinationOutcome::kRefused;
    }
    const U16String foundText = found.empty() ? U16String(u"(cannot be read)") : found;
    if (!othersMayWrite) {
        feedback.Log(u"rights found on " + destination + u": " + foundText +
                     u"; only administrators can change it: left as they are");
        return DestinationOutcome::kReady;
    }
    feedback.Log(u"rights found on " + destination + u": " + foundText + u"; others may change it");
    if (askFirst) {
        const U16String question = FormatPositional(LoadStringResource(IDS_DESTINATION_RIGHTS), {destination});
        if (feedback.Message(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            feedback.Log(u"rights of " + destination + u" left as they are: another folder is to be chosen");
            return DestinationOutcome::kDeclined;
        }
    }
    if (const DWORD setError = ApplyRights(destination, kInstalledProgramRights)) {
        feedback.Log(u"rights cannot be set on " + destination + u": " + DescribeError(setError));
        feedback.Message(FormatPositional(LoadStringResource(IDS_PATH_CREATE_FAILED), {destination}),
                         MB_OK | MB_ICONERROR);
        return DestinationOutcome::kRefused;
    }
    feedback.Log(u"rights set on " + destination + u": " + kInstalledProgramRights);
    return DestinationOutcome::kReady;
}

}  // namespace

DestinationOutcome MakeDestinationReady(const U16String& destination, const InstallState& state,
                                        InstallFeedback& feedback, bool askFirst) {
    const U16String cannotCreate = FormatPositional(LoadStringResource(IDS_PATH_CREATE_FAILED), {destination});
    // A relative path names another folder from every current folder, and
    // the uninstall record would keep it so.
    if (!IsFullPath(destination)) {
        feedback.Log(u"destination " + destination +
                     u" is not a full path (a drive letter, a colon and a backslash, or \\\\server\\share)");
        feedback.Message(cannotCreate, MB_OK | MB_ICONERROR);
        return DestinationOutcome::kRefused;
    }
    // Too long to hold the installed files: said at once, and nothing is
    // created (Windows would make only the outer levels of such a path).
    if (!DestinationFits(destination, state, feedback)) return DestinationOutcome::kRefused;
    if (DirectoryExists(destination)) return SecureExistingDestination(destination, feedback, askFirst);
    if (askFirst) {
        const U16String question = FormatPositional(LoadStringResource(IDS_PATH_MISSING), {destination});
        if (feedback.Message(question, MB_YESNOCANCEL | MB_ICONQUESTION) != IDYES) return DestinationOutcome::kRefused;
    }
    StringList made;
    const bool created = CreatePathLevels(destination, &made);
    const DWORD error = ::GetLastError();
    for (const U16String& level : made) {
        feedback.Log(u"folder created: " + level + u" with rights " + kInstalledProgramRights);
    }
    if (!DirectoryExists(destination)) {
        const bool inTheWay = Sys().GetFileAttributesW(AsWide(destination)) != INVALID_FILE_ATTRIBUTES;
        feedback.Log(u"destination " + destination + u" is not a folder: " +
                     (inTheWay  ? U16String(u"a file of that name is in the way")
                      : created ? U16String(u"it was not found after its creation")
                                : DescribeError(error)));
        feedback.Message(cannotCreate, MB_OK | MB_ICONERROR);
        return DestinationOutcome::kRefused;
    }
    // Made by somebody else between the search and the creation: judged
    // like any folder found there.
    if (made.empty() || made.back() != destination) {
        return SecureExistingDestination(destination, feedback, askFirst);
    }
    feedback.Log(u"destination created: " + destination);
    return DestinationOutcome::kReady;
}

bool TakeOverIdenticalFile(const U16String& path, InstallFeedback& feedback) {
    if (const DWORD error = InheritRights(path)) {
        feedback.Log(u"the rights of " + path + u" cannot be reset: " + DescribeError(error) + u"; written anew");
        return false;
    }
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
