// The payload carried by the built Setup.exe, decoded from its real resource
// through the same path the welcome page takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "payload/load_payload.h"
#include "platform/resources.h"
#include "platform/unique_resource.h"
#include "test_paths.h"

namespace quentar {
namespace {

class CarriedPayload : public ::testing::Test {
protected:
    void SetUp() override {
        module_.reset(::LoadLibraryExW(SETUP_EXE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module_) << "cannot load Setup.exe as data, error " << ::GetLastError();
        resource_ = FindResourceBytes(module_.get(), MAKEINTRESOURCEW(IDR_PAYLOAD), MAKEINTRESOURCEW(10));
        ASSERT_NE(resource_.data, nullptr) << "Setup.exe carries no payload";
    }
    UniqueModule module_;
    ResourceBytes resource_;
};

TEST_F(CarriedPayload, DecodesEveryEntryTheProgramLooksFor) {
    InstallState state;
    LoadPayloadFrom(resource_.data, resource_.size, state);
    ASSERT_TRUE(state.payload);

    const PayloadEntry application = FindEntry(u"quentar.EXE", state);
    ASSERT_TRUE(application);
    EXPECT_EQ(application.FileName(), kApplicationEntryName);
    // The decoded executable is a PE image with a version resource.
    ASSERT_GT(application.FileSizeLow(), 64u);
    EXPECT_EQ(application.Data()[0], 'M');
    EXPECT_EQ(application.Data()[1], 'Z');

    EXPECT_TRUE(FindEntry(kArecontSdkEntryName, state));
    for (const char16_t* name : kCompanionEntryNames) EXPECT_TRUE(FindEntry(name, state)) << ToUtf8(name);
    for (const char16_t* name : kAxisPackageEntryNames) EXPECT_TRUE(FindEntry(name, state)) << ToUtf8(name);
    EXPECT_FALSE(FindEntry(u"Quentar.ex", state));
}

TEST_F(CarriedPayload, CutArchiveRaisesTheDecodeError) {
    // Everything but the last byte: the last entry's data is incomplete.
    InstallState state;
    try {
        LoadPayloadFrom(resource_.data, resource_.size - 1, state);
        FAIL() << "a cut archive was accepted";
    } catch (const FatalError& e) {
        ASSERT_TRUE(e.IsCode());
        EXPECT_EQ(e.code(), kPayloadDecodeError);
        EXPECT_EQ(FatalError::MessageId(e.code()), IDS_UNEXPECTED_ERROR);
    }
    EXPECT_FALSE(state.payload);
}

TEST_F(CarriedPayload, LicenceAgreementIsTheOneGivenAtBuildTime) {
    const ResourceBytes licence =
        FindResourceBytes(module_.get(), MAKEINTRESOURCEW(IDR_LICENSE), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    ASSERT_NE(licence.data, nullptr);
    const UniqueFile file(::CreateFileW(SETUP_LICENSE_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    ASSERT_TRUE(file) << "cannot open the licence file, error " << ::GetLastError();
    std::string expected(::GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(file.get(), expected.data(), static_cast<DWORD>(expected.size()), &read, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(licence.data), licence.size), expected);
    EXPECT_EQ(expected.rfind("{\\rtf1", 0), 0u) << "the agreement is an RTF document";
}

TEST(MissingPayload, ShortResourceLoadsNothingQuietly) {
    const uint8_t twenty[20] = {};
    InstallState state;
    LoadPayloadFrom(twenty, sizeof twenty, state);
    EXPECT_FALSE(state.payload);
    EXPECT_FALSE(FindEntry(kApplicationEntryName, state));
}

TEST(OwnPayload, LoadPayloadReadsTheRunningProgramsResource) {
    // This test program is linked with the same resources as Setup.exe.
    InstallState state;
    LoadPayload(state);
    ASSERT_TRUE(state.payload);
    EXPECT_TRUE(FindEntry(kApplicationEntryName, state));
}

}  // namespace
}  // namespace quentar
