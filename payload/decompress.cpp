#include "payload/decompress.h"

#include <cstring>

namespace quentar {

namespace {

constexpr size_t kChunk = 16;
// Room needed to copy a whole token in 16-byte chunks: the longest token
// rounded up to a chunk.
constexpr size_t kMatchSlack = (kLzMaxMatch + kChunk - 1) / kChunk * kChunk;         // 144
constexpr size_t kLiteralSlack = (kLzMaxLiteralRun + kChunk - 1) / kChunk * kChunk;  // 128
// Input the fast loop needs ahead of a token: a control byte and a literal
// run copied in chunks (a back-reference needs only 2).
constexpr size_t kFastInputMargin = 1 + kLiteralSlack;  // 129

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

// The careful loop: every token is checked against both ends before it is
// copied, and a fault is reported with the failing token. Starts at (n, o)
// where the fast loop stopped; o <= outputCapacity and n <= inputLength.
LzResult DecodeCareful(const uint8_t* input, size_t inputLength, uint8_t* output, size_t outputCapacity,
                       size_t n, size_t o) {
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

}  // namespace

LzResult DecompressEntryChecked(const uint8_t* input, size_t inputLength,
                                uint8_t* output, size_t outputCapacity) {
    size_t n = 0;  // input position
    size_t o = 0;  // output position; o <= outputCapacity throughout
    // The fast loop runs while any token, copied whole in 16-byte chunks, stays
    // inside both buffers: a literal run reads its control byte and 128 bytes
    // (127 rounded up to a chunk), a back-reference reads 2 bytes; either
    // writes at most 144 bytes (130 rounded up). Within these margins the
    // capacity and input-length checks of a token always pass, so only the
    // distance checks remain. A token that fails them is left for the careful
    // loop, which reads it again and reports it.
    if (inputLength > kFastInputMargin && outputCapacity > kMatchSlack) {
        const size_t nLast = inputLength - kFastInputMargin;  // n <= nLast: margin left
        const size_t oLast = outputCapacity - kMatchSlack;    // o <= oLast: margin left
        // Both margins hold at the top of every pass: the loop condition
        // checks them, and so does the check after a literal run.
        while (n <= nLast && o <= oLast) {
            size_t c = input[n];
            if (!(c & 0x80)) {
                // Literal run: c <= 127 bytes at input[n + 1 ..]. The chunks
                // read input[n + 1, n + 129) and write output[o, o + 128):
                // inside both buffers by the margins, so no check is needed.
                const size_t length = c;
                uint8_t* const dst = output + o;
                const uint8_t* const src = input + n + 1;
                Copy16(dst, src);  // most runs are 16 bytes or less
                for (size_t k = kChunk; k < length; k += kChunk) Copy16(dst + k, src + k);
                n += 1 + length;
                o += length;
                // A literal run is nearly always followed by a back-reference:
                // taking it here gives that branch a site of its own, which
                // predicts well. The margins must hold again for it.
                if (!(n <= nLast && o <= oLast)) break;
                c = input[n];
                if (!(c & 0x80)) continue;
            }
            // Back-reference: its distance byte input[n + 1] is inside the
            // input by the margin.
            const size_t length = (c & 0x7Fu) + kLzMinMatch;
            const size_t distance = input[n + 1];
            // The source must start inside the output (D <= o) and end at or
            // before o (D >= L); otherwise the careful loop reports the token.
            if (distance > o || distance < length) break;
            // The chunks write output[o, o + 144) (inside by the margin) and
            // read from o - D up to o - D + 144 <= o + 144. Source and
            // destination only meet past the token's own L bytes, where the
            // bytes read are stale and the bytes written are rewritten later.
            uint8_t* const dst = output + o;
            const uint8_t* const src = dst - distance;
            Copy16(dst, src);  // most back-references are 16 bytes or less
            for (size_t k = kChunk; k < length; k += kChunk) Copy16(dst + k, src + k);
            n += 2;
            o += length;
        }
    }
    return DecodeCareful(input, inputLength, output, outputCapacity, n, o);
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
