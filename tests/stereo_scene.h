// A stereo pair rendered from a small 3-D scene with real depth: a tiled
// wall far behind the screen, a checkered floor, three spheres, a tilted
// card and a turned box, seen by two parallel cameras a small step apart.
// The documentation's screenshots show it; the tests know its depth.
#pragma once

#include "compose/bitmap.h"

constexpr int kStereoSceneWidth = 800;
constexpr int kStereoSceneHeight = 600;

// One eye's view, eye -1 the left and +1 the right, with 2 x 2 samples a
// pixel.
TBitmap renderStereoEye(int eye);

// The disparity of what the left eye sees at the centre of pixel (x, y):
// its column in the left view less its column in the right view. The
// cameras are parallel, so the right view shows it on the same row. The
// nearest content has the largest disparity; depth on the screen plane
// has none.
double stereoSceneDisparity(int x, int y);
