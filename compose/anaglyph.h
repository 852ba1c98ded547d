// The builder's arithmetic: painting runs of blocks into the working bitmap,
// and a plain closed-form composition used to check it and to measure it.
#pragma once

#include "bitmap.h"

struct Gains {
    int r = 255;
    int g = 255;
    int b = 255;
};

// Everything one block reads, taken together. A caller refreshes it whenever
// anything may have changed (after events have run).
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

// g * v div 255 with truncation; exact for g, v in 0..255.
constexpr int scaleChannel(int g, int v) { return int(unsigned(g * v) / 255u); }

// Paints the blocks of one row of blocks, origin y, columns cFirst..cLast
// (both included, origins x = c * s), into work. Blocks whose shifted point
// lies outside frame 1's view are skipped; squares are clipped to work.
void paintBlockRun(const BlockInputs& in, int s, int y, int cFirst, int cLast, TBitmap& work);

// The anaglyph of a build with block step 1 in closed form: the overlap of
// the two frames, red from one, green and blue from the other, each channel
// scaled by its gain. Both frames must have the same size. Empty when the
// offsets leave no overlap.
TBitmap referenceAnaglyph(const TBitmap& frame1, const TBitmap& frame2, int dx, int dy, bool swap, Gains gains);
