#include "components/runtime_packages.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "install/engine_support.h"
#include "payload/payload_names.h"
#include "platform/folder_security.h"
#include "platform/plain_file.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

// The shell is handed the copy's path in a buffer of MAX_PATH units, so a
// path is at most MAX_PATH - 1 units long.
constexpr size_t kShellPathUnits = MAX_PATH - 1;

// Pieces in which a copy is read back and compared with the payload.
constexpr DWORD kCompareChunk = 64 * 1024;

// Pause between two looks at a package an unattended run waits for.
constexpr DWORD kPackagePollMilliseconds = 100;

// Whether creating `path` failed because the name is taken (by a file, or by
// a folder or a file being deleted, which some systems report as access
// denied) rather than because the folder cannot be written.
bool NameTaken(const U16String& path, DWORD error) {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return true;
    return Sys().GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES;
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

// Whether the open file `file` holds exactly `size` bytes equal to `data`,
// read from its start.
bool HoldsExactly(HANDLE file, const uint8_t* data, uint32_t size) {
    std::vector<uint8_t> chunk(kCompareChunk);
    uint32_t done = 0;
    for (;;) {
        DWORD read = 0;
        if (!Sys().ReadFile(file, chunk.data(), kCompareChunk, &read, nullptr)) return false;
        if (read == 0) return done == size;
        if (read > size - done || std::memcmp(chunk.data(), data + done, read) != 0) return false;
        done += read;
    }
}

// Opens the copy written at `path` again for reading, write and delete denied
// to everybody, and keeps it only when it is that very file with `entry`'s
// data; otherwise empty, and `problem` says why.
UniqueFile HoldCopy(const U16String& path, PayloadEntry entry, U16String& problem) {
    UniqueFile hold(Sys().CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!hold) {
        problem = u"it cannot be opened again: " + DescribeError(::GetLastError());
        return hold;
    }
    problem = PlainFileProblem(hold.get(), path);
    if (problem.empty() && !HoldsExactly(hold.get(), entry.Data(), entry.FileSizeLow())) {
        problem = u"it is not what was written";
    }
    if (!problem.empty()) hold.reset();
    return hold;
}

}  // namespace

PackageFolder::~PackageFolder() {
    if (!path_.empty()) RemoveFolderTree(path_);
}

const U16String& PackageFolder::Get(InstallFeedback& feedback) {
    if (tried_) return path_;
    tried_ = true;
    const U16String temp = SystemTempFolder();
    if (temp.empty()) {
        feedback.Log(u"cannot make a folder for the runtime packages: the system names no temporary folder");
        return path_;
    }
    if (const DWORD error = CreatePrivateFolder(temp, kPackageFolderPrefix, path_)) {
        feedback.Log(u"cannot make a folder for the runtime packages in " + temp + u": " + DescribeError(error));
        path_.clear();
        return path_;
    }
    feedback.Log(u"folder for the runtime packages: " + path_ + u", rights " + kAdministratorsOnlyRights);
    return path_;
}

void PackageFolder::Remove(InstallFeedback& feedback) {
    if (path_.empty()) return;
    // A package's installer may hand its work to a helper process that ends
    // a moment after the package's own process and holds the copy until
    // then: tried again for a few seconds before the folder is given up to
    // the next run (RemoveLeftPackageFolders).
    bool removed = RemoveFolderTree(path_);
    for (unsigned attempt = 1; !removed && attempt < kFolderRemovalAttempts; ++attempt) {
        Sys().Sleep(kFolderRemovalPauseMilliseconds);
        removed = RemoveFolderTree(path_);
    }
    if (removed) {
        feedback.Log(u"removed the folder of the runtime packages " + path_);
    } else {
        feedback.Log(u"cannot remove all of the folder of the runtime packages " + path_ +
                     u": a package may still use it");
    }
    path_.clear();
}

void RemoveLeftPackageFolders(InstallFeedback& feedback) {
    const U16String temp = SystemTempFolder();
    if (temp.empty()) return;
    const U16View prefix = kPackageFolderPrefix;
    constexpr size_t kHexDigits = 32;
    // The names are collected first: the search does not see a folder
    // removed under it.
    StringList left;
    WIN32_FIND_DATAW found{};
    const UniqueFind search(Sys().FindFirstFileW(AsWide(JoinPath(temp, U16String(prefix) + u"*")), &found));
    if (!search) return;
    do {
        const U16String name = FromWide(found.cFileName);
        const bool ours = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          name.size() == prefix.size() + kHexDigits && U16View(name).substr(0, prefix.size()) == prefix &&
                          std::all_of(name.begin() + static_cast<ptrdiff_t>(prefix.size()), name.end(), IsHexDigit);
        if (ours) left.push_back(JoinPath(temp, name));
    } while (Sys().FindNextFileW(search.get(), &found));
    for (const U16String& folder : left) {
        feedback.Log(RemoveFolderTree(folder) ? u"removed the folder of an earlier run's runtime packages " + folder
                                              : u"cannot remove all of the folder of an earlier run's runtime packages " +
                                                    folder);
    }
}

bool WriteEntryToTempFile(PayloadEntry entry, const U16String& folder, HeldCopy& copy, InstallFeedback& feedback) {
    copy = HeldCopy{};
    if (folder.empty()) return false;

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
            feedback.Log(u"cannot copy " + name + u" to " + folder + u": the path " + path + u" is too long");
            return false;
        }
        // Write and delete denied to everybody from the first byte.
        UniqueFile file(Sys().CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            if (NameTaken(path, error)) continue;
            feedback.Log(u"cannot create " + path + u": " + DescribeError(error));
            return false;
        }
        DWORD written = 0;
        const BOOL wrote = Sys().WriteFile(file.get(), entry.Data(), entry.FileSizeLow(), &written, nullptr);
        const DWORD writeError = wrote ? ERROR_SUCCESS : ::GetLastError();
        // Closing flushes: a failed close means the copy may be incomplete.
        // A program cannot be started from a file open for writing, so the
        // copy is closed before it is held for reading.
        const bool closed = file.close();
        U16String problem;
        if (wrote && written == entry.FileSizeLow() && closed) {
            UniqueFile hold = HoldCopy(path, entry, problem);
            if (hold) {
                copy.path = path;
                copy.hold = std::move(hold);
                return true;
            }
        } else if (!wrote) {
            problem = u"it cannot be written: " + DescribeError(writeError);
        } else {
            problem = u"it was written in part: " + DecimalText(written) + u" of " + DecimalText(entry.FileSizeLow()) +
                      u" bytes" + (closed ? u"" : u", and the close failed");
        }
        feedback.Log(u"no usable copy at " + path + u": " + problem);
        // An incomplete or unknown copy is of no use to anybody.
        Sys().DeleteFileW(AsWide(path));
        return false;
    }
    feedback.Log(u"cannot copy " + name + u" to " + folder + u": the first " + DecimalText(kTempCopyCandidates) +
                 u" names are all taken");
    return false;
}

RuntimePackage::Start RuntimePackage::Begin(U16View entryName, const InstallState& state, PackageFolder& folder,
                                            InstallFeedback& feedback, bool unattended) {
    name = entryName;
    copy = HeldCopy{};
    process.reset();
    const PayloadEntry entry = FindEntry(name, state);
    if (!entry) {
        feedback.Log(u"runtime package " + name + u" is not carried: skipped");
        return Start::NotCarried;
    }
    const U16String& directory = folder.Get(feedback);
    if (!WriteEntryToTempFile(entry, directory, copy, feedback)) {
        feedback.Log(u"runtime package " + name + u" skipped: no copy to start");
        return Start::NotCopied;
    }

    wchar_t path[MAX_PATH] = {};
    const size_t units = std::min(copy.path.size(), kShellPathUnits);
    std::copy_n(copy.path.data(), units, path);
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
        parameters = u"/i \"" + copy.path + u"\" /qn /norestart";
        info.lpFile = AsWide(installer);
        info.lpParameters = AsWide(parameters);
    }
    // The folder only this run can write: whatever the package loads from
    // its working folder is the package's own.
    info.lpDirectory = AsWide(directory);
    info.nShow = SW_SHOWNORMAL;
    if (!Sys().ShellExecuteExW(&info)) {
        feedback.Log(u"runtime package " + name + u" could not be started: " + DescribeError(::GetLastError()));
        DeleteCopy(feedback);
        return Start::Failed;
    }
    process.reset(info.hProcess);
    if (!process) {
        // Handed to something that gives no process to wait for (a running
        // program that took the file over): it counts as ended, and its
        // copy stays until the folder goes.
        feedback.Log(u"runtime package " + name + u" was started without a process to wait for; " + copy.path +
                     u" is left in place");
        copy = HeldCopy{};
        return Start::WithoutProcess;
    }
    feedback.Log(u"runtime package " + name + u" started from " + copy.path +
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
    if (copy.path.empty()) return;
    // Released first: the copy is held denying its deletion.
    copy.hold.reset();
    if (Sys().DeleteFileW(AsWide(copy.path))) {
        feedback.Log(u"deleted the temporary copy " + copy.path);
    } else {
        feedback.Log(u"cannot delete the temporary copy " + copy.path + u": " + DescribeError(::GetLastError()));
    }
    copy = HeldCopy{};
}

PackagesOutcome RunRuntimePackages(const InstallState& state, InstallFeedback& feedback, uint32_t timeoutMinutes) {
    PackagesOutcome outcome;
    PackageFolder folder;
    // Packages left running keep their copies held until the folder goes.
    std::vector<RuntimePackage> leftRunning;
    const uint64_t timeout = static_cast<uint64_t>(timeoutMinutes) * 60000;
    for (const char16_t* entryName : kAxisPackageEntryNames) {
        RuntimePackage package;
        if (package.Begin(entryName, state, folder, feedback, true) != RuntimePackage::Start::Running) continue;
        const DWORD started = Sys().GetTickCount();
        DWORD wait = WAIT_TIMEOUT;
        // Unsigned difference: right across the wrap of the tick count.
        while ((wait = Sys().WaitForSingleObject(package.process.get(), kPackagePollMilliseconds)) == WAIT_TIMEOUT &&
               static_cast<DWORD>(Sys().GetTickCount() - started) < timeout) {
        }
        if (wait == WAIT_TIMEOUT) {
            feedback.Log(u"runtime package " + package.name + u" is still running after " +
                         DecimalText(timeoutMinutes) + u" minutes: left running, the run fails");
            outcome.timedOut = true;
            leftRunning.push_back(std::move(package));
            continue;
        }
        if (package.End(wait, feedback)) outcome.restartNeeded = true;
    }
    for (RuntimePackage& package : leftRunning) package.copy.hold.reset();
    folder.Remove(feedback);
    return outcome;
}

}  // namespace quentar
