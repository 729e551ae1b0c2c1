// The fatal-error path as the user meets it: an error raised inside one of
// the program's callbacks ends in the box captioned "Error" and exit code 2.
// The program under watch is this test program itself, started again on a
// scenario (child_scenario.h) with the real application object.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "allocation_limit.h"
#include "app/setup_app.h"
#include "child_scenario.h"
#include "page_host.h"
#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "ui_driver.h"

namespace quentar::testing {
namespace {

// A page on its template, a marked text on it too long to copy, and the
// memory gone just as the markers are applied: the copy fails inside the
// enumeration callback that user32 calls.
int MarkersOutOfMemory() {
    CSetupApp app;
    PageHost pages;
    if (!pages.Create(IDD_WELCOME)) return 124;
    const std::wstring marked = L"!" + std::wstring(40000, L'x');
    ::SetWindowTextW(pages.page->GetDlgItem(IDC_APPLICATION_BOX), marked.c_str());
    const AllocationLimit outOfMemory(64 * 1024);
    ApplyBoldMarkers(*pages.page, *pages.sheet);
    return 0;  // not reached: the fatal-error path ends the process
}
const RegisterChildScenario kMarkersOutOfMemory("markers_out_of_memory", &MarkersOutOfMemory);

TEST(FatalErrorPath, OutOfMemoryInsideACallbackEndsInTheErrorBox) {
    const auto child = StartChildScenario("markers_out_of_memory");
    ASSERT_TRUE(child->Started()) << "error " << child->StartError();

    std::optional<ui::MessageBoxWindow> box;
    ui::WaitUntil([&] {
        box = ui::FindMessageBox(child->Id(), ui::Duration{0});
        return box.has_value() || !child->IsRunning();
    });
    ASSERT_TRUE(box) << "no box; the program ended with code " << child->WaitForExit().value_or(~0u);
    EXPECT_TRUE(ui::WaitUntil([&] { return !box->Text().empty(); }));
    EXPECT_EQ(box->Caption(), L"Error");
    EXPECT_EQ(box->Text(), L"Out of memory.");
    EXPECT_EQ(box->Owner(), nullptr);
    EXPECT_TRUE(child->IsRunning()) << "the program waits for the box to be answered";

    ASSERT_TRUE(box->Answer(IDOK));
    const std::optional<DWORD> exitCode = child->WaitForExit();
    ASSERT_TRUE(exitCode) << "still running after the box was answered";
    EXPECT_EQ(*exitCode, kFatalExitCode);
}

}  // namespace
}  // namespace quentar::testing
