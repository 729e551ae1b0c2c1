// SHA-256 computed by the system's cryptography provider (bcrypt.dll).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace quentar {

using Sha256Digest = std::array<uint8_t, 32>;

// The SHA-256 of the `size` bytes at `data` (data may be null when size is
// 0), through the hash-object calls that every supported Windows has
// (BCryptHash itself came with Windows 10). Returns 0 (STATUS_SUCCESS) with
// `digest` filled, or the status of the call that failed, `digest` then
// unspecified.
NTSTATUS SystemSha256(const uint8_t* data, size_t size, Sha256Digest& digest);

}  // namespace quentar
