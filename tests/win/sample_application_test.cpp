// The sample application that stands in for Quentar: the arguments with which
// it starts its updater, the note it leaves when it starts, and "/uninstall",
// which must remove exactly what its uninstall record lists (itself and the
// folders included) and the record.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_support.h"
#include "quentar_sample.h"
#include "registry_scratch.h"
#include "test_paths.h"
#include "ui_driver.h"

namespace quentar {
namespace {

using testing::Bytes;
using testing::Exists;
using testing::TempFolder;
using testing::WriteBytes;

constexpr wchar_t kSampleExe[] = TEST_BUILD_DIR L"\\tools\\sample-app\\files\\QuentarSample.exe";
constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring W(const U16String& s) { return AsWide(s); }

// What a file holds; empty when it cannot be read (yet).
std::string ReadQuietly(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string bytes(::GetFileSize(file.get(), nullptr), '\0');
    DWORD got = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

// Reads a UTF-16 file of CR LF separated lines.
std::vector<std::wstring> ReadLines(const std::wstring& path) {
    const std::string bytes = ReadQuietly(path);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::wstring StartMarkerPath() {
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + L"\\" QUENTAR_SAMPLE_MARKER_FOLDER L"\\" QUENTAR_SAMPLE_START_MARKER;
}

TEST(SampleApplication, AskedToUpdateItStartsTheUpdaterWithItsWindowAndItsPath) {
    TempFolder folder;
    const U16String setup = folder / u"Setup.exe";
    ASSERT_TRUE(::CopyFileW(ARGUMENT_RECORDER_PATH, AsWide(setup), FALSE));
    // A folder name with a blank: the path must reach the updater whole.
    const U16String appFolder = folder / u"Quentar 2009";
    ASSERT_TRUE(::CreateDirectoryW(AsWide(appFolder), nullptr));
    const U16String app = appFolder + u"\\Quentar.exe";
    ASSERT_TRUE(::CopyFileW(kSampleExe, AsWide(app), FALSE));
    ::DeleteFileW(StartMarkerPath().c_str());

    ui::SetupProcess sample(W(app), {QUENTAR_SAMPLE_UPDATE_SWITCH + W(setup)});
    ASSERT_TRUE(sample.Started());
    const std::wstring argsFile = W(setup) + L".args";
    ASSERT_TRUE(ui::WaitUntil([&] { return ReadLines(argsFile).size() == 3; })) << "the updater was not started";
    const auto windows = ui::TopLevelWindows(sample.Id());
    ASSERT_EQ(windows.size(), 1u);
    const std::wstring handle = std::to_wstring(reinterpret_cast<uintptr_t>(windows[0]));

    EXPECT_EQ(ReadLines(argsFile),
              (std::vector<std::wstring>{L"/update:", L"/wh:" + handle, L"/exe:" + W(app)}));
    EXPECT_TRUE(sample.IsRunning()) << "the application waits for the updater's close request";

    // It noted its start: its version, its path and its working folder.
    const std::string line = ReadQuietly(StartMarkerPath());
    EXPECT_EQ(line.rfind(std::string(SAMPLE_APP_VERSION_TEXT) + "\t" + ToUtf8(app) + "\t", 0), 0u) << line;
    ASSERT_GE(line.size(), 2u);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    sample.Kill();
}

// An installation as the setup program leaves it, in a folder of the test's
// own: the sample application as Quentar.exe with a library, a read-only data
// file, a program folder with two shortcuts, a desktop shortcut, and its
// uninstall record, whose "Folder" is written in other letter case.
class SampleUninstall : public ::testing::Test {
protected:
    void SetUp() override {
        destination_ = root_ / u"Quentar 2009";
        programFolder_ = root_ / u"Programs";
        const U16String desktop = root_ / u"Desktop";
        for (const U16String& f : {destination_, programFolder_, desktop}) {
            ASSERT_TRUE(::CreateDirectoryW(AsWide(f), nullptr));
        }
        exe_ = destination_ + u"\\Quentar.exe";
        ASSERT_TRUE(::CopyFileW(kSampleExe, AsWide(exe_), FALSE));
        files_ = {exe_, destination_ + u"\\AV2000SDK.dll", destination_ + u"\\help.pdf",
                  programFolder_ + u"\\Quentar.lnk", programFolder_ + u"\\Uninstall Quentar.lnk",
                  desktop + u"\\Quentar.lnk"};
        for (size_t i = 1; i < files_.size(); ++i) WriteBytes(files_[i], Bytes("content"));
        ASSERT_TRUE(::SetFileAttributesW(AsWide(files_[2]), FILE_ATTRIBUTE_READONLY));

        ASSERT_TRUE(record_.Created());
        record_.SetText(L"DisplayName", L"Quentar 2009");
        record_.SetText(L"Folder", W(ToAsciiUpper(destination_)));
        record_.SetText(L"Path", W(programFolder_));
        record_.SetText(L"UninstallString", L"\"" + W(exe_) + L"\" /uninstall");
        const DWORD count = static_cast<DWORD>(files_.size());
        ::RegSetValueExW(record_.Get(), L"Files", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
        for (size_t i = 0; i < files_.size(); ++i) {
            record_.SetText((L"File" + std::to_wstring(i)).c_str(), W(files_[i]));
        }
    }

    static U16String ToAsciiUpper(U16String s) {
        for (char16_t& c : s) {
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        }
        return s;
    }

    // Runs the record's command, as the system's list of programs does, with
    // `extra` appended; answers a confirmation with `answer` (0: expects
    // none). Returns the exit code.
    DWORD RunUninstall(const std::wstring& extra, int answer = 0) {
        const test_registry::RawValue command =
            test_registry::ReadRaw(HKEY_LOCAL_MACHINE, record_.Path(), L"UninstallString");
        std::wstring commandLine = command.Units().c_str() + extra;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info)) {
            ADD_FAILURE() << "cannot start the uninstaller, error " << ::GetLastError();
            return 255;
        }
        UniqueHandle process(info.hProcess), thread(info.hThread);
        if (answer != 0) {
            const auto box = ui::FindMessageBox(info.dwProcessId);
            if (!box) {
                ADD_FAILURE() << "no confirmation was asked";
            } else {
                confirmation_ = box->Text();
                box->Answer(answer);
            }
        }
        if (::WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the uninstaller did not end";
            ::TerminateProcess(process.get(), 255);
            return 255;
        }
        DWORD code = 255;
        ::GetExitCodeProcess(process.get(), &code);
        return code;
    }

    bool RecordExists() const { return test_registry::KeyExists(HKEY_LOCAL_MACHINE, record_.Path()); }

    TempFolder root_;
    test_registry::ScratchKey record_{HKEY_LOCAL_MACHINE,
                                      std::wstring(kUninstallRoot) + L"\\" + test_registry::NewGuidText()};
    U16String destination_, programFolder_, exe_;
    std::vector<U16String> files_;
    std::wstring confirmation_;
};

TEST_F(SampleUninstall, QuietlyRemovesEveryListedFileItselfTheFoldersAndTheRecordEvenWhileItRuns) {
    testing::RunningProgram running(exe_);
    ASSERT_TRUE(running.Running());

    EXPECT_EQ(RunUninstall(L" /quiet"), 0u);

    EXPECT_TRUE(running.WaitForEnd(10000)) << "the running instance was not asked to end";
    EXPECT_FALSE(RecordExists());
    for (size_t i = 1; i < files_.size(); ++i) EXPECT_FALSE(Exists(files_[i])) << ToUtf8(files_[i]);
    EXPECT_FALSE(Exists(programFolder_));
    // The executable and its folder go once the uninstaller has ended.
    EXPECT_TRUE(ui::WaitUntil([&] { return !Exists(destination_); }))
        << "left: Quentar.exe " << Exists(exe_) << ", folder " << Exists(destination_);
    EXPECT_TRUE(Exists(root_ / u"Desktop")) << "a folder the record does not name stays";
}

TEST_F(SampleUninstall, AFolderThatHoldsOtherFilesStaysWithThem) {
    const U16String own = destination_ + u"\\cameras.cfg";
    WriteBytes(own, Bytes("the user's settings"));

    EXPECT_EQ(RunUninstall(L" /quiet"), 0u);

    EXPECT_TRUE(ui::WaitUntil([&] { return !Exists(exe_); }));
    EXPECT_TRUE(Exists(own));
    EXPECT_FALSE(RecordExists());
}

TEST_F(SampleUninstall, AsksFirstAndADeclineLeavesEverything) {
    EXPECT_EQ(RunUninstall(L"", IDNO), 2u);

    EXPECT_NE(confirmation_.find(W(destination_)), std::wstring::npos) << ToUtf8(FromWide(confirmation_.c_str()));
    EXPECT_TRUE(RecordExists());
    for (const U16String& file : files_) EXPECT_TRUE(Exists(file)) << ToUtf8(file);
}

TEST_F(SampleUninstall, AnsweredYesItRemovesTheInstallation) {
    EXPECT_EQ(RunUninstall(L"", IDYES), 0u);

    EXPECT_FALSE(RecordExists());
    EXPECT_TRUE(ui::WaitUntil([&] { return !Exists(destination_); }));
}

TEST_F(SampleUninstall, WithoutARecordForItsFolderNothingIsTouched) {
    record_.SetText(L"Folder", W(root_ / u"elsewhere"));

    EXPECT_EQ(RunUninstall(L" /quiet"), 1u);

    EXPECT_TRUE(RecordExists());
    for (const U16String& file : files_) EXPECT_TRUE(Exists(file)) << ToUtf8(file);
}

}  // namespace
}  // namespace quentar
