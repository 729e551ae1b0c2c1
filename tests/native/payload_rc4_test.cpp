#include "payload/rc4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace quentar {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return out;
}

TEST(Rc4, MatchesPublishedVectors) {
    struct Case {
        std::vector<uint8_t> key;
        size_t skip;  // keystream bytes dropped before the compared block
        std::vector<uint8_t> plain;
        std::string cipherHex;
    };
    const std::vector<uint8_t> key16 = Hex("0102030405060708090a0b0c0d0e0f10");
    const Case cases[] = {
        {Bytes("Key"), 0, Bytes("Plaintext"), "bbf316e8d940af0ad3"},
        {Bytes("Wiki"), 0, Bytes("pedia"), "1021bf0420"},
        {Bytes("Secret"), 0, Bytes("Attack at dawn"), "45a01f645fc35b383552544b9bf5"},
        // 128-bit key, keystream at offsets 0 and 4096.
        {key16, 0, std::vector<uint8_t>(16), "9ac7cc9a609d1ef7b2932899cde41b97"},
        {key16, 4096, std::vector<uint8_t>(16), "a36a4c301ae8ac13610ccbc12256cacc"},
    };
    for (const Case& c : cases) {
        Rc4State st;
        Rc4KeySchedule(st, c.key.data(), c.key.size());
        std::vector<uint8_t> skipped(c.skip);
        Rc4Apply(st, skipped.data(), skipped.size());
        std::vector<uint8_t> buf = c.plain;
        Rc4Apply(st, buf.data(), buf.size());
        EXPECT_EQ(buf, Hex(c.cipherHex)) << "key of " << c.key.size() << " bytes, offset " << c.skip;
    }
}

// Consecutive calls continue one stream, whatever the piece sizes (the fast
// path works in 8-byte groups, so odd pieces cross its boundaries), and the
// out-of-place form gives the same bytes without touching its input.
TEST(Rc4, PiecesContinueOneStreamAndOutOfPlaceMatches) {
    const std::vector<uint8_t> key = Hex("00112233445566778899aabbccddeeff");
    std::mt19937 rng(7);
    std::vector<uint8_t> plain(5000);
    for (auto& b : plain) b = static_cast<uint8_t>(rng());

    Rc4State whole;
    Rc4KeySchedule(whole, key.data(), key.size());
    std::vector<uint8_t> expected = plain;
    Rc4Apply(whole, expected.data(), expected.size());

    Rc4State pieces;
    Rc4KeySchedule(pieces, key.data(), key.size());
    std::vector<uint8_t> out(plain.size());
    size_t at = 0;
    while (at < plain.size()) {
        const size_t n = std::min<size_t>(rng() % 20, plain.size() - at);
        Rc4Xor(pieces, plain.data() + at, out.data() + at, n);
        at += n;
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(pieces.i, whole.i);
    EXPECT_EQ(pieces.j, whole.j);

    // Deciphering with a fresh schedule gives the plain text back.
    Rc4State again;
    Rc4KeySchedule(again, key.data(), key.size());
    Rc4Apply(again, out.data(), out.size());
    EXPECT_EQ(out, plain);
}

// The keystream step reads the next S[i] before storing the current swap and
// patches it when j lands on that cell (j == i + 1). A plain textbook
// implementation checks the outcome over long streams in which that case
// occurs many times, including at a group boundary and in the byte tail.
TEST(Rc4, MatchesTextbookStepWhereJLandsOnTheNextCell) {
    std::mt19937 rng(11);
    for (int round = 0; round < 4; ++round) {
        std::vector<uint8_t> key(1 + rng() % 32);
        for (auto& b : key) b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> plain(65536 + 3);
        for (auto& b : plain) b = static_cast<uint8_t>(rng());

        // Textbook form with byte cells, one byte at a time.
        uint8_t S[256];
        for (int k = 0; k < 256; ++k) S[k] = static_cast<uint8_t>(k);
        for (int k = 0, j = 0; k < 256; ++k) {
            j = (j + S[k] + key[k % key.size()]) & 0xFF;
            std::swap(S[k], S[j]);
        }
        std::vector<uint8_t> expected(plain.size());
        unsigned i = 0, j = 0;
        size_t landings = 0, landingsAtGroupEnd = 0;
        for (size_t k = 0; k < plain.size(); ++k) {
            i = (i + 1) & 0xFF;
            j = (j + S[i]) & 0xFF;
            if (j == ((i + 1) & 0xFF)) {
                ++landings;
                if (k % 8 == 7) ++landingsAtGroupEnd;
            }
            std::swap(S[i], S[j]);
            expected[k] = static_cast<uint8_t>(plain[k] ^ S[(S[i] + S[j]) & 0xFF]);
        }
        ASSERT_GT(landings, 0u);
        ASSERT_GT(landingsAtGroupEnd, 0u);

        Rc4State st;
        Rc4KeySchedule(st, key.data(), key.size());
        std::vector<uint8_t> out(plain.size());
        Rc4Xor(st, plain.data(), out.data(), out.size());
        EXPECT_EQ(out, expected) << "key of " << key.size() << " bytes";
        EXPECT_EQ(st.i, i);
        EXPECT_EQ(st.j, j);
        for (int k = 0; k < 256; ++k) ASSERT_EQ(st.s[k], S[k]) << "cell " << k;
    }
}

}  // namespace
}  // namespace quentar
