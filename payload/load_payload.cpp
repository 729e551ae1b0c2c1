#include "payload/load_payload.h"

#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "platform/module_text.h"
#include "platform/page_memory.h"
#include "platform/resources.h"

namespace quentar {

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
    const ResourceBytes resource =
        FindResourceBytes(ResourceModule(), MAKEINTRESOURCEW(IDR_PAYLOAD), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (resource.data == nullptr) return;
    LoadPayloadFrom(resource.data, resource.size, state);
}

}  // namespace quentar
