#include "frame_convert.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <new>

// jpeglib.h first: it brings the configuration that decides which messages
// jerror.h lists.
#include <jpeglib.h>
#include <jerror.h>

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

bool fitBitmap(TBitmap& out, int width, int height)
{
    if (out.width() != width || out.height() != height)
        out.allocateUninitialized(width, height);
    return true;
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

// ------------------------------------------------------------------ MJPEG

struct FrameErrors {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
};

[[noreturn]] void leave(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<FrameErrors*>(cinfo->err)->escape, 1); }

void stayQuiet(j_common_ptr) { }

// Warnings that mean pixels are missing or made up: the data ended early,
// a segment was cut short or skipped, or entropy-coded data was undecodable.
// Others (bytes of garbage between segments, which some cameras leave) still
// give a whole frame.
void judgeMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
        leave(cinfo);
    default:
        break;
    }
}

// The library writes 0xFFRRGGBB words straight into the bitmap's rows: B, G,
// R, 0xFF in memory order on a little-endian machine.
constexpr J_COLOR_SPACE kPixelSpace = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;

// Gives out its size before the library allocates the frame's own buffers;
// catches its own allocation failure, as nothing may be thrown while the
// library is active.
bool prepareBitmap(TBitmap& out, int width, int height) noexcept
{
    try {
        return fitBitmap(out, width, height);
    } catch (...) {
        return false;
    }
}

} // namespace

struct MjpegDecoder::State {
    jpeg_decompress_struct cinfo;
    FrameErrors err;
    bool created = false;
};

namespace {

// The one function that calls setjmp: everything between it and the
// library's return holds only trivially destructible objects, and an error
// jump resets the decompressor for the next frame.
bool runDecode(MjpegDecoder::State& s, const std::uint8_t* data, std::size_t size, int width, int height, TBitmap& out)
{
    j_decompress_ptr cinfo = &s.cinfo;
    if (setjmp(s.err.escape)) {
        jpeg_abort_decompress(cinfo);
        return false;
    }
    if (!s.created) {
        s.created = true;
        jpeg_create_decompress(cinfo);
    }
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        leave(reinterpret_cast<j_common_ptr>(cinfo));
    // A camera's frames are one interleaved baseline scan. Anything else
    // would make the library keep the whole frame's coefficients and pass
    // over them once per scan.
    if (cinfo->image_width != JDIMENSION(width) || cinfo->image_height != JDIMENSION(height) || cinfo->progressive_mode
        || cinfo->comps_in_scan != cinfo->num_components)
        leave(reinterpret_cast<j_common_ptr>(cinfo));
    cinfo->out_color_space = kPixelSpace;
    cinfo->dct_method = JDCT_ISLOW;
    if (!prepareBitmap(out, width, height))
        leave(reinterpret_cast<j_common_ptr>(cinfo));
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != JDIMENSION(width) || cinfo->output_height != JDIMENSION(height)
        || cinfo->output_components != 4)
        leave(reinterpret_cast<j_common_ptr>(cinfo));
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (cinfo->output_scanline < cinfo->output_height) {
        const int first = int(cinfo->output_scanline);
        const int count = std::min(kBatch, height - first);
        for (int i = 0; i < count; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(out.scanLine(first + i));
        jpeg_read_scanlines(cinfo, rows, JDIMENSION(count));
    }
    // Every pixel is in. What follows the last scan (the end marker, which
    // some cameras leave out, or padding) does not matter.
    jpeg_abort_decompress(cinfo);
    return true;
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

MjpegDecoder::MjpegDecoder()
    : state_(std::make_unique<State>())
{
    FrameErrors& err = state_->err;
    state_->cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = leave;
    err.pub.output_message = stayQuiet;
    err.pub.emit_message = judgeMessage;
}

MjpegDecoder::~MjpegDecoder()
{
    if (state_->created)
        jpeg_destroy_decompress(&state_->cinfo);
}

bool MjpegDecoder::decode(const std::uint8_t* data, std::size_t size, int width, int height, TBitmap& out)
{
    // The library refuses an empty buffer, and no frame is smaller than its
    // start and end markers.
    if (data == nullptr || size < 4 || width <= 0 || height <= 0)
        return false;
    return runDecode(*state_, data, size, width, height, out);
}
