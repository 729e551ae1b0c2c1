// Optimal parsing for a format whose tokens have fixed costs:
//   literal run of k bytes (1..127) costs 1 + k, back-reference of L bytes
//   (3..130, distance L..255) costs 2.
// cost[i], the fewest bytes that encode the first i input bytes, is
//   min( min_{1<=k<=127} cost[i-k] + 1 + k,
//        min_{p : 3 <= i-p <= M(p)} cost[p] + 2 )
// where M(p) is the longest back-reference that can start at p: with m_D(p)
// the match length at distance D, M(p) = max_D min(m_D(p), D, 130) (below 3
// means none). Every length 3..M(p) is possible at p, with the distance
// that reaches M(p), since a shorter prefix of a match is a match and still
// has D >= L.
//
// Both minima are sliding-window minima, so the whole parse is linear:
// - literals: cost[i-k] + 1 + k = (cost[j] - j) + 1 + i with j = i - k, a
//   minimum of cost[j] - j over the window j in [i-127, i-1];
// - back-references: start p offers value cost[p] + 2 to every i in
//   [p+3, p+M(p)]. Because m_D(p+1) >= m_D(p) - 1, M(p+1) >= M(p) - 1, so the
//   interval ends p + M(p) never decrease with p: an interval that expires
//   expires before every later one, and a monotonic deque (values increasing
//   front to back) gives the minimum of the live intervals.
#include "payload/compress.h"

#include <cstring>
#include <stdexcept>

#include "payload/decompress.h"

namespace quentar {

namespace {

// Lane j of the match finder stands for distance 256 - j: lane 0 (distance
// 256) is never usable and lane 255 is distance 1. The input bytes of the
// 256 lanes are then in[p-256 .. p-1] in memory order.
constexpr size_t kLanes = 256;

struct LaneLimits {
    uint8_t value[kLanes];
    constexpr LaneLimits() : value() {
        for (size_t j = 0; j < kLanes; ++j) value[j] = static_cast<uint8_t>(j == 0 ? 0 : kLanes - j);
    }
};
constexpr LaneLimits kDistanceOfLane;

// Updates run[] from position p+1 to p (run[j] = match length at distance
// 256 - j, capped at 130) over lanes [first, 256) and returns
// max_j min(run[j], distance of lane j). window[j - first] = in[p - 256 + j].
// Branch-free so that the fixed-length call (first == 0, every p >= 256) is
// vectorised: 16 or 32 lanes per instruction.
inline uint8_t UpdateLanes(const uint8_t* __restrict window, uint8_t c, uint8_t* __restrict run, size_t first) {
    uint8_t best = 0;
    for (size_t j = first; j < kLanes; ++j) {
        const uint8_t grown = static_cast<uint8_t>(run[j] + 1);
        const uint8_t capped = grown < kLzMaxMatch ? grown : static_cast<uint8_t>(kLzMaxMatch);
        const uint8_t equal = static_cast<uint8_t>(-static_cast<int>(window[j - first] == c));
        const uint8_t r = static_cast<uint8_t>(capped & equal);
        run[j] = r;
        const uint8_t limit = kDistanceOfLane.value[j];
        const uint8_t usable = r < limit ? r : limit;
        best = usable > best ? usable : best;
    }
    return best;
}

// longest[p] = M(p) when at least 3, else 0. Computed from the end, since
// m_D(p) = in[p] == in[p-D] ? m_D(p+1) + 1 : 0.
std::vector<uint8_t> LongestMatches(const uint8_t* in, size_t n) {
    std::vector<uint8_t> longest(n);
    uint8_t run[kLanes] = {};
    for (size_t p = n; p-- > 0;) {
        uint8_t best;
        if (p >= kLanes) {
            best = UpdateLanes(in + p - kLanes, in[p], run, 0);
        } else {
            // Distances above p reach before the input: their lanes stay 0.
            const size_t first = kLanes - p;
            std::memset(run, 0, first);
            best = UpdateLanes(in, in[p], run, first);
        }
        longest[p] = best >= kLzMinMatch ? best : 0;
    }
    return longest;
}

// The smallest distance D in [length, min(255, p)] at which `length` bytes
// at p repeat; the parse only asks for lengths it knows to be available.
size_t DistanceFor(const uint8_t* in, size_t p, size_t length) {
    const size_t farthest = p < kLzMaxDistance ? p : kLzMaxDistance;
    const uint8_t first = in[p];
    const uint8_t last = in[p + length - 1];
    for (size_t d = length; d <= farthest; ++d) {
        // The end bytes reject most candidates before a full comparison.
        if (in[p - d] == first && in[p - d + length - 1] == last &&
            std::memcmp(in + p, in + p - d, length) == 0) {
            return d;
        }
    }
    throw std::logic_error("match finder and distance search disagree");
}

// A fixed-capacity deque for the sliding minima (capacity a power of two
// above the most entries that can be live: 127 literal starts, 128 intervals).
template <typename T>
class Ring {
public:
    bool empty() const { return head_ == tail_; }
    T& front() { return items_[head_ & kMask]; }
    T& back() { return items_[(tail_ - 1) & kMask]; }
    void push_back(const T& v) { items_[tail_++ & kMask] = v; }
    void pop_back() { --tail_; }
    void pop_front() { ++head_; }

private:
    static constexpr size_t kMask = 255;
    T items_[kMask + 1];
    size_t head_ = 0;
    size_t tail_ = 0;
};

struct LiteralStart {
    int64_t value;  // cost[j] - j
    size_t j;
};

struct MatchInterval {
    uint64_t value;  // cost[p] + 2
    size_t start;    // p
    size_t end;      // p + M(p)
};

// Shortest path; last[i] is the control byte of the token that ends at i.
std::vector<uint8_t> OptimalTokens(const uint8_t* longest, size_t n, uint64_t& total) {
    std::vector<uint8_t> last(n + 1);
    uint64_t cost[256];  // cost[i & 255]: the parse looks back at most 130 positions
    cost[0] = 0;
    Ring<LiteralStart> literals;
    Ring<MatchInterval> matches;
    for (size_t i = 1; i <= n; ++i) {
        const size_t j = i - 1;
        const int64_t f = static_cast<int64_t>(cost[j & 255]) - static_cast<int64_t>(j);
        while (!literals.empty() && literals.back().value >= f) literals.pop_back();
        literals.push_back({f, j});
        while (literals.front().j + kLzMaxLiteralRun < i) literals.pop_front();
        uint64_t best = static_cast<uint64_t>(literals.front().value + static_cast<int64_t>(i) + 1);
        uint8_t control = static_cast<uint8_t>(i - literals.front().j);

        if (i >= kLzMinMatch && longest[i - kLzMinMatch] != 0) {
            const size_t p = i - kLzMinMatch;
            const MatchInterval interval{cost[p & 255] + 2, p, p + longest[p]};
            while (!matches.empty() && matches.back().value >= interval.value) matches.pop_back();
            matches.push_back(interval);
        }
        while (!matches.empty() && matches.front().end < i) matches.pop_front();
        if (!matches.empty() && matches.front().value <= best) {
            best = matches.front().value;
            control = static_cast<uint8_t>(0x80 | (i - matches.front().start - kLzMinMatch));
        }
        cost[i & 255] = best;
        last[i] = control;
    }
    total = cost[n & 255];
    return last;
}

// Greedy choice expressed in the same form as the optimal one.
std::vector<uint8_t> GreedyTokens(const uint8_t* longest, size_t n, uint64_t& total) {
    std::vector<uint8_t> last(n + 1);
    total = 0;
    size_t p = 0;
    size_t literalStart = 0;
    auto flushLiterals = [&](size_t upTo) {
        while (literalStart < upTo) {
            const size_t k = upTo - literalStart < kLzMaxLiteralRun ? upTo - literalStart : kLzMaxLiteralRun;
            literalStart += k;
            last[literalStart] = static_cast<uint8_t>(k);
            total += 1 + k;
        }
    };
    while (p < n) {
        if (longest[p] != 0) {
            flushLiterals(p);
            const size_t len = longest[p];
            p += len;
            last[p] = static_cast<uint8_t>(0x80 | (len - kLzMinMatch));
            literalStart = p;
            total += 2;
        } else {
            ++p;
        }
    }
    flushLiterals(n);
    return last;
}

}  // namespace

std::vector<uint8_t> CompressEntry(const uint8_t* input, size_t length, ParseMode mode) {
    if (length == 0) return {};
    const std::vector<uint8_t> longest = LongestMatches(input, length);
    uint64_t total = 0;
    const std::vector<uint8_t> last =
        mode == ParseMode::Optimal ? OptimalTokens(longest.data(), length, total)
                                   : GreedyTokens(longest.data(), length, total);
    // Emit backwards: the tokens are known from their ends.
    std::vector<uint8_t> out(static_cast<size_t>(total));
    size_t o = out.size();
    size_t i = length;
    while (i > 0) {
        const uint8_t c = last[i];
        if (c & 0x80) {
            const size_t len = (c & 0x7Fu) + kLzMinMatch;
            const size_t p = i - len;
            out[--o] = static_cast<uint8_t>(DistanceFor(input, p, len));
            out[--o] = c;
            i = p;
        } else {
            o -= c;
            std::memcpy(out.data() + o, input + i - c, c);
            out[--o] = c;
            i -= c;
        }
    }
    return out;
}

}  // namespace quentar
