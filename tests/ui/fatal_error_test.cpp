// A payload that cannot be trusted is fatal, found while the welcome page
// loads it: SetupCorrupt.exe carries an archive whose only entry fails to
// decompress; SetupTampered.exe one whose byte was changed after the build
// (it decodes, but is not what its stored SHA-256 describes);
// SetupWrongDigest.exe an intact archive with another SHA-256 beside it;
// SetupNoDigest.exe an intact archive with no SHA-256 beside it at all.
#include "install_support.h"

namespace ui_test {
namespace {

TEST_F(UiTest, CorruptOrTamperedPayloadShowsUnexpectedErrorAndExitsWithCode2) {
    const struct {
        const char* what;
        const wchar_t* exe;
    } cases[] = {
        {"corrupt-archive", UI_SETUP_CORRUPT_EXE},
        {"payload-byte-changed", UI_SETUP_TAMPERED_EXE},
        {"digest-changed", UI_SETUP_WRONG_DIGEST_EXE},
        {"digest-removed", UI_SETUP_NO_DIGEST_EXE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto recordsBefore = ReadUninstallKeys();
        ui::SetupProcess& process = Start(c.exe);
        ASSERT_TRUE(process.Started()) << "did not start, error " << process.StartError();

        const auto box = ui::FindMessageBox(process.Id());
        ASSERT_TRUE(box) << "no message box appeared";
        EXPECT_TRUE(ui::WaitUntil([&] { return !box->Text().empty(); }));
        Screenshot(std::string("error-box-") + c.what);
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
        EXPECT_EQ(ReadUninstallKeys(), recordsBefore) << "an uninstall record was written";
    }
}

}  // namespace
}  // namespace ui_test
