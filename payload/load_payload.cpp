#include "payload/load_payload.h"

#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "platform/module_text.h"
#include "platform/page_memory.h"
#include "platform/resources.h"
#include "platform/system_hash.h"

namespace quentar {
namespace {

int HexDigitValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly 64 hexadecimal digits into `digest`; anything else
// (another length, a line break, a sign) is no digest.
bool ParseDigestText(const uint8_t* text, size_t size, Sha256Digest& digest) {
    if (text == nullptr || size != 2 * digest.size()) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace

void CheckPayloadDigest(const uint8_t* payload, size_t size, const uint8_t* digestText, size_t digestSize) {
    Sha256Digest expected{};
    Sha256Digest actual{};
    if (!ParseDigestText(digestText, digestSize, expected) || SystemSha256(payload, size, actual) != 0 ||
        actual != expected) {
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
