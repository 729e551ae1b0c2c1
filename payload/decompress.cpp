#include "payload/decompress.h"

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define QUENTAR_HAVE_SSE2 1
#include <emmintrin.h>
#else
#define QUENTAR_HAVE_SSE2 0
#endif

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

// A 16-byte copy that reads all 16 bytes before writing any, so a chunk that
// reads bytes the same token has just written still reads them whole. With
// SSE2, one unaligned load and store. Without it (the i686 build's default
// target) four 32-bit words held in registers: a byte array as the staging
// area made GCC keep dead stores to the stack, and the whole decoder 30 %
// slower on i686.
inline void Copy16(uint8_t* dst, const uint8_t* src) {
#if QUENTAR_HAVE_SSE2
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
#else
    uint32_t a, b, c, d;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + 4, 4);
    std::memcpy(&c, src + 8, 4);
    std::memcpy(&d, src + 12, 4);
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + 4, &b, 4);
    std::memcpy(dst + 8, &c, 4);
    std::memcpy(dst + 12, &d, 4);
#endif
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
        // Pointers rather than offsets: on i686 the offsets and the bases do
        // not all fit in registers (measured 27 % slower there).
        const uint8_t* in = input;
        uint8_t* out = output;
        const uint8_t* const inLast = input + (inputLength - kFastInputMargin);  // in <= inLast: margin left
        uint8_t* const outLast = output + (outputCapacity - kMatchSlack);        // out <= outLast: margin left
        // Both margins hold at the top of every pass: the loop condition
        // checks them, and so does the check after a literal run.
        while (in <= inLast && out <= outLast) {
            size_t c = *in;
            if (!(c & 0x80)) {
                // Literal run: c <= 127 bytes at in[1 ..]. The chunks read
                // in[1, 129) and write out[0, 128): inside both buffers by
                // the margins, so no check is needed.
                const uint8_t* const src = in + 1;
                Copy16(out, src);  // most runs are 16 bytes or less
                for (size_t k = kChunk; k < c; k += kChunk) Copy16(out + k, src + k);
                in += 1 + c;
                out += c;
                // A literal run is nearly always followed by a back-reference:
                // taking it here gives that branch a site of its own, which
                // predicts well. The margins must hold again for it.
                if (!(in <= inLast && out <= outLast)) break;
                c = *in;
                if (!(c & 0x80)) continue;
            }
            // Back-reference: its distance byte in[1] is inside the input by
            // the margin.
            const size_t length = (c & 0x7Fu) + kLzMinMatch;
            const size_t distance = in[1];
            // The source must start inside the output (D <= bytes produced)
            // and end at or before out (D >= L); otherwise the careful loop
            // reports the token.
            if (distance > static_cast<size_t>(out - output) || distance < length) break;
            // The chunks write out[0, 144) (inside by the margin) and read
            // from out - D up to out - D + 144 <= out + 144. Source and
            // destination only meet past the token's own L bytes, where the
            // bytes read are stale and the bytes written are rewritten later.
            const uint8_t* const src = out - distance;
            Copy16(out, src);  // most back-references are 16 bytes or less
            for (size_t k = kChunk; k < length; k += kChunk) Copy16(out + k, src + k);
            in += 2;
            out += length;
        }
        n = static_cast<size_t>(in - input);
        o = static_cast<size_t>(out - output);
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
