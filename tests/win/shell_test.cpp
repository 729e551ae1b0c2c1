// The application shell on real Windows APIs: text rules against the C
// runtime, system messages, starting the installed application, bold
// markers and the required-field check on the program's own page templates.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <cwctype>
#include <memory>
#include <new>

#include "app/command_line.h"
#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "app/setup_app.h"
#include "message_box_catcher.h"
#include "page_host.h"
#include "platform/module_text.h"
#include "engine_test_support.h"
#include "platform/system_api.h"
#include "platform/user_token.h"
#include "platform/wide.h"
#include "wizard/setup_page.h"

namespace quentar {
namespace {

using testing::MessageBoxCatcher;

TEST(RuntimeAgreement, WhiteSpaceMatchesIswspaceForEveryUnit) {
    std::string mismatches;
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        if (IsWhiteSpace(static_cast<char16_t>(c)) != (iswspace(static_cast<wint_t>(c)) != 0)) {
            char unit[16];
            snprintf(unit, sizeof unit, " %04X", c);
            mismatches += unit;
        }
    }
    EXPECT_EQ(mismatches, "");
}

TEST(RuntimeAgreement, DecimalParsingMatchesWcstoi64) {
    const wchar_t* inputs[] = {L"1234", L"  1234", L"\t-1", L"+42", L"abc", L"", L"12ab",
                               L"4294967297", L"9223372036854775806", L"9223372036854775807", L"9223372036854775808",
                               L"-9223372036854775807", L"-9223372036854775808",
                               L"-9223372036854775809", L"99999999999999999999999", L"- 3", L"0x10"};
    for (const wchar_t* s : inputs) {
        EXPECT_EQ(ParseDecimal64(FromWide(s)), _wcstoi64(s, nullptr, 10)) << "input \"" << ToUtf8(FromWide(s)) << "\"";
    }
}

TEST(SystemMessages, ErrorTextIsOneTrimmedLine) {
    const U16String text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find(u'\r'), U16String::npos);
    EXPECT_EQ(text.find(u'\n'), U16String::npos);
    EXPECT_EQ(text, Trim(text));
    EXPECT_TRUE(SystemErrorText(0x2FFFFFFF).empty());  // no such message
}

TEST(FatalErrors, MessageOfEachKind) {
    const auto message = [](auto error) { return FatalMessage(std::make_exception_ptr(error)); };
    EXPECT_EQ(message(FatalError::Code(1040)), u"Unexpected error 1");
    EXPECT_EQ(message(FatalError::Code(777 + IDS_FIELD_EMPTY)), u"The field cannot be empty");
    EXPECT_EQ(message(FatalError::Code(777 + 4242)), u"");  // no such entry
    EXPECT_EQ(message(FatalError::Text(u"Payload entry \"help.pdf\" is damaged")),
              u"Payload entry \"help.pdf\" is damaged");
    // Not the runtime's internal name of the exception.
    EXPECT_EQ(message(std::bad_alloc()), u"Out of memory.");
}

TEST(SystemMessages, StringTableEntriesComeFromTheProgram) {
    EXPECT_EQ(LoadStringResource(IDS_SHEET_CAPTION), u"Quentar Setup");
    EXPECT_EQ(LoadStringResource(IDS_PATH_MISSING), u"The path doesn't exist:\n%1\n\nWoud you like to create it?");
    EXPECT_TRUE(LoadStringResource(4242).empty());
}

// The token of this test process, as a user's: what the shell's and the
// requester's lookups hand the start in the tests below.
UserToken OwnToken() { return ProcessUserToken(::GetCurrentProcess(), u"this test"); }

// Stands in for the machine's user sessions and records how a program is
// started: the shell window's process, the processes of the snapshot with
// their sessions, which process's token is taken, whose account it is, and
// the start calls with the token they were given. Processes are answered
// with handles of this process, so that their tokens are real.
class SessionSystem : public ForwardingSystemApi {
public:
    struct Listed {
        DWORD id;
        const wchar_t* exe;
        DWORD session;
    };
    struct StartCall {
        const char* how;  // "as user", "with token", "plain"
        HANDLE token;
        std::wstring application, directory, desktop;
        DWORD startupSize;
    };

    SessionSystem() : ForwardingSystemApi(Sys()) {}

    HWND GetShellWindow() override { return shellWindow; }
    DWORD GetWindowThreadProcessId(HWND window, LPDWORD id) override {
        if (window != shellWindow || window == nullptr) return inner_.GetWindowThreadProcessId(window, id);
        *id = shellProcess;
        return 1;
    }
    BOOL ProcessIdToSessionId(DWORD id, DWORD* session) override {
        if (id == ::GetCurrentProcessId()) {
            *session = ownSession;
            return TRUE;
        }
        for (const Listed& p : processes) {
            if (p.id == id) {
                *session = p.session;
                return TRUE;
            }
        }
        return FALSE;
    }
    HANDLE CreateToolhelp32Snapshot(DWORD, DWORD) override { return kSnapshot; }
    BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) override {
        next_ = 0;
        return Process32NextW(snapshot, entry);
    }
    BOOL Process32NextW(HANDLE, LPPROCESSENTRY32W entry) override {
        if (next_ >= processes.size()) return FALSE;
        entry->th32ProcessID = processes[next_].id;
        wcscpy(entry->szExeFile, processes[next_].exe);
        ++next_;
        return TRUE;
    }
    BOOL CloseHandle(HANDLE handle) override { return handle == kSnapshot ? TRUE : inner_.CloseHandle(handle); }
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD id) override {
        opened.push_back(id);
        return inner_.OpenProcess(access, inherit, ::GetCurrentProcessId());
    }
    BOOL DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES security,
                          SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE duplicate) override {
        const BOOL made = inner_.DuplicateTokenEx(token, access, security, level, type, duplicate);
        if (made) duplicated.push_back(*duplicate);
        primary = primary || type == TokenPrimary;
        return made;
    }
    BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size,
                             PDWORD needed) override {
        if (!asSystem || kind != TokenUser) return inner_.GetTokenInformation(token, kind, info, size, needed);
        // The system account's token.
        struct {
            TOKEN_USER user;
            BYTE sid[SECURITY_MAX_SID_SIZE];
        } system{};
        DWORD sidSize = sizeof(system.sid);
        ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system.sid, &sidSize);
        system.user.User.Sid = reinterpret_cast<PSID>(static_cast<BYTE*>(info) + offsetof(decltype(system), sid));
        *needed = sizeof(system);
        if (size < sizeof(system)) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(info, &system, sizeof(system));
        return TRUE;
    }
    BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR application, LPWSTR, LPSECURITY_ATTRIBUTES,
                              LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR directory, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION) override {
        Record("as user", token, application, directory, startup);
        ::SetLastError(asUserError);
        return asUserError == ERROR_SUCCESS;
    }
    BOOL CreateProcessWithTokenW(HANDLE token, DWORD, LPCWSTR application, LPWSTR, DWORD, LPVOID,
                                 LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) override {
        Record("with token", token, application, directory, startup);
        ::SetLastError(withTokenError);
        return withTokenError == ERROR_SUCCESS;
    }
    BOOL CreateProcessW(LPCWSTR application, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                        LPVOID, LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) override {
        Record("plain", nullptr, application, directory, startup);
        return FALSE;
    }

    HWND shellWindow = nullptr;
    DWORD shellProcess = 0;
    DWORD ownSession = 1;
    std::vector<Listed> processes;
    bool asSystem = false;
    DWORD asUserError = ERROR_SUCCESS;
    DWORD withTokenError = ERROR_SUCCESS;

    std::vector<DWORD> opened;
    std::vector<HANDLE> duplicated;
    bool primary = false;
    std::vector<StartCall> starts;

private:
    void Record(const char* how, HANDLE token, LPCWSTR application, LPCWSTR directory, LPSTARTUPINFOW startup) {
        starts.push_back({how, token, application ? application : L"", directory ? directory : L"",
                          startup->lpDesktop ? startup->lpDesktop : L"", startup->cb});
    }

    static inline const HANDLE kSnapshot = reinterpret_cast<HANDLE>(0x5A5A);
    size_t next_ = 0;
};

// After the wizard the installed application starts with the token of the
// signed-in user's shell, never with the setup program's own; when no user's
// token can be had it is not started at all.
TEST(StartAfterWizard, StartsWithTheTokenOfTheSignedInUsersShell) {
    struct Case {
        const char* what;
        bool shellWindow;
        std::vector<SessionSystem::Listed> processes;
        bool asSystem;
        DWORD asUserError;
        std::vector<DWORD> opened;  // the processes whose token was taken
        const char* how;            // how it was started; null: not at all
        const char* logged;         // the reason in the log when not started
    };
    const Case cases[] = {
        {"the shell window's process", true, {{300, L"explorer.exe", 1}}, false, ERROR_SUCCESS, {200}, "as user", ""},
        {"no shell window: the explorer of this session", false,
         {{300, L"explorer.exe", 0}, {301, L"notepad.exe", 1}, {302, L"EXPLORER.EXE", 1}}, false, ERROR_SUCCESS,
         {302}, "as user", ""},
        {"without the privilege: the secondary logon", true, {}, false, ERROR_PRIVILEGE_NOT_HELD, {200},
         "with token", ""},
        {"no shell at all", false, {{300, L"explorer.exe", 0}}, false, ERROR_SUCCESS, {}, nullptr,
         "there is no shell window and no explorer.exe in this session"},
        {"a shell of the system account", true, {}, true, ERROR_SUCCESS, {200}, nullptr,
         "the shell window's process 200 runs as a service account"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SessionSystem system;
        system.shellWindow = c.shellWindow ? reinterpret_cast<HWND>(0x1234) : nullptr;
        system.shellProcess = 200;
        system.processes = c.processes;
        system.asSystem = c.asSystem;
        system.asUserError = c.asUserError;
        ScopedSystemApi scope(system);
        testing::RecordingFeedback feedback;

        const UserToken user = ShellUserToken();
        EXPECT_EQ(system.opened, c.opened);
        EXPECT_EQ(StartInstalledApplication(user, u"C:\\Q\\Quentar.exe", u"C:\\Q", feedback), c.how != nullptr);

        if (c.how == nullptr) {
            EXPECT_TRUE(system.starts.empty()) << "started anyway, " << system.starts[0].how;
            EXPECT_EQ(feedback.log, StringList{u"Quentar is not started, as there is no token of a user to start it "
                                               u"with: " +
                                               FromUtf8(c.logged)});
            EXPECT_TRUE(feedback.messages.empty());
            continue;
        }
        ASSERT_FALSE(system.starts.empty());
        const SessionSystem::StartCall& start = system.starts.back();
        EXPECT_STREQ(start.how, c.how);
        // The duplicate of the user's token, as a primary token.
        EXPECT_TRUE(system.primary);
        ASSERT_EQ(system.duplicated.size(), 1u);
        EXPECT_EQ(start.token, system.duplicated[0]);
        EXPECT_EQ(start.application, L"C:\\Q\\Quentar.exe");
        EXPECT_EQ(start.directory, L"C:\\Q");
        EXPECT_EQ(start.desktop, L"winsta0\\default");
        EXPECT_EQ(start.startupSize, 68u);
        for (const SessionSystem::StartCall& call : system.starts) EXPECT_STRNE(call.how, "plain");
    }
}

// After an update the application starts with the token of the Quentar that
// asked for it: the process of its window, when that window is one of the
// executable being replaced.
TEST(StartAfterWizard, AfterAnUpdateStartsWithTheTokenOfTheRequestingApplication) {
    // A window of this process, whose image is answered as the executable.
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    class Image : public SessionSystem {
    public:
        BOOL QueryFullProcessImageNameW(HANDLE, DWORD, LPWSTR name, PDWORD size) override {
            const std::wstring image = L"C:\\Apps\\Quentar\\Quentar.exe";
            wcscpy(name, image.c_str());
            *size = static_cast<DWORD>(image.size());
            return TRUE;
        }
    } system;
    ScopedSystemApi scope(system);
    UpdateArguments arguments;
    arguments.updateMode = true;
    arguments.updateExePath = u"C:\\Apps\\Quentar\\Quentar.exe";
    arguments.updateWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));

    const UserToken requester = RequesterToken(arguments);
    ASSERT_TRUE(requester.token) << ToUtf8(requester.whose);
    EXPECT_EQ(system.opened, std::vector<DWORD>{::GetCurrentProcessId()});
    testing::RecordingFeedback feedback;
    EXPECT_TRUE(StartInstalledApplication(requester, arguments.updateExePath, u"C:\\Apps\\Quentar", feedback));
    ASSERT_EQ(system.starts.size(), 1u);
    EXPECT_EQ(system.starts[0].token, requester.token.get());

    // Another executable's window gives no token, and nothing is started.
    arguments.updateExePath = u"C:\\Apps\\Other\\Quentar.exe";
    const UserToken nobody = RequesterToken(arguments);
    EXPECT_FALSE(nobody.token);
    EXPECT_FALSE(StartInstalledApplication(nobody, arguments.updateExePath, u"C:\\Apps\\Other", feedback));
    EXPECT_EQ(system.starts.size(), 1u);
    ::DestroyWindow(window);
}

TEST(StartAfterWizard, FailureIsReportedWithTheSystemReason) {
    SessionSystem system;
    system.asUserError = ERROR_FILE_NOT_FOUND;
    ScopedSystemApi scope(system);
    MessageBoxCatcher boxes;
    EXPECT_FALSE(StartInstalledApplication(OwnToken(), u"C:\\Apps\\Quentar\\Quentar.exe", u"C:\\Apps\\Quentar"));
    ASSERT_EQ(system.starts.size(), 1u);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const std::wstring expected =
        L"Failed to run Quentar: " + std::wstring(AsWide(SystemErrorText(ERROR_FILE_NOT_FOUND)));
    EXPECT_EQ(boxes.boxes()[0].text, expected);
    EXPECT_EQ(boxes.boxes()[0].caption, std::wstring(AsWide(ApplicationTitle())));
}

TEST(StartAfterWizard, StartsOnlyWhenAskedAndThePathIsKnown) {
    struct Case {
        bool startApplication;
        const char16_t* runPath;
        size_t expectedCalls;
    } cases[] = {{false, u"C:\\Q\\Quentar.exe", 0}, {true, u"", 0}, {false, u"", 0}, {true, u"C:\\Q\\Quentar.exe", 1}};
    for (const Case& c : cases) {
        SessionSystem system;
        system.asUserError = ERROR_FILE_NOT_FOUND;
        ScopedSystemApi scope(system);
        MessageBoxCatcher boxes;
        InstallState state;
        state.startApplication = c.startApplication;
        state.runPath = c.runPath;
        state.runDirectory = u"C:\\Q";
        StartApplicationAfterWizard(state, OwnToken());
        EXPECT_EQ(system.starts.size(), c.expectedCalls);
        EXPECT_EQ(boxes.boxes().size(), c.expectedCalls);
    }
}

TEST(StartAfterWizard, StartsTheProgramWithoutWaiting) {
    MessageBoxCatcher boxes;
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const U16String folder = FromWide(system);
    EXPECT_TRUE(StartInstalledApplication(OwnToken(), JoinPath(folder, u"hostname.exe"), folder));
    EXPECT_TRUE(boxes.boxes().empty());
}

// A page of the program built in-process on one of its own templates.
class PageOnTemplate : public ::testing::Test {
protected:
    void Create(UINT templateId) {
        ASSERT_TRUE(pages_.Create(templateId)) << "error " << ::GetLastError();
        host_ = pages_.host;
        page_ = pages_.page.get();
        sheet_ = pages_.sheet.get();
    }

    static LONG WeightOf(HWND control) {
        LOGFONTW font{};
        const auto handle = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
        if (handle == nullptr || ::GetObjectW(handle, sizeof(font), &font) != sizeof(font)) return -1;
        return font.lfWeight;
    }

    testing::PageHost pages_;
    HWND host_ = nullptr;
    CSetupPage* page_ = nullptr;
    CSetup* sheet_ = nullptr;
};

TEST_F(PageOnTemplate, MarkedTextsTurnBoldWithoutTheirMark) {
    Create(IDD_WELCOME);
    const HWND application = page_->GetDlgItem(IDC_APPLICATION_BOX);
    const HWND version = page_->GetDlgItem(IDC_VERSION_TEXT);
    // "!" elsewhere than first, and an empty text, are left alone.
    ::SetWindowTextW(version, L"Click here!");
    ::SetWindowTextW(page_->GetDlgItem(IDC_AXIS_BOX), L"");
    const LONG plainWeight = WeightOf(version);

    ApplyBoldMarkers(*page_, *sheet_);

    EXPECT_EQ(CWnd::WindowText(application), u"Quentar Software");
    EXPECT_EQ(WeightOf(application), FW_BOLD);
    EXPECT_EQ(CWnd::WindowText(page_->GetDlgItem(IDC_ARECONT_BOX)), u"Arecont Vision \u00AE runtime components");
    EXPECT_EQ(CWnd::WindowText(version), u"Click here!");
    EXPECT_EQ(WeightOf(version), plainWeight);
    EXPECT_NE(plainWeight, FW_BOLD);
    EXPECT_EQ(CWnd::WindowText(page_->GetDlgItem(IDC_AXIS_BOX)), u"");

    // The closing line has no id: find it among the children.
    bool closingLineBold = false;
    for (HWND child = ::GetWindow(page_->GetSafeHwnd(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (CWnd::WindowText(child) == u"Click \"Next\" to continue...") closingLineBold = WeightOf(child) == FW_BOLD;
    }
    EXPECT_TRUE(closingLineBold);

    // A second pass changes nothing more: the mark is gone.
    ApplyBoldMarkers(*page_, *sheet_);
    EXPECT_EQ(CWnd::WindowText(application), u"Quentar Software");
}

TEST_F(PageOnTemplate, RequiredFieldRefusesBlanksAndFocusesTheField) {
    Create(IDD_DESTINATION);
    ::ShowWindow(host_, SW_SHOW);
    ::ShowWindow(page_->GetSafeHwnd(), SW_SHOW);
    ::SetForegroundWindow(host_);
    const HWND field = page_->GetDlgItem(IDC_PROGRAM_FOLDER);
    ASSERT_NE(field, nullptr);
    struct Case {
        const wchar_t* text;
        bool accepted;
    } cases[] = {{L"", false}, {L"  \t ", false}, {L"\u3000", false}, {L" Quentar 2009 ", true}, {L"x", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(FromWide(c.text)));
        ::SetWindowTextW(field, c.text);
        ::SetFocus(page_->GetDlgItem(IDC_DESTINATION));
        MessageBoxCatcher boxes;
        EXPECT_EQ(RequireField(*page_, field), c.accepted);
        EXPECT_EQ(CWnd::WindowText(field), FromWide(c.text));  // the control itself is not changed
        if (c.accepted) {
            EXPECT_TRUE(boxes.boxes().empty());
        } else {
            ASSERT_EQ(boxes.boxes().size(), 1u);
            EXPECT_EQ(boxes.boxes()[0].text, L"The field cannot be empty");
            EXPECT_EQ(boxes.boxes()[0].focusBefore, field);
        }
    }
}

}  // namespace
}  // namespace quentar
