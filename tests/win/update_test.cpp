// Replacing the running application's executable: the close request, the wait
// for the old executable to go, the move of the new one into its place, the
// bounded wait with its question, and the failed move that must not lose the
// application.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "install/engine_support.h"
#include "install/install_sequence.h"
#include "install/uninstall_record.h"
#include "install/update.h"
#include "payload/payload_names.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "registry_scratch.h"
#include "removal/remove_installation.h"
#include "state/resource_ids.h"

namespace quentar {
namespace {

using testing::Bytes;
using testing::Exists;
using testing::ReadBytes;
using testing::RecordingFeedback;
using testing::TempFolder;
using testing::WriteBytes;

// Records, in order, the waits shown and the questions asked, and answers the
// questions from a script (Cancel once the script is used up). `onMessage`
// runs before each answer, as the person would act while the box is open.
class UpdateFeedback : public RecordingFeedback {
public:
    explicit UpdateFeedback(std::deque<int> answers = {}) : answers_(std::move(answers)) {}

    int Message(const U16String& text, uint32_t style) override {
        RecordingFeedback::Message(text, style);
        events.push_back(waiting_ ? "message while waiting" : "message");
        if (onMessage) onMessage();
        if (answers_.empty()) return IDCANCEL;
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void BeginWait() override {
        events.push_back(waiting_ ? "wait shown twice" : "wait");
        waiting_ = true;
    }
    void EndWait() override {
        events.push_back(waiting_ ? "end" : "end without wait");
        waiting_ = false;
    }
    bool Waiting() const { return waiting_; }

    std::vector<std::string> events;
    std::function<void()> onMessage;

private:
    std::deque<int> answers_;
    bool waiting_ = false;
};

// A clock that runs only when the updater sleeps, so that a minute passes at
// once. Each pause also delivers the messages posted to this thread's windows
// and then runs `onPause`, which is where the test's "application" acts.
// MoveFileW can be made to fail a number of times.
class FastClock : public ForwardingSystemApi {
public:
    explicit FastClock(DWORD start = 5000) : ForwardingSystemApi(Sys()), now(start) {}

    DWORD GetTickCount() override { return now; }
    void Sleep(DWORD milliseconds) override {
        ++pauses;
        now += milliseconds;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        if (onPause) onPause();
    }
    BOOL DeleteFileW(LPCWSTR name) override {
        attributesAtDelete.push_back(::GetFileAttributesW(name));
        return inner_.DeleteFileW(name);
    }
    BOOL MoveFileW(LPCWSTR from, LPCWSTR to) override {
        ++moves;
        if (failingMoves > 0) {
            --failingMoves;
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return inner_.MoveFileW(from, to);
    }

    DWORD now;
    int pauses = 0;
    int moves = 0;
    int failingMoves = 0;
    std::vector<DWORD> attributesAtDelete;
    std::function<void()> onPause;
};

// A window of the test that stands for the running application: it records
// what it receives and runs `onClose` when the updater's close request comes.
class StandInWindow {
public:
    struct Received {
        UINT message;
        WPARAM w;
        LPARAM l;
    };

    StandInWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &StandInWindow::Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"UpdateTestStandIn";
        ::RegisterClassW(&wc);
        window_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~StandInWindow() { ::DestroyWindow(window_); }
    StandInWindow(const StandInWindow&) = delete;
    StandInWindow& operator=(const StandInWindow&) = delete;

    // The handle as the command line carries it.
    uint32_t Handle() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_)); }

    std::vector<Received> received;
    std::function<void()> onClose;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<StandInWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr && message == WM_QUERYENDSESSION) {
            self->received.push_back({message, w, l});
            if (l == kUpdateCloseRequest && self->onClose) self->onClose();
            return TRUE;
        }
        return ::DefWindowProcW(hwnd, message, w, l);
    }

    HWND window_ = nullptr;
};

// Makes this process's image look like `image` to the updater, so that the
// test's stand-in window counts as one of the application's; other processes
// are answered by the system.
class ImageOfThisProcess : public ForwardingSystemApi {
public:
    explicit ImageOfThisProcess(U16String image) : ForwardingSystemApi(Sys()), image_(std::move(image)) {}
    BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size) override {
        ++queries;
        if (::GetProcessId(process) != ::GetCurrentProcessId()) {
            return inner_.QueryFullProcessImageNameW(process, flags, name, size);
        }
        if (image_.size() + 1 > *size) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::copy(image_.begin(), image_.end(), name);
        name[image_.size()] = L'\0';
        *size = static_cast<DWORD>(image_.size());
        return TRUE;
    }
    int queries = 0;

private:
    U16String image_;
};

U16String AsciiUpper(U16String text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

const std::vector<uint8_t> kOldProgram = Bytes("the installed version");
const std::vector<uint8_t> kNewProgram = Bytes("the new version, written by the install sequence");

// An installed "Quentar.exe" and the new one written beside it as the install
// sequence leaves it: "Quentar.exe.tmp", listed in installedFiles.
class Update : public ::testing::Test {
protected:
    void SetUp() override {
        arguments_.updateMode = true;
        arguments_.updateExePath = folder_ / u"Quentar.exe";
        arguments_.updateExeFolder = folder_.path();
        arguments_.updateWindow = window_.Handle();
        state_.destinationFolder = arguments_.updateExeFolder;
        state_.applicationPath = arguments_.updateExePath + u".tmp";
        WriteBytes(state_.applicationPath, kNewProgram);
        AddUnique(state_.installedFiles, state_.applicationPath);
    }

    const U16String& OldPath() const { return arguments_.updateExePath; }
    const U16String& NewPath() const { return state_.applicationPath; }

    // The old executable, held open as a running program holds its image:
    // it cannot be deleted until Release().
    void InstallRunningProgram(DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
        WriteBytes(OldPath(), kOldProgram);
        ASSERT_TRUE(::SetFileAttributesW(AsWide(OldPath()), attributes));
        held_.reset(::CreateFileW(AsWide(OldPath()), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
        ASSERT_TRUE(held_);
    }
    void Release() { held_.reset(); }

    ReplaceOutcome Run(UpdateFeedback& feedback) {
        const ReplaceOutcome outcome = ReplaceRunningApplication(state_, arguments_, feedback);
        EXPECT_FALSE(feedback.Waiting()) << "the wait is still shown after the replacement";
        return outcome;
    }

    TempFolder folder_;
    StandInWindow window_;
    InstallState state_;
    UpdateArguments arguments_;
    UniqueFile held_;
    // The stand-in window is the application's (answered in upper case: the
    // image is compared folding A-Z).
    ImageOfThisProcess image_{AsciiUpper(folder_ / u"Quentar.exe")};
    ScopedSystemApi imageInstalled_{image_};
};

TEST_F(Update, TheCloseRequestReachesTheApplicationWhoseEndLetsTheNewExecutableIn) {
    InstallRunningProgram();
    FastClock clock;
    ScopedSystemApi scoped(clock);
    // The application ends some pauses after it has been asked to.
    int pausesAfterRequest = -1;
    window_.onClose = [&] { pausesAfterRequest = 0; };
    clock.onPause = [&] {
        if (pausesAfterRequest >= 0 && ++pausesAfterRequest == 3) Release();
    };
    UpdateFeedback feedback;

    EXPECT_EQ(Run(feedback), ReplaceOutcome::Replaced);

    ASSERT_EQ(window_.received.size(), 1u) << "the close request is posted once";
    EXPECT_EQ(window_.received[0].w, 0u);
    EXPECT_EQ(window_.received[0].l, 0x38A7BE4C);
    EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
    EXPECT_FALSE(Exists(NewPath()));
    EXPECT_EQ(clock.pauses, 3) << "the request arrives at the first pause, the application lets go at the third";
    EXPECT_TRUE(feedback.messages.empty());
    EXPECT_EQ(feedback.events, (std::vector<std::string>{"wait", "end"}));
    EXPECT_TRUE(state_.keptFiles.empty());
}

// The window of the command line may be anybody's: the close request goes
// only to a window of the executable being replaced. Another program's window
// gets nothing, and the wait goes on as for a request that reached nobody.
TEST_F(Update, TheCloseRequestGoesOnlyToAWindowOfTheExecutableBeingReplaced) {
    struct Case {
        const char* what;
        U16String image;     // this process's image as the updater sees it
        uint32_t window;     // 1: the stand-in window
        bool asked;
    };
    const Case cases[] = {
        {"the application's window", OldPath(), 1, true},
        {"another program's window", folder_ / u"Other.exe", 1, false},
        {"a program of the same name elsewhere", folder_ / u"copy\\Quentar.exe", 1, false},
        {"no window", OldPath(), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window_.received.clear();
        InstallRunningProgram();
        ImageOfThisProcess image(c.image);
        ScopedSystemApi scoped(image);
        FastClock clock;  // over the image's answers
        ScopedSystemApi clockInstalled(clock);
        arguments_.updateWindow = c.window == 1 ? window_.Handle() : 0;
        // The application ends by itself a few pauses later.
        clock.onPause = [&] {
            if (clock.pauses == 3) Release();
        };
        UpdateFeedback feedback;

        EXPECT_EQ(Run(feedback), ReplaceOutcome::Replaced);

        EXPECT_EQ(window_.received.size(), c.asked ? 1u : 0u);
        const U16String windowText = DecimalText(arguments_.updateWindow);
        const U16String skipped =
            u"update: window " + windowText + u" is not a window of " + OldPath() + u": no close request sent";
        EXPECT_EQ(std::count(feedback.log.begin(), feedback.log.end(), skipped), c.asked ? 0 : 1);
        EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
        WriteBytes(NewPath(), kNewProgram);
    }
}

TEST_F(Update, TheOldExecutablesAttributesAreResetBeforeEveryDelete) {
    // Read-only, hidden and system, and made so again after each refused
    // delete: every attempt must find the file archive-only.
    constexpr DWORD kGuarded = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    InstallRunningProgram(kGuarded);
    FastClock clock;
    ScopedSystemApi scoped(clock);
    clock.onPause = [&] {
        ::SetFileAttributesW(AsWide(OldPath()), kGuarded);
        if (clock.pauses == 3) Release();
    };
    UpdateFeedback feedback;

    EXPECT_EQ(Run(feedback), ReplaceOutcome::Replaced);

    EXPECT_EQ(clock.attributesAtDelete, std::vector<DWORD>(4, FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
    EXPECT_EQ(::GetFileAttributesW(AsWide(OldPath())) & kGuarded, 0u) << "the new executable is not read-only";
}

TEST_F(Update, AnOldExecutableAlreadyGoneLetsTheNewOneInAtOnce) {
    FastClock clock;
    ScopedSystemApi scoped(clock);
    UpdateFeedback feedback;

    EXPECT_EQ(Run(feedback), ReplaceOutcome::Replaced);

    EXPECT_EQ(clock.pauses, 0);
    EXPECT_TRUE(clock.attributesAtDelete.empty()) << "nothing to delete";
    EXPECT_EQ(clock.moves, 1);
    EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
    EXPECT_FALSE(Exists(NewPath()));
}

TEST_F(Update, AFolderAtTheExecutablesNameEndsTheWaitAndTheFailedMoveLosesNothing) {
    ASSERT_TRUE(::CreateDirectoryW(AsWide(OldPath()), nullptr));
    FastClock clock;
    ScopedSystemApi scoped(clock);
    UpdateFeedback feedback;

    EXPECT_EQ(Run(feedback), ReplaceOutcome::FolderInTheWay);
    EXPECT_TRUE(UpdateGoesOn(ReplaceOutcome::FolderInTheWay));

    EXPECT_EQ(clock.pauses, 0);
    EXPECT_EQ(clock.moves, 1) << "one attempt, as nothing was deleted";
    EXPECT_TRUE(::GetFileAttributesW(AsWide(OldPath())) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(ReadBytes(NewPath()), kNewProgram);
    EXPECT_TRUE(feedback.messages.empty());
    EXPECT_TRUE(state_.keptFiles.empty()) << "the new executable is no one's only copy";
}

// The application does not end within the minute: the user is asked, and
// answers from the script; `releaseAtQuestion` is the question (1-based) at
// which the application is closed by hand while the box is open (0: never).
struct WaitCase {
    const char* name;
    std::deque<int> answers;
    int releaseAtQuestion;
    ReplaceOutcome outcome;
    size_t questions;
};
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class BoundedWait : public Update, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(BoundedWait, AfterAMinuteTheUserChoosesBetweenWaitingAndGivingUp) {
    const WaitCase& c = GetParam();
    InstallRunningProgram();
    // Near the wrap of the tick count, so the minute is measured across it.
    FastClock clock(0xFFFFFFFFu - 20000);
    ScopedSystemApi scoped(clock);
    UpdateFeedback feedback(c.answers);
    std::vector<DWORD> askedAt;
    feedback.onMessage = [&] {
        askedAt.push_back(clock.now);
        if (static_cast<int>(askedAt.size()) == c.releaseAtQuestion) Release();
    };
    const DWORD start = clock.now;

    EXPECT_EQ(Run(feedback), c.outcome);

    ASSERT_EQ(feedback.messages.size(), c.questions);
    const U16String expected = FormatPositional(LoadStringResource(IDS_UPDATE_STILL_RUNNING), {OldPath()});
    ASSERT_NE(expected.find(OldPath()), U16String::npos);
    DWORD previous = start;
    for (size_t k = 0; k < c.questions; ++k) {
        EXPECT_EQ(feedback.messages[k].text, expected);
        EXPECT_EQ(feedback.messages[k].style, static_cast<uint32_t>(MB_RETRYCANCEL | MB_ICONEXCLAMATION));
        // Asked once a minute has passed since the start or since the last
        // Retry, not a pause later.
        EXPECT_GE(askedAt[k] - previous, kApplicationCloseWait) << "question " << k + 1;
        EXPECT_LT(askedAt[k] - previous, kApplicationCloseWait + kDeleteRetryPause) << "question " << k + 1;
        previous = askedAt[k];
    }
    for (const std::string& event : feedback.events) EXPECT_NE(event, "message while waiting");

    if (c.outcome == ReplaceOutcome::GaveUp) {
        EXPECT_FALSE(UpdateGoesOn(c.outcome));
        EXPECT_EQ(clock.moves, 0);
        Release();
        // The failed sequence is taken back: the new executable goes, the
        // installed one stays as it was.
        RecordingFeedback removal;
        RemoveInstallation(state_, removal);
        EXPECT_FALSE(Exists(NewPath()));
        EXPECT_EQ(ReadBytes(OldPath()), kOldProgram);
    } else {
        EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
        EXPECT_FALSE(Exists(NewPath()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Update, BoundedWait,
    ::testing::Values(WaitCase{"CancelAtOnce", {IDCANCEL}, 0, ReplaceOutcome::GaveUp, 1},
                      WaitCase{"RetryThenCancel", {IDRETRY, IDCANCEL}, 0, ReplaceOutcome::GaveUp, 2},
                      WaitCase{"ClosedByHandThenRetry", {IDRETRY}, 1, ReplaceOutcome::Replaced, 1}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

TEST_F(Update, AMoveRefusedForAWhileIsTriedAgain) {
    FastClock clock;
    clock.failingMoves = 3;
    ScopedSystemApi scoped(clock);
    UpdateFeedback feedback;

    EXPECT_EQ(Run(feedback), ReplaceOutcome::Replaced);

    EXPECT_EQ(clock.moves, 4);
    EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
    EXPECT_TRUE(feedback.messages.empty());
}

TEST_F(Update, AMoveThatKeepsFailingNamesBothPathsAndKeepsTheNewExecutableThroughTheRemoval) {
    InstallRunningProgram();
    Release();  // the application has ended: the old executable will be deleted
    FastClock clock;
    clock.failingMoves = 1000;
    ScopedSystemApi scoped(clock);
    UpdateFeedback feedback;

    const ReplaceOutcome outcome = Run(feedback);

    EXPECT_EQ(outcome, ReplaceOutcome::NotMoved);
    EXPECT_FALSE(UpdateGoesOn(outcome));
    EXPECT_EQ(clock.moves, static_cast<int>(kMoveAttempts));
    EXPECT_FALSE(Exists(OldPath()));
    ASSERT_EQ(feedback.messages.size(), 1u);
    const U16String& text = feedback.messages[0].text;
    EXPECT_EQ(text, FormatPositional(LoadStringResource(IDS_UPDATE_MOVE_FAILED),
                                     {NewPath(), OldPath(), SystemErrorText(ERROR_ACCESS_DENIED)}));
    EXPECT_NE(text.find(NewPath()), U16String::npos);
    EXPECT_NE(text.find(OldPath() + u"\n"), U16String::npos) << ToUtf8(text);
    EXPECT_EQ(feedback.messages[0].style, static_cast<uint32_t>(MB_OK | MB_ICONHAND));
    EXPECT_EQ(feedback.events, (std::vector<std::string>{"wait", "end", "message"}));

    // The sequence fails and is taken back; the new executable, now the only
    // copy of the application, survives it.
    RecordingFeedback removal;
    RemoveInstallation(state_, removal);
    EXPECT_EQ(ReadBytes(NewPath()), kNewProgram);
}

// What the install sequence makes of each outcome, and what the removal of a
// failed update then leaves: the sequence goes on to the SDK only when the
// application is in place or nothing of it was lost.
enum class Situation { EndsWhenAsked, NeverEnds, MoveRefused, FolderAtTheName };

struct SequenceCase {
    const char* name;
    Situation situation;
    bool succeeds;
    // After the sequence and, when it failed, the removal:
    bool newExecutableAtTmp;  // the new executable still at "Quentar.exe.tmp"
    const std::vector<uint8_t>* atOldPath;  // what "Quentar.exe" holds (null: nothing there)
};
void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class UpdateSequence : public Update, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(UpdateSequence, GoesOnOnlyWhenNothingOfTheApplicationIsLost) {
    const SequenceCase& c = GetParam();
    // The install sequence writes the ".tmp" itself, from the payload.
    ASSERT_TRUE(::DeleteFileW(AsWide(NewPath())));
    state_.installedFiles.clear();
    state_.payload = testing::MakePayload({{kApplicationEntryName, kNewProgram, testing::kTime2010},
                                           {kArecontSdkEntryName, Bytes("camera SDK"), testing::kTime2010}});
    state_.applicationEntry = FindEntry(kApplicationEntryName, state_);
    state_.installArecontRuntime = true;
    ChunkPlan plan;
    PlanChunks(state_.applicationEntry.FileSizeLow(), plan);

    FastClock clock;
    switch (c.situation) {
        case Situation::EndsWhenAsked:
            InstallRunningProgram();
            window_.onClose = [&] { Release(); };
            break;
        case Situation::NeverEnds:
            InstallRunningProgram();
            break;
        case Situation::MoveRefused:
            clock.failingMoves = 1000;
            break;
        case Situation::FolderAtTheName:
            ASSERT_TRUE(::CreateDirectoryW(AsWide(OldPath()), nullptr));
            break;
    }
    ScopedSystemApi scoped(clock);
    UpdateFeedback feedback;  // Cancel, should the minute pass

    EXPECT_EQ(RunInstallSequence(state_, arguments_, plan, feedback), c.succeeds);
    Release();

    const U16String sdk = folder_ / u"AV2000SDK.dll";
    if (c.succeeds) {
        EXPECT_TRUE(Exists(sdk));
        EXPECT_EQ(state_.runPath, OldPath());
    } else {
        EXPECT_FALSE(Exists(sdk)) << "the sequence stops before the SDK";
        RecordingFeedback removal;
        RemoveInstallation(state_, removal);
    }
    EXPECT_EQ(Exists(NewPath()), c.newExecutableAtTmp);
    if (c.newExecutableAtTmp) EXPECT_EQ(ReadBytes(NewPath()), kNewProgram);
    if (c.atOldPath != nullptr) {
        EXPECT_EQ(ReadBytes(OldPath()), *c.atOldPath);
    } else if (c.situation != Situation::FolderAtTheName) {
        EXPECT_FALSE(Exists(OldPath()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Update, UpdateSequence,
    ::testing::Values(SequenceCase{"Replaced", Situation::EndsWhenAsked, true, false, &kNewProgram},
                      SequenceCase{"GivenUp", Situation::NeverEnds, false, false, &kOldProgram},
                      SequenceCase{"NotMoved", Situation::MoveRefused, false, true, nullptr},
                      SequenceCase{"FolderInTheWay", Situation::FolderAtTheName, true, true, nullptr}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

// The real sample application, started from the old executable's place: it
// ends on the request posted to its window, and its executable is replaced.
TEST_F(Update, TheRunningSampleApplicationEndsAndIsReplaced) {
    testing::RunningProgram program(OldPath());
    ASSERT_TRUE(program.Running());
    const HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    arguments_.updateWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    ASSERT_EQ(::DeleteFileW(AsWide(OldPath())), FALSE) << "a running executable cannot be deleted";
    UpdateFeedback feedback;  // the real clock: the question would come after a minute

    EXPECT_EQ(Run(feedback), ReplaceOutcome::Replaced);

    EXPECT_TRUE(feedback.messages.empty());
    EXPECT_TRUE(program.WaitForEnd(10000));
    EXPECT_EQ(ReadBytes(OldPath()), kNewProgram);
    EXPECT_FALSE(Exists(NewPath()));
}

// ---------------------------------------------------------------------------
// Which executable an update may act on

// An uninstall record as this program writes it, for `folder`, listing
// `files`; removed with the test.
std::unique_ptr<test_registry::ScratchKey> MakeRecord(const U16String& folder, const std::vector<U16String>& files,
                                                      const wchar_t* displayName = L"Quentar 2009") {
    auto key = std::make_unique<test_registry::ScratchKey>(
        HKEY_LOCAL_MACHINE, AsWide(UninstallRecord::KeyPath(FromWide(test_registry::NewGuidText().c_str()))));
    EXPECT_TRUE(key->Created());
    key->SetText(L"DisplayName", displayName);
    key->SetText(L"Folder", AsWide(folder));
    key->SetText(L"UninstallString", AsWide(UninstallRecord::UninstallCommand(JoinPath(folder, u"Quentar.exe"))));
    for (size_t i = 0; i < files.size(); ++i) {
        key->SetText(AsWide(UninstallRecord::FileValueName(static_cast<uint32_t>(i))), AsWide(files[i]));
    }
    return key;
}

// Makes a chosen path look like a junction or symbolic link, which Wine
// cannot make from here.
class LinkAt : public ForwardingSystemApi {
public:
    explicit LinkAt(U16String path) : ForwardingSystemApi(Sys()), path_(std::move(path)) {}
    DWORD GetFileAttributesW(LPCWSTR name) override {
        const DWORD attributes = inner_.GetFileAttributesW(name);
        if (EqualsIgnoreAsciiCase(FromWide(name), path_) && attributes != INVALID_FILE_ATTRIBUTES) {
            return attributes | FILE_ATTRIBUTE_REPARSE_POINT;
        }
        return attributes;
    }

private:
    U16String path_;
};

TEST(UpdateTarget, OnlyTheExecutableOfAnInstallationThisProgramRecordedIsAccepted) {
    TempFolder root;
    // Recorded installations, each in a folder of its own.
    const U16String installed = root / u"Installed";
    const U16String unlisted = root / u"Unlisted";      // its record lists only help.pdf
    const U16String foreign = root / u"Foreign";        // recorded by another product
    const U16String folderAtName = root / u"FolderAtName";
    const U16String unrecorded = root / u"Unrecorded";  // no record at all
    for (const U16String& folder : {installed, unlisted, foreign, folderAtName, unrecorded}) {
        ASSERT_TRUE(::CreateDirectoryW(AsWide(folder), nullptr));
        WriteBytes(JoinPath(folder, u"Quentar.exe"), kOldProgram);
        WriteBytes(JoinPath(folder, u"help.pdf"), Bytes("help"));
    }
    const U16String exe = JoinPath(installed, u"Quentar.exe");
    const U16String folderExe = JoinPath(folderAtName, u"Quentar.exe");
    ASSERT_TRUE(::DeleteFileW(AsWide(folderExe)));
    ASSERT_TRUE(::CreateDirectoryW(AsWide(folderExe), nullptr));
    const std::unique_ptr<test_registry::ScratchKey> records[] = {
        MakeRecord(installed, {exe, JoinPath(installed, u"help.pdf")}),
        MakeRecord(unlisted, {JoinPath(unlisted, u"help.pdf")}),
        MakeRecord(foreign, {JoinPath(foreign, u"Quentar.exe")}, L"Zorbel Viewer"),
        MakeRecord(folderAtName, {folderExe}),
    };

    struct Case {
        const char* what;
        U16String path;
        U16String linkAt;     // made to look like a link
        std::string problem;  // empty: accepted
        bool exeMissing = false;
    };
    const U16String drive = installed.substr(0, 2);
    const U16String parent = installed.substr(0, installed.rfind(u'\\'));
    const Case cases[] = {
        {"the recorded executable", exe, u"", ""},
        {"the recorded executable missing", exe, u"", "", true},
        {"in other letter case", AsciiUpper(exe), u"", ""},
        {"outside any recorded installation", JoinPath(unrecorded, u"Quentar.exe"), u"",
         "no uninstall record of this program is for the folder " + ToUtf8(unrecorded)},
        {"another file of the recorded folder", JoinPath(installed, u"help.pdf"), u"",
         ToUtf8(JoinPath(installed, u"help.pdf")) + " does not name Quentar.exe"},
        {"a record that does not list it", JoinPath(unlisted, u"Quentar.exe"), u"",
         "no uninstall record of this program for the folder " + ToUtf8(unlisted) + " lists " +
             ToUtf8(JoinPath(unlisted, u"Quentar.exe"))},
        {"a record another product wrote", JoinPath(foreign, u"Quentar.exe"), u"",
         "no uninstall record of this program is for the folder " + ToUtf8(foreign)},
        {"a folder at the name", folderExe, u"", ToUtf8(folderExe) + " is a folder"},
        {"a link on the way", exe, installed, ToUtf8(installed) + " is a junction or symbolic link"},
        {"a link at the name", exe, exe, ToUtf8(exe) + " is a junction or symbolic link"},
        {"a UNC path", u"\\\\server\\share\\Quentar\\Quentar.exe", u"", "is not the full local path"},
        {"a device path", u"\\\\?\\" + exe, u"", "is not the full local path"},
        {"a way out with ..", installed + u"\\..\\" + installed.substr(parent.size() + 1) + u"\\Quentar.exe", u"",
         "is not the full local path"},
        {"a doubled backslash", parent + u"\\\\" + installed.substr(parent.size() + 1) + u"\\Quentar.exe", u"",
         "is not the full local path"},
        {"a forward slash", parent + u"/" + installed.substr(parent.size() + 1) + u"\\Quentar.exe", u"",
         "is not the full local path"},
        {"a stream of the file", exe + u":payload", u"", "is not the full local path"},
        {"a relative path", u"Quentar.exe", u"", "is not the full local path"},
        {"a drive's root", drive + u"\\Quentar.exe", u"", "is not the full local path"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.exeMissing) {
            ASSERT_TRUE(::DeleteFileW(AsWide(exe)));
        }
        LinkAt link(c.linkAt);
        ScopedSystemApi installedLink(link);
        UpdateArguments arguments;
        arguments.updateMode = true;
        arguments.updateExePath = c.path;
        const size_t slash = c.path.rfind(u'\\');
        if (slash != U16String::npos && slash >= 1) arguments.updateExeFolder = c.path.substr(0, slash);
        U16String problem;
        EXPECT_EQ(CheckUpdateTarget(arguments, problem), c.problem.empty()) << ToUtf8(problem);
        if (!c.problem.empty()) {
            EXPECT_NE(ToUtf8(problem).find(c.problem), std::string::npos) << ToUtf8(problem);
        }
        if (c.exeMissing) WriteBytes(exe, kOldProgram);
    }

    // The folder set by another "/exe:" argument than the path's.
    UpdateArguments mixed;
    mixed.updateExePath = exe;
    mixed.updateExeFolder = unrecorded;
    U16String problem;
    EXPECT_FALSE(CheckUpdateTarget(mixed, problem));
    EXPECT_EQ(ToUtf8(problem), "the folder " + ToUtf8(unrecorded) + " is not the folder of " + ToUtf8(exe));
}

}  // namespace
}  // namespace quentar
