#include "png_writer.h"

#include <array>
#include <initializer_list>

namespace ui {
namespace {

// Deflate's length and distance alphabets (RFC 1951, 3.2.5).
constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr size_t kMaxMatch = 258;
constexpr size_t kMaxDistance = 32768;

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    // Plain values go least significant bit first.
    void Bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            accumulator_ |= ((value >> i) & 1u) << used_;
            if (++used_ == 8) Flush();
        }
    }
    // Huffman codes go most significant bit first.
    void Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1u, 1);
    }
    void Finish() {
        if (used_ > 0) Flush();
    }

private:
    void Flush() {
        out_.push_back(static_cast<uint8_t>(accumulator_));
        accumulator_ = 0;
        used_ = 0;
    }
    std::vector<uint8_t>& out_;
    uint32_t accumulator_ = 0;
    int used_ = 0;
};

// The fixed literal/length code of deflate (RFC 1951, 3.2.6).
void FixedSymbol(BitWriter& bits, unsigned symbol) {
    if (symbol <= 143) {
        bits.Code(0x30 + symbol, 8);
    } else if (symbol <= 255) {
        bits.Code(0x190 + (symbol - 144), 9);
    } else if (symbol <= 279) {
        bits.Code(symbol - 256, 7);
    } else {
        bits.Code(0xC0 + (symbol - 280), 8);
    }
}

void Match(BitWriter& bits, size_t length, size_t distance) {
    size_t code = kLengthBase.size() - 1;
    while (kLengthBase[code] > length) --code;
    FixedSymbol(bits, static_cast<unsigned>(257 + code));
    bits.Bits(static_cast<uint32_t>(length - kLengthBase[code]), kLengthExtra[code]);

    size_t dcode = kDistanceBase.size() - 1;
    while (kDistanceBase[dcode] > distance) --dcode;
    bits.Code(static_cast<uint32_t>(dcode), 5);
    bits.Bits(static_cast<uint32_t>(distance - kDistanceBase[dcode]), kDistanceExtra[dcode]);
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, size_t rowStride) {
    std::vector<uint8_t> out;
    BitWriter bits(out);
    bits.Bits(1, 1);  // BFINAL
    bits.Bits(1, 2);  // BTYPE 01: fixed Huffman codes
    const size_t n = data.size();
    size_t pos = 0;
    while (pos < n) {
        size_t bestLength = 0;
        size_t bestDistance = 0;
        for (size_t distance : {size_t{3}, rowStride, size_t{1}}) {
            if (distance == 0 || distance > pos || distance > kMaxDistance) continue;
            size_t length = 0;
            while (length < kMaxMatch && pos + length < n && data[pos + length] == data[pos + length - distance]) {
                ++length;
            }
            if (length > bestLength) {
                bestLength = length;
                bestDistance = distance;
            }
        }
        if (bestLength >= 3) {
            Match(bits, bestLength, bestDistance);
            pos += bestLength;
        } else {
            FixedSymbol(bits, data[pos]);
            ++pos;
        }
    }
    FixedSymbol(bits, 256);  // end of block
    bits.Finish();
    return out;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void Chunk(std::vector<uint8_t>& png, const char type[4], const std::vector<uint8_t>& body) {
    PutBigEndian(png, static_cast<uint32_t>(body.size()));
    const size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    PutBigEndian(png, Crc32(png.data() + typeAt, 4 + body.size()));
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    // Scanlines: filter type 0 (none) before each row.
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * rowBytes, rgb.begin() + (y + 1) * rowBytes);
    }

    std::vector<uint8_t> zlib = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
    const std::vector<uint8_t> deflated = Deflate(raw, rowBytes + 1);
    zlib.insert(zlib.end(), deflated.begin(), deflated.end());
    PutBigEndian(zlib, Adler32(raw.data(), raw.size()));

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", {});
    return png;
}

}  // namespace ui
