#include "install/shortcuts.h"

#include <windows.h>
#include <shlobj.h>

#include "install/file_install.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"

namespace quentar {

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr char16_t kApplicationLink[] = u"Quentar.lnk";
constexpr char16_t kUninstallLink[] = u"Uninstall Quentar.lnk";

// Writes one of the installation's shortcuts at `link`, keeping an earlier
// shortcut of that name for a failed installation to restore. Returns whether
// CreateShortcut answered true.
bool PlaceShortcut(InstallState& state, const U16String& link, const char16_t* arguments,
                   const char16_t* description, InstallFeedback& feedback) {
    const size_t asideBefore = state.replacedFiles.size();
    if (!MoveAsideExisting(state, link, feedback)) {
        const DWORD error = ::GetLastError();
        feedback.Log(u"Shortcut " + link + u" left as it was: the existing one cannot be moved aside: " +
                     SystemErrorText(error));
        return false;
    }
    const bool created = CreateShortcut(state.applicationPath.c_str(), state.applicationPath.c_str(),
                                        state.destinationFolder.c_str(), link.c_str(), arguments, description);
    if (!created && state.replacedFiles.size() > asideBefore) {
        // Nothing new was written: the earlier shortcut goes back at once, and
        // the name is not recorded, so that no removal deletes it.
        const U16String aside = state.replacedFiles.back();
        if (Sys().MoveFileW(AsWide(aside), AsWide(link))) state.replacedFiles.pop_back();
        feedback.Log(u"Shortcut " + link + u" not created; the existing one was kept");
        return false;
    }
    AddUnique(state.installedFiles, link);
    feedback.Log(created ? u"shortcut written: " + link : u"Shortcut " + link + u" not created: no shell-link object");
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
        Sys().CreateDirectoryW(AsWide(folder), nullptr);  // an existing folder is used as it is
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
