// The destination page as the user meets it: its defaults, what Next refuses
// and with which message, where the focus lands afterwards, the folders it
// creates on request, and choosing the folder with Browse.
#include <shlobj.h>

#include "destination_forms.h"
#include "install_support.h"
#include "page_walk.h"
#include "run_log_reader.h"
#include "sample_packages.h"
#include "tests/common/unix_side.h"

namespace ui_test {
namespace {

using ui::Wizard;

const std::wstring kQuestionStart = L"The path doesn't exist:\n";
const std::wstring kQuestionEnd = L"\n\nWoud you like to create it?";
const std::wstring kCannotCreate = L"Unable to create path:\n";
const std::wstring kFieldEmpty = L"The field cannot be empty";
const std::wstring kIllegal = L"Illegal characters";
const std::wstring kRightsStart = L"The permissions of the folder\n";
const std::wstring kRightsEnd =
    L"\nlet users other than administrators change its files.\n\nSetup will change these permissions so that only "
    L"administrators can change the installed program. Do you want to continue?";
const std::wstring kLinkStart = L"The destination is a junction or a symbolic link:\n";
const std::wstring kLinkEnd = L"\n\nChoose a folder that is not a link to another place.";

// Message 272 for a destination longer than kMaxDestinationLength.
std::wstring TooLong(const std::wstring& path) {
    const size_t over = path.size() - kMaxDestinationLength;
    return L"The path is too long:\n" + path + L"\n\nShorten it by " + std::to_wstring(over) + L" character(s).";
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                unix_side::RemoveUnixLink(child);  // the link, never what it leads to
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(path.c_str());
}

// A folder of the test's own in the prefix, made empty at the start and
// removed at the end, with an existing sub-folder and an existing file.
class DestinationPage : public PageWalkTest {
protected:
    void SetUp() override {
        PageWalkTest::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = L"C:\\QuentarUiTests\\" + Widen(info->name());
        RemoveTree(root_);
        ::CreateDirectoryW(L"C:\\QuentarUiTests", nullptr);
        ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr)) << "error " << ::GetLastError();
        ASSERT_TRUE(::CreateDirectoryW(Existing().c_str(), nullptr));
        const HANDLE file = ::CreateFileW(AFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::CloseHandle(file);
    }
    void TearDown() override {
        PageWalkTest::TearDown();  // the setup process is gone before its folders go
        RemoveTree(root_);
    }

    std::wstring Existing() const { return root_ + L"\\Existing"; }
    std::wstring Link() const { return root_ + L"\\Link"; }
    std::wstring AFile() const { return root_ + L"\\afile.txt"; }

    // A path below root_\<under> of exactly `length` characters.
    std::wstring LongPath(size_t length, const std::wstring& under = L"Long") const {
        std::wstring path = root_ + L"\\" + under;
        while (path.size() + 11 <= length) path += L"\\abcdefghij";
        if (path.size() < length) path += L"\\" + std::wstring(length - path.size() - 1, L'x');
        return path;
    }

    // One message box: its text, and the button to answer it with.
    struct Box {
        std::wstring text;
        int answer;
    };

    // Answers the boxes in turn, checking their texts and buttons, and then
    // (when the page is to stay) that no other box follows.
    enum class Then { kStay, kMoveOn };
    void ExpectBoxes(const std::vector<Box>& boxes, Then then = Then::kStay) {
        for (const Box& expected : boxes) {
            const auto box = ui::FindMessageBox(Process().Id());
            ASSERT_TRUE(box) << "no box; expected \"" << Narrow(expected.text) << "\"";
            EXPECT_EQ(Narrow(box->Text()), Narrow(expected.text));
            EXPECT_EQ(Narrow(box->Caption()), "Setup");
            const bool question = expected.text.compare(0, kQuestionStart.size(), kQuestionStart) == 0 ||
                                  expected.text.compare(0, kRightsStart.size(), kRightsStart) == 0;
            EXPECT_EQ(box->HasButton(IDYES), question);
            EXPECT_EQ(box->HasButton(IDNO), question);
            EXPECT_EQ(box->HasButton(IDOK), !question);
            ASSERT_TRUE(box->Answer(expected.answer));
            ASSERT_TRUE(ui::WaitUntil([&] { return !::IsWindow(box->Window()); })) << "the box stays open";
        }
        if (then == Then::kMoveOn) return;  // the next page's own boxes are its business
        const auto extra = ui::FindMessageBox(Process().Id(), ui::Duration{500});
        EXPECT_FALSE(extra) << "another box: \"" << (extra ? Narrow(extra->Text()) : std::string()) << "\"";
        if (extra) extra->Answer(extra->HasButton(IDCANCEL) ? IDCANCEL : IDOK);
    }

    static std::wstring Question(const std::wstring& path) { return kQuestionStart + path + kQuestionEnd; }
    static std::wstring RightsQuestion(const std::wstring& path) { return kRightsStart + path + kRightsEnd; }

    std::wstring root_;
};

std::wstring ProgramFilesFolder() {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path)) ? path
                                                                                         : L"C:\\Program Files";
}

TEST_F(DestinationPage, OpensWithTheDefaults) {
    auto wizard = OpenAt(IDD_DESTINATION);
    ASSERT_TRUE(wizard);
    EXPECT_EQ(Narrow(wizard->Title()), "Destination");
    EXPECT_EQ(Narrow(wizard->Text(IDC_PROGRAM_FOLDER)), "Quentar 2009");
    EXPECT_EQ(Narrow(wizard->Text(IDC_DESTINATION)), Narrow(ProgramFilesFolder() + L"\\Quentar 2009"));
    EXPECT_TRUE(wizard->IsChecked(IDC_DESKTOP_BOX));
    // The buttons stay as the licence page left them.
    EXPECT_TRUE(wizard->IsEnabled(Wizard::kBack));
    EXPECT_TRUE(wizard->IsEnabled(Wizard::kNext));
    for (const wchar_t* heading : {L"Select &program folder:", L"Select &destination folder:",
                                   L"Click \"Next\" to start installation..."}) {
        const HWND window = wizard->PageWindowWithText(heading);
        ASSERT_NE(window, nullptr) << Narrow(heading);
        EXPECT_TRUE(wizard->IsBold(window)) << Narrow(heading);
    }
    // The space the chosen components need (all three were proposed: the
    // application's files, the SDK and the runtime packages), in whole
    // megabytes, rounded up.
    std::vector<std::wstring> sources = {std::wstring(UI_SAMPLE_FILES) + L"\\AXISMediaControlSDK_redist.exe"};
    for (const PayloadFile& file : InstalledPayloadFiles()) sources.push_back(file.source);
    for (const SamplePackage& package : kSamplePackages) {
        sources.push_back(std::wstring(UI_SAMPLE_DATA) + L"\\" + package.entry);
    }
    uint64_t bytes = 0;
    for (const std::wstring& source : sources) {
        const auto content = ReadBytes(source);
        ASSERT_TRUE(content) << Narrow(source);
        bytes += content->size();
    }
    constexpr uint64_t kMegabyte = 1024 * 1024;
    EXPECT_EQ(Narrow(wizard->Text(IDC_SPACE_TEXT)),
              Narrow(L"To install to a different folder, click Browse and select another folder.\nQuentar requires "
                     L"approximately " + std::to_wstring((bytes + kMegabyte - 1) / kMegabyte) +
                     L" megabytes of free hard drive space."));
    Screenshot("destination");
}

// What Next refuses, one case after another on the same page. "Focus" is
// where the keyboard focus is once the last box is answered; the desktop box
// holds it before Next, so it stays there unless the page moves it.
TEST_F(DestinationPage, NextRefusesWithTheMessageAndFocusOfEachCase) {
    auto wizard = OpenAt(IDD_DESTINATION);
    ASSERT_TRUE(wizard);
    const std::wstring missing = root_ + L"\\New\\Deeper";
    const std::wstring tooLong = LongPath(kMaxDestinationLength + 1);
    const std::wstring atTheLimit = LongPath(kMaxDestinationLength);
    const std::wstring beyondMaxPath = LongPath(300);
    // An existing folder is held to the same rule.
    const std::wstring existingTooLong = LongPath(kMaxDestinationLength + 2, L"Made");
    for (size_t at = root_.size() + 1; at != std::wstring::npos; at = existingTooLong.find(L'\\', at + 1)) {
        ::CreateDirectoryW(existingTooLong.substr(0, at).c_str(), nullptr);
    }
    ASSERT_TRUE(::CreateDirectoryW(existingTooLong.c_str(), nullptr)) << "error " << ::GetLastError();
    // A Unix link stands for a junction or symbolic link: Wine shows it as
    // a folder that is a reparse point.
    ASSERT_TRUE(unix_side::MakeUnixLink(Existing(), Link()));

    struct Case {
        const char* name;
        std::wstring programFolder;
        std::wstring destination;
        std::vector<Box> boxes;
        int focus;
        std::vector<std::wstring> notCreated;
    };
    const std::vector<Case> cases = {
        {"program folder empty", L"", Existing(), {{kFieldEmpty, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        // The destination is not looked at: it is empty too.
        {"program folder blanks only", L" \t \u3000", L"", {{kFieldEmpty, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        {"colon", L"Quentar:2009", Existing(), {{kIllegal, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        {"slash", L"Tools/Quentar", Existing(), {{kIllegal, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        {"backslash", L"Tools\\Quentar", Existing(), {{kIllegal, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        {"asterisk", L"Quentar*", Existing(), {{kIllegal, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        {"question mark", L" Quentar? ", Existing(), {{kIllegal, IDOK}}, IDC_PROGRAM_FOLDER, {}},
        // A vertical bar passes: the next check is the destination's.
        {"vertical bar, destination empty", L"Quentar|2009", L"", {{kFieldEmpty, IDOK}}, IDC_DESTINATION, {}},
        {"destination blanks only", L"Quentar 2009", L"  \t ", {{kFieldEmpty, IDOK}}, IDC_DESTINATION, {}},
        {"missing, answered No", L"Quentar 2009", missing, {{Question(missing), IDNO}}, IDC_DESKTOP_BOX,
         {root_ + L"\\New"}},
        {"missing, answered Cancel", L"Quentar 2009", L"  " + missing + L" ", {{Question(missing), IDCANCEL}},
         IDC_DESKTOP_BOX, {root_ + L"\\New"}},
        {"an existing file", L"Quentar 2009", AFile(), {{Question(AFile()), IDYES}, {kCannotCreate + AFile(), IDOK}},
         IDC_DESKTOP_BOX, {}},
        {"an existing folder with a trailing backslash", L"Quentar 2009", Existing() + L"\\",
         {{Question(Existing() + L"\\"), IDYES}, {kCannotCreate + Existing() + L"\\", IDOK}}, IDC_DESKTOP_BOX, {}},
        {"a drive root", L"Quentar 2009", L"C:\\", {{Question(L"C:\\"), IDYES}, {kCannotCreate + L"C:\\", IDOK}},
         IDC_DESKTOP_BOX, {}},
        // A wildcard that matches the existing folder is no folder of its own.
        {"a wildcard", L"Quentar 2009", root_ + L"\\Exist*",
         {{Question(root_ + L"\\Exist*"), IDYES}, {kCannotCreate + root_ + L"\\Exist*", IDOK}}, IDC_DESKTOP_BOX, {}},
        {"as long as can be offered", L"Quentar 2009", atTheLimit, {{Question(atTheLimit), IDCANCEL}},
         IDC_DESKTOP_BOX, {root_ + L"\\Long"}},
        // Too long to hold the installed files: no question, nothing made.
        {"one character too long", L"Quentar 2009", tooLong, {{TooLong(tooLong), IDOK}}, IDC_DESKTOP_BOX,
         {root_ + L"\\Long"}},
        {"longer than MAX_PATH", L"Quentar 2009", beyondMaxPath, {{TooLong(beyondMaxPath), IDOK}}, IDC_DESKTOP_BOX,
         {root_ + L"\\Long"}},
        {"an existing folder too long", L"Quentar 2009", existingTooLong, {{TooLong(existingTooLong), IDOK}},
         IDC_DESKTOP_BOX, {}},
        {"a symbolic link", L"Quentar 2009", Link(), {{kLinkStart + Link() + kLinkEnd, IDOK}}, IDC_DESKTOP_BOX, {}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wizard->SetText(IDC_PROGRAM_FOLDER, c.programFolder);
        wizard->SetText(IDC_DESTINATION, c.destination);
        ASSERT_EQ(wizard->Text(IDC_PROGRAM_FOLDER), c.programFolder);
        ASSERT_EQ(wizard->Text(IDC_DESTINATION), c.destination);
        ASSERT_TRUE(wizard->Focus(IDC_DESKTOP_BOX));
        ASSERT_TRUE(ui::WaitUntil([&] { return wizard->HasFocus(IDC_DESKTOP_BOX); }));

        ASSERT_TRUE(wizard->Press(IDD_DESTINATION, PSBTN_NEXT));
        ExpectBoxes(c.boxes);
        if (HasFatalFailure()) return;
        EXPECT_TRUE(wizard->Activate());
        EXPECT_TRUE(ui::WaitUntil([&] { return wizard->HasFocus(c.focus); }))
            << "focus on " << ::GetDlgCtrlID(wizard->FocusedWindow());
        EXPECT_EQ(wizard->CurrentPageId(), IDD_DESTINATION);
        for (const std::wstring& path : c.notCreated) EXPECT_FALSE(Exists(path)) << Narrow(path);
        // The fields are checked, not changed.
        EXPECT_EQ(wizard->Text(IDC_DESTINATION), c.destination);
    }
    EXPECT_TRUE(IsFolder(Existing()));
    EXPECT_FALSE(IsFolder(AFile()));
    EXPECT_FALSE(Exists(Existing() + L"\\Quentar.exe")) << "written behind the link";
    Screenshot("still-here");
}

// A test that reaches the progress page ends there: what that page does is
// not this page's business.
void LeaveAtTheProgressPage(ui::SetupProcess& process) { process.Kill(); }

TEST_F(DestinationPage, CreatesAMissingFolderLevelByLevelAndMovesOn) {
    auto wizard = OpenAt(IDD_DESTINATION);
    ASSERT_TRUE(wizard);
    const std::wstring destination = root_ + L"\\New\\Deeper";
    ASSERT_TRUE(wizard->SetText(IDC_DESTINATION, destination));
    ASSERT_TRUE(wizard->Next(IDD_DESTINATION));
    ExpectBoxes({{Question(destination), IDYES}}, Then::kMoveOn);
    EXPECT_TRUE(wizard->WaitForPage(IDD_PROGRESS)) << "on page " << wizard->CurrentPageId();
    LeaveAtTheProgressPage(Process());
    // The inner folder can only have been made after the outer one.
    EXPECT_TRUE(IsFolder(root_ + L"\\New"));
    EXPECT_TRUE(IsFolder(destination));
}

TEST_F(DestinationPage, AnExistingFolderPassesWithoutAQuestion) {
    auto wizard = OpenAt(IDD_DESTINATION);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(wizard->SetText(IDC_DESTINATION, L" " + Existing() + L"\t"));
    ASSERT_TRUE(wizard->Next(IDD_DESTINATION));
    // A question would hold the wizard on this page until answered.
    EXPECT_TRUE(wizard->WaitForPage(IDD_PROGRESS)) << "on page " << wizard->CurrentPageId();
    LeaveAtTheProgressPage(Process());
}

// Only a full path is taken: any other form is refused at once (212), a
// full one that is missing is offered to be made (211), and an existing one
// written with the long-path prefix is taken as it is. The same table is
// run with "/dir:" (unattended_test.cpp).
TEST_F(DestinationPage, OnlyFullPathsAreTakenWhateverTheirForm) {
    auto wizard = OpenAt(IDD_DESTINATION);
    ASSERT_TRUE(wizard);
    for (const DestinationForm& form : DestinationForms(Existing())) {
        SCOPED_TRACE(form.name);
        ASSERT_TRUE(wizard->SetText(IDC_DESTINATION, form.path));
        ASSERT_TRUE(wizard->Press(IDD_DESTINATION, PSBTN_NEXT));
        if (!form.full) {
            ExpectBoxes({{kCannotCreate + form.path, IDOK}});
            EXPECT_FALSE(Exists(form.path)) << "made relative to the current folder";
        } else if (!Exists(form.path)) {
            ExpectBoxes({{Question(form.path), IDCANCEL}});
        } else {
            // An existing folder passes: the last case, as the wizard moves on.
            EXPECT_TRUE(wizard->WaitForPage(IDD_PROGRESS)) << "on page " << wizard->CurrentPageId();
            LeaveAtTheProgressPage(Process());
            return;
        }
        if (HasFatalFailure()) return;
        EXPECT_TRUE(wizard->WaitForPage(IDD_DESTINATION));
    }
    ADD_FAILURE() << "no form moved the wizard on";
}

// An existing destination that others may change: the question first; No
// keeps its rights and returns to the destination; Yes gives it the rights
// of an installed program, which the log names, and the wizard moves on.
TEST_F(DestinationPage, AFolderOthersMayChangeGetsProgramRightsOnlyAfterYes) {
    const std::wstring log = FreshLogPath("destination-rights");
    auto wizard = OpenAt(IDD_DESTINATION, UI_SETUP_EXE, {L"/log:" + log});
    ASSERT_TRUE(wizard);
    const std::wstring shared = Existing();
    ASSERT_TRUE(MakeWritableForEverybody(shared));
    ASSERT_EQ(unix_side::UnixMode(shared), 0777u);

    ASSERT_TRUE(wizard->SetText(IDC_DESTINATION, shared));
    ASSERT_TRUE(wizard->Focus(IDC_DESKTOP_BOX));
    ASSERT_TRUE(wizard->Press(IDD_DESTINATION, PSBTN_NEXT));
    ExpectBoxes({{RightsQuestion(shared), IDNO}});
    if (HasFatalFailure()) return;
    EXPECT_TRUE(wizard->Activate());
    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->HasFocus(IDC_DESTINATION); }))
        << "focus on " << ::GetDlgCtrlID(wizard->FocusedWindow());
    EXPECT_EQ(wizard->CurrentPageId(), IDD_DESTINATION);
    EXPECT_EQ(unix_side::UnixMode(shared), 0777u) << "the rights changed after No";

    ASSERT_TRUE(wizard->Press(IDD_DESTINATION, PSBTN_NEXT));
    ExpectBoxes({{RightsQuestion(shared), IDYES}}, Then::kMoveOn);
    EXPECT_TRUE(wizard->WaitForPage(IDD_PROGRESS)) << "on page " << wizard->CurrentPageId();
    const DWORD id = Process().Id();
    LeaveAtTheProgressPage(Process());

    const std::vector<std::string> lines = LinesOf(ReadLog(log).value_or(std::vector<LogLine>{}), id);
    const std::string path = Utf8(shared);
    EXPECT_TRUE(HasLineStartingWith(lines, "rights found on " + path + ": ")) << Joined(lines);
    EXPECT_TRUE(HasLine(lines, "rights of " + path + " left as they are: another folder is to be chosen"))
        << Joined(lines);
    EXPECT_TRUE(HasLine(lines, "rights set on " + path +
                                   ": O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"))
        << Joined(lines);
    // Wine maps the new DACL to mode bits: nobody else may write any more.
    // (The group keeps the bits Wine derives from the account's own ACEs.)
    const std::optional<unsigned> after = unix_side::UnixMode(shared);
    ASSERT_TRUE(after) << "the Unix mode cannot be read";
    EXPECT_EQ(*after & 02, 0u) << "mode " << std::oct << *after;
    ::DeleteFileW(log.c_str());
}

// The browse dialog of the system: a "#32770" window of the setup process
// with a folder tree.
struct BrowseDialog {
    HWND window = nullptr;
    HWND tree = nullptr;
};

std::optional<BrowseDialog> WaitForBrowseDialog(DWORD processId) {
    BrowseDialog dialog;
    ui::WaitUntil([&] {
        for (HWND window : ui::TopLevelWindows(processId)) {
            const HWND tree = ui::FindDescendantOfClass(window, L"SysTreeView32");
            if (ui::ClassName(window) == L"#32770" && tree != nullptr) {
                dialog = {window, tree};
                return true;
            }
        }
        return false;
    });
    if (dialog.window == nullptr) return std::nullopt;
    return dialog;
}

// The folder names below the drive in a selection path (Desktop, My
// Computer, drive, folders ...); empty when the path holds no drive.
std::vector<std::wstring> FoldersBelowDrive(const std::vector<std::wstring>& path) {
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i].find(L"(C:)") != std::wstring::npos) return {path.begin() + i + 1, path.end()};
    }
    return {};
}

std::string Describe(const std::vector<std::wstring>& path) {
    std::string text;
    for (const std::wstring& part : path) text += "/" + Narrow(part);
    return text;
}

bool ButtonEnabled(HWND dialog, int id) {
    const HWND button = ::GetDlgItem(dialog, id);
    return button != nullptr && ::IsWindowVisible(button) && ::IsWindowEnabled(button);
}

// Browse opens the system's folder browser on the destination, and the folder
// chosen there replaces the whole destination; a cancelled browser changes
// nothing; an empty destination opens it without a preset. (The folders are
// the prefix's own: Wine's browser does not always find folders made while it
// runs.)
TEST_F(DestinationPage, BrowseOpensOnTheDestinationAndTheChoiceReplacesIt) {
    auto wizard = OpenAt(IDD_DESTINATION);
    ASSERT_TRUE(wizard);
    wchar_t windowsFolder[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windowsFolder, MAX_PATH), 0u);
    ASSERT_EQ(std::wstring(windowsFolder), L"C:\\windows");

    // 1. Opened on the destination; a sub-folder chosen.
    ASSERT_TRUE(wizard->SetText(IDC_DESTINATION, L"C:\\windows"));
    ASSERT_TRUE(wizard->Click(IDD_DESTINATION, IDC_BROWSE));
    auto dialog = WaitForBrowseDialog(Process().Id());
    ASSERT_TRUE(dialog);
    const ui::ForeignTreeView tree(dialog->tree);
    std::vector<std::wstring> selected;
    EXPECT_TRUE(ui::WaitUntil([&] {
        selected = tree.PathTo(tree.Selection());
        return FoldersBelowDrive(selected) == std::vector<std::wstring>{L"windows"};
    })) << "selected " << Describe(selected);
    // The dialog of the new style, with its "Make New Folder" button.
    EXPECT_TRUE(ButtonEnabled(dialog->window, 14150)) << "no Make New Folder button";
    Screenshot("browse-preset");
    const HTREEITEM system32 = tree.Child(tree.Selection(), L"system32");
    ASSERT_NE(system32, nullptr);
    ASSERT_TRUE(tree.Select(system32));
    ASSERT_TRUE(ui::WaitUntil([&] { return ButtonEnabled(dialog->window, IDOK); }));
    ASSERT_TRUE(ui::MessageBoxWindow(dialog->window).Answer(IDOK));
    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->Text(IDC_DESTINATION) == L"C:\\windows\\system32"; }))
        << "destination " << Narrow(wizard->Text(IDC_DESTINATION));

    // 2. Opened on the new destination, then cancelled: nothing changes.
    ASSERT_TRUE(ui::WaitUntil([&] { return !::IsWindow(dialog->window); }));
    ASSERT_TRUE(wizard->Click(IDD_DESTINATION, IDC_BROWSE));
    dialog = WaitForBrowseDialog(Process().Id());
    ASSERT_TRUE(dialog);
    const ui::ForeignTreeView again(dialog->tree);
    EXPECT_TRUE(ui::WaitUntil([&] {
        selected = again.PathTo(again.Selection());
        return FoldersBelowDrive(selected) == std::vector<std::wstring>{L"windows", L"system32"};
    })) << "selected " << Describe(selected);
    ASSERT_TRUE(ui::MessageBoxWindow(dialog->window).Answer(IDCANCEL));
    ASSERT_TRUE(ui::WaitUntil([&] { return !::IsWindow(dialog->window); }));
    EXPECT_EQ(Narrow(wizard->Text(IDC_DESTINATION)), "C:\\windows\\system32");

    // 3. An empty destination: no preset; the folder is found from the top,
    // past My Computer, which is no folder of the file system.
    ASSERT_TRUE(wizard->SetText(IDC_DESTINATION, L""));
    ASSERT_TRUE(wizard->Click(IDD_DESTINATION, IDC_BROWSE));
    dialog = WaitForBrowseDialog(Process().Id());
    ASSERT_TRUE(dialog);
    const ui::ForeignTreeView fresh(dialog->tree);
    const HTREEITEM computer = fresh.Child(fresh.Root(), L"My Computer");
    ASSERT_NE(computer, nullptr);
    selected = fresh.PathTo(fresh.Selection());
    EXPECT_TRUE(FoldersBelowDrive(selected).empty()) << "selected " << Describe(selected);
    ASSERT_TRUE(fresh.Select(computer));
    EXPECT_TRUE(ui::WaitUntil([&] { return !ButtonEnabled(dialog->window, IDOK); })) << "OK allowed on My Computer";
    HTREEITEM item = fresh.Child(computer, [](const std::wstring& t) { return t.find(L"(C:)") != std::wstring::npos; });
    for (const wchar_t* name : {L"users", L"Public"}) {
        ASSERT_NE(item, nullptr);
        item = fresh.Child(item, name);
    }
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(fresh.Select(item));
    ASSERT_TRUE(ui::WaitUntil([&] { return ButtonEnabled(dialog->window, IDOK); }));
    Screenshot("browse-chosen");
    ASSERT_TRUE(ui::MessageBoxWindow(dialog->window).Answer(IDOK));
    EXPECT_TRUE(ui::WaitUntil([&] { return wizard->Text(IDC_DESTINATION) == L"C:\\users\\Public"; }))
        << "destination " << Narrow(wizard->Text(IDC_DESTINATION));
    EXPECT_EQ(Narrow(wizard->Text(IDC_PROGRAM_FOLDER)), "Quentar 2009");
}

}  // namespace
}  // namespace ui_test
