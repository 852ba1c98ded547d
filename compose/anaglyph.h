// The builder's arithmetic: the geometry of a build (the overlap, the block
// grid, the gauge) and the gains. The pixels themselves are the composition
// engine's (engine.h).
#pragma once

#include "bitmap.h"

#include <algorithm>
#include <climits>

struct Gains {
    int r = 255;
    int g = 255;
    int b = 255;
};

// Everything one block reads, taken together: the sources of a composition
// plan (engine.h). The window refreshes it whenever anything may have changed
// (after events have run).
struct BlockInputs {
    const TBitmap* frame1 = nullptr; // feeds red in normal mode
    const TBitmap* frame2 = nullptr; // feeds green and blue in normal mode
    int W1 = 0; // frame 1's view size, the bounds for the shifted point
    int H1 = 0;
    int dx = 0;
    int dy = 0;
    bool swap = false;
    Gains gains;
};

// The geometry of a build over frames of W x H pixels shifted by (dx, dy),
// in one place so that the engine's two ways of rendering and the checks of
// both cannot drift apart.

// Where the two frames overlap: the part of the working bitmap an anaglyph
// keeps, (max(dx, 0), max(dy, 0)) on, W - |dx| by H - |dy|. Each side stops
// at 0 on its own, so an offset past the frames in one direction empties
// that side only and no side is ever negative.
struct Overlap {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width == 0 || height == 0; }
};
Overlap overlapOf(int W, int H, int dx, int dy);

// The part of a build's working bitmap that the overlap keeps, keep.width x
// keep.height. When that is the whole bitmap its pixels are handed over
// rather than copied; either way work is left empty.
TBitmap cropToOverlap(TBitmap&& work, const Overlap& keep);

// A build walks blocks of s x s pixels (s >= 1): rows 0 .. blocksAlong(H, s)
// - 1 and, in each, columns 0 .. blocksAlong(W, s) - 1. There is always a
// block starting at or past the far edge: one whose square the bitmap clips,
// or one that paints nothing when s divides the side.
constexpr int blocksAlong(int length, int s) { return length / s + 1; }
// The first pixel of block number index along a side.
constexpr long long blockOrigin(long long index, int s) { return index * s; }
// The first pixel of the block that holds pixel p (p >= 0).
constexpr int originOfBlockHolding(int p, int s) { return p - p % s; }

// The progress gauge counts the pixels of the W x H working bitmap: it runs
// to W * H and, after a run of blocks, stands at the pixel index W * y + x of
// the run's last block origin (x, y). Both are held to the int range.
int gaugeMaximum(int W, int H);
int gaugePosition(int W, long long x, int y);

// v held to the range of int.
constexpr int clampToInt(long long v) { return int(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

// g * v div 255 with truncation; exact for g, v in 0..255.
constexpr int scaleChannel(int g, int v) { return int(unsigned(g * v) / 255u); }
