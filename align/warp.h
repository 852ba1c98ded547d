// Bicubic resampling of a frame through a projective map, for the
// correction of a hand-held pair.
#pragma once

#include "align/warp_kernels.h"
#include "compose/bitmap.h"

#include <array>
#include <cstdint>
#include <vector>

// Fills every pixel of dst (already sized): dst (u, v) is src sampled at
// dstToSrc (u, v, 1), row-major 3 x 3, pixel centres on whole coordinates,
// with src's edge pixels repeated beyond its edges. Keys' cubic, a = -0.75.
// Rows are split over up to `threads` threads.
void warpBicubic(const TBitmap& src, const std::array<double, 9>& dstToSrc, TBitmap& dst, int threads);

// The source rows one output row reads, first .. last, within the source.
struct WarpRows {
    int first;
    int last;
};

// warpBicubic one output row at a time, for a source that arrives row by
// row: reads tells which source rows output row v needs (as v grows, first
// never goes down for the maps a correction makes: no roll near a quarter
// turn), and render makes the row from them.
class RowWarper {
public:
    RowWarper(const std::array<double, 9>& dstToSrc, int srcWidth, int srcHeight, int dstWidth);
    WarpRows reads(int v) const;
    // srcRows[y] must be set for the rows reads(v) names.
    void render(int v, const std::uint32_t* const* srcRows, std::uint32_t* out);

private:
    std::array<double, 9> map_;
    int srcWidth_, srcHeight_, dstWidth_;
    std::vector<warp::Tap> taps_;
};

// picture stretched (or squeezed) across to width, its height kept: the
// halves of a side-by-side picture squeezed to half width, as 3-D
// televisions and video take them, given back their shape. Bicubic, as
// warpBicubic.
TBitmap stretchAcross(const TBitmap& picture, int width, int threads);

// The map of stretchAcross: a picture fromWidth wide across toWidth, its
// height kept.
std::array<double, 9> stretchMap(int fromWidth, int toWidth);
