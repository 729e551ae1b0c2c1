// The byte-oriented LZ scheme of the carried archive.
//
// A compressed entry is a sequence of tokens, each opened by a control byte c:
//   c & 0x80  back-reference, two bytes: length L = (c & 0x7F) + 3 (3..130),
//             distance D = next byte (0..255); copies L bytes that start D
//             bytes back in the output. D >= L: source and destination never
//             overlap, so a run of one byte needs a distance >= its length.
//   else      literal run: the next c bytes (0..127) are copied as they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quentar {

constexpr size_t kLzMinMatch = 3;
constexpr size_t kLzMaxMatch = 130;
constexpr size_t kLzMaxDistance = 255;
constexpr size_t kLzMaxLiteralRun = 127;
// Most output one input byte can yield: 130 bytes from a two-byte token.
constexpr uint64_t kLzMaxExpansion = kLzMaxMatch / 2;

enum class LzFault : uint8_t {
    None,
    MissingDistance,        // back-reference control byte is the last input byte
    DistanceBeforeOutput,   // D > bytes produced: source starts before the output
    DistanceBelowLength,    // D < L: source would overlap the destination
    ReferencePastCapacity,  // back-reference would write past the capacity
    LiteralPastCapacity,    // literal run would write past the capacity
    LiteralPastInput,       // literal run would read past the input
    ShortOutput,            // input used up before the capacity was filled
};

struct LzResult {
    LzFault fault = LzFault::None;
    size_t inputPosition = 0;   // offset of the failing token's control byte
    size_t outputPosition = 0;  // bytes produced before that token
    uint8_t control = 0;        // the failing token's control byte
    uint8_t distance = 0;       // its distance, for back-references
};

// Decodes `input` into `output`, checking every token.
// Contract:
// - input has inputLength readable bytes (may be null when 0);
// - output has outputCapacity writable bytes (may be null when 0) and does
//   not overlap input;
// - on success exactly outputCapacity bytes were produced: a stream that
//   stops short is a fault (the rest of the area would be undefined);
// - on failure bytes of output may have been written; nothing outside
//   output[0, outputCapacity) is ever read or written either way.
LzResult DecompressEntryChecked(const uint8_t* input, size_t inputLength,
                                uint8_t* output, size_t outputCapacity);

// The same check reduced to a boolean: true when the input decodes to exactly
// outputCapacity bytes, false on any malformed token or short output.
bool DecompressEntry(size_t inputLength, size_t outputCapacity, const uint8_t* input,
                     uint8_t* output);

// A short English description of a fault ("literal run reads past the input").
const char* LzFaultText(LzFault fault);

}  // namespace quentar
