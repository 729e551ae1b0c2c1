// The uninstall record against Wine's real registry: what is written (names,
// types, byte counts, order), the registry primitives, and the sweep of
// superseded records. Every test works in keys of its own, named with fresh
// GUIDs, and uses folder texts no other test uses: the sweep deletes any
// record whose folder matches, and other tests run beside these.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "install/uninstall_record.h"
#include "platform/system_api.h"
#include "platform/wide.h"
#include "engine_test_support.h"
#include "registry_scratch.h"

namespace quentar {
namespace {

using test_registry::KeyExists;
using test_registry::NewGuidText;
using test_registry::RawValue;
using test_registry::ReadRaw;
using test_registry::ScratchKey;

const std::wstring kRoot = AsWide(UninstallRecord::kRoot);

std::wstring UnderRoot(const std::wstring& name) { return kRoot + L"\\" + name; }

// A destination folder no other test uses (a non-ASCII letter included, so
// that the stored UTF-16 is seen as it is).
std::wstring UniqueFolder() { return L"C:\\Program Files\\Quent\u00E4r 2009 " + NewGuidText(); }

// Lower-cases A-Z only.
std::wstring AsciiLower(std::wstring s) {
    for (wchar_t& c : s) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return s;
}
std::wstring AsciiUpper(std::wstring s) {
    for (wchar_t& c : s) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return s;
}

std::string Narrow(const std::wstring& s) { return ToUtf8(FromWide(s.c_str(), s.size())); }

// An install state ready for the writer: the record key exists (as the
// install sequence creates it) and the texts are the test's own.
struct RecordFixture {
    explicit RecordFixture(size_t fileCount) : key(HKEY_LOCAL_MACHINE, UnderRoot(NewGuidText())) {
        folder = UniqueFolder();
        state.destinationFolder = FromWide(folder.c_str());
        state.programFolderPath = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quentar 2009";
        state.applicationPath = JoinPath(state.destinationFolder, u"Quentar.exe");
        state.uninstallKeyPath = FromWide(key.Path().c_str());
        state.setupVersion = FileVersion{{7, 8, 9, 10}};
        for (size_t i = 0; i < fileCount; ++i) {
            state.installedFiles.push_back(JoinPath(state.destinationFolder, FromUtf8("file" + std::to_string(i) + ".dat")));
        }
    }
    ScratchKey key;
    std::wstring folder;
    InstallState state;
};

// Records the names of the values written, in order; the day is 4 March 2027.
class RecordingWrites : public ForwardingSystemApi {
public:
    RecordingWrites() : ForwardingSystemApi(Sys()) {}
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) override {
        names.push_back(name);
        return inner_.RegSetValueExW(key, name, reserved, type, data, size);
    }
    void GetLocalTime(LPSYSTEMTIME time) override {
        *time = SYSTEMTIME{};
        time->wYear = 2027;
        time->wMonth = 3;
        time->wDay = 4;
        time->wHour = 23;
    }
    std::vector<std::wstring> names;
};

// The values written after the "File" values, in order.
const std::vector<std::wstring> kLaterValues = {L"DisplayVersion", L"Publisher",  L"DisplayIcon",
                                                L"EstimatedSize",  L"InstallDate", L"QuietUninstallString",
                                                L"NoModify",       L"NoRepair"};

void ExpectStoredDword(const std::wstring& keyPath, const wchar_t* name, DWORD number) {
    SCOPED_TRACE(Narrow(name));
    const RawValue value = ReadRaw(HKEY_LOCAL_MACHINE, keyPath, name);
    ASSERT_TRUE(value.exists);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(value.bytes.size(), 4u);
    EXPECT_EQ(value.bytes, (std::vector<BYTE>{static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                                              static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)}));
}

// Fails the write of one chosen value, as a full or refusing registry would.
class FailingValueWrite : public ForwardingSystemApi {
public:
    explicit FailingValueWrite(std::wstring failing) : ForwardingSystemApi(Sys()), failing_(std::move(failing)) {}
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) override {
        if (name != nullptr && failing_ == name) return ERROR_ACCESS_DENIED;
        return inner_.RegSetValueExW(key, name, reserved, type, data, size);
    }

private:
    std::wstring failing_;
};

void ExpectStoredText(const ScratchKey& key, const wchar_t* name, const std::wstring& text) {
    SCOPED_TRACE(Narrow(name));
    const RawValue value = ReadRaw(HKEY_LOCAL_MACHINE, key.Path(), name);
    ASSERT_TRUE(value.exists);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value.bytes.size(), 2 * (text.size() + 1)) << "the terminating NUL is stored";
    EXPECT_EQ(Narrow(value.Units()), Narrow(text + L'\0'));
}

TEST(UninstallRecord, WritesEveryValueInOrderWithItsTypeAndByteCount) {
    for (size_t fileCount : {0u, 1u, 11u}) {
        SCOPED_TRACE(::testing::Message() << fileCount << " files");
        RecordFixture fixture(fileCount);
        ASSERT_TRUE(fixture.key.Created());
        RecordingWrites recording;
        {
            ScopedSystemApi scope(recording);
            ASSERT_TRUE(WriteUninstallRecord(fixture.state));
        }

        std::vector<std::wstring> expectedOrder = {L"DisplayName", L"Folder", L"Path", L"UninstallString", L"Files"};
        for (size_t i = 0; i < fileCount; ++i) expectedOrder.push_back(L"File" + std::to_wstring(i));
        expectedOrder.insert(expectedOrder.end(), kLaterValues.begin(), kLaterValues.end());
        EXPECT_EQ(recording.names, expectedOrder);

        ExpectStoredText(fixture.key, L"DisplayName", L"Quentar 2009");
        ExpectStoredText(fixture.key, L"Folder", fixture.folder);
        ExpectStoredText(fixture.key, L"Path",
                         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quentar 2009");
        // Quoted, so that Windows cannot take "C:\Program" for the program.
        ExpectStoredText(fixture.key, L"UninstallString", L"\"" + fixture.folder + L"\\Quentar.exe\" /uninstall");

        const RawValue files = ReadRaw(HKEY_LOCAL_MACHINE, fixture.key.Path(), L"Files");
        ASSERT_TRUE(files.exists);
        EXPECT_EQ(files.type, static_cast<DWORD>(REG_DWORD));
        ASSERT_EQ(files.bytes.size(), 4u);
        EXPECT_EQ(files.bytes, (std::vector<BYTE>{static_cast<BYTE>(fileCount), 0, 0, 0}));

        for (size_t i = 0; i < fileCount; ++i) {
            ExpectStoredText(fixture.key, (L"File" + std::to_wstring(i)).c_str(),
                             fixture.folder + L"\\file" + std::to_wstring(i) + L".dat");
        }
        // Numbered densely from 0, without leading zeros.
        EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, fixture.key.Path(), (L"File" + std::to_wstring(fileCount)).c_str()).exists);
        EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, fixture.key.Path(), L"File01").exists);

        // The executable does not exist: the setup program's own version
        // stands in, and no file adds to the size.
        ExpectStoredText(fixture.key, L"DisplayVersion", L"7.8.9.10");
        ExpectStoredText(fixture.key, L"Publisher", L"Quentar");
        ExpectStoredText(fixture.key, L"DisplayIcon", fixture.folder + L"\\Quentar.exe");
        ExpectStoredDword(fixture.key.Path(), L"EstimatedSize", 0);
        ExpectStoredText(fixture.key, L"InstallDate", L"20270304");
        ExpectStoredText(fixture.key, L"QuietUninstallString",
                         L"\"" + fixture.folder + L"\\Quentar.exe\" /uninstall /quiet");
        ExpectStoredDword(fixture.key.Path(), L"NoModify", 1);
        ExpectStoredDword(fixture.key.Path(), L"NoRepair", 1);
    }
}

// DisplayVersion comes from the version resource of the executable written,
// EstimatedSize from the files on the disk.
TEST(UninstallRecord, VersionAndSizeComeFromWhatWasInstalled) {
    testing::TempFolder folder;
    const U16String executable = folder / u"Quentar.exe";
    const U16String data = folder / u"help.pdf";
    ASSERT_TRUE(::CopyFileW(SETUP_EXE_PATH, AsWide(executable), FALSE));
    testing::WriteBytes(data, std::vector<uint8_t>(5000, 7));
    const std::vector<uint8_t> program = testing::ReadBytes(executable);

    ScratchKey key(HKEY_LOCAL_MACHINE, UnderRoot(NewGuidText()));
    ASSERT_TRUE(key.Created());
    InstallState state;
    state.destinationFolder = folder.path();
    state.applicationPath = executable;
    state.uninstallKeyPath = FromWide(key.Path().c_str());
    state.setupVersion = FileVersion{{1, 2, 3, 4}};
    state.payload = testing::MakePayload({{u"Quentar.exe", program, testing::kTime2010}});
    state.applicationEntry = FindEntry(u"Quentar.exe", state);
    // A listed file that has gone counts for nothing.
    state.installedFiles = {executable, data, folder / u"gone.dat"};
    ASSERT_TRUE(WriteUninstallRecord(state));

    const FileVersion built{{SETUP_VERSION_PARTS}};
    ExpectStoredText(key, L"DisplayVersion",
                     std::to_wstring(built.parts[0]) + L"." + std::to_wstring(built.parts[1]) + L"." +
                         std::to_wstring(built.parts[2]) + L"." + std::to_wstring(built.parts[3]));
    const uint64_t bytes = program.size() + 5000ull;
    ExpectStoredDword(key.Path(), L"EstimatedSize", static_cast<DWORD>((bytes + 1023) / 1024));

    // An executable without a version resource: the setup program's version.
    state.payload = testing::MakePayload({{u"Quentar.exe", testing::Bytes("not a program"), testing::kTime2010}});
    state.applicationEntry = FindEntry(u"Quentar.exe", state);
    testing::WriteBytes(executable, testing::Bytes("not a program"));
    ASSERT_TRUE(WriteUninstallRecord(state));
    ExpectStoredText(key, L"DisplayVersion", L"1.2.3.4");
    ExpectStoredDword(key.Path(), L"EstimatedSize", 5);  // 5013 bytes, rounded up
}

TEST(UninstallRecord, AFailedWriteStopsThereAndLeavesWhatWasWrittenForTheRemoval) {
    struct Case {
        const wchar_t* failing;
        std::vector<std::wstring> kept;  // every value before the failing one
    };
    const Case cases[] = {
        {L"DisplayName", {}},
        {L"Files", {L"DisplayName", L"Folder", L"Path", L"UninstallString"}},
        {L"File2", {L"DisplayName", L"Folder", L"Path", L"UninstallString", L"Files", L"File0", L"File1"}},
        {L"NoRepair",
         {L"DisplayName", L"Folder", L"Path", L"UninstallString", L"Files", L"File0", L"File1", L"File2", L"File3",
          L"DisplayVersion", L"Publisher", L"DisplayIcon", L"EstimatedSize", L"InstallDate", L"QuietUninstallString",
          L"NoModify"}},
    };
    std::vector<std::wstring> all = {L"DisplayName", L"Folder", L"Path",  L"UninstallString",
                                     L"Files",       L"File0",  L"File1", L"File2", L"File3"};
    all.insert(all.end(), kLaterValues.begin(), kLaterValues.end());
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.failing));
        RecordFixture fixture(4);
        ASSERT_TRUE(fixture.key.Created());
        // An older record of the same folder: the sweep must not run.
        ScratchKey older(HKEY_LOCAL_MACHINE, UnderRoot(NewGuidText()));
        ASSERT_TRUE(older.SetText(L"Folder", fixture.folder));

        FailingValueWrite failing(c.failing);
        {
            ScopedSystemApi scope(failing);
            EXPECT_FALSE(WriteUninstallRecord(fixture.state));
        }
        for (const std::wstring& name : all) {
            const bool kept = std::find(c.kept.begin(), c.kept.end(), name) != c.kept.end();
            EXPECT_EQ(ReadRaw(HKEY_LOCAL_MACHINE, fixture.key.Path(), name.c_str()).exists, kept) << Narrow(name);
        }
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, fixture.key.Path())) << "the partial record stays for the removal";
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, older.Path())) << "nothing is swept after a failure";
    }
}

// The sweep after a complete write: records of the same folder go, whoever
// wrote them, if their name is a GUID or the product name; others stay.
TEST(UninstallRecord, SweepRemovesOlderRecordsOfTheSameFolderOnly) {
    RecordFixture fixture(2);
    ASSERT_TRUE(fixture.key.Created());
    const std::wstring& folder = fixture.folder;

    // The product-name key is shared by every test; none other creates it.
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UnderRoot(L"Quentar"))) << "a product-name key is left over";

    struct Older {
        const char* what;
        std::wstring name;
        std::wstring folder;  // empty: no "Folder" value
        bool deleted;
    };
    const std::wstring other = NewGuidText();
    std::vector<Older> olders = {
        {"GUID name, folder in other case", NewGuidText(), AsciiUpper(folder), true},
        {"lower-case GUID name with text after it", AsciiLower(NewGuidText()) + L" old", AsciiLower(folder), true},
        {"GUID name without braces", NewGuidText().substr(1, 36), folder, true},
        {"product name", L"Quentar", AsciiLower(folder), true},
        {"GUID name, another folder", NewGuidText(), folder + L"\\Other", false},
        {"GUID name, folder a prefix of it", NewGuidText(), folder.substr(0, folder.size() - 1), false},
        // Only A-Z are folded: \u00E4 and \u00C4 differ.
        {"GUID name, folder differing in a non-ASCII letter", NewGuidText(), [&] {
             std::wstring f = folder;
             std::replace(f.begin(), f.end(), L'\u00E4', L'\u00C4');
             return f;
         }(), false},
        {"GUID name, no folder", NewGuidText(), L"", false},
        {"plain product name", L"Quentar Old Release " + other, folder, false},
        {"name with a tab before the GUID", L"\t" + NewGuidText(), folder, false},
    };
    std::vector<std::unique_ptr<ScratchKey>> keys;
    for (const Older& o : olders) {
        keys.push_back(std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, UnderRoot(o.name)));
        ASSERT_TRUE(keys.back()->Created()) << o.what;
        if (!o.folder.empty()) {
            ASSERT_TRUE(keys.back()->SetText(L"Folder", o.folder));
        }
    }
    // The whole tree of a deleted record goes.
    ScratchKey grandchild(HKEY_LOCAL_MACHINE, keys[0]->Path() + L"\\Child\\Grandchild");
    ScratchKey sibling(HKEY_LOCAL_MACHINE, keys[0]->Path() + L"\\Sibling");
    ASSERT_TRUE(grandchild.Created() && sibling.Created());

    ASSERT_TRUE(WriteUninstallRecord(fixture.state));

    for (size_t i = 0; i < olders.size(); ++i) {
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, keys[i]->Path()), !olders[i].deleted) << olders[i].what;
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, fixture.key.Path())) << "the new record itself stays";
    EXPECT_TRUE(ReadRaw(HKEY_LOCAL_MACHINE, fixture.key.Path(), L"File1").exists);
}

// Nothing is deleted unless the new record is found exactly once, under the
// very spelling of its stored path.
TEST(UninstallRecord, SweepDeletesNothingUnlessTheNewRecordIsListedAsStored) {
    struct Case {
        const char* what;
        bool createKey;        // does the new record's key exist?
        bool storedInLowerCase;  // the stored path spells an existing upper-case name in lower case
        bool olderDeleted;
    };
    const Case cases[] = {
        {"listed exactly as stored", true, false, true},
        {"missing from the list", false, false, false},
        {"listed in other letter case", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring name = NewGuidText();
        std::unique_ptr<ScratchKey> key;
        if (c.createKey) key = std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, UnderRoot(name));
        const std::wstring folder = UniqueFolder();
        ScratchKey older(HKEY_LOCAL_MACHINE, UnderRoot(NewGuidText()));
        ASSERT_TRUE(older.SetText(L"Folder", folder));

        InstallState state;
        state.destinationFolder = FromWide(folder.c_str());
        state.applicationPath = JoinPath(state.destinationFolder, u"Quentar.exe");
        state.uninstallKeyPath = FromWide(UnderRoot(c.storedInLowerCase ? AsciiLower(name) : name).c_str());
        EXPECT_TRUE(WriteUninstallRecord(state));

        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, older.Path()), !c.olderDeleted);
        // A key that cannot be opened gets no values and is not created.
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, UnderRoot(name)), c.createKey);
        ScratchKey cleanup(HKEY_LOCAL_MACHINE, UnderRoot(name));  // removes what a faulty writer made
    }
}

// The records this program wrote for a folder are told from others by their
// GUID name, display name and removal command; their "File" values come back
// in order.
TEST(UninstallRecord, RecordsOfAFolderAreThoseThisProgramWrote) {
    const std::wstring folder = UniqueFolder();
    const std::wstring executable = folder + L"\\Quentar.exe";
    struct Case {
        const char* what;
        std::wstring name;
        std::wstring displayName;
        std::wstring folder;
        std::wstring command;
        bool found;
    };
    const std::wstring quoted = L"\"" + executable + L"\" /uninstall";
    const Case cases[] = {
        {"written now", NewGuidText(), L"Quentar 2009", folder, quoted, true},
        {"folder in other case, unquoted command of an earlier release", NewGuidText(), L"Quentar 2009",
         AsciiUpper(folder), AsciiUpper(executable) + L" /uninstall", true},
        {"another display name", NewGuidText(), L"Quentar 2009 Viewer", folder, quoted, false},
        {"another folder", NewGuidText(), L"Quentar 2009", folder + L"\\Other", quoted, false},
        {"another program removes it", NewGuidText(), L"Quentar 2009", folder,
         L"\"" + folder + L"\\Other.exe\" /uninstall", false},
        {"no GUID name", L"Quentar Copy " + NewGuidText(), L"Quentar 2009", folder, quoted, false},
    };
    std::vector<std::unique_ptr<ScratchKey>> keys;
    for (const Case& c : cases) {
        keys.push_back(std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, UnderRoot(c.name)));
        ASSERT_TRUE(keys.back()->SetText(L"DisplayName", c.displayName) && keys.back()->SetText(L"Folder", c.folder) &&
                    keys.back()->SetText(L"UninstallString", c.command) &&
                    keys.back()->SetText(L"File0", executable) && keys.back()->SetText(L"File1", folder + L"\\a.dll") &&
                    keys.back()->SetText(L"File3", folder + L"\\after a gap.dll"))
            << c.what;
    }

    const std::vector<InstallationRecord> records = RecordsOfFolder(FromWide(folder.c_str()));
    std::vector<std::wstring> expected, found;
    for (size_t i = 0; i < std::size(cases); ++i) {
        if (cases[i].found) expected.push_back(keys[i]->Path());
    }
    std::sort(expected.begin(), expected.end());  // candidates come in code-unit order
    for (const InstallationRecord& record : records) {
        found.push_back(AsWide(record.keyPath));
        EXPECT_EQ(record.files, (StringList{FromWide(executable.c_str()), FromWide((folder + L"\\a.dll").c_str())}))
            << "the File values up to the first missing one";
    }
    EXPECT_EQ(found, expected);

    const std::vector<InstallationRecord> folded = RecordsOfFolder(FromWide(AsciiLower(folder).c_str()));
    ASSERT_FALSE(folded.empty());
    EXPECT_EQ(AsWide(folded.front().keyPath), expected.front());
    EXPECT_TRUE(RecordsOfFolder(FromWide((folder + L"\\Other").c_str())).empty());
    EXPECT_TRUE(RecordsOfFolder(u"").empty());
}

// After an update, the record of the updated folder tells the new version,
// the size of the files it lists and today's date; nothing else of it
// changes, and a record of another folder is left alone.
TEST(UninstallRecord, AnUpdateRewritesVersionSizeAndDateOfItsFoldersRecord) {
    testing::TempFolder folder;
    const U16String executable = folder / u"Quentar.exe";
    ASSERT_TRUE(::CopyFileW(SETUP_EXE_PATH, AsWide(executable), FALSE));
    testing::WriteBytes(folder / u"help.pdf", std::vector<uint8_t>(3000, 1));
    const std::vector<uint8_t> program = testing::ReadBytes(executable);

    const auto makeRecord = [&](ScratchKey& key, const U16String& recordFolder) {
        return key.SetText(L"DisplayName", L"Quentar 2009") && key.SetText(L"Folder", AsWide(recordFolder)) &&
               key.SetText(L"UninstallString", L"\"" + std::wstring(AsWide(JoinPath(recordFolder, u"Quentar.exe"))) +
                                                   L"\" /uninstall") &&
               key.SetText(L"File0", AsWide(executable)) && key.SetText(L"File1", AsWide(folder / u"help.pdf")) &&
               key.SetText(L"DisplayVersion", L"1.0.0.0") && key.SetDword(L"EstimatedSize", 1) &&
               key.SetText(L"InstallDate", L"20200101") && key.SetText(L"Publisher", L"Quentar");
    };
    ScratchKey record(HKEY_LOCAL_MACHINE, UnderRoot(NewGuidText()));
    ScratchKey other(HKEY_LOCAL_MACHINE, UnderRoot(NewGuidText()));
    ASSERT_TRUE(makeRecord(record, ToAsciiLower(folder.path())));
    ASSERT_TRUE(makeRecord(other, folder / u"Other"));
    const auto valuesOf = [](const ScratchKey& key) {
        std::map<std::wstring, RawValue> values;
        for (const wchar_t* name : {L"DisplayName", L"Folder", L"UninstallString", L"File0", L"File1",
                                    L"DisplayVersion", L"EstimatedSize", L"InstallDate", L"Publisher"}) {
            values[name] = ReadRaw(HKEY_LOCAL_MACHINE, key.Path(), name);
        }
        return values;
    };
    const auto recordBefore = valuesOf(record);
    const auto otherBefore = valuesOf(other);

    InstallState state;
    state.destinationFolder = folder.path();
    state.payload = testing::MakePayload({{u"Quentar.exe", program, testing::kTime2010}});
    state.applicationEntry = FindEntry(u"Quentar.exe", state);
    RecordingWrites today;
    testing::RecordingFeedback feedback;
    {
        ScopedSystemApi scope(today);
        EXPECT_TRUE(RewriteRecordsAfterUpdate(state, feedback));
    }

    const FileVersion built{{SETUP_VERSION_PARTS}};
    const std::wstring version = std::to_wstring(built.parts[0]) + L"." + std::to_wstring(built.parts[1]) + L"." +
                                 std::to_wstring(built.parts[2]) + L"." + std::to_wstring(built.parts[3]);
    const DWORD size = static_cast<DWORD>((program.size() + 3000 + 1023) / 1024);
    ExpectStoredText(record, L"DisplayVersion", version);
    ExpectStoredDword(record.Path(), L"EstimatedSize", size);
    ExpectStoredText(record, L"InstallDate", L"20270304");
    auto recordAfter = valuesOf(record);
    for (const wchar_t* rewritten : {L"DisplayVersion", L"EstimatedSize", L"InstallDate"}) {
        recordAfter.erase(rewritten);
    }
    for (const auto& [name, value] : recordAfter) {
        EXPECT_TRUE(value.bytes == recordBefore.at(name).bytes && value.type == recordBefore.at(name).type)
            << Narrow(name) << " changed";
    }
    for (const auto& [name, value] : valuesOf(other)) {
        EXPECT_TRUE(value.bytes == otherBefore.at(name).bytes) << "the other folder's " << Narrow(name) << " changed";
    }
    EXPECT_EQ(feedback.log, (std::vector<U16String>{u"uninstall record HKLM\\" + FromWide(record.Path().c_str()) +
                                                    u" brought up to date: DisplayVersion " +
                                                    FromWide(version.c_str()) + u", EstimatedSize " +
                                                    FromUtf8(std::to_string(size)) + u" KB, InstallDate 20270304"}));

    // Without a record of the folder nothing is written, and the log says so.
    state.destinationFolder = folder / u"Nowhere";
    testing::RecordingFeedback none;
    EXPECT_TRUE(RewriteRecordsAfterUpdate(state, none));
    EXPECT_EQ(none.log, (std::vector<U16String>{u"no uninstall record of " + state.destinationFolder +
                                                u" to bring up to date"}));
}

TEST(UninstallRecord, CandidatesStartWithTheProductNameThenSortByCodeUnits) {
    // Names whose order differs between code units and case-blind order:
    // "B" (0x42) sorts before "a" (0x61).
    const std::wstring tag = NewGuidText();
    ScratchKey lower(HKEY_LOCAL_MACHINE, UnderRoot(L"a" + tag));
    ScratchKey upper(HKEY_LOCAL_MACHINE, UnderRoot(L"B" + tag));
    ScratchKey accented(HKEY_LOCAL_MACHINE, UnderRoot(L"\u00E9" + tag));
    ASSERT_TRUE(lower.Created() && upper.Created() && accented.Created());

    const StringList candidates = ListRecordCandidates();
    ASSERT_GE(candidates.size(), 4u);
    EXPECT_EQ(candidates[0], u"Quentar");
    EXPECT_TRUE(std::is_sorted(candidates.begin() + 1, candidates.end()));
    const auto at = [&](const std::wstring& name) {
        return std::find(candidates.begin(), candidates.end(), FromWide(name.c_str())) - candidates.begin();
    };
    const auto a = at(L"a" + tag), b = at(L"B" + tag), e = at(L"\u00E9" + tag);
    ASSERT_LT(e, static_cast<ptrdiff_t>(candidates.size())) << "every subkey is listed";
    EXPECT_LT(b, a);
    EXPECT_LT(a, e);
}

TEST(UninstallRecord, ReadStringValueAcceptsOnlyTerminatedTexts) {
    ScratchKey key(HKEY_CURRENT_USER, L"Software\\QuentarTests\\" + NewGuidText());
    ASSERT_TRUE(key.Created());
    const std::wstring text = L"C:\\Program Files\\Quentar 2009";
    const DWORD withNul = static_cast<DWORD>((text.size() + 1) * 2);
    ASSERT_TRUE(key.SetText(L"sz", text));
    ASSERT_TRUE(key.SetText(L"expand", L"%ProgramFiles%\\Quentar", REG_EXPAND_SZ));
    ASSERT_TRUE(key.SetText(L"multi", text, REG_MULTI_SZ));
    ASSERT_TRUE(key.SetDword(L"dword", 7));
    // The system counts a NUL the caller left out when one follows in memory:
    // a character follows instead, so the value really ends without one.
    ASSERT_TRUE(key.SetText(L"unterminated", text + L"Z", REG_SZ, withNul - 2));
    ASSERT_EQ(ReadRaw(HKEY_CURRENT_USER, key.Path(), L"unterminated").bytes.size(), withNul - 2);
    ASSERT_TRUE(key.SetText(L"odd", text, REG_SZ, withNul - 1));
    ASSERT_TRUE(key.SetText(L"empty", L"", REG_SZ, 0));
    ASSERT_TRUE(key.SetText(L"nul only", L""));

    struct Case {
        const wchar_t* name;
        DWORD capacity;
        LSTATUS result;
        const wchar_t* text;  // on success
        DWORD length;         // on success: characters read, terminator included
    };
    const DWORD exact = static_cast<DWORD>(text.size() + 1);
    const Case cases[] = {
        {L"sz", 500, ERROR_SUCCESS, text.c_str(), exact},
        {L"sz", exact, ERROR_SUCCESS, text.c_str(), exact},
        {L"sz", exact - 1, ERROR_MORE_DATA, nullptr, 0},
        {L"expand", 500, ERROR_SUCCESS, L"%ProgramFiles%\\Quentar", 23},
        {L"multi", 500, ERROR_INVALID_DATA, nullptr, 0},
        {L"dword", 500, ERROR_INVALID_DATA, nullptr, 0},
        {L"unterminated", 500, ERROR_INVALID_DATA, nullptr, 0},
        {L"odd", 500, ERROR_INVALID_DATA, nullptr, 0},
        {L"empty", 500, ERROR_SUCCESS, L"", 1},
        {L"nul only", 500, ERROR_SUCCESS, L"", 1},
        {L"missing", 500, ERROR_FILE_NOT_FOUND, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << Narrow(c.name) << ", capacity " << c.capacity);
        std::vector<wchar_t> buffer(500, L'#');
        DWORD length = c.capacity;
        EXPECT_EQ(ReadStringValue(key.Get(), c.name, buffer.data(), length), c.result);
        if (c.result == ERROR_SUCCESS) {
            EXPECT_EQ(length, c.length);
            EXPECT_EQ(Narrow(buffer.data()), Narrow(c.text));
        }
    }
}

TEST(UninstallRecord, WriteStringValueRefusesANullText) {
    ScratchKey key(HKEY_CURRENT_USER, L"Software\\QuentarTests\\" + NewGuidText());
    ASSERT_TRUE(key.Created());
    EXPECT_EQ(WriteStringValue(key.Get(), L"none", nullptr, REG_SZ), ERROR_INVALID_DATA);
    EXPECT_FALSE(ReadRaw(HKEY_CURRENT_USER, key.Path(), L"none").exists);

    EXPECT_EQ(WriteStringValue(key.Get(), L"expand", L"%TEMP%", REG_EXPAND_SZ), ERROR_SUCCESS);
    const RawValue expand = ReadRaw(HKEY_CURRENT_USER, key.Path(), L"expand");
    EXPECT_EQ(expand.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(expand.bytes.size(), 14u);
    EXPECT_EQ(WriteStringValue(key.Get(), L"empty", L"", REG_SZ), ERROR_SUCCESS);
    EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, key.Path(), L"empty").bytes.size(), 2u);
}

TEST(UninstallRecord, DeleteKeyTreeRemovesEveryLevel) {
    const std::wstring parentPath = L"Software\\QuentarTests\\" + NewGuidText();
    ScratchKey parent(HKEY_CURRENT_USER, parentPath);
    ASSERT_TRUE(parent.Created());
    // Several siblings on each level: deleting while enumerating would skip
    // every second one.
    std::vector<std::unique_ptr<ScratchKey>> tree;
    for (const wchar_t* sub : {L"Record\\A\\1", L"Record\\A\\2", L"Record\\A\\3", L"Record\\B", L"Record\\C\\1\\x",
                               L"Record\\D", L"Record\\E"}) {
        tree.push_back(std::make_unique<ScratchKey>(HKEY_CURRENT_USER, parentPath + L"\\" + sub));
        ASSERT_TRUE(tree.back()->Created());
    }
    ASSERT_TRUE(tree.back()->SetText(L"Folder", L"C:\\x"));
    ScratchKey neighbour(HKEY_CURRENT_USER, parentPath + L"\\Neighbour");

    EXPECT_EQ(DeleteKeyTree(parent.Get(), L"Record"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, parentPath + L"\\Record"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, neighbour.Path()));

    EXPECT_EQ(DeleteKeyTree(parent.Get(), L"Record"), kKeyNotOpened);
}

}  // namespace
}  // namespace quentar
