// The install sequence in-process, on real files and the real registry:
// the installation's key name, the payload it refuses, a destination that is
// a file, and update mode. Whole installations through the wizard, and the
// failures that end them, are the UI tests' (tests/ui).
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "engine_test_support.h"
#include "install/install_sequence.h"
#include "install/uninstall_record.h"
#include "payload/payload_names.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "removal/remove_installation.h"
#include "state/guid_text.h"
#include "state/resource_ids.h"

namespace quentar {
namespace {

using testing::RecordingFeedback;
using testing::TempFolder;

// Records the registry keys the code under test creates. A test looks at its
// own keys only: tests running beside it make keys of their own under the
// same uninstall root.
class KeyCreations : public ForwardingSystemApi {
public:
    KeyCreations() : ForwardingSystemApi(Sys()) {}
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                            LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) override {
        created.push_back(FromWide(subKey));
        return inner_.RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security, result,
                                      disposition);
    }

    std::vector<U16String> created;
};

bool KeyExists(const U16String& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWide(path), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// CoCreateGuid answers a fixed GUID, or fails.
class FixedGuid : public ForwardingSystemApi {
public:
    explicit FixedGuid(const GUID* guid) : ForwardingSystemApi(Sys()), guid_(guid) {}
    HRESULT CoCreateGuid(GUID* guid) override {
        if (guid_ == nullptr) return E_FAIL;
        *guid = *guid_;
        return S_OK;
    }

private:
    const GUID* guid_;
};

U16String KeyNameOf(const uint32_t words[4]) { return FormatGuidText(words[0], words[1], words[2], words[3]); }

TEST(InstallationKey, IsTheRegistryFormOfAFreshGuid) {
    // The GUID's bytes read as four little-endian words give back its own
    // registry text.
    const GUID fixed = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    uint32_t words[4] = {};
    {
        FixedGuid api(&fixed);
        ScopedSystemApi scope(api);
        NewInstallationWords(words);
    }
    EXPECT_EQ(ToUtf8(KeyNameOf(words)), "{01234567-89AB-CDEF-0123-456789ABCDEF}");

    // Every installation gets its own, also without GUIDs.
    uint32_t first[4], second[4];
    NewInstallationWords(first);
    NewInstallationWords(second);
    EXPECT_NE(KeyNameOf(first), KeyNameOf(second));
    FixedGuid none(nullptr);
    ScopedSystemApi scope(none);
    NewInstallationWords(first);
    NewInstallationWords(second);
    EXPECT_NE(KeyNameOf(first), KeyNameOf(second));
}

class InstallSequence : public ::testing::Test {
protected:
    void SetUp() override {
        state_.payload = testing::MakePayload({
            {kApplicationEntryName, testing::PatternBytes(4000, 1), testing::kTime2010},
            {kArecontSdkEntryName, testing::PatternBytes(300, 2), testing::kTime2010},
            {u"help.pdf", testing::Bytes("%PDF help"), testing::kTime2010},
        });
        state_.applicationEntry = FindEntry(kApplicationEntryName, state_);
        state_.installArecontRuntime = true;
        state_.destinationFolder = folder_.path();
        state_.programFolderName = u"Quentar sequence " + folder_.path().substr(folder_.path().rfind(u'\\') + 1);
        PlanChunks(state_.applicationEntry.FileSizeLow(), plan_);
    }

    TempFolder folder_;
    InstallState state_;
    ChunkPlan plan_;
    UpdateArguments arguments_;
    RecordingFeedback feedback_;
    KeyCreations keys_;
    ScopedSystemApi recordKeys_{keys_};
};

TEST_F(InstallSequence, RefusesAPayloadWithoutTheApplicationBeforeTouchingAnything) {
    state_.applicationEntry = PayloadEntry();
    plan_.clear();

    EXPECT_FALSE(RunInstallSequence(state_, arguments_, plan_, feedback_));

    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(feedback_.messages[0].text, LoadStringResource(IDS_NO_APPLICATION));
    EXPECT_FALSE(feedback_.messages[0].text.empty());
    EXPECT_EQ(feedback_.messages[0].style, static_cast<uint32_t>(MB_OK | MB_ICONHAND));
    EXPECT_TRUE(state_.uninstallKeyPath.empty());
    EXPECT_TRUE(state_.installedFiles.empty());
    EXPECT_TRUE(state_.installedFolders.empty());
    EXPECT_TRUE(keys_.created.empty()) << "a key was made: " << ToUtf8(keys_.created.front());
    EXPECT_FALSE(testing::Exists(folder_ / u"AV2000SDK.dll"));
}

TEST_F(InstallSequence, DestinationThatIsAFileFailsAtTheExecutableAndIsTakenBack) {
    const U16String file = folder_ / u"not a folder";
    testing::WriteBytes(file, testing::Bytes("a file where the destination should be"));
    state_.destinationFolder = file;

    EXPECT_FALSE(RunInstallSequence(state_, arguments_, plan_, feedback_));

    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(ToUtf8(feedback_.messages[0].text),
              ToUtf8(u"Unable to create file " + file + u"\\Quentar.exe\n" + SystemErrorText(ERROR_PATH_NOT_FOUND)));
    ASSERT_FALSE(state_.uninstallKeyPath.empty()) << "the key comes first";
    EXPECT_TRUE(KeyExists(state_.uninstallKeyPath));
    EXPECT_EQ(keys_.created, std::vector<U16String>{state_.uninstallKeyPath}) << "the only key made";

    RemoveInstallation(state_, feedback_);
    EXPECT_FALSE(KeyExists(state_.uninstallKeyPath));
    EXPECT_EQ(testing::ReadBytes(file), testing::Bytes("a file where the destination should be"));
}

TEST_F(InstallSequence, UpdateModeWritesBesideTheRunningExecutableAndMakesNoKeyShortcutOrRecord) {
    arguments_.updateMode = true;
    arguments_.updateExePath = folder_ / u"Quentar.exe";
    arguments_.updateExeFolder = folder_.path();
    state_.applicationPath = arguments_.updateExePath + u".tmp";

    ASSERT_TRUE(RunInstallSequence(state_, arguments_, plan_, feedback_));

    EXPECT_TRUE(feedback_.messages.empty());
    EXPECT_EQ(state_.applicationPath, arguments_.updateExePath + u".tmp");
    // Nothing was running: the new executable went straight into place.
    EXPECT_FALSE(testing::Exists(state_.applicationPath));
    EXPECT_EQ(testing::ReadBytes(arguments_.updateExePath), testing::PatternBytes(4000, 1));
    EXPECT_EQ(state_.installedFiles,
              (StringList{state_.applicationPath, folder_ / u"AV2000SDK.dll", folder_ / u"help.pdf"}));
    EXPECT_EQ(state_.runPath, arguments_.updateExePath);
    EXPECT_EQ(state_.runDirectory, arguments_.updateExeFolder);
    EXPECT_TRUE(state_.uninstallKeyPath.empty());
    EXPECT_TRUE(state_.programFolderPath.empty());
    EXPECT_TRUE(keys_.created.empty()) << "a key was made: " << ToUtf8(keys_.created.front());
    wchar_t programs[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, programs, CSIDL_PROGRAMS, FALSE));
    EXPECT_FALSE(testing::Exists(FromWide(programs) + u"\\" + state_.programFolderName));
}

}  // namespace
}  // namespace quentar
