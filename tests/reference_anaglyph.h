// The colour anaglyph written out as plainly as it can be, one pixel at a
// time, for the tests and the benchmark to check the composition engine
// against. It shares no arithmetic with the engine on purpose.
#pragma once

#include "compose/anaglyph.h"
#include "compose/bitmap.h"

// The anaglyph of a build with block step 1: the overlap of the two frames
// (of the same size), red from one, green and blue from the other, each
// channel scaled by its gain. Its size is that of overlapOf, so offsets that
// leave no overlap give a picture with a side of 0 and no pixels; empty
// frames give an empty picture.
TBitmap referenceAnaglyph(const TBitmap& frame1, const TBitmap& frame2, int dx, int dy, bool swap, Gains gains);
