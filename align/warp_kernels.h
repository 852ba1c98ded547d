// The inside of warpBicubic, shared by its baseline and its AVX2 kernels,
// which are compiled apart (warp_avx2.cpp with AVX2 enabled) and chosen
// when the program starts, by what the processor has.
#pragma once

#include <cstddef>
#include <cstdint>

namespace warp {

// Positions are taken at 1/kSteps of a pixel.
constexpr int kSteps = 128;
constexpr int kWeightBits = 14;

struct CubicWeights {
    std::int16_t fixed[kSteps + 1][4]; // summing to 1 << kWeightBits
    std::int32_t pairs[kSteps + 1][2]; // (w0, w1) and (w2, w3) as 16-bit pairs
    // The same weights over 1 << (2 kWeightBits): down the rows, whose
    // sums across still carry the weights' scale.
    float down[kSteps + 1][4];
};
const CubicWeights& cubicWeights();

// Where one output pixel samples: the source pixel to the top left of the
// point and the point's fraction past it, in 1/kSteps.
struct Tap {
    int ix, iy, fx, fy;
};

// The source's rows by number: a whole frame's scanlines, or the rows of a
// ring that a stream holds at the moment (only those a row's taps reach need
// be set).
struct Source {
    const std::uint32_t* const* rows;
    int width, height;
    const std::uint32_t* at(int x, int y) const { return rows[y] + x; }
    // Whether all sixteen taps of t lie inside the source.
    bool holds(const Tap& t) const { return t.ix >= 1 && t.iy >= 1 && t.ix + 2 < width && t.iy + 2 < height; }
};

// One pixel with the edge pixels repeated beyond the edges; any tap.
std::uint32_t cubicAtEdge(const Source& s, const Tap& t);

// n pixels of one output row from their taps.
void cubicRow(const Source& s, const Tap* taps, int n, std::uint32_t* out);
void cubicRowAvx2(const Source& s, const Tap* taps, int n, std::uint32_t* out);

} // namespace warp
