// JPEG files through libjpeg (the release 6b interface).
#pragma once

#include "compose/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the bytes start like a JPEG file (an SOI marker).
bool looksLikeJpeg(const std::uint8_t* data, std::size_t size);

// Decodes a whole JPEG file held in memory: baseline, progressive and
// greyscale files, and Adobe CMYK/YCCK files converted to RGB, at the size
// stored in the file. Throws EPictureError with a clear message when the file
// is damaged, truncated, of a kind libjpeg cannot decode or too large
// (checkPictureSize, before any large allocation).
TBitmap decodeJpeg(const std::uint8_t* data, std::size_t size);

// Encodes a picture as a baseline JFIF file: the library's defaults, quality
// 100 with baseline forced, the floating-point DCT, RGB input. An empty
// picture gives no bytes at all. Throws EOrvantaError("JPEG error #N") with
// the library's message number on a library error.
std::vector<std::uint8_t> encodeJpeg(const TBitmap& picture);

// What a JPEG file may be asked to trade: the quality (1..100, held to that
// range) and whether colour keeps full resolution (4:4:4) instead of the
// defaults' half resolution both ways (4:2:0). The defaults are the window's.
struct JpegSettings {
    int quality = 100;
    bool fullChroma = false;
};
std::vector<std::uint8_t> encodeJpegWith(const TBitmap& picture, const JpegSettings& settings);
