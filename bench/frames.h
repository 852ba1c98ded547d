// Test pictures for the benchmark and the check that keeps it honest.
#pragma once

#include "compose/bitmap.h"

#include <cstdint>
#include <string>

// A w x h picture of gradients with noise on top, so no two neighbouring
// pixels need be alike and every channel carries something. Different seeds
// give different pictures; odd seeds run the gradients the other way.
TBitmap makeFrame(int w, int h, std::uint32_t seed);

// Compares an anaglyph built from frame1 and frame2 with zero offsets, no
// swap, default gains and block step s with referenceAnaglyph. For s > 1
// every s x s square must carry the reference's colour at its top-left
// corner. The reference is computed band by band, so the check needs only a
// few megabytes whatever the picture size. Returns an empty string when they
// agree, else a description of the first difference.
std::string checkAnaglyph(const TBitmap& anaglyph, const TBitmap& frame1, const TBitmap& frame2, int s);
