// Windows bitmap files.
#pragma once

#include "compose/bitmap.h"
#include "picture_rows.h"

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

// The size of encodeBmp's file for a width x height picture (both at least
// 1); throws EOrvantaError("The picture is too large for a BMP file") past
// 4 GB, which encodeBmp and encodeBmpRows throw too.
std::uint64_t bmpFileSize(int width, int height);

// encodeBmp's bytes from rows taken top to bottom, each written into its
// place of the file (reserved first at bmpFileSize), which stores them
// bottom-up. width and height at least 1.
void encodeBmpRows(int width, int height, RowSource& rows, PlacedByteSink& out);
// The same encoder, handed its rows one by one.
std::unique_ptr<RowEncoder> bmpRowEncoder(int width, int height, PlacedByteSink& out);
