// Loading the archive carried in the program's resource RCDATA 101, checked
// against the SHA-256 the build stores beside it in RCDATA 103.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/payload_archive.h"
#include "payload/payload_names.h"
#include "state/install_state.h"

namespace quentar {

// Checks and decodes the program's payload into state.payload; the one way
// the program loads its payload (the wizard's welcome page and unattended
// runs alike), so nothing is written from an archive that fails the check.
// Without a payload resource, returns with no archive and says nothing.
// Otherwise the digest is checked first (CheckPayloadDigest): a missing or
// different one raises FatalError::Code(kPayloadDecodeError), as does a
// malformed archive; a checked resource of 20 bytes or less holds no archive.
void LoadPayload(InstallState& state);

// Raises FatalError::Code(kPayloadDecodeError) unless `digestText` (the
// bytes of resource RCDATA 103; null when it is missing) is exactly 64
// hexadecimal digits spelling the SHA-256 of the `size` bytes at `payload`,
// as the system's hashing computes it. A failing system call counts as a
// mismatch: an archive that cannot be checked is not used.
void CheckPayloadDigest(const uint8_t* payload, size_t size, const uint8_t* digestText, size_t digestSize);

// Decodes given resource bytes (the program's, or a test's), unchecked.
void LoadPayloadFrom(const uint8_t* resource, size_t size, InstallState& state);

}  // namespace quentar
