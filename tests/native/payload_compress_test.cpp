#include "payload/compress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "payload/decompress.h"
#include "payload_test_support.h"

namespace quentar {
namespace {

using testing::RandomBytes;
using testing::TextBytes;

// The fewest bytes any token stream needs for `in`, by trying every token
// the format allows at every position: all literal runs 1..127, and at every
// distance D in [3, 255] every length L in [3, 130] with L <= D that the bytes
// allow. An exhaustive shortest path, deliberately free of the encoder's
// window tricks.
size_t ReferenceOptimum(const std::vector<uint8_t>& in) {
    const size_t n = in.size();
    std::vector<size_t> cost(n + 1, std::numeric_limits<size_t>::max());
    cost[0] = 0;
    for (size_t p = 0; p < n; ++p) {
        for (size_t k = 1; k <= 127 && p + k <= n; ++k) cost[p + k] = std::min(cost[p + k], cost[p] + 1 + k);
        for (size_t d = 3; d <= 255 && d <= p; ++d) {
            for (size_t length = 1; length <= std::min<size_t>(d, 130) && p + length <= n; ++length) {
                if (in[p + length - 1] != in[p + length - 1 - d]) break;
                if (length >= 3) cost[p + length] = std::min(cost[p + length], cost[p] + 2);
            }
        }
    }
    return cost[n];
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& packed, size_t size) {
    std::vector<uint8_t> out(size);
    const LzResult r = DecompressEntryChecked(packed.data(), packed.size(), out.data(), out.size());
    EXPECT_EQ(r.fault, LzFault::None) << LzFaultText(r.fault);
    return out;
}

TEST(CompressEntry, OptimalParseMatchesExhaustiveOptimum) {
    std::mt19937 rng(11);
    // Small alphabets give many overlapping choices between matches and runs;
    // lengths past 255 exercise the full window and the 130-byte cap.
    const unsigned alphabets[] = {1, 2, 3, 4, 16, 256};
    for (int round = 0; round < 240; ++round) {
        const unsigned alphabet = alphabets[round % 6];
        const size_t n = rng() % (round < 180 ? 40 : 700);
        std::vector<uint8_t> in = RandomBytes(rng, n, alphabet);
        // Splice in repeats at various distances so matches are not only
        // accidental.
        if (n > 400 && round % 2 == 0) std::copy(in.begin() + 10, in.begin() + 150, in.begin() + 160 + rng() % 100);
        const std::vector<uint8_t> packed = CompressEntry(in.data(), in.size());
        ASSERT_EQ(packed.size(), ReferenceOptimum(in)) << "round " << round << ", " << n << " bytes, alphabet " << alphabet;
        ASSERT_EQ(RoundTrip(packed, in.size()), in) << "round " << round;
    }
}

TEST(CompressEntry, RoundTripsShapedInputsInBothModes) {
    std::mt19937 rng(5);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs = {
        {"empty", {}},
        {"one byte", {0x42}},
        {"two equal bytes", {7, 7}},
        {"zeros", std::vector<uint8_t>(100000, 0)},
        {"random", RandomBytes(rng, 100000, 256)},
        {"two letters", RandomBytes(rng, 50000, 2)},
    };
    std::string text;
    while (text.size() < 60000) text += "The quick brown fox " + std::to_string(text.size() % 977) + " jumps over the lazy dog.\n";
    inputs.push_back({"text", TextBytes(text)});
    // Periods around the window and the length limits.
    for (size_t period : {1, 2, 3, 127, 128, 130, 131, 255, 256, 300}) {
        std::vector<uint8_t> v = RandomBytes(rng, period, 256);
        while (v.size() < 5000) v.push_back(v[v.size() - period]);
        inputs.push_back({"period " + std::to_string(period), v});
    }
    for (const auto& [name, in] : inputs) {
        const std::vector<uint8_t> optimal = CompressEntry(in.data(), in.size(), ParseMode::Optimal);
        const std::vector<uint8_t> greedy = CompressEntry(in.data(), in.size(), ParseMode::Greedy);
        EXPECT_EQ(RoundTrip(optimal, in.size()), in) << name;
        EXPECT_EQ(RoundTrip(greedy, in.size()), in) << name;
        EXPECT_LE(optimal.size(), greedy.size()) << name;
        EXPECT_LE(optimal.size(), CompressBound(in.size())) << name;
    }
}

// Data without repeats reaches the bound: runs of 127 literals.
TEST(CompressEntry, DataWithoutRepeatsCostsOneControlBytePer127) {
    std::vector<uint8_t> ramp(254);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint8_t>(k);
    EXPECT_EQ(CompressEntry(ramp.data(), ramp.size()).size(), 256u);
    EXPECT_EQ(CompressBound(ramp.size()), 256u);
}

}  // namespace
}  // namespace quentar
