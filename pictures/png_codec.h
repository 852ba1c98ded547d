// PNG files through libpng, for orvanta-compose (the window opens JPEG and
// BMP only).
#pragma once

#include "compose/bitmap.h"
#include "picture_rows.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the bytes start with the PNG signature.
bool looksLikePng(const std::uint8_t* data, std::size_t size);

// Decodes a whole PNG file held in memory: every colour type (grey, grey
// with alpha, palette, RGB, RGBA) at every bit depth, transparency from tRNS
// included, interlaced or not. An anaglyph has no transparency, so a
// picture with alpha is laid over white, the window's fill colour: a
// channel c under alpha a becomes (c*a + M*(M-a) + M/2) / M at the file's
// depth (M = 255 or 65535). 16-bit samples are then reduced to 8 bits as
// (v*255 + 32767) / 65535, which rounds to the nearest. Ancillary chunks
// other than tRNS (text, colour profiles, gamma) are skipped unread.
// Throws EPictureError when the file is damaged, truncated or too large
// (checkPictureSize and the memory rule, checked from IHDR before libpng
// reads anything else; libpng's own allocations are held to the rule too).
TBitmap decodePng(const std::uint8_t* data, std::size_t size);

// Encodes a picture as a non-interlaced 8-bit RGB PNG, lossless. An empty
// picture gives no bytes at all. Throws EOrvantaError("PNG error: ...")
// with libpng's message on a library error.
std::vector<std::uint8_t> encodePng(const TBitmap& picture);

// encodePng's bytes from rows taken one by one, written to out as libpng
// makes them. width and height at least 1.
void encodePngRows(int width, int height, RowSource& rows, ByteSink& out);
// The same encoder, handed its rows one by one.
std::unique_ptr<RowEncoder> pngRowEncoder(int width, int height, ByteSink& out);
