// Windows bitmap files.
#pragma once

#include "compose/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the bytes start like a BMP file ("BM").
bool looksLikeBmp(const std::uint8_t* data, std::size_t size);

// Decodes a whole BMP file held in memory: 1, 4, 8, 16, 24 and 32 bits per
// pixel, RLE4 and RLE8, bit-field masks, top-down rows, OS/2 core headers,
// V4 and V5 headers. Every header field is checked before anything is
// allocated; throws EPictureError with a clear message on any bad field or
// damage.
TBitmap decodeBmp(const std::uint8_t* data, std::size_t size);

// Encodes a picture as an uncompressed 24-bit BMP file, rows bottom-up and
// padded to 4 bytes. An empty picture gives no bytes at all.
std::vector<std::uint8_t> encodeBmp(const TBitmap& picture);
