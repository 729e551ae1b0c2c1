// The uninstall record: one key per installation under
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall that
// names the product for the system's list of installed programs, gives the
// command that removes it, and lists its folder, program group and files.
//
// Readers (the welcome page's search for an earlier installation, the sweep
// of superseded records) and the writer share the registry primitives below.
// Every registry call goes through Sys(), keys are held by UniqueKey.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "install/install_feedback.h"
#include "state/install_state.h"
#include "state/text.h"

namespace quentar {

// The record's format: where it lives, its value names and its constants.
struct UninstallRecord {
    // Parent of every record key, under HKEY_LOCAL_MACHINE. No registry-view
    // flag is ever passed: the process's default view is used.
    static constexpr char16_t kRoot[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    // The product-name key, which readers treat as a record too (it is never
    // written by this program).
    static constexpr char16_t kProductKeyName[] = u"Quentar";
    // "DisplayName" of every record written.
    static constexpr char16_t kDisplayNameText[] = u"Quentar 2009";
    // Appended to the quoted executable path in "UninstallString".
    static constexpr char16_t kUninstallArgument[] = u" /uninstall";

    // Value names, in the order they are written.
    static constexpr char16_t kDisplayName[] = u"DisplayName";
    static constexpr char16_t kFolder[] = u"Folder";
    static constexpr char16_t kPath[] = u"Path";
    static constexpr char16_t kUninstallString[] = u"UninstallString";
    static constexpr char16_t kFiles[] = u"Files";  // REG_DWORD, the number of "File" values
    static constexpr char16_t kFilePrefix[] = u"File";
    // Written after the "File" values, for the system's list of programs and
    // for deployment tools' detection rules.
    static constexpr char16_t kDisplayVersion[] = u"DisplayVersion";  // the application's file version, "5.1.6.5"
    static constexpr char16_t kPublisher[] = u"Publisher";
    static constexpr char16_t kDisplayIcon[] = u"DisplayIcon";          // the application executable
    static constexpr char16_t kEstimatedSize[] = u"EstimatedSize";      // REG_DWORD, KB of the files
    static constexpr char16_t kInstallDate[] = u"InstallDate";          // yyyymmdd, local date
    static constexpr char16_t kQuietUninstallString[] = u"QuietUninstallString";
    static constexpr char16_t kNoModify[] = u"NoModify";  // REG_DWORD 1: no "Change" button
    static constexpr char16_t kNoRepair[] = u"NoRepair";  // REG_DWORD 1: no "Repair" button

    static constexpr char16_t kPublisherText[] = u"Quentar";
    // Appended to the quoted executable path in "QuietUninstallString".
    static constexpr char16_t kQuietUninstallArguments[] = u" /uninstall /quiet";

    // Access to the record key when writing it (KEY_READ | KEY_CREATE_SUB_KEY
    // | KEY_SET_VALUE), and when reading a record.
    static constexpr REGSAM kWriteAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
    static constexpr REGSAM kReadAccess = KEY_READ;

    // Capacities, in characters, of the buffers into which readers read a
    // record's texts (terminator included): longer texts count as missing.
    static constexpr DWORD kFolderCapacity = 520;

    // "File0", "File1", ... "File10": the index in decimal, no leading zeros.
    static U16String FileValueName(uint32_t index);
    // Path of the record key `name` relative to HKEY_LOCAL_MACHINE.
    static U16String KeyPath(U16View name);
    // The command that removes the installation: the executable's path in
    // double quotes, so that a path with blanks cannot be taken for a shorter
    // program, followed by " /uninstall".
    static U16String UninstallCommand(U16View applicationPath);
    // The same, followed by " /uninstall /quiet": the removal without a
    // window, as deployment tools run it.
    static U16String QuietUninstallCommand(U16View applicationPath);
};

// The version "DisplayVersion" gives: the file version of the application
// executable ("5.1.6.5"), read from the version resource in the bytes of
// applicationEntry (what was written to applicationPath); setupVersion when
// it carries none.
U16String InstalledVersionText(const InstallState& state);

// The disk space of an installation in KB for "EstimatedSize": the sizes of
// the files of `files` that exist, added up and rounded up to whole KB
// (beyond 4 TB it stays at the largest DWORD).
uint32_t EstimatedSizeKb(const StringList& files);

// "yyyymmdd" of `date`.
U16String InstallDateText(const SYSTEMTIME& date);

// The names of the keys that may be records, in the order readers look at
// them: "Quentar" first (whether or not such a key exists), then the subkeys
// of the uninstall root sorted by UTF-16 code units (case-sensitive), so an
// existing "Quentar" key appears a second time. Only "Quentar" when the root
// cannot be opened.
StringList ListRecordCandidates();

// A record this program wrote for an installation, as read back.
struct InstallationRecord {
    U16String keyPath;  // relative to HKEY_LOCAL_MACHINE
    StringList files;   // its "File" values in order, up to the first that cannot be read
};

// The records this program wrote for the installation in `folder`, in the
// order of ListRecordCandidates: keys whose name is in GUID form (the
// product-name key is never written by this program), whose "DisplayName" is
// kDisplayNameText, whose "Folder" equals `folder` when A-Z are compared
// without regard to case, and whose "UninstallString" starts "Quentar.exe" of
// that folder with " /uninstall" (quoted, or unquoted as earlier releases
// wrote it). Keys that cannot be opened or read are left out. Empty when
// `folder` is empty.
std::vector<InstallationRecord> RecordsOfFolder(U16View folder);

// After a successful in-place update of the installation in
// state.destinationFolder: rewrites "DisplayVersion" (InstalledVersionText),
// "EstimatedSize" (of the files the record lists) and "InstallDate" (today)
// in each of RecordsOfFolder(destinationFolder), and nothing else of it.
// Every record rewritten, and every one that is not, goes to `feedback`'s
// log. False when a value could not be written; the update stands all the
// same, it is only described by the older values.
bool RewriteRecordsAfterUpdate(const InstallState& state, InstallFeedback& feedback);

// Sets string value `name` of `key` to `text` with its terminating NUL
// (2 x (length + 1) bytes) and type `type` (REG_SZ or REG_EXPAND_SZ).
// Returns the Win32 result, 0 on success; ERROR_INVALID_DATA without any
// call when `text` is null.
LSTATUS WriteStringValue(HKEY key, const wchar_t* name, const wchar_t* text, DWORD type);

// Reads string value `name` of `key` into `buffer`. On entry `length` is the
// buffer's capacity in characters; on success it is the number of characters
// read including the terminator, and the buffer holds a NUL-terminated text
// (an empty value, 0 bytes, gives the empty text and 1). Fails with the
// system's result when the query fails (ERROR_MORE_DATA when the buffer is
// too small), and with ERROR_INVALID_DATA when the value is not REG_SZ or
// REG_EXPAND_SZ, has an odd byte length or does not end with a NUL.
LSTATUS ReadStringValue(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD& length);

// Result of DeleteKeyTree when the subkey cannot be opened.
constexpr LSTATUS kKeyNotOpened = -1;

// Deletes parent\subkey with every key below it: all subkey names are
// collected before the first deletion, each is deleted in turn (failures
// ignored), then the key itself. Returns the result of deleting the key
// itself, or kKeyNotOpened.
LSTATUS DeleteKeyTree(HKEY parent, const wchar_t* subkey);

// Writes the record's values into the existing key state.uninstallKeyPath
// (HKEY_LOCAL_MACHINE) in this order: DisplayName, Folder, Path,
// UninstallString, Files, File0.. (one per entry of installedFiles), then
// DisplayVersion, Publisher, DisplayIcon, EstimatedSize, InstallDate,
// QuietUninstallString, NoModify and NoRepair; then sweeps superseded records
// for destinationFolder. False as soon as a value cannot be written: what was
// written stays for the removal, and nothing is swept. A key that cannot be
// opened gets no values, is swept for all the same, and counts as success.
// What it does and what fails goes to `feedback`'s log when one is given.
bool WriteUninstallRecord(InstallState& state, InstallFeedback* feedback = nullptr);

// WriteUninstallRecord without the sweep: the values only, with the same
// answer. The install sequence sweeps once it has recorded that it
// completed, so that a run killed in between is finished, not taken back.
bool WriteUninstallRecordValues(InstallState& state, InstallFeedback* feedback = nullptr);

// Deletes the records, other than the one just written (`recordPath`,
// relative to HKEY_LOCAL_MACHINE), whose "Folder" equals `folder` when A-Z
// are compared without regard to case: candidate 0 ("Quentar") always, later
// candidates only when their name is in GUID form. Nothing is deleted unless
// `recordPath` is found exactly once among the candidates' paths (compared
// code unit by code unit) or when `folder` is empty. Failures only leave a
// candidate alone. Each deletion goes to `feedback`'s log when one is given.
void RemoveSupersededRecords(U16View folder, U16View recordPath, InstallFeedback* feedback = nullptr);

}  // namespace quentar
