// Taking back a failed installation: what it wrote goes, what was there
// before comes back byte for byte, and the record key is deleted one level
// deep. Real files and registry keys under Wine; the once-per-process lookup
// of RegDeleteKeyExW through an injected GetProcAddress.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "install/chunk_plan.h"
#include "install/file_install.h"
#include "platform/system_api.h"
#include "removal/remove_installation.h"

namespace quentar {
namespace {

// The engine tests' helpers (engine_test_support.h).
using namespace quentar::testing;

const U16String kUninstallRoot = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Everything below a folder: relative path -> content and last-write time
// (folders with an empty content and time 0).
struct Item {
    std::vector<uint8_t> bytes;
    uint64_t written = 0;
    bool folder = false;
    bool operator==(const Item& o) const { return bytes == o.bytes && written == o.written && folder == o.folder; }
};
using Snapshot = std::map<U16String, Item>;

void Collect(const U16String& root, const U16String& relative, Snapshot& out) {
    WIN32_FIND_DATAW data;
    const U16String folder = relative.empty() ? root : root + u"\\" + relative;
    const HANDLE search = ::FindFirstFileW(AsWide(folder + u"\\*"), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const U16String name = FromWide(data.cFileName);
        if (name == u"." || name == u"..") continue;
        const U16String child = relative.empty() ? name : relative + u"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[child] = Item{{}, 0, true};
            Collect(root, child, out);
        } else {
            out[child] = Item{ReadBytes(root + u"\\" + child), testing::ToCount(data.ftLastWriteTime), false};
        }
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
}

Snapshot SnapshotOf(const U16String& root) {
    Snapshot s;
    Collect(root, U16String(), s);
    return s;
}

std::string Names(const Snapshot& s) {
    std::string names;
    for (const auto& [name, item] : s) names += ToUtf8(name) + (item.folder ? "\\ " : " ");
    return names;
}

bool KeyExists(HKEY root, const U16String& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, AsWide(path), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

void CreateKey(HKEY root, const U16String& path) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, AsWide(path), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void SetString(HKEY root, const U16String& path, const wchar_t* name, const U16String& value) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(root, AsWide(path), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * 2));
    ::RegCloseKey(key);
}

// A uninstall-record key name of its own for each test.
U16String FreshRecordPath() {
    GUID guid{};
    ::CoCreateGuid(&guid);
    wchar_t name[64];
    swprintf(name, 64, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(guid.Data1),
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
             guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return kUninstallRoot + u"\\" + FromWide(name);
}

// Deletes a key and everything below it (clean-up after a test).
struct KeyCleanup {
    HKEY root;
    U16String path;
    ~KeyCleanup() {
        ::RegDeleteTreeW(root, AsWide(path));
        ::RegDeleteKeyW(root, AsWide(path));
    }
};

TEST(RemoveInstallation, TakesBackWhatItWroteAndPutsTheEarlierInstallationBack) {
    TempFolder root;
    const U16String destination = root / u"Quentar 2009";
    const U16String programFolder = root / u"Programs";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(destination), nullptr));
    // The earlier installation: an older executable and SDK, a companion
    // identical to the one carried, and a file of the user's.
    const std::vector<uint8_t> companion = PatternBytes(9000, 21);
    WriteBytes(destination + u"\\Quentar.exe", Bytes("earlier executable"));
    WriteBytes(destination + u"\\AV2000SDK.dll", Bytes("earlier SDK"));
    WriteBytes(destination + u"\\zorbel.dll", companion);
    WriteBytes(destination + u"\\notes.txt", Bytes("the user's notes"));
    for (const char16_t* name : {u"Quentar.exe", u"AV2000SDK.dll", u"zorbel.dll", u"notes.txt"}) {
        testing::SetTimes(destination + u"\\" + name, testing::kTime2001);
    }
    const Snapshot before = SnapshotOf(root.path());

    // The installation up to its failure: the record key with a few values
    // and a subkey, the files, a shortcut in a new program folder.
    InstallState state;
    RecordingFeedback feedback;
    state.destinationFolder = destination;
    state.uninstallKeyPath = FreshRecordPath();
    KeyCleanup cleanup{HKEY_LOCAL_MACHINE, state.uninstallKeyPath};
    CreateKey(HKEY_LOCAL_MACHINE, state.uninstallKeyPath);
    SetString(HKEY_LOCAL_MACHINE, state.uninstallKeyPath, L"DisplayName", u"Quentar 2009");
    SetString(HKEY_LOCAL_MACHINE, state.uninstallKeyPath, L"Folder", destination);
    CreateKey(HKEY_LOCAL_MACHINE, state.uninstallKeyPath + u"\\Leaf");
    const std::vector<uint8_t> application = PatternBytes(30000, 1);
    state.payload = testing::MakePayload({{u"Quentar.exe", application, testing::kTime2010},
                                          {u"AV2000SDK.dll", Bytes("new SDK"), testing::kTime2010},
                                          {u"help.pdf", Bytes("new manual"), testing::kTime2010},
                                          {u"zorbel.dll", companion, testing::kTime2010}});
    ASSERT_TRUE(testing::WriteApplicationTo(state, destination + u"\\Quentar.exe", feedback));
    ASSERT_TRUE(InstallEntryFile(state, u"AV2000SDK.dll", feedback));
    ASSERT_TRUE(InstallEntryFile(state, u"help.pdf", feedback));
    ASSERT_TRUE(InstallEntryFile(state, u"zorbel.dll", feedback));
    ASSERT_TRUE(::CreateDirectoryW(AsWide(programFolder), nullptr));
    {
        // A shortcut, put in place as the shortcuts are.
        const U16String link = programFolder + u"\\Quentar.lnk";
        U16String temporary;
        ASSERT_EQ(PrepareTemporaryName(link, temporary, feedback), static_cast<DWORD>(ERROR_SUCCESS));
        WriteBytes(temporary, Bytes("new link"));
        ASSERT_EQ(PutWholeFileInPlace(state, link, temporary, WhenNotMovable::Fail, feedback),
                  static_cast<DWORD>(ERROR_SUCCESS));
        AddUnique(state.installedFolders, programFolder);
        AddUnique(state.installedFiles, link);
    }
    ASSERT_EQ(state.replacedFiles.size(), 2u);
    ASSERT_EQ(state.keptFiles, StringList{destination + u"\\zorbel.dll"});
    const StringList installedFiles = state.installedFiles;
    ASSERT_EQ(installedFiles.size(), 5u);

    RemoveInstallation(state, feedback);

    const Snapshot after = SnapshotOf(root.path());
    EXPECT_EQ(after, before) << "before: " << Names(before) << "\nafter:  " << Names(after);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, state.uninstallKeyPath));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallRoot));
    // The files moved back are no longer waiting for deletion; the lists of
    // what was installed are left as they were.
    EXPECT_TRUE(state.replacedFiles.empty());
    EXPECT_EQ(state.installedFiles, installedFiles);
    EXPECT_TRUE(feedback.messages.empty());
}

TEST(RemoveInstallation, DeletesTheRecordsSubkeysOneLevelDeep) {
    InstallState state;
    RecordingFeedback feedback;
    state.uninstallKeyPath = FreshRecordPath();
    KeyCleanup cleanup{HKEY_LOCAL_MACHINE, state.uninstallKeyPath};
    CreateKey(HKEY_LOCAL_MACHINE, state.uninstallKeyPath + u"\\Leaf");
    CreateKey(HKEY_LOCAL_MACHINE, state.uninstallKeyPath + u"\\Branch\\Twig");

    RemoveInstallation(state, feedback);

    // A subkey with subkeys of its own survives, and so does the record key
    // that still holds it.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, state.uninstallKeyPath + u"\\Leaf"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, state.uninstallKeyPath + u"\\Branch\\Twig"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, state.uninstallKeyPath));
}

// Counts what the removal touches.
class CountingRemoval : public ForwardingSystemApi {
public:
    CountingRemoval() : ForwardingSystemApi(Sys()) {}
    BOOL DeleteFileW(LPCWSTR name) override { return ++calls, inner_.DeleteFileW(name); }
    BOOL MoveFileW(LPCWSTR from, LPCWSTR to) override { return ++calls, inner_.MoveFileW(from, to); }
    BOOL RemoveDirectoryW(LPCWSTR name) override { return ++calls, inner_.RemoveDirectoryW(name); }
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
        return ++calls, inner_.RegOpenKeyExW(key, subKey, options, access, result);
    }
    int calls = 0;
};

TEST(RemoveInstallation, AfterAFailureBeforeTheRecordKeyNothingIsTouched) {
    InstallState state;
    RecordingFeedback feedback;
    CountingRemoval counter;
    ScopedSystemApi scope(counter);

    RemoveInstallation(state, feedback);

    EXPECT_EQ(counter.calls, 0);
}

// Answers the run-time lookup of RegDeleteKeyExW as chosen, and records the
// deletions made either way.
enum class Offer { Function, NoFunction, NoModule };

class DeleteKeyLookup : public ForwardingSystemApi {
public:
    explicit DeleteKeyLookup(Offer offer) : ForwardingSystemApi(Sys()), offer_(offer) { current_ = this; }
    ~DeleteKeyLookup() override { current_ = nullptr; }

    HMODULE GetModuleHandleW(LPCWSTR name) override {
        moduleLookups.push_back(FromWide(name));
        return offer_ == Offer::NoModule ? nullptr : inner_.GetModuleHandleW(name);
    }
    FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
        functionLookups.emplace_back(name);
        if (offer_ != Offer::Function) return nullptr;
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RecordingDeleteKeyEx));
    }
    LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) override {
        plainDeletions.push_back(FromWide(subKey));
        return inner_.RegDeleteKeyW(key, subKey);
    }

    std::vector<U16String> moduleLookups;
    std::vector<std::string> functionLookups;
    std::vector<U16String> plainDeletions;
    struct ExCall {
        U16String name;
        REGSAM access;
        DWORD reserved;
    };
    std::vector<ExCall> exDeletions;

private:
    static LSTATUS WINAPI RecordingDeleteKeyEx(HKEY key, LPCWSTR name, REGSAM access, DWORD reserved) {
        current_->exDeletions.push_back({FromWide(name), access, reserved});
        return ::RegDeleteKeyExW(key, name, access, reserved);
    }
    static inline DeleteKeyLookup* current_ = nullptr;
    Offer offer_;
};

TEST(RemoveSubkey, AsksOncePerProcessWhetherRegDeleteKeyExWIsOffered) {
    struct Case {
        const char* what;
        Offer offer;
        bool exUsed;
        size_t functionLookups;
    };
    const Case cases[] = {
        {"offered", Offer::Function, true, 1},
        {"GetProcAddress fails", Offer::NoFunction, false, 1},
        {"Advapi32.dll not found", Offer::NoModule, false, 0},
    };
    const U16String parent = u"Software\\QuentarEngineTest";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KeyCleanup cleanup{HKEY_CURRENT_USER, parent};
        CreateKey(HKEY_CURRENT_USER, parent + u"\\First");
        CreateKey(HKEY_CURRENT_USER, parent + u"\\Second");
        CreateKey(HKEY_CURRENT_USER, parent + u"\\Third\\Child");
        UniqueKey key;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, AsWide(parent), 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
        ForgetRegDeleteKeyExLookup();
        DeleteKeyLookup lookup(c.offer);
        {
            ScopedSystemApi scope(lookup);
            EXPECT_EQ(RemoveSubkey(key.get(), L"First"), ERROR_SUCCESS);
            EXPECT_EQ(RemoveSubkey(key.get(), L"Second"), ERROR_SUCCESS);
            // One level only: a key with a subkey is not deleted.
            EXPECT_NE(RemoveSubkey(key.get(), L"Third"), ERROR_SUCCESS);
        }
        ForgetRegDeleteKeyExLookup();

        EXPECT_EQ(lookup.moduleLookups, std::vector<U16String>{u"Advapi32.dll"});
        EXPECT_EQ(lookup.functionLookups.size(), c.functionLookups);
        if (c.functionLookups > 0) {
            EXPECT_EQ(lookup.functionLookups[0], "RegDeleteKeyExW");
        }
        const std::vector<U16String> all{u"First", u"Second", u"Third"};
        if (c.exUsed) {
            EXPECT_TRUE(lookup.plainDeletions.empty());
            ASSERT_EQ(lookup.exDeletions.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(lookup.exDeletions[i].name, all[i]);
                EXPECT_EQ(lookup.exDeletions[i].access, 0u);
                EXPECT_EQ(lookup.exDeletions[i].reserved, 0u);
            }
        } else {
            EXPECT_EQ(lookup.plainDeletions, all);
            EXPECT_TRUE(lookup.exDeletions.empty());
        }
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, parent + u"\\First"));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, parent + u"\\Second"));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, parent + u"\\Third\\Child"));
    }
}

}  // namespace
}  // namespace quentar
