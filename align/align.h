// Estimating the offsets that line up the two frames of a pair.
//
// The estimate is the strongest translation common to the two frames, found
// by phase correlation: its peak is the disparity of the depth that fills
// most of the picture, which is what an anaglyph puts at the screen plane.
// OpenCV's phaseCorrelate does this well (Hanning-windowed, with a sub-pixel
// peak), so we use it rather than keep an FFT of our own.
#pragma once

#include "compose/bitmap.h"

struct Alignment {
    int dx = 0; // the offsets to build with: frame1 (x, y) is paired with frame2 (x - dx, y - dy)
    int dy = 0;
    double response = 0; // how sharp the correlation peak was, 0..1 (OpenCV's phaseCorrelate response)
    // The detail of the plainer frame, in grey levels: the RMS of its grey
    // with both the finest grain and the broad shading filtered out, where
    // the correlation looks. 0 for a uniform frame, under 0.25 for a
    // straight gradient (its 8-bit steps), about 5 to 25 for a photograph
    // of ordinary contrast.
    double texture = 0;
    // Whether the offsets can be trusted: both frames have detail and the
    // peak stands well clear of what unrelated frames of this size give.
    // When false, dx and dy are whatever the peak said and mean nothing;
    // the caller should refuse rather than build with them.
    bool confident = false;
};

// Estimates the offsets that line frame2 up with frame1: the vertical offset
// between them and the horizontal one that puts the dominant depth at the
// screen plane. Works on reduced grey copies (long side about 1024 px), so a
// 24-megapixel pair costs little time and memory. Frames of different sizes
// throw EOrvantaError; frames under 16 px a side are too small to correlate
// and give {0, 0, 0, 0, not confident}.
//
// Not confident when either frame lacks detail (texture under 0.35: uniform
// frames, smooth gradients) or when response * sqrt(w * h) of the reduced
// frames is under 30: the peak of two unrelated pictures shrinks with their
// size, so the bar does too: 0.036 at the full working size (1024 x 680),
// 0.6 at 64 x 40, and past a perfect 1.0 under 900 pixels (30 x 30), which
// are never confident.
// The thresholds, and what they were measured on, are in align.cpp.
Alignment estimateAlignment(const TBitmap& frame1, const TBitmap& frame2);
