// An installation over an earlier one of the same folder takes back what the
// earlier record lists and the new installation does not install: moved
// aside with the files it replaced, so that the end of the run deletes them
// and a failed run puts them back.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "install/earlier_files.h"
#include "install/uninstall_record.h"
#include "platform/wide.h"
#include "registry_scratch.h"
#include "removal/remove_installation.h"
#include "removal/restart.h"

namespace quentar {
namespace {

using test_registry::NewGuidText;
using test_registry::ScratchKey;

std::string Narrow(const U16String& s) { return ToUtf8(s); }

bool Exists(const U16String& path) { return ::GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES; }

// The earlier installation: its folder and its record, as this program
// writes it (GUID name, display name, removal command), listing `List`'s
// files.
struct EarlierInstallation {
    EarlierInstallation()
        : record(HKEY_LOCAL_MACHINE, AsWide(UninstallRecord::KeyPath(FromWide(NewGuidText().c_str())))) {
        EXPECT_TRUE(record.SetText(L"DisplayName", L"Quentar 2009"));
        EXPECT_TRUE(record.SetText(L"Folder", AsWide(folder.path())));
        EXPECT_TRUE(record.SetText(L"UninstallString",
                                   AsWide(UninstallRecord::UninstallCommand(folder / u"Quentar.exe"))));
    }
    void List(const StringList& files) {
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_TRUE(record.SetText(AsWide(UninstallRecord::FileValueName(static_cast<uint32_t>(i))),
                                       AsWide(files[i])));
        }
    }
    testing::TempFolder folder;
    ScratchKey record;
};

std::vector<uint8_t> ContentOf(const U16String& path) { return testing::Bytes(Narrow(path).c_str()); }

TEST(EarlierFiles, WhatTheNewInstallationLacksIsMovedAsideAndComesBackOnRollback) {
    testing::TempFolder elsewhere;  // stands for the desktop
    EarlierInstallation earlier;
    earlier.List({earlier.folder / u"Quentar.exe", earlier.folder / u"AV2000SDK.dll", earlier.folder / u"help.pdf",
                  elsewhere / u"Quentar.lnk", earlier.folder / u"gone.dll", u"relative.dll", earlier.folder.path()});
    const U16String exe = earlier.folder / u"Quentar.exe";
    const U16String sdk = earlier.folder / u"AV2000SDK.dll";
    const U16String help = earlier.folder / u"help.pdf";
    const U16String link = elsewhere / u"Quentar.lnk";
    for (const U16String& file : {exe, sdk, help, link}) testing::WriteBytes(file, ContentOf(file));

    // The new installation wrote the executable and the help again (the
    // help in other letter case), nothing else.
    InstallState state;
    state.destinationFolder = ToAsciiLower(earlier.folder.path());
    state.installedFiles = {exe, ToAsciiLower(help)};
    testing::RecordingFeedback feedback;
    TakeBackEarlierFiles(state, feedback);

    // The SDK and the shortcut went aside; the rest is where it was.
    ASSERT_EQ(state.replacedFiles.size(), 2u) << ::testing::PrintToString(feedback.log);
    EXPECT_EQ(Narrow(state.replacedFiles[0].substr(0, sdk.size() + 1)), Narrow(sdk + u"."));
    EXPECT_EQ(Narrow(state.replacedFiles[1].substr(0, link.size() + 1)), Narrow(link + u"."));
    EXPECT_FALSE(Exists(sdk));
    EXPECT_FALSE(Exists(link));
    for (const U16String& kept : {exe, help}) EXPECT_TRUE(Exists(kept)) << Narrow(kept);
    for (const U16String& aside : state.replacedFiles) EXPECT_TRUE(Exists(aside)) << Narrow(aside);
    EXPECT_TRUE(Exists(earlier.folder.path())) << "a folder is never taken";
    EXPECT_TRUE(feedback.Logged(u"moved aside: " + sdk + u" -> " + state.replacedFiles[0]))
        << ::testing::PrintToString(feedback.log);

    // A failed installation is taken back: both come back with their content.
    RemoveInstallation(state, feedback);
    for (const U16String& file : {sdk, link}) {
        EXPECT_EQ(testing::ReadBytes(file), ContentOf(file)) << Narrow(file);
    }
}

// A successful run ends with them gone: their names stay empty on purpose,
// so their aside names are no only copies to keep.
TEST(EarlierFiles, WhatTheNewInstallationLacksGoesAtTheEndOfASuccessfulRun) {
    EarlierInstallation earlier;
    const U16String sdk = earlier.folder / u"AV2000SDK.dll";
    testing::WriteBytes(sdk, testing::Bytes("sdk"));
    earlier.List({sdk});

    InstallState state;
    state.destinationFolder = earlier.folder.path();
    testing::RecordingFeedback feedback;
    TakeBackEarlierFiles(state, feedback);
    ASSERT_EQ(state.replacedFiles.size(), 1u) << ::testing::PrintToString(feedback.log);
    EXPECT_EQ(state.takenBackFiles, StringList{sdk});
    const U16String aside = state.replacedFiles[0];

    EXPECT_EQ(ProcessPendingDeletions(state, feedback, RestartQuestion::DontAsk), PendingDeletions::AllDeleted);
    EXPECT_FALSE(Exists(aside)) << ::testing::PrintToString(feedback.log);
    EXPECT_FALSE(Exists(sdk));
}

// Nothing is taken for a folder without a record of this program's, nor by
// a record whose removal command is another program's.
TEST(EarlierFiles, OnlyRecordsThisProgramWroteCount) {
    EarlierInstallation earlier;
    const U16String sdk = earlier.folder / u"AV2000SDK.dll";
    testing::WriteBytes(sdk, testing::Bytes("sdk"));
    earlier.List({sdk});
    ASSERT_TRUE(earlier.record.SetText(L"UninstallString", L"\"C:\\Other\\Other.exe\" /uninstall"));

    InstallState state;
    state.destinationFolder = earlier.folder.path();
    testing::RecordingFeedback feedback;
    TakeBackEarlierFiles(state, feedback);
    EXPECT_TRUE(state.replacedFiles.empty());
    EXPECT_TRUE(Exists(sdk));
    EXPECT_TRUE(feedback.log.empty()) << ::testing::PrintToString(feedback.log);
}

}  // namespace
}  // namespace quentar
