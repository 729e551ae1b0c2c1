// RC4 (also called ARC4), unchanged: no keystream bytes are dropped and no
// initialisation vector is mixed in. Used to decipher the carried archive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quentar {

// The permutation is held in 32-bit cells: byte cells make every swap a
// partial-register store and cost about a third of the speed on x86.
struct Rc4State {
    uint32_t s[256];  // a permutation of 0..255
    uint32_t i = 0;   // both 0 after the key schedule, always < 256
    uint32_t j = 0;
};

// Fills `state` from `key`: the standard 256-step schedule, i = j = 0.
// Contract: key points to keyLength readable bytes, 1 <= keyLength <= 256.
void Rc4KeySchedule(Rc4State& state, const uint8_t* key, size_t keyLength);

// XORs `length` bytes of `buffer` in place with the next keystream bytes and
// saves i and j, so consecutive calls continue one stream.
// Contract: state was filled by Rc4KeySchedule; buffer has length bytes.
void Rc4Apply(Rc4State& state, uint8_t* buffer, size_t length);

// As Rc4Apply, but reads `in` and writes `out` (in == out is allowed; any
// other overlap is not). Lets a caller decipher from read-only memory.
void Rc4Xor(Rc4State& state, const uint8_t* in, uint8_t* out, size_t length);

}  // namespace quentar
