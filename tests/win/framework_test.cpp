// The wizard framework in a real property sheet: PropertySheetW in wizard
// mode, run in-process on the program's own page templates and driven from a
// thread timer inside the sheet's modal loop, the way a user's clicks arrive.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "pages/setup_start.h"
#include "platform/framework/property_sheet.h"
#include "state/resource_ids.h"
#include "wizard/setup_sheet.h"

namespace quentar {
namespace {

constexpr UINT_PTR kOwnTimer = 5;
constexpr UINT_PTR kForeignTimer = 4711;  // set on the page by someone else

// A page whose handlers answer what the test chose, counting the calls.
class ScriptedPage : public CPropertyPage {
public:
    explicit ScriptedPage(UINT templateId, DWORD buttons) : CPropertyPage(templateId), buttons_(buttons) {}

    LRESULT next = 0;
    LRESULT back = 0;
    BOOL finish = TRUE;
    int nextCalls = 0, backCalls = 0, finishCalls = 0, cancelCalls = 0, ownTimerTicks = 0;

    BOOL OnSetActive() override {
        CPropertyPage::OnSetActive();
        ::PostMessageW(GetSheetWindow(), PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(buttons_));
        return TRUE;
    }
    LRESULT OnWizardNext() override {
        ++nextCalls;
        return next;
    }
    LRESULT OnWizardBack() override {
        ++backCalls;
        return back;
    }
    BOOL OnWizardFinish() override {
        ++finishCalls;
        return finish;
    }
    void OnCancel() override { ++cancelCalls; }
    void OnTimer(UINT_PTR id) override {
        if (id != kOwnTimer) {
            CPropertyPage::OnTimer(id);
            return;
        }
        KillTimer(id);
        ++ownTimerTicks;
    }

private:
    DWORD buttons_;
};

// What happened to the sheet around one action.
struct Outcome {
    UINT pageBefore = 0;       // template id of the active page when the action ran
    UINT pageAfter = 0;        // template id of the active page afterwards; 0 once closed
    bool closedByAction = false;
    bool closedOnCancel = true;  // the clean-up Cancel (when the action left it open) ended it
    INT_PTR result = 0;          // what PropertySheetW returned
};

// Runs `sheet` modally. Once the sheet shows its first page, `action` runs
// inside the modal loop; on a later tick (after everything the action posted
// has been handled) the outcome is read and, when the sheet is still open,
// Cancel is pressed to end it.
class SheetDriver {
public:
    static Outcome Run(CPropertySheet& sheet, const std::function<void(CPropertySheet&)>& action) {
        SheetDriver driver(sheet, action);
        current_ = &driver;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &SheetDriver::Tick);
        driver.outcome_.result = sheet.DoModal();
        ::KillTimer(nullptr, timer);
        current_ = nullptr;
        driver.outcome_.closedByAction = driver.phase_ == Phase::Look;
        return driver.outcome_;
    }

private:
    enum class Phase { Wait, Look, Closing };

    SheetDriver(CPropertySheet& sheet, const std::function<void(CPropertySheet&)>& action)
        : sheet_(sheet), action_(action) {}

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_ != nullptr) current_->Step();
    }

    void Step() {
        switch (phase_) {
            case Phase::Wait:
                if (sheet_.GetSafeHwnd() == nullptr || sheet_.ActivePageId() == 0) return;
                outcome_.pageBefore = sheet_.ActivePageId();
                phase_ = Phase::Look;
                action_(sheet_);
                return;
            case Phase::Look:
                outcome_.pageAfter = sheet_.ActivePageId();
                phase_ = Phase::Closing;
                sheet_.PressButton(PSBTN_CANCEL);
                return;
            case Phase::Closing:
                // Cancel did not end the wizard: end it by force so the test
                // can report instead of hanging.
                if (++closingTicks_ > 50) {
                    outcome_.closedOnCancel = false;
                    ::DestroyWindow(sheet_.GetSafeHwnd());
                }
                return;
        }
    }

    static inline SheetDriver* current_ = nullptr;
    CPropertySheet& sheet_;
    const std::function<void(CPropertySheet&)>& action_;
    Phase phase_ = Phase::Wait;
    int closingTicks_ = 0;
    Outcome outcome_;
};

class RealSheet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
        ::InitCommonControlsEx(&controls);
    }
};

// The dialog procedure of a page window, called the way the dialog manager
// calls it; FALSE hands the message to the dialog manager's default processing.
INT_PTR CallDialogProcedure(HWND page, UINT message, WPARAM w, LPARAM l) {
    const auto procedure = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(page, DWLP_DLGPROC));
    return ::CallWindowProcW(procedure, page, message, w, l);
}

HWND ActivePageWindow(const CPropertySheet& sheet) {
    return reinterpret_cast<HWND>(sheet.SendMessage(PSM_GETCURRENTPAGEHWND));
}

// Four of the program's pages in the sheet's order; a handler's own page id
// can thus be told from the sheet's order (Next from 107 in the sheet's
// order is 227, Back from 229 is 228).
constexpr UINT kOrder[] = {IDD_WELCOME, IDD_DESTINATION, IDD_PROGRESS, IDD_DONE};

struct NotificationCase {
    const char* name;
    UINT startPage;
    int button;  // PSBTN_* pressed on the start page
    LRESULT next;
    LRESULT back;
    BOOL finish;
    UINT expectedPage;  // 0: the wizard closed
};

const NotificationCase kNotifications[] = {
    {"next_to_template_id", IDD_WELCOME, PSBTN_NEXT, IDD_PROGRESS, 0, TRUE, IDD_PROGRESS},
    {"next_minus_one_stays", IDD_WELCOME, PSBTN_NEXT, -1, 0, TRUE, IDD_WELCOME},
    {"next_zero_follows_the_sheet", IDD_WELCOME, PSBTN_NEXT, 0, 0, TRUE, IDD_DESTINATION},
    {"back_to_template_id", IDD_DONE, PSBTN_BACK, 0, IDD_WELCOME, TRUE, IDD_WELCOME},
    {"back_minus_one_stays", IDD_DONE, PSBTN_BACK, 0, -1, TRUE, IDD_DONE},
    {"finish_accepted_closes", IDD_DONE, PSBTN_FINISH, 0, 0, TRUE, 0},
    {"finish_refused_stays", IDD_DONE, PSBTN_FINISH, 0, 0, FALSE, IDD_DONE},
    {"cancel_closes_at_once", IDD_DESTINATION, PSBTN_CANCEL, 0, 0, TRUE, 0},
};

TEST_F(RealSheet, NotificationResultsDecideWhereTheWizardGoes) {
    for (const NotificationCase& c : kNotifications) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<ScriptedPage>> pages;
        CPropertySheet sheet(IDS_SHEET_CAPTION, nullptr, 0);
        ScriptedPage* start = nullptr;
        for (UINT id : kOrder) {
            const DWORD buttons = id == IDD_DONE ? PSWIZB_BACK | PSWIZB_FINISH : PSWIZB_BACK | PSWIZB_NEXT;
            pages.push_back(std::make_unique<ScriptedPage>(id, buttons));
            if (id == c.startPage) {
                start = pages.back().get();
                sheet.m_psh.nStartPage = static_cast<UINT>(pages.size() - 1);
            }
            sheet.AddPage(pages.back().get());
        }
        ASSERT_NE(start, nullptr);
        start->next = c.next;
        start->back = c.back;
        start->finish = c.finish;
        sheet.SetWizardMode();

        const Outcome outcome = SheetDriver::Run(sheet, [&](CPropertySheet& s) { s.PressButton(c.button); });

        EXPECT_EQ(outcome.pageBefore, c.startPage);
        EXPECT_EQ(outcome.closedByAction, c.expectedPage == 0);
        EXPECT_EQ(outcome.pageAfter, c.expectedPage);
        EXPECT_TRUE(outcome.closedOnCancel) << "Cancel did not end the wizard";
        EXPECT_EQ(start->nextCalls, c.button == PSBTN_NEXT ? 1 : 0);
        EXPECT_EQ(start->backCalls, c.button == PSBTN_BACK ? 1 : 0);
        EXPECT_EQ(start->finishCalls, c.button == PSBTN_FINISH ? 1 : 0);
        if (c.button == PSBTN_CANCEL) {
            EXPECT_EQ(start->cancelCalls, 1);
        }
        if (c.button == PSBTN_FINISH && c.finish) {
            EXPECT_EQ(start->cancelCalls, 0) << "Finish is not Cancel";
        }
    }
}

TEST_F(RealSheet, TimerIdsAPageDoesNotHandleGetTheDefaultProcessing) {
    // A page that handles one timer of its own, and a page with no timer
    // handler at all.
    ScriptedPage scripted(IDD_WELCOME, PSWIZB_NEXT);
    CPropertyPage plain(IDD_DESTINATION);
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{&scripted, &plain}) {
        SCOPED_TRACE(page->TemplateId());
        CPropertySheet sheet(IDS_SHEET_CAPTION, nullptr, 0);
        sheet.AddPage(page);
        sheet.SetWizardMode();
        INT_PTR foreign = -1, own = -1;
        SheetDriver::Run(sheet, [&](CPropertySheet& s) {
            const HWND window = ActivePageWindow(s);
            foreign = CallDialogProcedure(window, WM_TIMER, kForeignTimer, 0);
            if (page == &scripted) own = CallDialogProcedure(window, WM_TIMER, kOwnTimer, 0);
        });
        EXPECT_EQ(foreign, FALSE);
        if (page == &scripted) {
            EXPECT_EQ(own, TRUE);
            EXPECT_EQ(scripted.ownTimerTicks, 1);
        }
    }
}

TEST_F(RealSheet, WelcomePageLeavesForeignTimersToTheDefaultProcessing) {
    const UpdateArguments arguments;
    CSetup sheet(arguments);
    CSetupStart welcome(false);
    sheet.AddPage(&welcome);
    sheet.SetWizardMode();
    INT_PTR foreign = -1;
    SheetDriver::Run(sheet, [&](CPropertySheet& s) {
        foreign = CallDialogProcedure(ActivePageWindow(s), WM_TIMER, kForeignTimer, 0);
    });
    EXPECT_EQ(foreign, FALSE);
}

}  // namespace
}  // namespace quentar
