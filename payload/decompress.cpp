#include "payload/decompress.h"

#include <cstring>

namespace quentar {

namespace {

constexpr size_t kChunk = 16;
// Room needed to copy a whole token in 16-byte chunks: the longest token
// rounded up to a chunk.
constexpr size_t kMatchSlack = (kLzMaxMatch + kChunk - 1) / kChunk * kChunk;         // 144
constexpr size_t kLiteralSlack = (kLzMaxLiteralRun + kChunk - 1) / kChunk * kChunk;  // 128

// A 16-byte copy done as one load then one store, so a chunk that reads
// bytes the same token has just written still reads them whole.
inline void Copy16(uint8_t* dst, const uint8_t* src) {
    uint8_t tmp[kChunk];
    std::memcpy(tmp, src, kChunk);
    std::memcpy(dst, tmp, kChunk);
}

// Copies `length` bytes in 16-byte chunks, writing up to 15 bytes past
// dst + length and reading up to 15 past src + length. Callers check both
// areas are inside their buffers.
inline void WildCopy(uint8_t* dst, const uint8_t* src, size_t length) {
    for (size_t k = 0; k < length; k += kChunk) Copy16(dst + k, src + k);
}

LzResult Fault(LzFault fault, size_t tokenStart, size_t o, uint8_t control, uint8_t distance = 0) {
    LzResult r;
    r.fault = fault;
    r.inputPosition = tokenStart;
    r.outputPosition = o;
    r.control = control;
    r.distance = distance;
    return r;
}

}  // namespace

LzResult DecompressEntryChecked(const uint8_t* input, size_t inputLength,
                                uint8_t* output, size_t outputCapacity) {
    size_t n = 0;  // input position
    size_t o = 0;  // output position; o <= outputCapacity throughout
    while (n < inputLength) {
        const size_t tokenStart = n;
        const uint8_t c = input[n++];
        if (c & 0x80) {
            // The distance byte must exist: n < inputLength before reading it.
            if (n >= inputLength) return Fault(LzFault::MissingDistance, tokenStart, o, c);
            const size_t length = (c & 0x7Fu) + kLzMinMatch;
            const uint8_t distance = input[n++];
            // The source output[o - D, o - D + L) must start inside the output...
            if (distance > o) return Fault(LzFault::DistanceBeforeOutput, tokenStart, o, c, distance);
            // ...and end at or before o, so it never overlaps the destination.
            if (distance < length) return Fault(LzFault::DistanceBelowLength, tokenStart, o, c, distance);
            // The destination output[o, o + L) must lie within the capacity.
            if (length > outputCapacity - o) return Fault(LzFault::ReferencePastCapacity, tokenStart, o, c, distance);
            uint8_t* const dst = output + o;
            // Chunked copy reads at most up to dst + 143 and writes up to
            // dst + 143: both inside the output when 144 bytes remain. Bytes
            // written past dst + L are overwritten by later tokens, since a
            // successful stream fills the whole capacity in order.
            if (outputCapacity - o >= kMatchSlack) {
                WildCopy(dst, dst - distance, length);
            } else {
                std::memcpy(dst, dst - distance, length);
            }
            o += length;
        } else {
            const size_t length = c;
            // The run must fit in the output and be present in the input.
            if (length > outputCapacity - o) return Fault(LzFault::LiteralPastCapacity, tokenStart, o, c);
            if (length > inputLength - n) return Fault(LzFault::LiteralPastInput, tokenStart, o, c);
            // Chunked copy touches 128 bytes at most on either side.
            if (outputCapacity - o >= kLiteralSlack && inputLength - n >= kLiteralSlack) {
                WildCopy(output + o, input + n, length);
            } else if (length != 0) {
                std::memcpy(output + o, input + n, length);
            }
            n += length;
            o += length;
        }
    }
    if (o != outputCapacity) return Fault(LzFault::ShortOutput, inputLength, o, 0);
    LzResult ok;
    ok.inputPosition = inputLength;
    ok.outputPosition = o;
    return ok;
}

bool DecompressEntry(size_t inputLength, size_t outputCapacity, const uint8_t* input,
                     uint8_t* output) {
    return DecompressEntryChecked(input, inputLength, output, outputCapacity).fault == LzFault::None;
}

const char* LzFaultText(LzFault fault) {
    switch (fault) {
        case LzFault::None: return "no fault";
        case LzFault::MissingDistance: return "back-reference has no distance byte";
        case LzFault::DistanceBeforeOutput: return "back-reference reaches before the start of the output";
        case LzFault::DistanceBelowLength: return "back-reference distance is shorter than its length";
        case LzFault::ReferencePastCapacity: return "back-reference writes past the entry's size";
        case LzFault::LiteralPastCapacity: return "literal run writes past the entry's size";
        case LzFault::LiteralPastInput: return "literal run reads past the compressed data";
        case LzFault::ShortOutput: return "compressed data ends before the entry's size is reached";
    }
    return "unknown fault";
}

}  // namespace quentar
