// A small PNG encoder for screenshots: 8-bit RGB, one zlib stream made of a
// single fixed-Huffman deflate block. Matches are looked for only at the
// previous pixel and at the row above, which is all a screen picture of
// flat areas and repeated rows needs to shrink well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// Encodes `rgb` (height rows of width * 3 bytes, top row first) as a PNG file.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

// CRC-32 as PNG chunks use it (polynomial 0xEDB88320).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Adler-32 as the zlib trailer uses it.
uint32_t Adler32(const uint8_t* data, size_t size);

}  // namespace ui
