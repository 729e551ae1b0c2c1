#include "components/runtime_packages.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "install/engine_support.h"
#include "payload/payload_names.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

// The shell is handed the copy's path in a buffer of MAX_PATH units, so a
// path is at most MAX_PATH - 1 units long.
constexpr size_t kShellPathUnits = MAX_PATH - 1;

// Whether creating `path` failed because the name is taken (by a file, or by
// a folder or a file being deleted, which some systems report as access
// denied) rather than because the folder cannot be written.
bool NameTaken(const U16String& path, DWORD error) {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return true;
    return Sys().GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

// The temporary folder, or empty when the system cannot say. A folder that
// does not fit the buffer of MAX_PATH units is treated as unknown: no name in
// it could be handed to the shell.
U16String TempFolder(InstallFeedback& feedback) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = Sys().GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        feedback.Log(u"cannot find the temporary folder: " +
                     (length == 0 ? DescribeError(::GetLastError()) : u"its path is too long"));
        return U16String();
    }
    return FromWide(buffer, length);
}

// Whether the package is one for the Windows Installer.
bool IsInstallerPackage(U16View name) {
    constexpr U16View kExtension = u".msi";
    return name.size() >= kExtension.size() &&
           EqualsIgnoreAsciiCase(name.substr(name.size() - kExtension.size()), kExtension);
}

// The system's Windows Installer program, from the system folder (never
// found through the search path, which begins beside the setup program).
U16String SystemInstallerPath() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return JoinPath(length > 0 && length < MAX_PATH ? FromWide(folder, length) : U16String(u"C:\\Windows\\System32"),
                    u"msiexec.exe");
}

}  // namespace

U16String WriteEntryToTempFile(PayloadEntry entry, InstallFeedback& feedback) {
    const U16String folder = TempFolder(feedback);
    if (folder.empty()) return U16String();

    const U16String name = entry.FileName();
    const size_t dot = name.rfind(u'.');
    // A leading "." starts the name, not an extension (".profile").
    const size_t split = dot == U16String::npos || dot == 0 ? name.size() : dot;
    const U16String base = name.substr(0, split);
    const U16String extension = name.substr(split);

    for (unsigned n = 0; n < kTempCopyCandidates; ++n) {
        const U16String path = JoinPath(folder, base + (n == 0 ? U16String() : DecimalText(n)) + extension);
        // Later candidates are longer still.
        if (path.size() > kShellPathUnits) {
            feedback.Log(u"cannot copy " + name + u" to the temporary folder: the path " + path + u" is too long");
            return U16String();
        }
        UniqueFile file(Sys().CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_ARCHIVE, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            if (NameTaken(path, error)) continue;
            feedback.Log(u"cannot create " + path + u": " + DescribeError(error));
            return U16String();
        }
        DWORD written = 0;
        const BOOL wrote = Sys().WriteFile(file.get(), entry.Data(), entry.FileSizeLow(), &written, nullptr);
        const DWORD writeError = wrote ? ERROR_SUCCESS : ::GetLastError();
        // Closing flushes: a failed close means the copy may be incomplete.
        const bool closed = file.close();
        if (wrote && written == entry.FileSizeLow() && closed) return path;

        if (!wrote) {
            feedback.Log(u"cannot write " + path + u": " + DescribeError(writeError));
        } else {
            feedback.Log(u"cannot write " + path + u" in full: " + DecimalText(written) + u" of " +
                         DecimalText(entry.FileSizeLow()) + u" bytes" + (closed ? u"" : u", and the close failed"));
        }
        // An incomplete copy is of no use to anybody.
        Sys().DeleteFileW(AsWide(path));
        return U16String();
    }
    feedback.Log(u"cannot copy " + name + u" to the temporary folder: the first " + DecimalText(kTempCopyCandidates) +
                 u" names are all taken");
    return U16String();
}

RuntimePackage::Start RuntimePackage::Begin(U16View entryName, const InstallState& state, InstallFeedback& feedback,
                                            bool unattended) {
    name = entryName;
    file.clear();
    process.reset();
    const PayloadEntry entry = FindEntry(name, state);
    if (!entry) {
        feedback.Log(u"runtime package " + name + u" is not carried: skipped");
        return Start::NotCarried;
    }
    file = WriteEntryToTempFile(entry, feedback);
    if (file.empty()) {
        feedback.Log(u"runtime package " + name + u" skipped: no copy to start");
        return Start::NotCopied;
    }

    wchar_t path[MAX_PATH] = {};
    const size_t units = std::min(file.size(), kShellPathUnits);
    std::copy_n(file.data(), units, path);
    // No owner or verb: the file type's default action, as a double click
    // would run it.
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | (unattended ? SEE_MASK_FLAG_NO_UI : 0);
    info.lpFile = path;
    // Unattended, a Windows Installer package goes to the system's msiexec
    // itself: not every file-type association passes parameters on.
    U16String installer;
    U16String parameters;
    if (unattended && IsInstallerPackage(name)) {
        installer = SystemInstallerPath();
        parameters = u"/i \"" + file + u"\" /qn /norestart";
        info.lpFile = AsWide(installer);
        info.lpParameters = AsWide(parameters);
    }
    info.lpDirectory = L".";
    info.nShow = SW_SHOWNORMAL;
    if (!Sys().ShellExecuteExW(&info)) {
        feedback.Log(u"runtime package " + name + u" could not be started: " + DescribeError(::GetLastError()));
        DeleteCopy(feedback);
        return Start::Failed;
    }
    process.reset(info.hProcess);
    if (!process) {
        // Handed to something that gives no process to wait for (a running
        // program that took the file over): it counts as ended.
        feedback.Log(u"runtime package " + name + u" was started without a process to wait for; " + file +
                     u" is left in place");
        file.clear();
        return Start::WithoutProcess;
    }
    feedback.Log(u"runtime package " + name + u" started from " + file +
                 (installer.empty() ? U16String() : u" by " + installer + u" " + parameters));
    return Start::Running;
}

bool RuntimePackage::End(uint32_t wait, InstallFeedback& feedback) {
    bool restartNeeded = false;
    if (wait == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (Sys().GetExitCodeProcess(process.get(), &code)) {
            feedback.Log(u"runtime package " + name + u" ended with exit code " + DecimalText(code));
            restartNeeded = code == ERROR_SUCCESS_REBOOT_REQUIRED || code == ERROR_SUCCESS_REBOOT_INITIATED;
            if (restartNeeded) feedback.Log(u"runtime package " + name + u" needs a restart of Windows to finish");
        } else {
            feedback.Log(u"runtime package " + name + u" ended; its exit code is unknown: " +
                         DescribeError(::GetLastError()));
        }
    } else {
        feedback.Log(u"cannot wait for runtime package " + name + u" (" +
                     (wait == WAIT_FAILED ? DescribeError(::GetLastError()) : u"wait result " + DecimalText(wait)) +
                     u"): counted as ended");
    }
    process.reset();
    DeleteCopy(feedback);
    return restartNeeded;
}

void RuntimePackage::DeleteCopy(InstallFeedback& feedback) {
    if (file.empty()) return;
    if (Sys().DeleteFileW(AsWide(file))) {
        feedback.Log(u"deleted the temporary copy " + file);
    } else {
        feedback.Log(u"cannot delete the temporary copy " + file + u": " + DescribeError(::GetLastError()));
    }
    file.clear();
}

bool RunRuntimePackages(const InstallState& state, InstallFeedback& feedback) {
    bool restartNeeded = false;
    for (const char16_t* entryName : kAxisPackageEntryNames) {
        RuntimePackage package;
        if (package.Begin(entryName, state, feedback, true) != RuntimePackage::Start::Running) continue;
        const DWORD wait = Sys().WaitForSingleObject(package.process.get(), INFINITE);
        if (package.End(wait, feedback)) restartNeeded = true;
    }
    return restartNeeded;
}

}  // namespace quentar
