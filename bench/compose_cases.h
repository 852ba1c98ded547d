// Our own command-line program, orvanta-compose, run as the other programs
// are, on the same files, with its peak resident memory.
#pragma once

#include "cases.h"

#include <string>

namespace bench {

// Makes folder + "batch/" holding eight pairs p1_L.jpg/p1_R.jpg .. p8 as
// symbolic links to the two files, and returns its path: a batch of eight
// with no more on disk than one pair.
std::string makeComposeBatch(const std::string& folder, const std::string& leftJpeg, const std::string& rightJpeg);

// One timed run of a compose case; sets b.peakMb to the program's peak.
double runComposeCase(const CaseSpec& spec, Bench& b, bool first);

// What building one pair of width x height should take at most, in MB of
// 2^20 bytes, when the program streams it: rows are decoded, composed and
// encoded as they come, so it holds a few rows of each picture, not whole
// ones, and its memory is mostly its own code, libraries and threads. 64 MB
// up to 24 megapixels, 128 MB beyond, up to the 200 megapixels of
// compose-huge, whose rows are nearly three times as long.
double streamingBudgetMb(int width, int height);

// Both frames and the anaglyph held whole at 4 bytes a pixel, plus 10%.
// Lining a pair up works on whole frames, so this, not the streamed
// budget, is what compose-align's budget starts from when compose-handheld's
// peak is not known.
double wholeFramesBudgetMb(int width, int height);

// What lining up and building one pair should take at most: what building
// it unaligned takes (unalignedMb), plus one frame at 4 bytes a pixel for
// the warped copy, plus 10%.
double alignBudgetMb(double unalignedMb, int width, int height);

} // namespace bench
