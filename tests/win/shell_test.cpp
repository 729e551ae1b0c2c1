// The application shell on real Windows APIs: text rules against the C
// runtime, system messages, starting the installed application, bold
// markers and the required-field check on the program's own page templates.
#include <windows.h>

#include <gtest/gtest.h>

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
#include "platform/system_api.h"
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

// Makes CreateProcessW fail with a chosen error, and counts the calls.
class FailingProcessStart : public ForwardingSystemApi {
public:
    FailingProcessStart(DWORD error) : ForwardingSystemApi(Sys()), error_(error) {}
    BOOL CreateProcessW(LPCWSTR application, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                        LPVOID, LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) override {
        ++calls;
        application_ = application;
        directory_ = directory ? directory : L"";
        startupSize = startup->cb;
        ::SetLastError(error_);
        return FALSE;
    }
    int calls = 0;
    DWORD startupSize = 0;
    std::wstring application_, directory_;

private:
    DWORD error_;
};

TEST(StartAfterWizard, FailureIsReportedWithTheSystemReason) {
    FailingProcessStart failing(ERROR_FILE_NOT_FOUND);
    ScopedSystemApi scope(failing);
    MessageBoxCatcher boxes;
    EXPECT_FALSE(StartInstalledApplication(u"C:\\Apps\\Quentar\\Quentar.exe", u"C:\\Apps\\Quentar"));
    EXPECT_EQ(failing.calls, 1);
    EXPECT_EQ(failing.application_, L"C:\\Apps\\Quentar\\Quentar.exe");
    EXPECT_EQ(failing.directory_, L"C:\\Apps\\Quentar");
    EXPECT_EQ(failing.startupSize, 68u);
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
        int expectedCalls;
    } cases[] = {{false, u"C:\\Q\\Quentar.exe", 0}, {true, u"", 0}, {false, u"", 0}, {true, u"C:\\Q\\Quentar.exe", 1}};
    for (const Case& c : cases) {
        FailingProcessStart failing(ERROR_FILE_NOT_FOUND);
        ScopedSystemApi scope(failing);
        MessageBoxCatcher boxes;
        InstallState state;
        state.startApplication = c.startApplication;
        state.runPath = c.runPath;
        state.runDirectory = u"C:\\Q";
        StartApplicationAfterWizard(state);
        EXPECT_EQ(failing.calls, c.expectedCalls);
        EXPECT_EQ(boxes.boxes().size(), static_cast<size_t>(c.expectedCalls));
    }
}

TEST(StartAfterWizard, StartsTheProgramWithoutWaiting) {
    MessageBoxCatcher boxes;
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const U16String folder = FromWide(system);
    EXPECT_TRUE(StartInstalledApplication(JoinPath(folder, u"hostname.exe"), folder));
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
