// A pair of frames as two shots of one scene taken by hand: what alignment
// is for, and what it has to find in a real photograph rather than in noise.
#pragma once

#include "compose/bitmap.h"

#include <cstdint>

// Where the second shot was taken from, against the first.
struct HandheldPose {
    double rollDegrees = 0; // the camera turned about its axis, counter-clockwise positive
    double scale = 1; // how much larger the scene shows: 1.02 for a camera 2 % nearer
    double dropFraction = 0; // the camera lower by this part of the height: the scene moves up
    double shiftFraction = 0; // the camera to the right by this part of the width: the scene moves left (depth)
};

// The right frame the benchmark's hand-held cases use: turned by 1.5
// degrees, 2 % nearer, 1 % of the height lower and 1 % of the width to the
// right of the left frame's camera.
inline constexpr HandheldPose kHandheldRight { 1.5, 1.02, 0.01, 0.01 };

// A w x h frame of scene, a photograph, as a camera at pose sees it: the
// photograph enlarged (bicubic) to cover the frame with a margin of 6 % all
// round, so that a camera turned or moved a little still sees picture up to
// its edges, and the identity pose shows its middle. Noise of a few levels,
// different for every seed, is added to each channel, so that two frames
// are never alike pixel for pixel and an enlarged picture is not unnaturally
// smooth.
TBitmap makeHandheldFrame(const TBitmap& scene, int w, int h, const HandheldPose& pose, std::uint32_t seed);
