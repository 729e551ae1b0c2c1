// Shortcuts written through the real shell-link objects of Wine's shell and
// read back the same way, in the prefix's own Start-menu Programs folder and
// on its desktop.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "install/file_install.h"
#include "install/shortcuts.h"
#include "install/staged_names.h"
#include "platform/system_api.h"
#include "platform/wide.h"
#include "removal/remove_installation.h"
#include "tests/common/shell_link_reader.h"

namespace quentar {
namespace {

using testing::RecordingFeedback;
using testing::TempFolder;

std::wstring W(const U16String& text) { return std::wstring(AsWide(text)); }

U16String ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) ? FromWide(path) : U16String();
}

// An installation's state pointing at a destination of its own, with a
// program folder name no other test uses.
class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        programFolderName_ = u"Quentar shortcuts " + destination_.path().substr(destination_.path().rfind(u'\\') + 1);
        programFolder_ = ShellFolder(CSIDL_PROGRAMS) + u"\\" + programFolderName_;
        desktopLink_ = ShellFolder(CSIDL_DESKTOPDIRECTORY) + u"\\Quentar.lnk";
        ::DeleteFileW(AsWide(desktopLink_));
        ResetState();
    }
    void ResetState() {
        state_ = InstallState{};
        state_.destinationFolder = destination_.path();
        state_.applicationPath = destination_ / u"Quentar.exe";
        state_.programFolderName = programFolderName_;
    }
    void TearDown() override {
        TempFolder::RemoveTree(programFolder_);
        ::DeleteFileW(AsWide(desktopLink_));
        ::CoUninitialize();
    }

    TempFolder destination_;
    InstallState state_;
    RecordingFeedback feedback_;
    U16String programFolderName_;
    U16String programFolder_;
    U16String desktopLink_;
};

TEST_F(Shortcuts, ProgramFolderAndDesktopLinksReadBackAsWritten) {
    for (const bool desktop : {false, true}) {
        SCOPED_TRACE(desktop ? "with the desktop shortcut" : "without it");
        ResetState();
        state_.createDesktopShortcut = desktop;

        CreateShortcuts(state_, feedback_);

        EXPECT_EQ(state_.programFolderPath, programFolder_);
        EXPECT_EQ(state_.installedFolders, StringList{programFolder_});
        StringList links = {programFolder_ + u"\\Quentar.lnk", programFolder_ + u"\\Uninstall Quentar.lnk"};
        if (desktop) links.push_back(desktopLink_);
        EXPECT_EQ(state_.installedFiles, links);
        EXPECT_TRUE(state_.replacedFiles.empty());
        EXPECT_EQ(state_.runPath, state_.applicationPath);
        EXPECT_EQ(state_.runDirectory, state_.destinationFolder);
        EXPECT_EQ(testing::Exists(desktopLink_), desktop);

        for (const U16String& file : links) {
            SCOPED_TRACE(ToUtf8(file));
            const bool uninstall = file.find(u"Uninstall") != U16String::npos;
            const link_reader::LinkFacts link = link_reader::ReadLink(W(file));
            ASSERT_TRUE(link.loaded);
            EXPECT_EQ(link.path, W(state_.applicationPath));
            EXPECT_EQ(link.arguments, uninstall ? L"/uninstall" : L"");
            EXPECT_EQ(link.workingDirectory, W(state_.destinationFolder));
            EXPECT_EQ(link.description, uninstall ? L"Uninstall" : L"Quentar");
            EXPECT_EQ(link.iconPath, W(state_.applicationPath));
            EXPECT_EQ(link.iconIndex, 0);
            EXPECT_EQ(link.hotkey, 0);
            EXPECT_EQ(link.showCommand, static_cast<DWORD>(SW_SHOWMAXIMIZED));
        }
        TempFolder::RemoveTree(programFolder_);
        ::DeleteFileW(AsWide(desktopLink_));
    }
}

TEST_F(Shortcuts, ForAllUsersTheyGoToTheCommonStartMenuAndDesktop) {
    const U16String commonFolder = ShellFolder(CSIDL_COMMON_PROGRAMS) + u"\\" + programFolderName_;
    const U16String commonDesktopLink = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + u"\\Quentar.lnk";
    ASSERT_NE(commonFolder, programFolder_);
    ASSERT_NE(commonDesktopLink, desktopLink_);
    ::DeleteFileW(AsWide(commonDesktopLink));
    state_.createDesktopShortcut = true;
    state_.shortcutsForAllUsers = true;

    CreateShortcuts(state_, feedback_);

    EXPECT_EQ(state_.programFolderPath, commonFolder);
    const StringList links = {commonFolder + u"\\Quentar.lnk", commonFolder + u"\\Uninstall Quentar.lnk",
                              commonDesktopLink};
    EXPECT_EQ(state_.installedFiles, links);
    for (const U16String& file : links) {
        EXPECT_EQ(link_reader::ReadLink(W(file)).path, W(state_.applicationPath)) << ToUtf8(file);
    }
    EXPECT_FALSE(testing::Exists(programFolder_)) << "nothing in the user's own Start menu";
    EXPECT_FALSE(testing::Exists(desktopLink_)) << "nothing on the user's own desktop";
    TempFolder::RemoveTree(commonFolder);
    ::DeleteFileW(AsWide(commonDesktopLink));
}

TEST_F(Shortcuts, EarlierShortcutsAreMovedAsideAndComeBackWhenTheInstallationIsTakenBack) {
    ASSERT_TRUE(::CreateDirectoryW(AsWide(programFolder_), nullptr));
    const U16String link = programFolder_ + u"\\Quentar.lnk";
    ASSERT_TRUE(link_reader::WriteLink(W(link), L"C:\\Earlier\\Quentar.exe", L"", L"the earlier shortcut"));
    const std::vector<uint8_t> earlier = testing::ReadBytes(link);

    CreateShortcuts(state_, feedback_);

    // The new shortcut is in place; the earlier one waits beside it.
    EXPECT_EQ(link_reader::ReadLink(W(link)).description, L"Quentar");
    ASSERT_EQ(state_.replacedFiles.size(), 1u);
    EXPECT_EQ(OriginalNameOf(state_.replacedFiles[0]), link) << ToUtf8(state_.replacedFiles[0]);
    const U16String aside = state_.replacedFiles[0];
    EXPECT_EQ(testing::ReadBytes(aside), earlier);
    EXPECT_EQ(state_.runPath, state_.applicationPath);

    RemoveInstallation(state_, feedback_);

    EXPECT_EQ(testing::ReadBytes(link), earlier) << "the earlier shortcut is not back";
    EXPECT_FALSE(testing::Exists(aside));
    EXPECT_FALSE(testing::Exists(programFolder_ + u"\\Uninstall Quentar.lnk"));
    EXPECT_TRUE(testing::Exists(programFolder_)) << "the folder holds the earlier shortcut";
}

// Refuses to move anything whose name is `name` aside (it is held open
// without sharing its deletion, say).
class AsideRefused : public ForwardingSystemApi {
public:
    explicit AsideRefused(U16String name) : ForwardingSystemApi(Sys()), name_(std::move(name)) {}
    BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
        if (FromWide(from) == name_ && to != nullptr && !OriginalNameOf(FromWide(to)).empty()) {
            ::SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        return inner_.MoveFileExW(from, to, flags);
    }

private:
    U16String name_;
};

TEST_F(Shortcuts, AnEarlierShortcutThatCannotBeMovedAsideIsWrittenOverAndTheNewOneCounts) {
    ASSERT_TRUE(::CreateDirectoryW(AsWide(programFolder_), nullptr));
    const U16String link = programFolder_ + u"\\Quentar.lnk";
    ASSERT_TRUE(link_reader::WriteLink(W(link), L"C:\\Earlier\\Quentar.exe", L"", L"the earlier shortcut"));

    AsideRefused refused(link);
    {
        ScopedSystemApi scope(refused);
        CreateShortcuts(state_, feedback_);
    }

    // The new shortcut is in place, recorded, and what the end of the wizard
    // starts; only the temporary name is gone from beside it.
    const link_reader::LinkFacts facts = link_reader::ReadLink(W(link));
    EXPECT_EQ(facts.description, L"Quentar");
    EXPECT_EQ(facts.path, W(state_.applicationPath));
    EXPECT_EQ(state_.runPath, state_.applicationPath);
    EXPECT_EQ(state_.runDirectory, state_.destinationFolder);
    EXPECT_EQ(state_.installedFiles,
              (StringList{link, programFolder_ + u"\\Uninstall Quentar.lnk"}));
    EXPECT_TRUE(state_.replacedFiles.empty());
    WIN32_FIND_DATAW found{};
    int entries = 0;
    const HANDLE search = ::FindFirstFileW(AsWide(programFolder_ + u"\\*"), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (found.cFileName[0] != L'.') ++entries;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ(entries, 2);
}

// Makes chosen shell calls fail.
class FailingShell : public ForwardingSystemApi {
public:
    FailingShell(bool noLinkObject, bool noFolders)
        : ForwardingSystemApi(Sys()), noLinkObject_(noLinkObject), noFolders_(noFolders) {}
    HRESULT CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                             LPVOID* object) override {
        if (noLinkObject_) return REGDB_E_CLASSNOTREG;
        return inner_.CoCreateInstance(classId, outer, context, interfaceId, object);
    }
    HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, PIDLIST_ABSOLUTE* list) override {
        if (noFolders_) return E_FAIL;
        return inner_.SHGetSpecialFolderLocation(owner, folder, list);
    }

private:
    bool noLinkObject_;
    bool noFolders_;
};

TEST_F(Shortcuts, WithoutAShellLinkObjectNothingIsStartedAndAnEarlierShortcutStays) {
    ASSERT_TRUE(::CreateDirectoryW(AsWide(programFolder_), nullptr));
    const U16String link = programFolder_ + u"\\Quentar.lnk";
    ASSERT_TRUE(link_reader::WriteLink(W(link), L"C:\\Earlier\\Quentar.exe", L"", L"the earlier shortcut"));
    const std::vector<uint8_t> earlier = testing::ReadBytes(link);

    FailingShell shell(/*noLinkObject=*/true, /*noFolders=*/false);
    {
        ScopedSystemApi scope(shell);
        CreateShortcuts(state_, feedback_);
    }

    EXPECT_TRUE(state_.runPath.empty());
    EXPECT_TRUE(state_.runDirectory.empty());
    EXPECT_EQ(testing::ReadBytes(link), earlier);
    EXPECT_TRUE(state_.replacedFiles.empty());
    // The earlier shortcut is not the installation's: a removal must not
    // delete it. The uninstall shortcut had no predecessor and is listed.
    EXPECT_EQ(state_.installedFiles, StringList{programFolder_ + u"\\Uninstall Quentar.lnk"});
}

TEST_F(Shortcuts, WithoutShellFoldersNothingLandsInTheCurrentFolder) {
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(::SetCurrentDirectoryW(AsWide(destination_.path())));
    state_.createDesktopShortcut = true;

    FailingShell shell(/*noLinkObject=*/false, /*noFolders=*/true);
    {
        ScopedSystemApi scope(shell);
        CreateShortcuts(state_, feedback_);
    }
    ::SetCurrentDirectoryW(current);

    EXPECT_TRUE(state_.installedFiles.empty());
    EXPECT_TRUE(state_.installedFolders.empty());
    EXPECT_TRUE(state_.programFolderPath.empty());
    EXPECT_TRUE(state_.runPath.empty());
    EXPECT_FALSE(testing::Exists(destination_ / state_.programFolderName));
    EXPECT_FALSE(testing::Exists(destination_ / u"Quentar.lnk"));
    EXPECT_FALSE(feedback_.log.empty()) << "the skipped shortcuts are logged";
}

}  // namespace
}  // namespace quentar
