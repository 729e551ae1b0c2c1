#include "payload/decompress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "payload_test_support.h"

namespace quentar {
namespace {

using testing::ReferenceDecode;

struct TokenCase {
    const char* what;
    std::vector<uint8_t> input;
    size_t capacity;
    LzFault fault;
    std::vector<uint8_t> output;  // expected bytes when fault is None
};

// Guard bytes after the capacity catch writes past it; they must survive
// every case, successful or not.
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

TEST(DecompressEntry, TokenRules) {
    const TokenCase cases[] = {
        {"empty input, empty output", {}, 0, LzFault::None, {}},
        {"control byte 0 consumes one byte and produces nothing", {0x00, 0x00, 0x02, 'a', 'b'}, 2, LzFault::None, {'a', 'b'}},
        {"literal run then back-reference of 3 at distance 3", {0x03, 'a', 'b', 'c', 0x80, 3}, 6, LzFault::None, {'a', 'b', 'c', 'a', 'b', 'c'}},
        {"back-reference reaching exactly the start", {0x04, 'w', 'x', 'y', 'z', 0x81, 4}, 8, LzFault::None, {'w', 'x', 'y', 'z', 'w', 'x', 'y', 'z'}},
        {"back-reference further back than its length", {0x05, '1', '2', '3', '4', '5', 0x80, 5}, 8, LzFault::None, {'1', '2', '3', '4', '5', '1', '2', '3'}},
        {"top-bit control byte as the last byte", {0x01, 'a', 0x80}, 4, LzFault::MissingDistance, {}},
        {"distance smaller than length (run of one byte)", {0x03, 'a', 'a', 'a', 0x80, 2}, 6, LzFault::DistanceBelowLength, {}},
        {"distance 0", {0x03, 'a', 'b', 'c', 0x80, 0}, 6, LzFault::DistanceBelowLength, {}},
        {"distance beyond the bytes produced", {0x03, 'a', 'b', 'c', 0x80, 4}, 6, LzFault::DistanceBeforeOutput, {}},
        {"back-reference first, nothing produced", {0x80, 3}, 3, LzFault::DistanceBeforeOutput, {}},
        {"back-reference one byte past the capacity", {0x03, 'a', 'b', 'c', 0x80, 3}, 5, LzFault::ReferencePastCapacity, {}},
        {"literal run one byte past the capacity", {0x03, 'a', 'b', 'c'}, 2, LzFault::LiteralPastCapacity, {}},
        {"literal run reading past the input", {0x04, 'a', 'b', 'c'}, 4, LzFault::LiteralPastInput, {}},
        {"input ends before the capacity is reached", {0x02, 'a', 'b'}, 3, LzFault::ShortOutput, {}},
        {"empty input for a non-empty entry", {}, 1, LzFault::ShortOutput, {}},
    };
    for (const TokenCase& c : cases) {
        std::vector<uint8_t> out(c.capacity + kGuardBytes, kGuard);
        const LzResult r = DecompressEntryChecked(c.input.data(), c.input.size(), out.data(), c.capacity);
        EXPECT_EQ(r.fault, c.fault) << c.what << ": " << LzFaultText(r.fault);
        EXPECT_EQ(DecompressEntry(c.input.size(), c.capacity, c.input.data(), out.data()), c.fault == LzFault::None) << c.what;
        for (size_t k = c.capacity; k < out.size(); ++k) ASSERT_EQ(out[k], kGuard) << c.what << ": wrote past the capacity";
        if (c.fault == LzFault::None) {
            EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.capacity), c.output) << c.what;
        }
    }
}

// The fault report points at the failing token.
TEST(DecompressEntry, FaultNamesTheToken) {
    const std::vector<uint8_t> in = {0x02, 'a', 'b', 0x00, 0x85, 9};
    std::vector<uint8_t> out(20);
    const LzResult r = DecompressEntryChecked(in.data(), in.size(), out.data(), out.size());
    EXPECT_EQ(r.fault, LzFault::DistanceBeforeOutput);
    EXPECT_EQ(r.inputPosition, 4u);
    EXPECT_EQ(r.outputPosition, 2u);
    EXPECT_EQ(r.control, 0x85);
    EXPECT_EQ(r.distance, 9);
}

// Token streams that are mostly valid, with long tokens near the end of the
// capacity, where the chunked copies must give way to exact ones.
std::vector<uint8_t> RandomTokens(std::mt19937& rng, size_t& produced) {
    std::vector<uint8_t> in;
    produced = 0;
    const size_t tokens = rng() % 40;
    for (size_t t = 0; t < tokens; ++t) {
        const bool wantMatch = produced >= 3 && rng() % 2 == 0;
        if (wantMatch) {
            const size_t maxLen = std::min<size_t>(130, produced);
            const size_t length = 3 + rng() % (maxLen - 2);
            size_t distance = length + rng() % (256 - length);
            if (rng() % 64 == 0) distance = rng() % 256;  // occasionally invalid
            if (distance > produced) distance = std::max(length, produced - rng() % 3);
            in.push_back(static_cast<uint8_t>(0x80 | (length - 3)));
            in.push_back(static_cast<uint8_t>(distance));
            produced += length;
        } else {
            const size_t c = rng() % 128;
            in.push_back(static_cast<uint8_t>(c));
            for (size_t k = 0; k < c; ++k) in.push_back(static_cast<uint8_t>(rng()));
            produced += c;
        }
    }
    if (rng() % 16 == 0 && !in.empty()) in.pop_back();  // cut the last token
    return in;
}

TEST(DecompressEntry, AgreesWithByteByByteRulesOnRandomStreams) {
    std::mt19937 rng(2024);
    size_t successes = 0;
    for (int round = 0; round < 20000; ++round) {
        size_t produced = 0;
        const std::vector<uint8_t> in = RandomTokens(rng, produced);
        // Mostly the exact size; sometimes a little less or more.
        size_t capacity = produced;
        if (rng() % 4 == 0) capacity = produced + rng() % 5 - std::min<size_t>(produced, 2);
        std::vector<uint8_t> expected;
        const LzFault want = ReferenceDecode(in, expected, capacity);
        std::vector<uint8_t> out(capacity + kGuardBytes, kGuard);
        const LzResult got = DecompressEntryChecked(in.data(), in.size(), out.data(), capacity);
        ASSERT_EQ(got.fault, want) << "round " << round;
        for (size_t k = capacity; k < out.size(); ++k) ASSERT_EQ(out[k], kGuard) << "round " << round;
        if (want == LzFault::None) {
            ++successes;
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << "round " << round;
        }
    }
    // The generator must exercise the success path, not only faults.
    EXPECT_GT(successes, 5000u);
}

// Long streams, so most tokens go through the unchecked fast loop and the
// hand-over to the checked loop happens at every distance from the end; one
// bad token is planted at a random place. The whole fault report (kind,
// token offset, bytes produced, control byte, distance) must be the one of
// the byte-by-byte rules, wherever the bad token lies.
TEST(DecompressEntry, LongStreamsReportTheFaultOfTheByteByByteRules) {
    std::mt19937 rng(99);
    size_t faults = 0, successes = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> in;
        size_t produced = 0;
        const size_t tokens = 50 + rng() % 400;
        const size_t bad = rng() % 3 == 0 ? tokens : rng() % tokens;  // tokens: none
        size_t badAt = 0, badProduced = 0;
        uint8_t badControl = 0, badDistance = 0;
        for (size_t t = 0; t < tokens; ++t) {
            const size_t at = in.size();
            if (produced >= 3 && rng() % 2 == 0) {
                const size_t length = 3 + rng() % (std::min<size_t>(130, produced) - 2);
                size_t distance = length + rng() % (std::min<size_t>(256, produced + 1) - length);
                if (t == bad) distance = rng() % 2 ? length - 1 - rng() % length : std::min<size_t>(255, produced + 1 + rng() % 8);
                in.push_back(static_cast<uint8_t>(0x80 | (length - 3)));
                in.push_back(static_cast<uint8_t>(distance));
                if (t == bad) {
                    badAt = at;
                    badProduced = produced;
                    badControl = in[at];
                    badDistance = static_cast<uint8_t>(distance);
                }
                produced += length;
            } else {
                const size_t c = rng() % 4 == 0 ? rng() % 128 : rng() % 16;
                in.push_back(static_cast<uint8_t>(c));
                for (size_t k = 0; k < c; ++k) in.push_back(static_cast<uint8_t>(rng() % 7));
                produced += c;
            }
        }
        std::vector<uint8_t> expected;
        const LzFault want = ReferenceDecode(in, expected, produced);
        std::vector<uint8_t> out(produced + kGuardBytes, kGuard);
        const LzResult got = DecompressEntryChecked(in.data(), in.size(), out.data(), produced);
        ASSERT_EQ(got.fault, want) << "round " << round;
        for (size_t k = produced; k < out.size(); ++k) ASSERT_EQ(out[k], kGuard) << "round " << round;
        if (want == LzFault::None) {
            ++successes;
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << "round " << round;
            EXPECT_EQ(got.inputPosition, in.size());
            EXPECT_EQ(got.outputPosition, produced);
        } else {
            // The planted token is the first bad one: the rules stop there.
            ++faults;
            ASSERT_TRUE(want == LzFault::DistanceBelowLength || want == LzFault::DistanceBeforeOutput) << "round " << round;
            EXPECT_EQ(got.inputPosition, badAt) << "round " << round;
            EXPECT_EQ(got.outputPosition, badProduced) << "round " << round;
            EXPECT_EQ(got.control, badControl) << "round " << round;
            EXPECT_EQ(got.distance, badDistance) << "round " << round;
        }
    }
    EXPECT_GT(successes, 500u);
    EXPECT_GT(faults, 500u);
}

}  // namespace
}  // namespace quentar
