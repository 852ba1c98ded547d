// Estimating the offsets that line up the two frames of a pair.
//
// The estimate is the strongest translation common to the two frames, found
// by phase correlation: its peak is the disparity of the depth that fills
// most of the picture, which is what an anaglyph puts at the screen plane.
// OpenCV's phaseCorrelate does this well (Hanning-windowed, with a sub-pixel
// peak), so we use it rather than keep an FFT of our own.
#pragma once

#include "bitmap.h"

struct Alignment {
    int dx = 0; // the offsets to build with: frame1 (x, y) is paired with frame2 (x - dx, y - dy)
    int dy = 0;
    double response = 0; // how sharp the correlation peak was, 0..1 (OpenCV's phaseCorrelate response)
};

// Estimates the offsets that line frame2 up with frame1: the vertical offset
// between them and the horizontal one that puts the dominant depth at the
// screen plane. Works on reduced grey copies (long side about 1024 px), so a
// 24-megapixel pair costs little time and memory. Frames of different sizes
// throw EOrvantaError; frames under 16 px a side are too small to correlate
// and give {0, 0, 0}.
Alignment estimateAlignment(const TBitmap& frame1, const TBitmap& frame2);
