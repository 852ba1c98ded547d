// Bicubic resampling of a frame through a projective map, for the
// correction of a hand-held pair.
#pragma once

#include "compose/bitmap.h"

#include <array>

// Fills every pixel of dst (already sized): dst (u, v) is src sampled at
// dstToSrc (u, v, 1), row-major 3 x 3, pixel centres on whole coordinates,
// with src's edge pixels repeated beyond its edges. Keys' cubic, a = -0.75.
// Rows are split over up to `threads` threads.
void warpBicubic(const TBitmap& src, const std::array<double, 9>& dstToSrc, TBitmap& dst, int threads);

// picture stretched (or squeezed) across to width, its height kept: the
// halves of a side-by-side picture squeezed to half width, as 3-D
// televisions and video take them, given back their shape. Bicubic, as
// warpBicubic.
TBitmap stretchAcross(const TBitmap& picture, int width, int threads);
