#include "payload/load_payload.h"

#include <cstdio>

#include "payload/hex_bytes.h"
#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "platform/module_text.h"
#include "payload/system_pages.h"
#include "platform/resources.h"
#include "platform/system_hash.h"

namespace quentar {

namespace {

// What a release engineer or an administrator does about a payload that is
// not the one built.
constexpr char16_t kGetItAgain[] = u": this Setup.exe is damaged or was changed after it was built; download it again";

}  // namespace

void CheckPayloadDigest(const uint8_t* payload, size_t size, const uint8_t* digestText, size_t digestSize) {
    Sha256Digest expected{};
    Sha256Digest actual{};
    if (digestText == nullptr) {
        throw FatalError::Code(kPayloadDecodeError,
                               U16String(u"the SHA-256 of the payload (resource RCDATA 103) is missing") + kGetItAgain);
    }
    if (!ParseHexBytes(reinterpret_cast<const char*>(digestText), digestSize, expected.data(), expected.size())) {
        throw FatalError::Code(kPayloadDecodeError,
                               U16String(u"the SHA-256 stored with the payload (resource RCDATA 103) is not 64 "
                                         u"hexadecimal digits") + kGetItAgain);
    }
    const NTSTATUS status = SystemSha256(payload, size, actual);
    if (status != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(status));
        throw FatalError::Code(kPayloadDecodeError, u"the system cannot compute the SHA-256 of the payload (status " +
                                                        FromUtf8(hex) + u"), so it cannot be checked");
    }
    if (actual != expected) {
        throw FatalError::Code(kPayloadDecodeError,
                               U16String(u"the payload differs from the SHA-256 stored with it") + kGetItAgain);
    }
}

void LoadPayloadFrom(const uint8_t* resource, size_t size, InstallState& state) {
    DecodeOptions options;
    options.pages = &SystemPageAllocator();
    DecodeResult result = DecodeArchive(resource, size, options);
    switch (result.status) {
        case DecodeStatus::NoArchive:
            return;
        case DecodeStatus::Ok:
            state.payload = std::move(result.archive);
            return;
        case DecodeStatus::Malformed:
            throw FatalError::Code(kPayloadDecodeError,
                                   u"the payload cannot be decoded: " + FromUtf8(result.Describe()) + kGetItAgain);
    }
}

void LoadPayload(InstallState& state) {
    const LPCWSTR kRcData = MAKEINTRESOURCEW(10);  // RT_RCDATA
    const ResourceBytes resource = FindResourceBytes(ResourceModule(), MAKEINTRESOURCEW(IDR_PAYLOAD), kRcData);
    if (resource.data == nullptr) return;
    const ResourceBytes digest = FindResourceBytes(ResourceModule(), MAKEINTRESOURCEW(IDR_PAYLOAD_SHA256), kRcData);
    CheckPayloadDigest(resource.data, resource.size, digest.data, digest.size);
    LoadPayloadFrom(resource.data, resource.size, state);
}

}  // namespace quentar
