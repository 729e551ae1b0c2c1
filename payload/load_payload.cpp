#include "payload/load_payload.h"

#include "payload/hex_bytes.h"
#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "platform/module_text.h"
#include "payload/system_pages.h"
#include "platform/resources.h"
#include "platform/system_hash.h"

namespace quentar {

void CheckPayloadDigest(const uint8_t* payload, size_t size, const uint8_t* digestText, size_t digestSize) {
    Sha256Digest expected{};
    Sha256Digest actual{};
    if (!ParseHexBytes(reinterpret_cast<const char*>(digestText), digestSize, expected.data(), expected.size()) ||
        SystemSha256(payload, size, actual) != 0 || actual != expected) {
        throw FatalError::Code(kPayloadDecodeError);
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
            throw FatalError::Code(kPayloadDecodeError);
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
