// Turns the frames a camera delivers (packed YUYV, MJPEG, RGB24) into
// bitmaps. Each converter checks the bytes it is given against the frame
// size before it reads them, returns false and leaves the bitmap as it was
// when they cannot hold a whole frame, and otherwise writes every pixel of
// `out`, giving it a new pixel store only when its size differs. A camera's
// streaming thread calls them once per frame, so they never throw for bad
// data; only running out of memory may throw std::bad_alloc.
#pragma once

#include "compose/bitmap.h"

#include <cstddef>
#include <cstdint>

// Packed YUYV 4:2:2 (Y0 U Y1 V for each pair of pixels), `stride` bytes from
// one row to the next, BT.601 limited range (Y 16..235, U and V 16..240).
bool yuyvToRgb(const std::uint8_t* data, std::size_t size, std::size_t stride, int width, int height, TBitmap& out);

// Three bytes R, G, B per pixel, `stride` bytes from one row to the next.
bool rgb24ToRgb(const std::uint8_t* data, std::size_t size, std::size_t stride, int width, int height, TBitmap& out);

// One baseline JPEG frame of an MJPEG stream, through the picture decoder
// (decodeJpegFrame): the standard Huffman tables stand in for those cameras
// leave out, and the memory rule for picture files holds for frames too. A
// frame is refused before anything of its size is allocated when its header
// states another size than the one negotiated, and refused when its data is
// damaged or cut short (then `out` may hold part of it).
bool mjpegToRgb(const std::uint8_t* data, std::size_t size, int width, int height, TBitmap& out);
