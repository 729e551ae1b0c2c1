// What the installation tests share: a place of its own for each test's
// installation, the earlier installation a test installs over, snapshots of
// everything an installation touches, reading shortcuts and uninstall keys
// back, and the walk from the welcome page to the progress page.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/common/shell_link_reader.h"
#include "ui_test_support.h"

namespace ui_test {

// Where one test installs, so that no test meets another's leftovers.
struct InstallPlace {
    std::wstring destination;        // C:\Quentar UI tests\<tag>
    std::wstring programFolderName;  // "Quentar UI <tag>"
    std::wstring programFolder;      // <Start-menu Programs>\<programFolderName>
    std::wstring desktopLink;        // <Desktop>\Quentar.lnk
};
InstallPlace PlaceFor(const std::string& tag);
// The place as an unattended installation makes it: the program folder
// "Quentar 2009" in all users' Start menu, the desktop shortcut on theirs.
void ForAllUsers(InstallPlace& place);

// A shell folder's path (CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY, ...).
std::wstring ShellFolder(int csidl);

// --- Files ---------------------------------------------------------------------

std::optional<std::string> ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);
// Deletes a folder with everything in it (read-only files included).
void DeleteTree(const std::wstring& folder);
// Names of the entries of a folder, "." and ".." left out.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);
// Gives `folder` a DACL that lets everybody change it. Wine makes that mode
// 0777 and reads the folder back as writable by Everyone: a folder that
// others may change, for real.
bool MakeWritableForEverybody(const std::wstring& folder);

// The files the default payload installs, in the order the installation
// writes them, with the sample files of the build tree they were packed from.
struct PayloadFile {
    std::wstring name;
    std::wstring source;
};
const std::vector<PayloadFile>& InstalledPayloadFiles();

// The time every entry of the default payload carries (its packing epoch).
FILETIME PayloadFileTime();

// --- Registry ------------------------------------------------------------------

struct RegValue {
    DWORD type = 0;
    std::string data;  // the bytes as stored
    bool operator==(const RegValue& o) const { return type == o.type && data == o.data; }
};
using RegValues = std::map<std::wstring, RegValue>;

constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The values of HKEY_LOCAL_MACHINE\<path>; nothing when the key is missing.
std::optional<RegValues> ReadKeyValues(const std::wstring& path);
// Every uninstall key's values, by key name.
std::map<std::wstring, RegValues> ReadUninstallKeys();
// The names of the uninstall keys whose "Folder" is `folder` (A-Z compared
// without regard to case).
std::vector<std::wstring> RecordsFor(const std::wstring& folder);
// The bytes of a REG_SZ holding `text` with its terminating NUL.
std::string SzBytes(const std::wstring& text);
// The text of a string value, without its terminating NULs.
std::wstring SzText(const RegValue& value);

// The values a record carries beside its own for the system's list of
// programs and for deployment tools, in the order they are written.
const std::vector<std::wstring>& DeploymentValueNames();
// Checks them in `values` (a record's) against the installed executable
// `exe` (its file version, read by the system's version functions) and the
// record's `files` (their sizes on the disk), for an installation made today.
void ExpectDeploymentValues(const RegValues& values, const std::wstring& exe, const std::vector<std::wstring>& files);

// Files the next start of Windows deletes (PendingFileRenameOperations
// entries without a target), without their "\??\" prefix.
std::vector<std::wstring> PendingDeletions();

// --- Snapshots -------------------------------------------------------------------

// What a person would compare to see that nothing changed: every file under
// the destination and the program folder and the desktop shortcut (name,
// size, read-only bit, content hash), and every uninstall key with its values.
struct Snapshot {
    std::map<std::wstring, std::string> files;  // full path -> facts
    std::map<std::wstring, RegValues> uninstallKeys;
};
Snapshot TakeSnapshot(const InstallPlace& place);
// One line per difference; empty when the snapshots are equal.
std::string Differences(const Snapshot& before, const Snapshot& after);

// --- Shell links -------------------------------------------------------------------

using link_reader::LinkFacts;
// Loads a .lnk through IShellLinkW and IPersistFile (COM set up here).
LinkFacts ReadLink(const std::wstring& file);
bool WriteLink(const std::wstring& file, const std::wstring& target, const std::wstring& arguments,
               const std::wstring& description);

// --- The earlier installation -----------------------------------------------------

// An installation as an earlier run of the setup program left it in `place`:
// an older Quentar.exe (a runnable sample with bytes appended, so its content
// differs), an older AV2000SDK.dll, an older help.pdf, a repo.jpg identical to
// the payload's, a file of the user's own, both program-folder shortcuts, the
// desktop shortcut, and an uninstall record under a GUID key name.
struct EarlierInstallation {
    std::wstring keyName;
    std::wstring executable;  // its Quentar.exe
};
EarlierInstallation MakeEarlierInstallation(const InstallPlace& place);

// An uninstall record under a fresh GUID key name, as earlier versions of the
// setup program wrote it, for the installation in `folder` (its Quentar.exe
// in the unquoted "UninstallString") listing `files`; returns the key's name.
std::wstring WriteRecord(const std::wstring& folder, const std::wstring& programFolder,
                         const std::vector<std::wstring>& files, const std::wstring& displayName = L"Quentar 2009");

// --- Processes ---------------------------------------------------------------------

// Processes showing the sample application's window whose executable is
// `exe` (compared without regard to case).
std::vector<DWORD> ApplicationProcesses(const std::wstring& exe);
void EndProcess(DWORD id);

// Removes what a test's installation may have left: running copies of its
// application, its files, folders and shortcuts, the uninstall keys whose
// "Folder" is its destination, its scheduled deletions, and the journals of
// runs ended abruptly.
void CleanUp(const InstallPlace& place);

// The system's text for an error code, made one line as the program makes it.
std::wstring SystemText(DWORD error);

// --- Driving the wizard --------------------------------------------------------------

struct WalkChoices {
    bool desktopShortcut = true;
    bool axisRuntime = false;
};

// The fill of the progress bar as the screen shows it, in per cent of its
// width (-1 when it cannot be read). Reads pixels only, so it works while the
// setup program is busy installing and answers no messages.
int ProgressFillPercent(HWND bar);

// The progress bar of the sheet (found without sending it messages), or null.
HWND FindProgressBar(HWND sheet);

// The base of the installation tests: a place of its own, cleaned before and
// after the test.
class InstallTest : public UiTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts `exe` with `args` and QUENTAR_FAULT set to `fault` (none when
    // empty).
    ui::SetupProcess& StartSetup(const std::wstring& exe, const std::wstring& fault = L"",
                                 const std::vector<std::wstring>& args = {});

    // From the loaded welcome page to the progress page: the application and
    // the Arecont runtime chosen (the Axis runtime as asked), the licence
    // agreed to, the test's destination and program folder entered, the
    // desktop box set, Next, and Yes when the page offers to create the
    // destination. Adds a test failure and returns false when a step does not
    // work.
    bool WalkToProgress(const ui::Wizard& wizard, DWORD processId, const WalkChoices& choices);

    // The programs the setup program started (its child processes other
    // than Wine's desktop); complete once it has ended.
    std::vector<ui::ProcessInfo> StartedBySetup();

    InstallPlace place_;

private:
    std::set<DWORD> olderProcesses_;  // running when the setup program was started
};

}  // namespace ui_test
