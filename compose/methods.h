// The ways of turning a left and a right frame into a red/cyan anaglyph, for
// orvanta-compose: the window's own colour composition and three others.
// AnaglyphMethod and ComposeSettings live with the engine (engine.h).
#pragma once

#include "bitmap.h"
#include "engine.h"

#include <string_view>

// The method a name on the command line asks for: "colour" or "color",
// "half-colour" or "half-color", "grey" or "gray", "dubois", in any letter
// case. Returns false, leaving out as it was, for any other name.
bool parseAnaglyphMethod(std::string_view name, AnaglyphMethod& out);
// The method's own name: "colour", "half-colour", "grey", "dubois"; the
// parser reads each back.
const char* anaglyphMethodName(AnaglyphMethod method);

// The anaglyph of two frames of the same size, the size of overlapOf.
// With the colour method it is exactly what the window builds with the same
// offsets, swap flag, gains and block step. threads > 1 splits the rows.
//
// Pixel (i, j) reads L, the red source's pixel (frame 1, or frame 2 when
// swapped), at (i + max(dx, 0), j + max(dy, 0)) and R, the other frame's,
// at (i + max(-dx, 0), j + max(-dy, 0)). From them:
//   colour       red L.r, green R.g, blue R.b;
//   half-colour  red grey(L), green R.g, blue R.b;
//   grey         red grey(L), green and blue grey(R);
//   dubois       Dubois's least-squares red/cyan matrices applied to L and R
//                in linear light, clamped and encoded back to sRGB bytes
//                (within 1 of the exact formula in each channel);
// with grey(p) = (299 r + 587 g + 114 b + 500) / 1000, Rec. 601 luma. Each
// channel c of the result is then scaled by its gain, scaleChannel(gain, c).
// A block step s > 1 paints the window's Preview: squares of s x s aligned
// to multiples of s in the working bitmap (the frame's W x H), each in the
// colour of its top-left pixel and left white when that pixel's shifted
// point falls outside the frame, then cropped to the overlap.
//
// Frames of different sizes throw EOrvantaError; empty frames give an empty
// 0 x 0 picture, and offsets that leave no overlap a picture with a side of
// 0, the size overlapOf gives.
TBitmap composeAnaglyph(const TBitmap& frame1, const TBitmap& frame2, const ComposeSettings& settings, int threads = 1);
