// The journal of a run and the recovery of a run that was killed, on real
// files and the real registry: each entry is on disk before its change; a
// run killed before its sequence completed is taken back to the earlier
// installation byte for byte; one killed after it is finished; a journal
// that is still in use or damaged is left alone; what cannot be put back is
// reported.
//
// A kill is played by forgetting the journal without discarding it (its
// file closed, as the system closes a dead process's handles).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine_test_support.h"
#include "install/engine_support.h"
#include "install/file_install.h"
#include "install/journal.h"
#include "install/uninstall_record.h"
#include "platform/system_api.h"
#include "registry_scratch.h"
#include "removal/recovery.h"

namespace quentar {
namespace {

using namespace quentar::testing;

// Every file below `folder` with its content, folders as "folder".
std::map<U16String, std::vector<uint8_t>> Contents(const U16String& folder) {
    std::map<U16String, std::vector<uint8_t>> files;
    WIN32_FIND_DATAW data;
    const HANDLE search = ::FindFirstFileW(AsWide(folder + u"\\*"), &data);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        const U16String name = FromWide(data.cFileName);
        if (name == u"." || name == u"..") continue;
        const U16String path = folder + u"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            files[path] = Bytes("folder");
            for (auto& entry : Contents(path)) files.insert(entry);
        } else {
            files[path] = ReadBytes(path);
        }
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
    return files;
}

U16String Names(const std::map<U16String, std::vector<uint8_t>>& files) {
    U16String names;
    for (const auto& entry : files) names += entry.first + u" (" + DecimalText(entry.second.size()) + u") ";
    return names;
}

const U16String kRecordRoot = UninstallRecord::kRoot;

// An earlier installation in a destination of its own, the payload of a
// newer one, and a journal folder; the journal is disarmed whatever the end.
class Recovery : public ::testing::Test {
protected:
    void SetUp() override {
        destination_ = root_ / u"Quentar";
        journals_ = root_ / u"Journal";
        ASSERT_TRUE(::CreateDirectoryW(AsWide(destination_), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(AsWide(journals_), nullptr));
        WriteBytes(destination_ + u"\\Quentar.exe", Bytes("the earlier application"));
        WriteBytes(destination_ + u"\\zorbel.dll", Bytes("the earlier library"));
        WriteBytes(destination_ + u"\\notes.txt", Bytes("the user's own notes"));
        state_.destinationFolder = destination_;
        state_.payload = MakePayload({{u"Quentar.exe", PatternBytes(30000, 3), kTime2010},
                                      {u"zorbel.dll", PatternBytes(700, 4), kTime2010},
                                      {u"help.pdf", PatternBytes(900, 5), kTime2010},
                                      {u"AV2000SDK.dll", PatternBytes(800, 6), kTime2010}});
        state_.applicationEntry = FindEntry(u"Quentar.exe", state_);
        state_.applicationPath = destination_ + u"\\Quentar.exe";
        before_ = Contents(root_.path());
        TheJournal().Arm(journals_, u"process of the test");
    }
    void TearDown() override { Kill(); }

    // The run ends without a word: its journal stays as it is on disk.
    static void Kill() { TheJournal().Arm(U16String(), U16String()); }

    // A run of the engine as far as its sequence gets before the kill: the
    // key, a folder of its own, the application over the earlier one, a new
    // file where none was, a library over the earlier one, and a file half
    // written under its temporary name.
    void InstallPartly(const U16String& keyPath) {
        ASSERT_EQ(TheJournal().Record({JournalStep::Key, keyPath}), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, AsWide(keyPath), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      key_.put(), nullptr) == ERROR_SUCCESS);
        key_.reset();
        ASSERT_TRUE(CreateJournaledFolder(destination_ + u"\\Plugins"));
        ASSERT_TRUE(WriteApplicationTo(state_, state_.applicationPath, feedback_));
        ASSERT_TRUE(InstallEntryFile(state_, u"help.pdf", feedback_));
        ASSERT_TRUE(InstallEntryFile(state_, u"zorbel.dll", feedback_));
        U16String temporary;
        ASSERT_EQ(PrepareTemporaryName(destination_ + u"\\AV2000SDK.dll", temporary, feedback_),
                  static_cast<DWORD>(ERROR_SUCCESS));
        WriteBytes(temporary, Bytes("half of a library"));
        ASSERT_EQ(state_.replacedFiles.size(), 2u);
    }

    // The journal files left in the journal folder.
    std::vector<U16String> Journals() const {
        std::vector<U16String> names;
        for (const auto& entry : Contents(journals_)) names.push_back(entry.first);
        return names;
    }

    TempFolder root_;
    U16String destination_, journals_;
    InstallState state_;
    RecordingFeedback feedback_;
    std::map<U16String, std::vector<uint8_t>> before_;
    UniqueKey key_;
};

TEST_F(Recovery, EachEntryIsOnDiskBeforeTheChangeItDescribes) {
    // Before every change of the destination, the journal's last entry, read
    // from the disk, names it.
    class JournalFirst : public ForwardingSystemApi {
    public:
        explicit JournalFirst(U16String destination) : ForwardingSystemApi(Sys()), destination_(destination) {}
        HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                           DWORD flags, HANDLE templateFile) override {
            const U16String path = FromWide(name);
            if ((access & GENERIC_WRITE) && disposition == CREATE_NEW && Inside(path)) {
                Expect(JournalStep::Write, TargetOfTemporaryName(path), path);
            }
            return inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
        }
        BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
            const U16String source = FromWide(from);
            // Moving aside: the aside entry; onto the name: the write entry.
            if (!OriginalNameOf(FromWide(to)).empty()) Expect(JournalStep::Aside, source, FromWide(to));
            ++moves;
            return inner_.MoveFileExW(from, to, flags);
        }
        BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security) override {
            Expect(JournalStep::Folder, FromWide(name), U16String());
            return inner_.CreateDirectoryW(name, security);
        }
        int checked = 0;
        int moves = 0;

    private:
        bool Inside(const U16String& path) const { return path.compare(0, destination_.size(), destination_) == 0; }
        void Expect(JournalStep step, const U16String& path, const U16String& other) {
            ++checked;
            const std::vector<uint8_t> bytes = ReadBytes(TheJournal().Path());
            const JournalReading reading =
                ReadJournal(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / sizeof(char16_t));
            ASSERT_EQ(reading.status, JournalReading::Status::Ok) << ToUtf8(reading.problem);
            ASSERT_FALSE(reading.entries.empty()) << ToUtf8(path);
            const JournalEntry& last = reading.entries.back();
            EXPECT_TRUE(last.step == step && last.path == path && last.other == other)
                << "change of " << ToUtf8(path) << " before its entry";
        }
        U16String destination_;
    } journalFirst(destination_);
    {
        ScopedSystemApi scope(journalFirst);
        ASSERT_TRUE(CreateJournaledFolder(destination_ + u"\\Plugins"));
        ASSERT_TRUE(InstallEntryFile(state_, u"zorbel.dll", feedback_));
        ASSERT_TRUE(InstallEntryFile(state_, u"help.pdf", feedback_));
        ASSERT_TRUE(MoveAsideExisting(state_, destination_ + u"\\notes.txt", feedback_));
    }
    // The folder, two temporary files, two files moved aside.
    EXPECT_EQ(journalFirst.checked, 5);
    EXPECT_EQ(journalFirst.moves, 4);

    // A run that ends normally discards its journal.
    const U16String journal = TheJournal().Path();
    EXPECT_EQ(Journals(), std::vector<U16String>{journal});
    TheJournal().Discard(feedback_);
    EXPECT_TRUE(Journals().empty());
    EXPECT_FALSE(TheJournal().Armed());
}

TEST_F(Recovery, ARunKilledBeforeItsSequenceCompletedIsTakenBackByteForByte) {
    const U16String keyPath = kRecordRoot + u"\\" + FromWide(test_registry::NewGuidText().c_str());
    ASSERT_NO_FATAL_FAILURE(InstallPartly(keyPath));
    Kill();
    ASSERT_EQ(Journals().size(), 1u);

    const RecoveryOutcome outcome = RecoverInterruptedRuns(journals_, feedback_);

    EXPECT_TRUE(outcome.notRestored.empty()) << ToUtf8(outcome.notRestored.front());
    EXPECT_FALSE(outcome.restartNeeded);
    // The journal folder is empty again, and so the earlier installation is
    // exactly as before: no new file, temporary or moved-aside name, folder
    // or key is left.
    before_.erase(journals_);
    std::map<U16String, std::vector<uint8_t>> after = Contents(root_.path());
    after.erase(journals_);
    EXPECT_EQ(after, before_) << "before: " << ToUtf8(Names(before_)) << "\nafter:  " << ToUtf8(Names(after));
    EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, std::wstring(AsWide(keyPath))));
    EXPECT_TRUE(Journals().empty());
    EXPECT_TRUE(feedback_.LoggedWith(u"did not complete: taking it back"));
    EXPECT_TRUE(feedback_.LoggedWith(u"recovery: moved back "));
}

TEST_F(Recovery, ARunKilledAfterItsSequenceCompletedIsFinished) {
    // The record the run wrote, and the earlier installation's record of the
    // same folder, which the run had not swept yet.
    const std::wstring newKey = std::wstring(AsWide(kRecordRoot)) + L"\\" + test_registry::NewGuidText();
    const test_registry::ScratchKey earlierRecord(HKEY_LOCAL_MACHINE, std::wstring(AsWide(kRecordRoot)) + L"\\" +
                                                                          test_registry::NewGuidText());
    ASSERT_TRUE(earlierRecord.SetText(L"Folder", std::wstring(AsWide(destination_))));
    // The earlier application still runs.
    RunningProgram running(destination_ + u"\\Quentar.exe");
    ASSERT_TRUE(running.Running());
    ASSERT_NO_FATAL_FAILURE(InstallPartly(FromWide(newKey.c_str())));
    // A file of the earlier installation that this one does not install,
    // taken back: its name stays empty on purpose.
    const U16String retired = destination_ + u"\\retired.dll";
    WriteBytes(retired, Bytes("a library the new version no longer has"));
    ASSERT_TRUE(MoveAsideExisting(state_, retired, feedback_));
    const U16String retiredAside = state_.replacedFiles.back();
    const test_registry::ScratchKey record(HKEY_LOCAL_MACHINE, newKey);
    ASSERT_TRUE(record.SetText(L"Folder", std::wstring(AsWide(destination_))));
    ASSERT_EQ(TheJournal().Record({JournalStep::Complete, FromWide(newKey.c_str()), destination_}),
              static_cast<DWORD>(ERROR_SUCCESS));
    Kill();
    const U16String runningAside = state_.replacedFiles[0];
    const U16String libraryAside = state_.replacedFiles[1];

    const RecoveryOutcome outcome = RecoverInterruptedRuns(journals_, feedback_);

    // What it installed stays; what it moved aside goes, the executable still
    // in use at the next start of Windows; the earlier record is swept.
    EXPECT_TRUE(outcome.notRestored.empty());
    EXPECT_TRUE(outcome.restartNeeded);
    EXPECT_EQ(ReadBytes(destination_ + u"\\zorbel.dll"), PatternBytes(700, 4));
    EXPECT_EQ(ReadBytes(destination_ + u"\\help.pdf"), PatternBytes(900, 5));
    EXPECT_FALSE(Exists(libraryAside));
    EXPECT_FALSE(Exists(retiredAside)) << "kept as if it were the only copy of a file the run wrote";
    EXPECT_FALSE(Exists(retired));
    const bool marked = MarkedForDeletion(runningAside);
    Unmark(runningAside);
    EXPECT_TRUE(marked) << ToUtf8(runningAside);
    EXPECT_FALSE(Exists(destination_ + u"\\AV2000SDK.dll"));
    EXPECT_EQ(Contents(destination_).size(), 6u) << ToUtf8(Names(Contents(destination_)));
    EXPECT_TRUE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, newKey));
    EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, earlierRecord.Path()));
    EXPECT_TRUE(Journals().empty());
    EXPECT_TRUE(feedback_.LoggedWith(u"had completed: finishing it"));
}

TEST_F(Recovery, AJournalInUseOrDamagedIsLeftAloneAndNothingGuessedFromIt) {
    WriteBytes(destination_ + u"\\help.pdf", Bytes("the earlier manual"));
    ASSERT_TRUE(InstallEntryFile(state_, u"help.pdf", feedback_));
    const U16String journal = TheJournal().Path();
    const U16String aside = state_.replacedFiles.at(0);
    const auto changed = Contents(destination_);

    // Its writer still runs: the file is open without sharing its deletion.
    RecordingFeedback live;
    EXPECT_TRUE(RecoverInterruptedRuns(journals_, live).notRestored.empty());
    EXPECT_EQ(Contents(destination_), changed);
    EXPECT_TRUE(live.LoggedWith(u"its run may still be running; left as it is"));

    Kill();
    struct Case {
        const char* what;
        size_t at;      // byte to change, from the end
        uint8_t value;  // ... to this
    };
    const std::vector<uint8_t> written = ReadBytes(journal);
    for (const Case c : {Case{"a byte of a path changed", 40, 'X'}, Case{"the byte-order mark gone", written.size(), 0}}) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> damaged = written;
        damaged[damaged.size() - c.at] = c.value;
        WriteBytes(journal, damaged);
        RecordingFeedback feedback;
        EXPECT_TRUE(RecoverInterruptedRuns(journals_, feedback).notRestored.empty());
        EXPECT_EQ(Contents(destination_), changed);
        EXPECT_EQ(ReadBytes(journal), damaged);
        EXPECT_TRUE(feedback.LoggedWith(u"cannot be read (line ")) << ToUtf8(feedback.log.empty() ? u"" : feedback.log[0]);
    }
    EXPECT_TRUE(Exists(aside));
}

TEST_F(Recovery, WhatCannotBePutBackIsReported) {
    // The update had deleted the running executable and not yet moved the
    // new one in: the new one takes its place, and the earlier one is
    // reported lost.
    const U16String exe = destination_ + u"\\Quentar.exe";
    const U16String fresh = exe + u".tmp";
    ASSERT_EQ(TheJournal().Record({JournalStep::Replace, exe, fresh}), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(::DeleteFileW(AsWide(exe)));
    WriteBytes(fresh, Bytes("the new application"));
    // A library replaced, whose new file is held open by somebody else.
    ASSERT_TRUE(InstallEntryFile(state_, u"zorbel.dll", feedback_));
    Kill();
    const U16String library = destination_ + u"\\zorbel.dll";
    UniqueFile holder(::CreateFileW(AsWide(library), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    const RecoveryOutcome outcome = RecoverInterruptedRuns(journals_, feedback_);
    holder.reset();

    EXPECT_EQ(outcome.notRestored, (StringList{library, exe}));
    EXPECT_EQ(ReadBytes(exe), Bytes("the new application"));
    EXPECT_FALSE(Exists(fresh));
    // Not put back, but not lost: the earlier library waits beside it.
    EXPECT_EQ(ReadBytes(state_.replacedFiles.at(0)), Bytes("the earlier library"));
}

}  // namespace
}  // namespace quentar
