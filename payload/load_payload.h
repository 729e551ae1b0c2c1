// Loading the archive carried in the program's resource RCDATA 101.
#pragma once

#include "payload/payload_archive.h"
#include "payload/payload_names.h"
#include "state/install_state.h"

namespace quentar {

// Decodes the program's payload into state.payload. Without a resource, or
// with one of 20 bytes or less, returns with no archive and says nothing.
// A malformed archive raises FatalError::Code(kPayloadDecodeError).
void LoadPayload(InstallState& state);

// The same over given resource bytes (the program's, or a test's).
void LoadPayloadFrom(const uint8_t* resource, size_t size, InstallState& state);

}  // namespace quentar
