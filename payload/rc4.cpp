#include "payload/rc4.h"

#include <cstring>

namespace quentar {

void Rc4KeySchedule(Rc4State& state, const uint8_t* key, size_t keyLength) {
    uint32_t* const s = state.s;
    for (uint32_t k = 0; k < 256; ++k) s[k] = k;
    uint32_t j = 0;
    size_t keyIndex = 0;  // k mod keyLength, kept as a wrapping counter
    for (uint32_t k = 0; k < 256; ++k) {
        const uint32_t sk = s[k];
        j = (j + sk + key[keyIndex]) & 0xFF;
        s[k] = s[j];
        s[j] = sk;
        if (++keyIndex == keyLength) keyIndex = 0;
    }
    state.i = 0;
    state.j = 0;
}

namespace {

// One keystream byte. The swap stores S[j] last so that a reload of S[i] in
// the next step is forwarded from the store buffer when i + 1 == j.
inline uint8_t NextKeyByte(uint32_t* s, uint32_t& i, uint32_t& j) {
    i = (i + 1) & 0xFF;
    const uint32_t si = s[i];
    j = (j + si) & 0xFF;
    const uint32_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    return static_cast<uint8_t>(s[(si + sj) & 0xFF]);
}

}  // namespace

// XORs 8 bytes with a keystream word whose byte k is keystream byte k.
inline void XorWord(const uint8_t* in, uint8_t* out, uint64_t key) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t word;
    std::memcpy(&word, in, 8);
    word ^= key;
    std::memcpy(out, &word, 8);
#else
    for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(in[k] ^ (key >> (8 * k)));
#endif
}

void Rc4Xor(Rc4State& state, const uint8_t* in, uint8_t* out, size_t length) {
    uint32_t* const s = state.s;
    uint32_t i = state.i;
    uint32_t j = state.j;
    // Eight keystream bytes are gathered in a register (not in memory: byte
    // stores read back as a word stall the store buffer) and combined with
    // one 8-byte load, XOR and store. Written out so every compiler unrolls.
    while (length >= 8) {
        uint64_t key = NextKeyByte(s, i, j);
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 8;
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 16;
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 24;
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 32;
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 40;
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 48;
        key |= static_cast<uint64_t>(NextKeyByte(s, i, j)) << 56;
        XorWord(in, out, key);
        in += 8;
        out += 8;
        length -= 8;
    }
    while (length > 0) {
        *out++ = static_cast<uint8_t>(*in++ ^ NextKeyByte(s, i, j));
        --length;
    }
    state.i = i;
    state.j = j;
}

void Rc4Apply(Rc4State& state, uint8_t* buffer, size_t length) {
    Rc4Xor(state, buffer, buffer, length);
}

}  // namespace quentar
