// Test pictures for the benchmark and the check that keeps it honest.
#pragma once

#include "compose/bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

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

// A copy of a picture, pixels and size.
TBitmap copyOf(const TBitmap& picture);

// The picture as a binary PPM file (P6, 8 bits a channel), the input the
// command-line JPEG encoder takes.
std::vector<std::uint8_t> encodePpm(const TBitmap& picture);

// Compares a decoded picture with the one it was made from. With both limits
// 0 every pixel must be the same. Otherwise the mean absolute difference of
// the luma (0.30 R + 0.59 G + 0.11 B, which a JPEG file keeps at full
// resolution) may be at most maxLumaMean and that of each colour channel (a
// JPEG file keeps colour at half resolution, which noisy pictures feel) at
// most maxChannelMean. A lossy round trip at quality 100 passes, a picture
// flipped, shifted by a pixel or with red and blue swapped does not. Returns
// an empty string when they agree, else what differs.
std::string comparePictures(const TBitmap& got, const TBitmap& want, double maxLumaMean, double maxChannelMean);
