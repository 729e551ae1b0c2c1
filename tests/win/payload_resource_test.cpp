// The payload carried by the built Setup.exe, decoded from its real resource
// through the same path the welcome page takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "payload/load_payload.h"
#include "platform/resources.h"
#include "platform/system_api.h"
#include "platform/system_hash.h"
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

// Fails the one system call named, with STATUS_UNSUCCESSFUL.
class FailingHashCall : public ForwardingSystemApi {
public:
    explicit FailingHashCall(std::string call) : ForwardingSystemApi(Sys()), call_(std::move(call)) {}
    NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                                         ULONG flags) override {
        return call_ == "open" ? kFailure : inner_.BCryptOpenAlgorithmProvider(algorithm, id, implementation, flags);
    }
    NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags) override {
        return call_ == "data" ? kFailure : inner_.BCryptHashData(hash, input, size, flags);
    }
    NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags) override {
        return call_ == "finish" ? kFailure : inner_.BCryptFinishHash(hash, output, size, flags);
    }

private:
    static constexpr NTSTATUS kFailure = static_cast<NTSTATUS>(0xC0000001);  // STATUS_UNSUCCESSFUL
    std::string call_;
};

std::string Hex(const Sha256Digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

TEST(SystemSha256, MatchesPublishedVectors) {
    const std::string million(1000000, 'a');
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        Sha256Digest digest{};
        ASSERT_EQ(SystemSha256(reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size(), digest), 0)
            << c.input.size() << " bytes";
        EXPECT_EQ(Hex(digest), c.digest) << c.input.size() << " bytes";
    }
}

// The digest the build stored beside the payload is what lets the payload
// through: any other digest, none, a payload with one byte changed, or
// hashing the system cannot do, is the fatal payload error, which says in
// words which check failed.
constexpr char16_t kDiffers[] =
    u"the payload differs from the SHA-256 stored with it: this Setup.exe is damaged or was changed after it was "
    u"built; download it again";
constexpr char16_t kNotDigits[] = u"the SHA-256 stored with the payload (resource RCDATA 103) is not 64 hexadecimal";
constexpr char16_t kCannotHash[] = u"the system cannot compute the SHA-256 of the payload (status 0x";

TEST_F(CarriedPayload, OnlyThePayloadItsStoredDigestDescribesPassesTheCheck) {
    const ResourceBytes stored =
        FindResourceBytes(module_.get(), MAKEINTRESOURCEW(IDR_PAYLOAD_SHA256), MAKEINTRESOURCEW(10));
    ASSERT_NE(stored.data, nullptr) << "Setup.exe carries no digest of its payload";
    const std::string digest(reinterpret_cast<const char*>(stored.data), stored.size);
    ASSERT_EQ(digest.size(), 64u);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string otherDigit = digest;
    otherDigit[63] = otherDigit[63] == '0' ? '1' : '0';

    // One bit of the first entry's creation time (key, entry count, then the
    // header's attributes and times): the archive still decodes, as another
    // archive than the one built.
    std::vector<uint8_t> flipped(resource_.data, resource_.data + resource_.size);
    flipped[16 + 4 + 4 + 3] ^= 0x01;
    InstallState decodedAnyway;
    LoadPayloadFrom(flipped.data(), flipped.size(), decodedAnyway);
    ASSERT_TRUE(decodedAnyway.payload) << "the changed archive should still decode: the digest must be what refuses it";

    const std::vector<uint8_t> payload(resource_.data, resource_.data + resource_.size);
    const struct {
        const char* what;
        const std::vector<uint8_t>& payload;
        std::optional<std::string> digest;  // nullopt: no digest resource
        const char* failingCall;            // of the system's hashing, or ""
        bool passes;
        const char16_t* cause;              // how the log explains a refusal (its start)
    } cases[] = {
        {"the stored digest", payload, digest, "", true, u""},
        {"the stored digest in capitals", payload, upper, "", true, u""},
        {"one payload byte changed", flipped, digest, "", false, kDiffers},
        {"no digest resource", payload, std::nullopt, "", false,
         u"the SHA-256 of the payload (resource RCDATA 103) is missing: this Setup.exe is damaged"},
        {"another last digit", payload, otherDigit, "", false, kDiffers},
        {"63 digits", payload, digest.substr(0, 63), "", false, kNotDigits},
        {"a line break after the digits", payload, digest + "\n", "", false, kNotDigits},
        {"a letter that is no digit", payload, "g" + digest.substr(1), "", false, kNotDigits},
        {"the algorithm cannot be opened", payload, digest, "open", false, kCannotHash},
        {"hashing the data fails", payload, digest, "data", false, kCannotHash},
        {"finishing the hash fails", payload, digest, "finish", false, kCannotHash},
    };
    for (const auto& c : cases) {
        FailingHashCall failing(c.failingCall);
        ScopedSystemApi scope(failing);
        const uint8_t* text = c.digest ? reinterpret_cast<const uint8_t*>(c.digest->data()) : nullptr;
        try {
            CheckPayloadDigest(c.payload.data(), c.payload.size(), text, c.digest ? c.digest->size() : 0);
            EXPECT_TRUE(c.passes) << c.what << ": passed the check";
        } catch (const FatalError& e) {
            EXPECT_FALSE(c.passes) << c.what << ": refused";
            ASSERT_TRUE(e.IsCode()) << c.what;
            EXPECT_EQ(e.code(), kPayloadDecodeError) << c.what;
            EXPECT_EQ(e.cause().rfind(c.cause, 0), 0u) << c.what << ": " << ToUtf8(e.cause());
        }
    }

    // A malformed archive that passes its digest check is explained by the
    // decoder's account of the fault.
    try {
        LoadPayloadFrom(payload.data(), 30, decodedAnyway);
        ADD_FAILURE() << "a cut archive was decoded";
    } catch (const FatalError& e) {
        EXPECT_EQ(e.cause().rfind(u"the payload cannot be decoded: ", 0), 0u) << ToUtf8(e.cause());
        EXPECT_NE(e.cause().find(u"download it again"), U16String::npos) << ToUtf8(e.cause());
    }
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
