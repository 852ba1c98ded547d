// Turns the frames a camera delivers (packed YUYV, MJPEG, RGB24) into
// bitmaps. Each converter checks the bytes it is given against the frame
// size before it reads them, returns false and leaves the bitmap as it was
// when they cannot hold a whole frame, and otherwise writes every pixel of
// `out`, giving it a new pixel store only when its size differs. A camera's
// streaming thread calls them once per frame, so they never throw for bad
// data; only allocating a bitmap may throw std::bad_alloc.
#pragma once

#include "compose/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Packed YUYV 4:2:2 (Y0 U Y1 V for each pair of pixels), `stride` bytes from
// one row to the next, BT.601 limited range (Y 16..235, U and V 16..240).
bool yuyvToRgb(const std::uint8_t* data, std::size_t size, std::size_t stride, int width, int height, TBitmap& out);

// Three bytes R, G, B per pixel, `stride` bytes from one row to the next.
bool rgb24ToRgb(const std::uint8_t* data, std::size_t size, std::size_t stride, int width, int height, TBitmap& out);

// Decodes the baseline JPEG frames of an MJPEG stream. Cameras leave out the
// Huffman tables when they are the standard ones; the library supplies those.
// A frame is refused before anything of its size is allocated when its
// header states another size than the one negotiated, and refused when its
// data is damaged or cut short. One decoder serves one thread and keeps the
// library's state from frame to frame.
class MjpegDecoder {
public:
    MjpegDecoder();
    ~MjpegDecoder();
    MjpegDecoder(const MjpegDecoder&) = delete;
    MjpegDecoder& operator=(const MjpegDecoder&) = delete;

    bool decode(const std::uint8_t* data, std::size_t size, int width, int height, TBitmap& out);

    struct State;

private:
    std::unique_ptr<State> state_;
};
