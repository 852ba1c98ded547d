#include "frame_convert.h"

#include "pictures/jpeg_codec.h"
#include "pictures/picture_limits.h"

#include <algorithm>

namespace {

// The number of bytes a frame of `height` rows needs when each row holds
// rowBytes of pixels and starts `stride` bytes after the one before; 0 when
// the layout makes no sense.
std::size_t neededBytes(std::size_t stride, std::size_t rowBytes, int height)
{
    if (stride < rowBytes)
        return 0;
    return stride * std::size_t(height - 1) + rowBytes;
}

void fitBitmap(TBitmap& out, int width, int height)
{
    if (out.width() != width || out.height() != height)
        out.allocateUninitialized(width, height);
}

// ------------------------------------------------------------------ YUYV

// BT.601 limited range in 16-bit fixed point: Y is scaled by 255/219 after
// taking off 16, U and V by 255/224 after taking off 128, and then
//   R = Y' + 1.596 V'   G = Y' - 0.392 U' - 0.813 V'   B = Y' + 2.017 U'.
constexpr int kShift = 16;
constexpr int kLuma = 76309;
constexpr int kRedV = 104597;
constexpr int kGreenU = 25675;
constexpr int kGreenV = 53279;
constexpr int kBlueU = 132201;
constexpr int kRound = 1 << (kShift - 1);

// Every term of the formula for each byte value, and the clamp to 0..255 as
// a table too: a lookup per term is faster than the multiplications and
// compares, and gives the same values.
struct YuyvTables {
    int luma[256];
    int red[256]; // by V
    int greenU[256];
    int greenV[256];
    int blue[256]; // by U
    // (term sum >> kShift) + kClipOffset indexes this; the sums of the
    // terms above stay within -223..536 after the shift.
    static constexpr int kClipOffset = 384;
    std::uint8_t clip[1024];
};

constexpr YuyvTables makeYuyvTables()
{
    YuyvTables t {};
    for (int i = 0; i < 256; ++i) {
        t.luma[i] = kLuma * (i - 16);
        t.red[i] = kRedV * (i - 128) + kRound;
        t.greenU[i] = kRound - kGreenU * (i - 128);
        t.greenV[i] = -kGreenV * (i - 128);
        t.blue[i] = kBlueU * (i - 128) + kRound;
    }
    for (int i = 0; i < 1024; ++i)
        t.clip[i] = std::uint8_t(std::clamp(i - YuyvTables::kClipOffset, 0, 255));
    return t;
}

constexpr YuyvTables kYuyv = makeYuyvTables();

inline std::uint32_t packPixel(int luma, int red, int green, int blue)
{
    const std::uint8_t* clip = kYuyv.clip + YuyvTables::kClipOffset;
    return 0xFF000000u | std::uint32_t(clip[(luma + red) >> kShift]) << 16
        | std::uint32_t(clip[(luma + green) >> kShift]) << 8 | clip[(luma + blue) >> kShift];
}

void yuyvRow(const std::uint8_t* __restrict s, std::uint32_t* __restrict d, int width)
{
    const std::uint32_t* const pairsEnd = d + (width & ~1);
    for (; d != pairsEnd; s += 4, d += 2) {
        const int red = kYuyv.red[s[3]];
        const int green = kYuyv.greenU[s[1]] + kYuyv.greenV[s[3]];
        const int blue = kYuyv.blue[s[1]];
        d[0] = packPixel(kYuyv.luma[s[0]], red, green, blue);
        d[1] = packPixel(kYuyv.luma[s[2]], red, green, blue);
    }
    if (width & 1) {
        // The last pixel of an odd row has its pair's chroma to itself.
        d[0] = packPixel(kYuyv.luma[s[0]], kYuyv.red[s[3]], kYuyv.greenU[s[1]] + kYuyv.greenV[s[3]],
            kYuyv.blue[s[1]]);
    }
}

} // namespace

bool yuyvToRgb(const std::uint8_t* data, std::size_t size, std::size_t stride, int width, int height, TBitmap& out)
{
    if (data == nullptr || width <= 0 || height <= 0)
        return false;
    const std::size_t rowBytes = (std::size_t(width) + 1) / 2 * 4;
    const std::size_t needed = neededBytes(stride, rowBytes, height);
    if (needed == 0 || size < needed)
        return false;
    fitBitmap(out, width, height);
    for (int y = 0; y < height; ++y)
        yuyvRow(data + std::size_t(y) * stride, out.scanLine(y), width);
    return true;
}

bool rgb24ToRgb(const std::uint8_t* data, std::size_t size, std::size_t stride, int width, int height, TBitmap& out)
{
    if (data == nullptr || width <= 0 || height <= 0)
        return false;
    const std::size_t needed = neededBytes(stride, std::size_t(width) * 3, height);
    if (needed == 0 || size < needed)
        return false;
    fitBitmap(out, width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = data + std::size_t(y) * stride;
        std::uint32_t* d = out.scanLine(y);
        for (int x = 0; x < width; ++x, s += 3)
            d[x] = 0xFF000000u | std::uint32_t(s[0]) << 16 | std::uint32_t(s[1]) << 8 | s[2];
    }
    return true;
}

bool mjpegToRgb(const std::uint8_t* data, std::size_t size, int width, int height, TBitmap& out)
{
    if (width <= 0 || height <= 0)
        return false;
    try {
        decodeJpegFrame(data, size, JpegFrame { width, height }, out);
        return true;
    } catch (const EPictureError&) {
        // A damaged frame, or one the stream should not carry: the camera
        // drops it and shows the next.
        return false;
    }
}
