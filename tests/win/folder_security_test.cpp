// Folders only administrators can change: the rights each creating or
// setting call passes (recorded as SDDL, since Wine keeps no descriptor of
// its own), the judgement of who may write, fresh private folders that never
// reuse a name, and removal without following links.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "rights_recorder.h"
#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

using testing::Canonical;
using testing::Exists;
using testing::RightsRecorder;
using testing::TempFolder;

TEST(FolderSecurity, AFolderIsCreatedWithOnlyAdministratorsAndSystemAllowedToWrite) {
    TempFolder temp;
    RightsRecorder recorder;
    ScopedSystemApi scope(recorder);

    const U16String folder = temp / u"private";
    ASSERT_EQ(CreateFolderWithRights(folder, kAdministratorsOnlyRights), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(folder));
    ASSERT_EQ(recorder.created.size(), 1u);
    EXPECT_EQ(recorder.created[0].path, folder);
    const U16String sddl = recorder.created[0].sddl;
    EXPECT_EQ(sddl, Canonical(kAdministratorsOnlyRights));
    // Owner Administrators, a protected DACL, and no ACE for anybody else.
    EXPECT_EQ(sddl.rfind(u"O:BAD:P", 0), 0u) << ToUtf8(sddl);
    EXPECT_EQ(sddl.find(u";BU)"), U16String::npos) << ToUtf8(sddl);
    EXPECT_EQ(sddl.find(u";WD)"), U16String::npos) << ToUtf8(sddl);

    // The name is taken now: a second creation never takes the folder over.
    EXPECT_EQ(CreateFolderWithRights(folder, kAdministratorsOnlyRights), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(FolderSecurity, OthersMayWriteReadsTheOwnerAndEveryAllowingAce) {
    const ProcessAccount account;
    ASSERT_NE(account.Sid(), nullptr);
    LPWSTR own = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(account.Sid(), &own));
    const U16String me = FromWide(own);
    ::LocalFree(own);

    struct Case {
        const char* name;
        U16String sddl;
        bool othersMayWrite;
    };
    const Case cases[] = {
        {"administrators only", kAdministratorsOnlyRights, false},
        {"program folder rights", kInstalledProgramRights, false},
        {"users may modify", u"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", true},
        {"authenticated users may append", u"O:BAD:(A;;FA;;;BA)(A;;0x4;;;AU)", true},
        {"everybody may delete", u"O:BAD:(A;;FA;;;BA)(A;;SD;;;WD)", true},
        {"users may change the permissions", u"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", true},
        {"users may write, inherited by files only", u"O:BAD:(A;;FA;;;BA)(A;OICIIO;FW;;;BU)", true},
        {"generic write for users", u"O:BAD:(A;;FA;;;BA)(A;;GW;;;BU)", true},
        {"a user owns it", u"O:BUD:(A;;FA;;;BA)", true},
        {"writing denied to users", u"O:BAD:(D;;FW;;;BU)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", false},
        {"creator owner and TrustedInstaller",
         u"O:SYD:(A;OICIIO;GA;;;CO)(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", false},
        {"the installing account itself", u"O:" + me + u"D:(A;OICI;FA;;;" + me + u")", false},
    };
    for (const Case& c : cases) {
        SddlDescriptor descriptor;
        ASSERT_EQ(descriptor.Parse(c.sddl), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(OthersMayWrite(descriptor.get(), account.Sid()), c.othersMayWrite) << c.name;
    }
    // No DACL at all lets everybody do everything (made by hand: not every
    // SDDL parser gives a null DACL for "NO_ACCESS_CONTROL").
    SddlDescriptor owned;
    ASSERT_EQ(owned.Parse(u"O:BAD:"), ERROR_SUCCESS);
    PSID administrators = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(owned.get(), &administrators, &defaulted));
    SECURITY_DESCRIPTOR open;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorOwner(&open, administrators, FALSE));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_TRUE(OthersMayWrite(&open, account.Sid()));

    // Without the installing account, its own folder counts as another's.
    SddlDescriptor mine;
    ASSERT_EQ(mine.Parse(u"O:" + me + u"D:(A;OICI;FA;;;" + me + u")"), ERROR_SUCCESS);
    EXPECT_TRUE(OthersMayWrite(mine.get(), nullptr));
}

TEST(FolderSecurity, AnExistingFolderGetsAdministratorsOnlyRightsOnlyWhenOthersMayWrite) {
    TempFolder temp;
    const U16String folder = temp / u"Quentar Setup";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(folder), nullptr));

    struct Case {
        const char* name;
        U16String found;
        bool changed;
    };
    const Case cases[] = {
        {"users may write", u"O:BUD:(A;OICI;FA;;;BU)", true},
        {"already administrators only", kAdministratorsOnlyRights, false},
    };
    for (const Case& c : cases) {
        RightsRecorder recorder;
        recorder.answer = c.found;
        ScopedSystemApi scope(recorder);
        FolderRights rights;
        ASSERT_EQ(EnsureAdministratorsOnlyFolder(folder, &rights), ERROR_SUCCESS) << c.name;
        EXPECT_FALSE(rights.created) << c.name;
        EXPECT_EQ(rights.changed, c.changed) << c.name;
        EXPECT_EQ(rights.found, Canonical(c.found)) << c.name;
        EXPECT_TRUE(recorder.created.empty()) << c.name;
        if (c.changed) {
            ASSERT_EQ(recorder.set.size(), 1u) << c.name;
            EXPECT_EQ(recorder.set[0].path, folder);
            EXPECT_EQ(recorder.set[0].sddl, Canonical(kAdministratorsOnlyRights)) << c.name;
        } else {
            EXPECT_TRUE(recorder.set.empty()) << c.name;
        }
    }
}

TEST(FolderSecurity, AMissingFolderIsMadeAndAFileOrLinkAtTheNameIsRefused) {
    TempFolder temp;
    {
        RightsRecorder recorder;
        ScopedSystemApi scope(recorder);
        FolderRights rights;
        ASSERT_EQ(EnsureAdministratorsOnlyFolder(temp / u"Logs", &rights), ERROR_SUCCESS);
        EXPECT_TRUE(rights.created);
        ASSERT_EQ(recorder.created.size(), 1u);
        EXPECT_EQ(recorder.created[0].sddl, Canonical(kAdministratorsOnlyRights));
    }

    testing::WriteBytes(temp / u"file", testing::Bytes("not a folder"));
    EXPECT_EQ(EnsureAdministratorsOnlyFolder(temp / u"file"), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(testing::ReadBytes(temp / u"file"), testing::Bytes("not a folder"));

    // A junction in the way (the attributes a junction reads back with).
    class LinkAtTheName : public ForwardingSystemApi {
    public:
        LinkAtTheName() : ForwardingSystemApi(Sys()) {}
        DWORD GetFileAttributesW(LPCWSTR) override { return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT; }
        DWORD SetNamedSecurityInfoW(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) override {
            ADD_FAILURE() << "the rights of a link's target were changed";
            return ERROR_ACCESS_DENIED;
        }
    } link;
    ScopedSystemApi scope(link);
    EXPECT_EQ(EnsureAdministratorsOnlyFolder(temp / u"junction"), kReparsePointEncountered);
}

// A file left in place gets the owner Administrators and only what its
// folder passes on: its own ACEs go, and its DACL is not protected.
TEST(FolderSecurity, InheritRightsLeavesAFileOnlyWhatItsFolderPassesOn) {
    TempFolder temp;
    const U16String file = temp / u"repo.jpg";
    testing::WriteBytes(file, testing::Bytes("kept"));
    RightsRecorder recorder;
    ScopedSystemApi scope(recorder);
    ASSERT_EQ(InheritRights(file), ERROR_SUCCESS);
    ASSERT_EQ(recorder.set.size(), 1u);
    EXPECT_EQ(recorder.set[0].path, file);
    EXPECT_EQ(recorder.set[0].sddl, Canonical(u"O:BAD:"));
    EXPECT_TRUE(recorder.unprotected[0]);
    EXPECT_EQ(testing::ReadBytes(file), testing::Bytes("kept"));
}

TEST(FolderSecurity, APrivateFolderNeverReusesANameThatIsTaken) {
    TempFolder temp;
    const GUID taken = {0x11111111, 0x2222, 0x3333, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb}};
    const GUID fresh = {0xcccccccc, 0xdddd, 0xeeee, {0xff, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}};
    // A user planted a folder, with a file in it, at the first name drawn.
    const U16String planted = temp / u"qs-1111111122223333445566778899aabb";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(planted), nullptr));
    testing::WriteBytes(planted + u"\\version.dll", testing::Bytes("planted"));

    RightsRecorder recorder;
    recorder.guids = {taken, fresh};
    ScopedSystemApi scope(recorder);
    U16String made;
    ASSERT_EQ(CreatePrivateFolder(temp.path(), u"qs-", made), ERROR_SUCCESS);
    EXPECT_EQ(made, temp / u"qs-ccccccccddddeeeeff00010203040506");
    EXPECT_TRUE(Exists(made));
    EXPECT_FALSE(Exists(made + u"\\version.dll"));
    ASSERT_EQ(recorder.created.size(), 2u);
    EXPECT_EQ(recorder.created[1].sddl, Canonical(kAdministratorsOnlyRights));
    EXPECT_TRUE(recorder.set.empty()) << "the planted folder's rights were touched";
    EXPECT_EQ(testing::ReadBytes(planted + u"\\version.dll"), testing::Bytes("planted"));
}

TEST(FolderSecurity, RemoveFolderTreeDeletesEverythingBelowIt) {
    TempFolder temp;
    const U16String root = temp / u"run";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(root), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(AsWide(root + u"\\sub"), nullptr));
    testing::WriteBytes(root + u"\\a.msi", testing::Bytes("a"));
    testing::WriteBytes(root + u"\\sub\\b.txt", testing::Bytes("b"));
    ASSERT_TRUE(::SetFileAttributesW(AsWide(root + u"\\sub\\b.txt"), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(Exists(root));
}

TEST(FolderSecurity, TheTemporaryFolderComesFromGetTempPath2WhereTheSystemHasIt) {
    // Where kernel32 lacks GetTempPath2W the classic call answers.
    class WithoutTempPath2 : public ForwardingSystemApi {
    public:
        WithoutTempPath2() : ForwardingSystemApi(Sys()) {}
        FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
            if (std::strcmp(name, "GetTempPath2W") == 0) {
                asked = true;
                return nullptr;
            }
            return inner_.GetProcAddress(module, name);
        }
        DWORD GetTempPathW(DWORD size, LPWSTR buffer) override {
            classic = true;
            return inner_.GetTempPathW(size, buffer);
        }
        bool asked = false;
        bool classic = false;
    } api;
    ScopedSystemApi scope(api);
    const U16String folder = SystemTempFolder();
    EXPECT_TRUE(api.asked);
    EXPECT_TRUE(api.classic);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_TRUE(Exists(folder));
}

}  // namespace
}  // namespace quentar
