#include "install/uninstall_record.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "install/engine_support.h"
#include "payload/payload_names.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "state/guid_text.h"

namespace quentar {
namespace {

// Name buffers of the enumerations, in characters (a registry key name is
// at most 255 characters, so neither ever truncates one).
constexpr DWORD kCandidateNameCapacity = 512;
constexpr DWORD kTreeNameCapacity = 511;
// Texts of a record read back by RecordsOfFolder, in characters with the
// terminator (a path is at most 32,767 characters).
constexpr DWORD kRecordTextCapacity = 32768;

// One value of the record, as it is written.
struct RecordValue {
    U16String name;
    DWORD type;        // REG_SZ or REG_DWORD
    U16String text;    // for REG_SZ
    uint32_t number;   // for REG_DWORD
};

RecordValue TextValue(U16View name, U16View text) { return {U16String(name), REG_SZ, U16String(text), 0}; }
RecordValue NumberValue(U16View name, uint32_t number) { return {U16String(name), REG_DWORD, {}, number}; }

// The record's values in the order they are written. A value added to the
// record is one more line here.
std::vector<RecordValue> RecordValues(const InstallState& state) {
    using R = UninstallRecord;
    std::vector<RecordValue> values = {
        TextValue(R::kDisplayName, R::kDisplayNameText),
        TextValue(R::kFolder, state.destinationFolder),
        TextValue(R::kPath, state.programFolderPath),
        TextValue(R::kUninstallString, R::UninstallCommand(state.applicationPath)),
        NumberValue(R::kFiles, static_cast<uint32_t>(state.installedFiles.size())),
    };
    for (size_t i = 0; i < state.installedFiles.size(); ++i) {
        values.push_back(TextValue(R::FileValueName(static_cast<uint32_t>(i)), state.installedFiles[i]));
    }
    SYSTEMTIME today{};
    Sys().GetLocalTime(&today);
    values.push_back(TextValue(R::kDisplayVersion, InstalledVersionText(state)));
    values.push_back(TextValue(R::kPublisher, R::kPublisherText));
    values.push_back(TextValue(R::kDisplayIcon, state.applicationPath));
    values.push_back(NumberValue(R::kEstimatedSize, EstimatedSizeKb(state.installedFiles)));
    values.push_back(TextValue(R::kInstallDate, InstallDateText(today)));
    values.push_back(TextValue(R::kQuietUninstallString, R::QuietUninstallCommand(state.applicationPath)));
    values.push_back(NumberValue(R::kNoModify, 1));
    values.push_back(NumberValue(R::kNoRepair, 1));
    return values;
}

// The path in double quotes, so that a path with blanks cannot be taken for
// a shorter program.
U16String QuotedPath(U16View path) { return u"\"" + U16String(path) + u"\""; }

// Digits of `value`, at least `width` of them with leading zeros.
U16String PaddedDecimal(uint32_t value, size_t width) {
    U16String text = FromUtf8(std::to_string(value));
    if (text.size() < width) text.insert(0, width - text.size(), u'0');
    return text;
}

LSTATUS WriteValue(HKEY key, const RecordValue& value) {
    if (value.type == REG_DWORD) {
        const DWORD data = value.number;  // little-endian, 4 bytes
        return Sys().RegSetValueExW(key, AsWide(value.name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                    sizeof(data));
    }
    return WriteStringValue(key, AsWide(value.name), AsWide(value.text), value.type);
}

// The names of the subkeys of `key` in enumeration order, until the first
// call that does not succeed; the name buffer holds `capacity` characters.
StringList SubkeyNames(HKEY key, DWORD capacity) {
    StringList names;
    std::vector<wchar_t> name(capacity);
    for (DWORD index = 0;; ++index) {
        DWORD size = capacity;  // reset before every call
        if (Sys().RegEnumKeyExW(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(FromWide(name.data(), size));
    }
    return names;
}

// The subkey names of the uninstall root in enumeration order; empty when
// the root cannot be opened.
StringList EnumUninstallKeys() {
    UniqueKey root;
    if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(UninstallRecord::kRoot), 0, KEY_ALL_ACCESS, root.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    return SubkeyNames(root.get(), kCandidateNameCapacity);
}

// Reads string value `name` of `key` into `text`; false when it cannot be
// read or holds kRecordTextCapacity characters or more.
bool ReadText(HKEY key, U16View name, U16String& text) {
    std::vector<wchar_t> buffer(kRecordTextCapacity);
    DWORD length = kRecordTextCapacity;
    if (ReadStringValue(key, AsWide(U16String(name)), buffer.data(), length) != ERROR_SUCCESS) return false;
    text = FromWide(buffer.data(), length - 1);
    return true;
}

// Whether the open key `key` is a record this program wrote for `folder`;
// its "File" values then go to `files`.
bool IsRecordOfFolder(HKEY key, U16View folder, StringList& files) {
    using R = UninstallRecord;
    U16String displayName, recordFolder, command;
    if (!ReadText(key, R::kDisplayName, displayName) || displayName != R::kDisplayNameText) return false;
    if (!ReadText(key, R::kFolder, recordFolder) || !EqualsIgnoreAsciiCase(recordFolder, folder)) return false;
    if (!ReadText(key, R::kUninstallString, command)) return false;
    const U16String executable = JoinPath(recordFolder, kApplicationEntryName);
    if (!EqualsIgnoreAsciiCase(command, R::UninstallCommand(executable)) &&
        !EqualsIgnoreAsciiCase(command, executable + R::kUninstallArgument)) {
        return false;
    }
    files.clear();
    U16String file;
    for (uint32_t n = 0; ReadText(key, R::FileValueName(n), file); ++n) files.push_back(file);
    return true;
}

}  // namespace

U16String UninstallRecord::FileValueName(uint32_t index) {
    U16String name = kFilePrefix;
    for (char c : std::to_string(index)) name.push_back(static_cast<char16_t>(c));
    return name;
}

U16String UninstallRecord::KeyPath(U16View name) {
    U16String path = kRoot;
    path.push_back(u'\\');
    path.append(name);
    return path;
}

U16String UninstallRecord::UninstallCommand(U16View applicationPath) {
    return QuotedPath(applicationPath) + kUninstallArgument;
}

U16String UninstallRecord::QuietUninstallCommand(U16View applicationPath) {
    return QuotedPath(applicationPath) + kQuietUninstallArguments;
}

U16String InstalledVersionText(const InstallState& state) {
    FileVersion version = state.setupVersion;
    // From the bytes written rather than the file: opening the file again
    // would change the time it was given.
    const PayloadEntry& entry = state.applicationEntry;
    if (entry) ReadImageFileVersion(entry.Data(), entry.FileSizeLow(), version);
    U16String text;
    for (size_t i = 0; i < version.parts.size(); ++i) {
        if (i > 0) text += u'.';
        text += PaddedDecimal(version.parts[i], 1);
    }
    return text;
}

uint32_t EstimatedSizeKb(const StringList& files) {
    uint64_t bytes = 0;
    for (const U16String& file : files) {
        WIN32_FIND_DATAW found{};
        const UniqueFind search(Sys().FindFirstFileW(AsWide(file), &found));
        if (!search || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        bytes += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    const uint64_t kilobytes = (bytes + 1023) / 1024;
    return kilobytes > MAXDWORD ? MAXDWORD : static_cast<uint32_t>(kilobytes);
}

U16String InstallDateText(const SYSTEMTIME& date) {
    return PaddedDecimal(date.wYear, 4) + PaddedDecimal(date.wMonth, 2) + PaddedDecimal(date.wDay, 2);
}

StringList ListRecordCandidates() {
    StringList names = EnumUninstallKeys();
    // char16_t is unsigned: the order of wcscmp on UTF-16 code units.
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), UninstallRecord::kProductKeyName);
    return names;
}

std::vector<InstallationRecord> RecordsOfFolder(U16View folder) {
    std::vector<InstallationRecord> records;
    if (folder.empty()) return records;
    const StringList candidates = ListRecordCandidates();
    // Candidate 0, the product-name key, is never one of this program's.
    for (size_t i = 1; i < candidates.size(); ++i) {
        GuidBytes guid;
        if (!ParseGuidText(candidates[i], guid)) continue;
        InstallationRecord record;
        record.keyPath = UninstallRecord::KeyPath(candidates[i]);
        UniqueKey key;
        if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(record.keyPath), 0, UninstallRecord::kReadAccess,
                                key.put()) != ERROR_SUCCESS) {
            continue;
        }
        if (IsRecordOfFolder(key.get(), folder, record.files)) records.push_back(std::move(record));
    }
    return records;
}

bool RewriteRecordsAfterUpdate(const InstallState& state, InstallFeedback& feedback) {
    using R = UninstallRecord;
    const std::vector<InstallationRecord> records = RecordsOfFolder(state.destinationFolder);
    if (records.empty()) {
        feedback.Log(u"no uninstall record of " + state.destinationFolder + u" to bring up to date");
        return true;
    }
    SYSTEMTIME today{};
    Sys().GetLocalTime(&today);
    const U16String version = InstalledVersionText(state);
    const U16String date = InstallDateText(today);
    bool allWritten = true;
    for (const InstallationRecord& record : records) {
        const uint32_t size = EstimatedSizeKb(record.files);
        const RecordValue values[] = {TextValue(R::kDisplayVersion, version), NumberValue(R::kEstimatedSize, size),
                                      TextValue(R::kInstallDate, date)};
        UniqueKey key;
        LSTATUS result = Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(record.keyPath), 0, R::kWriteAccess, key.put());
        for (size_t i = 0; result == ERROR_SUCCESS && i < std::size(values); ++i) result = WriteValue(key.get(), values[i]);
        if (result != ERROR_SUCCESS) {
            feedback.Log(u"uninstall record HKLM\\" + record.keyPath + u" not brought up to date: " +
                         DescribeError(static_cast<DWORD>(result)));
            allWritten = false;
            continue;
        }
        feedback.Log(u"uninstall record HKLM\\" + record.keyPath + u" brought up to date: DisplayVersion " + version +
                     u", EstimatedSize " + DecimalText(size) + u" KB, InstallDate " + date);
    }
    return allWritten;
}

LSTATUS WriteStringValue(HKEY key, const wchar_t* name, const wchar_t* text, DWORD type) {
    if (text == nullptr) return ERROR_INVALID_DATA;
    const size_t units = wcslen(text) + 1;
    // The byte count must fit the call's 32-bit size.
    if (units > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_DATA;
    return Sys().RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(units * sizeof(wchar_t)));
}

LSTATUS ReadStringValue(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD& length) {
    // The byte capacity must fit the call's 32-bit size.
    const DWORD capacity = std::min<DWORD>(length, MAXDWORD / sizeof(wchar_t));
    DWORD type = REG_NONE;
    DWORD bytes = capacity * sizeof(wchar_t);
    const LSTATUS result = Sys().RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    if (bytes % sizeof(wchar_t) != 0) return ERROR_INVALID_DATA;
    if (bytes == 0) {
        // The empty text still needs room for its terminator.
        if (capacity == 0) return ERROR_MORE_DATA;
        buffer[0] = L'\0';
        length = 1;
        return ERROR_SUCCESS;
    }
    const DWORD units = bytes / sizeof(wchar_t);
    if (buffer[units - 1] != L'\0') return ERROR_INVALID_DATA;
    length = units;
    return ERROR_SUCCESS;
}

LSTATUS DeleteKeyTree(HKEY parent, const wchar_t* subkey) {
    UniqueKey key;
    if (Sys().RegOpenKeyExW(parent, subkey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return kKeyNotOpened;
    // Deleting while enumerating would shift the indices: collect first.
    const StringList children = SubkeyNames(key.get(), kTreeNameCapacity);
    for (const U16String& child : children) DeleteKeyTree(key.get(), AsWide(child));
    key.reset();
    return Sys().RegDeleteKeyW(parent, subkey);
}

bool WriteUninstallRecord(InstallState& state, InstallFeedback* feedback) {
    if (!WriteUninstallRecordValues(state, feedback)) return false;
    RemoveSupersededRecords(state.destinationFolder, state.uninstallKeyPath, feedback);
    return true;
}

bool WriteUninstallRecordValues(InstallState& state, InstallFeedback* feedback) {
    UniqueKey key;
    const LSTATUS opened = Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(state.uninstallKeyPath), 0,
                                               UninstallRecord::kWriteAccess, key.put());
    if (opened == ERROR_SUCCESS) {
        const std::vector<RecordValue> values = RecordValues(state);
        for (const RecordValue& value : values) {
            const LSTATUS written = WriteValue(key.get(), value);
            if (written != ERROR_SUCCESS) {
                if (feedback) {
                    feedback->Log(u"uninstall record value " + value.name + u" not written: " + DescribeError(static_cast<DWORD>(written)));
                }
                return false;
            }
        }
        if (feedback) {
            feedback->Log(u"uninstall record written: HKLM\\" + state.uninstallKeyPath + u", " +
                          DecimalText(values.size()) + u" values");
        }
    } else if (feedback) {
        feedback->Log(u"uninstall key HKLM\\" + state.uninstallKeyPath + u" cannot be opened, no values written: " +
                      DescribeError(static_cast<DWORD>(opened)));
    }
    return true;
}

void RemoveSupersededRecords(U16View folder, U16View recordPath, InstallFeedback* feedback) {
    const StringList candidates = ListRecordCandidates();
    if (folder.empty()) return;

    int matches = 0;
    StringList superseded;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const U16String path = UninstallRecord::KeyPath(candidates[i]);
        if (path == recordPath) {
            ++matches;
            continue;
        }
        GuidBytes guid;
        if (i > 0 && !ParseGuidText(candidates[i], guid)) continue;
        UniqueKey key;
        if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(path), 0, UninstallRecord::kReadAccess, key.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        wchar_t recordFolder[UninstallRecord::kFolderCapacity];
        DWORD length = UninstallRecord::kFolderCapacity;
        if (ReadStringValue(key.get(), AsWide(UninstallRecord::kFolder), recordFolder, length) ==
                ERROR_SUCCESS &&
            EqualsIgnoreAsciiCase(FromWide(recordFolder, length - 1), folder)) {
            superseded.push_back(candidates[i]);
        }
    }
    // Only when the new record is known for certain: a record missing from
    // the list, or listed under another spelling, could be one of the keys
    // about to be deleted.
    if (matches != 1) return;
    for (const U16String& name : superseded) {
        const U16String path = UninstallRecord::KeyPath(name);
        const LSTATUS result = DeleteKeyTree(HKEY_LOCAL_MACHINE, AsWide(path));
        if (feedback) {
            feedback->Log(u"superseded uninstall record HKLM\\" + path +
                          (result == ERROR_SUCCESS ? U16String(u" deleted") : u" left: " + DescribeError(static_cast<DWORD>(result))));
        }
    }
}

}  // namespace quentar
