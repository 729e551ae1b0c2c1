#include "install/shortcuts.h"

#include <windows.h>
#include <shlobj.h>

#include "install/engine_support.h"
#include "install/file_install.h"
#include "install/journal.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"

namespace quentar {

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr char16_t kApplicationLink[] = u"Quentar.lnk";
constexpr char16_t kUninstallLink[] = u"Uninstall Quentar.lnk";

// Writes one of the installation's shortcuts at `link`: saved under a
// temporary name, flushed, then put in place, keeping an earlier shortcut of
// that name aside for a failed installation to restore; one that cannot be
// moved aside is written over. Returns whether CreateShortcut answered true.
bool PlaceShortcut(InstallState& state, const U16String& link, const char16_t* arguments,
                   const char16_t* description, InstallFeedback& feedback) {
    U16String temporary;
    if (const DWORD error = PrepareTemporaryName(link, temporary, feedback)) {
        feedback.Log(u"Shortcut " + link + u" not created: " + DescribeError(error));
        return false;
    }
    const bool earlier = Sys().GetFileAttributesW(AsWide(link)) != INVALID_FILE_ATTRIBUTES;
    const bool created = CreateShortcut(state.applicationPath.c_str(), state.applicationPath.c_str(),
                                        state.destinationFolder.c_str(), temporary.c_str(), arguments, description);
    DWORD error = created ? FlushWholeFile(temporary) : ERROR_INVALID_FUNCTION;
    if (error == ERROR_SUCCESS) {
        error = PutWholeFileInPlace(state, link, temporary, WhenNotMovable::Overwrite, feedback);
    }
    if (error != ERROR_SUCCESS) {
        DiscardTemporaryFile(state, temporary, feedback);
        // A shortcut that was not written is still listed, unless it is the
        // earlier installation's, which no removal may delete.
        if (!earlier) AddUnique(state.installedFiles, link);
        feedback.Log(u"Shortcut " + link + u" not created (" +
                     (created ? DescribeError(error) : U16String(u"no shell-link object")) + u")" +
                     (earlier ? u"; the existing one was kept" : u""));
        return created;
    }
    AddUnique(state.installedFiles, link);
    feedback.Log(u"shortcut written: " + link);
    return created;
}

}  // namespace

bool CreateShortcut(const char16_t* target, const char16_t* icon, const char16_t* workingDirectory,
                    const char16_t* linkPath, const char16_t* arguments, const char16_t* description) {
    ComPtr<IShellLinkW> link;
    if (FAILED(Sys().CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      link.put_void()))) {
        return false;
    }
    // The setters' results are not examined: a link that lacks a detail is
    // still a link.
    link->SetArguments(arguments != nullptr ? Wide(arguments) : L"");
    if (description != nullptr) link->SetDescription(Wide(description));
    link->SetHotkey(0);
    if (icon != nullptr) link->SetIconLocation(Wide(icon), 0);
    link->SetPath(Wide(target));
    link->SetShowCmd(SW_SHOWMAXIMIZED);
    if (workingDirectory != nullptr) link->SetWorkingDirectory(Wide(workingDirectory));

    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
    file->Save(Wide(linkPath), TRUE);
    return true;
}

U16String GetSpecialFolder(int csidl) {
    PIDLIST_ABSOLUTE list = nullptr;
    if (FAILED(Sys().SHGetSpecialFolderLocation(nullptr, csidl, &list)) || list == nullptr) return {};
    const UniqueCoTaskMem owned(list);  // the item list is the caller's to free
    wchar_t path[MAX_PATH] = {};
    if (!Sys().SHGetPathFromIDListW(list, path)) return {};
    return FromWide(path);
}

U16String GetProgramsFolder() { return GetSpecialFolder(CSIDL_PROGRAMS); }

void CreateShortcuts(InstallState& state, InstallFeedback& feedback) {
    const bool allUsers = state.shortcutsForAllUsers;
    const U16String programs = allUsers ? GetSpecialFolder(CSIDL_COMMON_PROGRAMS) : GetProgramsFolder();
    if (programs.empty()) {
        // Without it the folder would land in whatever the current folder is.
        feedback.Log(u"No Start-menu Programs folder: no program folder or shortcuts made there");
    } else {
        const U16String folder = JoinPath(programs, state.programFolderName);
        // An existing folder is used as it is.
        if (Sys().GetFileAttributesW(AsWide(folder)) == INVALID_FILE_ATTRIBUTES && !CreateJournaledFolder(folder)) {
            feedback.Log(u"program folder " + folder + u" not created: " + DescribeError(::GetLastError()));
        }
        feedback.Log(u"program folder: " + folder);
        AddUnique(state.installedFolders, folder);
        state.programFolderPath = folder;

        if (PlaceShortcut(state, JoinPath(folder, kApplicationLink), nullptr, u"Quentar", feedback)) {
            state.runPath = state.applicationPath;
            state.runDirectory = state.destinationFolder;
        }
        PlaceShortcut(state, JoinPath(folder, kUninstallLink), u"/uninstall", u"Uninstall", feedback);
    }

    if (state.createDesktopShortcut) {
        const U16String desktop = GetSpecialFolder(allUsers ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY);
        if (desktop.empty()) {
            feedback.Log(u"No desktop folder: no desktop shortcut made");
        } else {
            PlaceShortcut(state, JoinPath(desktop, kApplicationLink), nullptr, u"Quentar", feedback);
        }
    }
}

}  // namespace quentar
