// A payload that cannot be decoded is fatal: SetupCorrupt.exe carries an
// archive whose only entry fails to decompress, which the welcome page finds
// while it loads.
#include "ui_test_support.h"

namespace ui_test {
namespace {

TEST_F(UiTest, CorruptPayloadShowsUnexpectedErrorAndExitsWithCode2) {
    ui::SetupProcess& process = Start(UI_SETUP_CORRUPT_EXE);
    ASSERT_TRUE(process.Started()) << "SetupCorrupt.exe did not start, error " << process.StartError();

    const auto box = ui::FindMessageBox(process.Id());
    ASSERT_TRUE(box) << "no message box appeared";
    EXPECT_TRUE(ui::WaitUntil([&] { return !box->Text().empty(); }));
    Screenshot("error-box");
    EXPECT_EQ(Narrow(box->Caption()), "Error");
    EXPECT_EQ(Narrow(box->Text()), "Unexpected error 1");
    EXPECT_EQ(box->Owner(), nullptr) << "the fatal-error box has no owner window";
    EXPECT_TRUE(box->HasButton(IDOK));
    EXPECT_FALSE(box->HasButton(IDCANCEL));
    EXPECT_TRUE(process.IsRunning()) << "the program waits for the box to be answered";

    ASSERT_TRUE(box->Answer(IDOK));
    const std::optional<DWORD> exitCode = process.WaitForExit();
    ASSERT_TRUE(exitCode) << "still running after the error was answered";
    EXPECT_EQ(*exitCode, 2u);
}

}  // namespace
}  // namespace ui_test
