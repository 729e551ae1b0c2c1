#include "platform/system_hash.h"

#include <vector>

#include "platform/system_api.h"
#include "platform/unique_resource.h"

namespace quentar {
namespace {

NTSTATUS CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) { return Sys().BCryptCloseAlgorithmProvider(algorithm, 0); }
NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash) { return Sys().BCryptDestroyHash(hash); }

// Both handle types are void*; 0 is STATUS_SUCCESS, which CloseWith reads
// like a Win32 status.
using UniqueAlgorithm = UniqueResource<handle_traits::NullIsEmpty<BCRYPT_ALG_HANDLE, &CloseAlgorithm>>;
using UniqueHash = UniqueResource<handle_traits::NullIsEmpty<BCRYPT_HASH_HANDLE, &DestroyHash>>;

constexpr NTSTATUS kSuccess = 0;

}  // namespace

NTSTATUS SystemSha256(const uint8_t* data, size_t size, Sha256Digest& digest) {
    UniqueAlgorithm algorithm;
    NTSTATUS status = Sys().BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status != kSuccess) return status;

    // Windows Vista wants the hash object's memory from the caller.
    DWORD objectSize = 0;
    ULONG written = 0;
    status = Sys().BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                     sizeof objectSize, &written, 0);
    if (status != kSuccess) return status;
    std::vector<UCHAR> object(objectSize);

    UniqueHash hash;
    status = Sys().BCryptCreateHash(algorithm.get(), hash.put(), object.data(), objectSize, nullptr, 0, 0);
    if (status != kSuccess) return status;
    // BCryptHashData takes at most a ULONG at once; in a 32-bit process a
    // buffer never exceeds that, but pieces keep the call honest on any size.
    constexpr size_t kPiece = 0x40000000;
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(size < kPiece ? size : kPiece);
        status = Sys().BCryptHashData(hash.get(), const_cast<PUCHAR>(data), piece, 0);
        if (status != kSuccess) return status;
        data += piece;
        size -= piece;
    }
    return Sys().BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
}

}  // namespace quentar
