// Lining up a hand-held pair: the correction that removes every vertical
// difference between the two frames (vertical offset, roll, size and, when
// asked, the keystone of a camera turned between the shots) while leaving
// the horizontal disparity, which is depth, alone; and where to put the
// screen plane.
//
// The geometry is decided once, from features matched between reduced grey
// copies of the frames (estimateCorrection); the pixels are made after it
// (applyCorrection): the right frame warped into the left frame's
// coordinates, both cropped to the largest rectangle they both cover.
#pragma once

#include "compose/bitmap.h"
#include "pictures/stereo_files.h"

#include <array>
#include <string>

enum class CorrectionModel {
    Similarity, // vertical offset, roll and size: a camera moved and tilted between the shots
    Perspective, // and the keystone of a camera turned (yawed or pitched) between them
};

// Where the screen plane goes.
enum class StereoWindow {
    Dominant, // the parallax most of the matched features share (their histogram's peak) stands at the screen
    Near, // the nearest content (nearParallaxPercent's end) stands at the screen: nothing comes out in front of the frame's edges
};

// |vertical disparity| of the matched features, in pixels of the full frames.
// After the correction it is mostly the features' own scatter (each is
// placed to about a pixel of the reduced frames; the fit averages
// thousands), not the correction's error, which is far smaller.
struct DisparitySpread {
    double median = 0;
    double p90 = 0;
};

struct CropRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

struct StereoCorrection {
    // False when the pair cannot be lined up: too little detail, too few
    // consistent matches, or a transform beyond what a hand-held pair can
    // need (more than 10 degrees of roll, more than 15 % in size). why then
    // says which, in words that follow "cannot align A and B: ".
    bool confident = false;
    std::string why;

    // Maps a pixel position (x, y) of the right frame, row-major 3 x 3, to
    // where it goes in the left frame's coordinates, the window's shift
    // included: after it, a feature lies on the same row in both frames,
    // and one at the window's parallax on the same column too. Pixel
    // (x, y) means its centre; [8] is 1. With CorrectionModel::Similarity
    // the bottom row is (0, 0, 1).
    std::array<double, 9> rightToLeft { 1, 0, 0, 0, 1, 0, 0, 0, 1 };

    // The right frame's roll against the left: how far the scene shows
    // turned in it, counter-clockwise on the picture positive.
    double rotationDegrees = 0;
    double scalePercent = 0; // how much larger the right frame shows the scene, in percent
    DisparitySpread verticalBefore; // of the consistent matches, before the correction
    // And after it: the same matches' blocks matched again, to a fraction of
    // a pixel, on the corrected frames (their ORB corners, placed on coarse
    // pyramid levels, scatter by more than what is left).
    DisparitySpread verticalAfter;
    // The horizontal parallax after the correction and the window's shift,
    // of the nearest and the farthest content, in percent of the width:
    // the screen parallax, right x minus left x, so that negative stands in
    // front of the screen and positive behind it. Each end is where at
    // least 1 in 100 of the matched features (5 at the least) agree within
    // two pixels of the reduced frames, so that a stray match does not
    // count; the parallaxes are measured again by block matching on the
    // corrected reduced frames, to a fraction of their pixel.
    double nearParallaxPercent = 0;
    double farParallaxPercent = 0;
    int matches = 0; // the consistent matches the estimate rests on

    // Whether the correction is a translation to within half a pixel over
    // the whole frame, so that the window's two offset fields can hold it;
    // then dx and dy are those offsets (frame 1 (x, y) paired with frame 2
    // (x - dx, y - dy)).
    bool pureTranslation = false;
    int dx = 0;
    int dy = 0;

    // The largest rectangle, in the left frame's coordinates, that both the
    // left frame and the corrected right frame cover.
    CropRect crop;
};

// Estimates the correction of right against left (frames of one size;
// another size throws EOrvantaError). Works on reduced copies, so a
// 24-megapixel pair costs little; threads bounds the threads it may use
// (OpenCV's thread count, which is process-wide, is set for the call and
// given back after). Frames under 32 px a side are not confident ("the
// frames are too small to align").
StereoCorrection estimateCorrection(const TBitmap& left, const TBitmap& right, CorrectionModel model,
    StereoWindow window, int threads = 1);

// The factor the estimate reduces frames of width x height by: each reduced
// pixel (u, v) the mean of the f x f block of full pixels from (f u, f v),
// width / f x height / f of them.
int correctionReduction(int width, int height);

// estimateCorrection from copies of frames of width x height reduced
// elsewhere by copyFactor, which divides correctionReduction's factor (a
// decoder that scales as it decodes makes them, each pixel about the mean of
// the copyFactor x copyFactor block it stands for); they are reduced the
// rest of the way here. Copies smaller than width / copyFactor x
// height / copyFactor, or a factor that does not divide, throw
// EOrvantaError.
StereoCorrection estimateCorrectionFromCopies(const TBitmap& leftCopy, const TBitmap& rightCopy, int copyFactor,
    int width, int height, CorrectionModel model, StereoWindow window, int threads = 1);

// Where the warped right frame's pixel (u, v) of the crop samples the right
// frame: a map for warpBicubic or RowWarper, row-major 3 x 3, [8] = 1.
std::array<double, 9> correctionWarpMap(const StereoCorrection& correction);

// The pair to compose with no offsets: the left frame cropped to
// correction.crop and the right frame warped (bicubic) into the same
// rectangle. Takes the frames over, so that each goes as soon as it is no
// longer needed; holds at most one frame more than it was given. Frames of
// different sizes, or a crop that does not lie inside them, throw
// EOrvantaError.
StereoFrames applyCorrection(StereoFrames&& frames, const StereoCorrection& correction, int threads = 1);
