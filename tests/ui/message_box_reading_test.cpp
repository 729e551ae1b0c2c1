// The driver's reading of message boxes, against a box whose program does
// not answer for a while after showing it (fixtures/busy_box.c): as a setup
// program that has waited for another program without looking at its
// messages shows its box. The box counts as found once it answers, and its
// text is what it shows, never an empty text from a read that got no answer.
#include <gtest/gtest.h>

#include "ui_driver.h"
#include "ui_paths.h"

namespace {

TEST(MessageBoxReading, ABoxOfAProgramThatDoesNotAnswerYetIsReadOnceItDoes) {
    // Seven seconds: past the five after which a program that looks at no
    // messages counts as hung.
    ui::SetupProcess program(UI_BUSY_BOX_EXE, {L"7"});
    ASSERT_TRUE(program.Started()) << "error " << program.StartError();
    const auto box = ui::FindMessageBox(program.Id());
    ASSERT_TRUE(box) << "no box";
    EXPECT_EQ(box->Text(), L"Read once the program answers");
    EXPECT_TRUE(box->Answer(IDOK)) << "the box did not go";
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
}

}  // namespace
