// The destination as only administrators can change it: every level made
// for it gets the rights of an installed program and what is installed
// there inherits them; an existing folder that others may change gets them
// (asked first when somebody watches); a link is refused; only full paths
// are taken, and the root of one is never made. The rights passed are
// recorded as SDDL (Wine keeps no descriptor); under Wine the Unix side is
// read too.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "install/chunk_plan.h"
#include "install/destination.h"
#include "install/engine_support.h"
#include "install/file_install.h"
#include "install/staged_names.h"
#include "payload/payload_archive.h"
#include "platform/folder_security.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "rights_recorder.h"
#include "state/resource_ids.h"
#include "tests/common/unix_side.h"

namespace quentar {
namespace {

using namespace quentar::testing;

// What an installed program's folder is given, written out as the system
// writes it: owner Administrators; full control for SYSTEM and
// Administrators, read and execute for Users, inherited by subfolders and
// files; nothing inherited from the parent.
const U16String& ProgramRights() {
    static const U16String rights = Canonical(u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    return rights;
}

std::string Joined(const std::vector<U16String>& lines) {
    std::string text;
    for (const U16String& line : lines) text += ToUtf8(line) + "\n";
    return text;
}

// Under Wine: that Unix lets neither the group nor others write `path`.
void ExpectNoGroupOrOtherWriteBit(const U16String& path) {
    if (!unix_side::UnixPath(AsWide(path))) return;  // not under Wine: the recorded rights say it all
    const std::optional<unsigned> mode = unix_side::UnixMode(AsWide(path));
    ASSERT_TRUE(mode) << "the Unix mode of " << ToUtf8(path) << " cannot be read";
    EXPECT_FALSE(unix_side::GroupOrOthersMayWrite(*mode)) << ToUtf8(path) << " has mode " << std::oct << *mode;
}

U16String Message(UINT id, const U16String& path) { return FormatPositional(LoadStringResource(id), {path}); }

// A missing destination outside the program-files folder, made level by
// level: each level with the program's rights, the log naming them, and the
// files installed there made without rights of their own, so that they
// inherit the folder's.
TEST(Destination, ANewDestinationIsMadeLevelByLevelWithProgramRightsThatItsFilesInherit) {
    TempFolder temp;
    const U16String outer = temp / u"Quentar";
    const U16String destination = outer + u"\\Cameras";
    RightsRecorder recorder;
    ScopedSystemApi scope(recorder);
    RecordingFeedback feedback(IDYES);

    ASSERT_EQ(MakeDestinationReady(destination, InstallState(), feedback, true), DestinationOutcome::kReady);
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].text, Message(IDS_PATH_MISSING, destination));
    ASSERT_EQ(recorder.created.size(), 2u);
    EXPECT_EQ(recorder.created[0].path, outer);
    EXPECT_EQ(recorder.created[1].path, destination);
    for (const RightsRecorder::Call& level : recorder.created) {
        EXPECT_EQ(level.sddl, ProgramRights()) << ToUtf8(level.path);
        EXPECT_TRUE(feedback.Logged(u"folder created: " + level.path + u" with rights " + kInstalledProgramRights))
            << Joined(feedback.log);
        ExpectNoGroupOrOtherWriteBit(level.path);
    }
    EXPECT_TRUE(recorder.set.empty()) << "a folder made with its rights needs no change";

    InstallState state;
    state.destinationFolder = destination;
    const std::vector<uint8_t> executable = PatternBytes(20000, 4);
    state.payload = MakePayload({{u"Quentar.exe", executable, kTime2010}, {u"zorbel.dll", PatternBytes(3000), kTime2010}});
    ASSERT_TRUE(WriteApplicationTo(state, destination + u"\\Quentar.exe", feedback));
    ASSERT_TRUE(InstallEntryFile(state, u"zorbel.dll", feedback));
    ASSERT_EQ(state.installedFiles.size(), 2u);
    for (const U16String& file : state.installedFiles) {
        // Written under its temporary name, then moved onto its own.
        const auto made = std::find_if(recorder.files.begin(), recorder.files.end(), [&](const RightsRecorder::Call& call) {
            return TargetOfTemporaryName(call.path) == file;
        });
        ASSERT_NE(made, recorder.files.end()) << ToUtf8(file);
        EXPECT_EQ(made->sddl, u"") << ToUtf8(file) << " was given rights of its own";
        ExpectNoGroupOrOtherWriteBit(file);
    }
    EXPECT_TRUE(recorder.set.empty());
}

// An existing destination: left as it is when only administrators can change
// it; else given the program's rights, after the question when somebody
// watches. The log names the rights found and set with the folder's path.
TEST(Destination, AnExistingDestinationGetsProgramRightsOnlyWhenOthersMayChangeIt) {
    TempFolder temp;
    const U16String destination = temp / u"Video";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(destination), nullptr));
    const U16String usersMayModify = u"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)";

    struct Case {
        const char* name;
        U16String found;     // the rights the folder reads back with ("": unreadable)
        bool askFirst;
        int answer;          // to the question, if it comes
        DestinationOutcome outcome;
        bool asked;
        bool changed;
    };
    const Case cases[] = {
        {"like the program-files folder", ProgramRights(), true, IDYES, DestinationOutcome::kReady, false, false},
        {"users may modify, Yes", usersMayModify, true, IDYES, DestinationOutcome::kReady, true, true},
        {"users may modify, No", usersMayModify, true, IDNO, DestinationOutcome::kDeclined, true, false},
        {"users may modify, nobody to ask", usersMayModify, false, IDNO, DestinationOutcome::kReady, false, true},
        {"a user owns it", u"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;BA)", false, IDNO, DestinationOutcome::kReady, false,
         true},
        {"rights that cannot be read", u"", false, IDNO, DestinationOutcome::kReady, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RightsRecorder recorder;
        if (c.found.empty()) {
            recorder.queryError = ERROR_ACCESS_DENIED;
        } else {
            recorder.answer = c.found;
        }
        ScopedSystemApi scope(recorder);
        RecordingFeedback feedback(c.answer);

        EXPECT_EQ(MakeDestinationReady(destination, InstallState(), feedback, c.askFirst), c.outcome);
        EXPECT_TRUE(recorder.created.empty());
        if (c.asked) {
            ASSERT_EQ(feedback.messages.size(), 1u);
            EXPECT_EQ(feedback.messages[0].text, Message(IDS_DESTINATION_RIGHTS, destination));
            EXPECT_EQ(feedback.messages[0].style, static_cast<uint32_t>(MB_YESNO | MB_ICONQUESTION));
        } else {
            EXPECT_TRUE(feedback.messages.empty()) << ToUtf8(feedback.messages[0].text);
        }
        const U16String foundText = c.found.empty() ? U16String(u"(cannot be read)") : Canonical(c.found);
        const bool othersMayWrite = c.changed || c.asked;
        EXPECT_TRUE(feedback.Logged(u"rights found on " + destination + u": " + foundText +
                                         (othersMayWrite ? U16String(u"; others may change it")
                                                         : U16String(u"; only administrators can change it: left "
                                                                     u"as they are"))))
            << Joined(feedback.log);
        if (c.changed) {
            ASSERT_EQ(recorder.set.size(), 1u);
            EXPECT_EQ(recorder.set[0].path, destination);
            EXPECT_EQ(recorder.set[0].sddl, ProgramRights());
            EXPECT_FALSE(recorder.unprotected[0]);
            EXPECT_TRUE(feedback.Logged(u"rights set on " + destination + u": " + kInstalledProgramRights))
                << Joined(feedback.log);
        } else {
            EXPECT_TRUE(recorder.set.empty());
        }
    }
}

// Rights that cannot be set leave no destination to install into.
TEST(Destination, AnExistingDestinationWhoseRightsCannotBeSetIsRefused) {
    TempFolder temp;
    RightsRecorder recorder;
    recorder.answer = u"O:BUD:(A;OICI;FA;;;BU)";
    recorder.setError = ERROR_ACCESS_DENIED;
    ScopedSystemApi scope(recorder);
    RecordingFeedback feedback(IDYES);
    EXPECT_EQ(MakeDestinationReady(temp.path(), InstallState(), feedback, false), DestinationOutcome::kRefused);
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].text, Message(IDS_PATH_CREATE_FAILED, temp.path()));
    EXPECT_TRUE(feedback.Logged(u"rights cannot be set on " + temp.path() + u": " + DescribeError(ERROR_ACCESS_DENIED)))
        << Joined(feedback.log);
}

// A destination that is itself a junction or a symbolic link (as the system
// describes one): refused, with or without somebody to ask, and nothing
// behind it is read, changed or made.
TEST(Destination, AJunctionOrSymbolicLinkIsRefusedAndNothingBehindItTouched) {
    TempFolder temp;
    const U16String link = temp / u"Quentar";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(link), nullptr));

    class LinkAtTheName : public RightsRecorder {
    public:
        explicit LinkAtTheName(U16String path) : path_(std::move(path)) {}
        DWORD GetFileAttributesW(LPCWSTR name) override {
            return FromWide(name) == path_ ? FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT
                                           : inner_.GetFileAttributesW(name);
        }
        DWORD GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                                    PSECURITY_DESCRIPTOR*) override {
            ADD_FAILURE() << "the rights behind the link were read: " << ToUtf8(FromWide(name));
            return ERROR_ACCESS_DENIED;
        }

    private:
        U16String path_;
    };
    for (const bool askFirst : {true, false}) {
        SCOPED_TRACE(askFirst ? "asked" : "unattended");
        LinkAtTheName system(link);
        ScopedSystemApi scope(system);
        RecordingFeedback feedback(IDYES);
        EXPECT_EQ(MakeDestinationReady(link, InstallState(), feedback, askFirst), DestinationOutcome::kRefused);
        ASSERT_EQ(feedback.messages.size(), 1u);
        EXPECT_EQ(feedback.messages[0].text, Message(IDS_DESTINATION_LINK, link));
        EXPECT_EQ(feedback.messages[0].style, static_cast<uint32_t>(MB_OK | MB_ICONERROR));
        EXPECT_TRUE(feedback.Logged(u"destination " + link + u" is a junction or a symbolic link: refused"))
            << Joined(feedback.log);
        EXPECT_TRUE(system.set.empty());
        EXPECT_TRUE(system.created.empty());
    }
}

// Which path forms are taken, and which levels of them are made: never the
// root of a drive or of a share, and nothing at all of a path that is not
// full.
TEST(Destination, OnlyFullPathsAreTakenAndOnlyTheLevelsBelowTheirRootAreMade) {
    TempFolder temp;
    const U16String share = u"\\\\quentar-nowhere\\cameras";
    const U16String longPath = u"\\\\?\\" + temp.path();
    struct Case {
        const char* name;
        U16String destination;
        bool full;                   // taken by the full-path rule
        std::vector<U16String> made; // creations tried, outer first
        DestinationOutcome outcome;
    };
    const Case cases[] = {
        {"relative", u"Quentar", false, {}, DestinationOutcome::kRefused},
        {"relative to the current folder", u".\\Quentar", false, {}, DestinationOutcome::kRefused},
        {"relative to a drive's current folder", u"C:Quentar", false, {}, DestinationOutcome::kRefused},
        {"relative to the current drive", u"\\Quentar", false, {}, DestinationOutcome::kRefused},
        // A share nobody serves: the levels below it are tried, the share
        // itself never.
        {"on a share", share + u"\\Quentar\\Video", true, {share + u"\\Quentar", share + u"\\Quentar\\Video"},
         DestinationOutcome::kRefused},
        {"with the long-path prefix", longPath + u"\\New", true, {longPath + u"\\New"}, DestinationOutcome::kReady},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RightsRecorder recorder;
        ScopedSystemApi scope(recorder);
        RecordingFeedback feedback(IDYES);
        EXPECT_EQ(MakeDestinationReady(c.destination, InstallState(), feedback, true), c.outcome);
        std::vector<U16String> made;
        for (const RightsRecorder::Call& call : recorder.created) made.push_back(call.path);
        EXPECT_EQ(made, c.made);
        ASSERT_FALSE(feedback.messages.empty());
        // A full path is offered to be made; any other is refused at once.
        EXPECT_EQ(feedback.messages[0].text,
                  Message(c.full ? IDS_PATH_MISSING : IDS_PATH_CREATE_FAILED, c.destination));
        EXPECT_EQ(feedback.Logged(u"destination " + c.destination +
                                       u" is not a full path (a drive letter, a colon and a backslash, or "
                                       u"\\\\server\\share)"),
                  !c.full)
            << Joined(feedback.log);
    }
    // The long-path prefix is no wildcard: the folder made is found.
    EXPECT_TRUE(DirectoryExists(longPath + u"\\New"));
}

// A file left in place because it already holds the payload's content is
// given what its folder passes on, as a file written now would have; when
// that cannot be done, it is written anew.
TEST(Destination, AnIdenticalFileLeftInPlaceTakesItsFolderRights) {
    TempFolder temp;
    InstallState state;
    state.destinationFolder = temp.path();
    const std::vector<uint8_t> dll = PatternBytes(3000, 9);
    state.payload = MakePayload({{u"zorbel.dll", dll, kTime2010}});
    const U16String path = temp / u"zorbel.dll";
    WriteBytes(path, dll);
    {
        RightsRecorder recorder;
        ScopedSystemApi scope(recorder);
        RecordingFeedback feedback;
        ASSERT_TRUE(InstallEntryFile(state, u"zorbel.dll", feedback));
        EXPECT_TRUE(recorder.files.empty()) << "the identical file was written";
        ASSERT_EQ(recorder.set.size(), 1u);
        EXPECT_EQ(recorder.set[0].path, path);
        EXPECT_EQ(recorder.set[0].sddl, Canonical(u"O:BAD:"));
        EXPECT_TRUE(recorder.unprotected[0]) << "the file keeps a protected DACL of its own";
        EXPECT_EQ(state.keptFiles, StringList{path});
    }
    state = InstallState();
    state.destinationFolder = temp.path();
    state.payload = MakePayload({{u"zorbel.dll", dll, kTime2010}});
    {
        RightsRecorder recorder;
        recorder.setError = ERROR_ACCESS_DENIED;
        ScopedSystemApi scope(recorder);
        RecordingFeedback feedback;
        ASSERT_TRUE(InstallEntryFile(state, u"zorbel.dll", feedback));
        EXPECT_TRUE(feedback.Logged(u"the rights of " + path + u" cannot be reset: " +
                                         DescribeError(ERROR_ACCESS_DENIED) + u"; written anew"))
            << Joined(feedback.log);
        ASSERT_EQ(recorder.files.size(), 1u);
        EXPECT_EQ(TargetOfTemporaryName(recorder.files[0].path), path) << ToUtf8(recorder.files[0].path);
        EXPECT_EQ(recorder.files[0].sddl, u"") << "the new file inherits its folder's rights";
        EXPECT_TRUE(state.keptFiles.empty());
        EXPECT_EQ(ReadBytes(path), dll);
    }
}

}  // namespace
}  // namespace quentar
