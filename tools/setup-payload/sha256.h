// SHA-256 (FIPS 180-4), for the listings of release archives and the key of
// reproducible packs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace setup_payload {

class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    // Adds `size` bytes (data may be null when size is 0).
    void Update(const void* data, size_t size);
    // The digest of everything added; the object is spent afterwards.
    Digest Finish();

    // The digest of one buffer, as 64 lower-case hexadecimal digits.
    static std::string Hex(const void* data, size_t size);
    static std::string ToHex(const Digest& digest);

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace setup_payload
