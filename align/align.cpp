#include "align/align.h"

#include "compose/errors.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Below this a side holds too little for a correlation peak to mean anything.
constexpr int kMinSide = 16;
// The long side the frames are reduced to, roughly: enough detail for the
// peak, and two transforms of this size take milliseconds.
constexpr int kWorkingSide = 1024;

// How the thresholds below were chosen: pairs of known kind were measured
// through the same reduction, window and correlation as here.
//   Must align: tests/data/coffee.jpg cut into pairs at shifts up to 90 px;
//   random crops of it 32 to 400 px wide, shifted by up to an eighth of
//   their width, with noise of sigma 0 to 12 and JPEG quality 40 to 95 (60
//   of each width); the whole picture with noise up to sigma 40, JPEG down
//   to quality 5, one frame at 5 to 130 % contrast or blurred, the whole
//   picture reduced to 30 to 160 px; two depths (regions or a foreground
//   disc at different disparities), a floor whose disparity spreads over
//   up to 80 px of 600; enlarged 4, 6 and 10 times (up to 24 MP); and the
//   stereo pair that orvanta-screenshots renders, depths over 23 px.
//   Must refuse: uniform frames, alike or of different greys, JPEG-coded;
//   straight and radial gradients, alike, brighter or shifted; 6300 pairs of
//   unrelated frames 24 to 600 px wide (two noises, the photograph against
//   noise, two greys with noise of their own); 340 pairs of crops of the
//   photograph that do not overlap; the photograph upside down, turned
//   round, against a uniform frame or a gradient.

// Texture: uniform frames measure 0 and straight gradients at most 0.22
// (their 8-bit steps; a radial one 0.16 from 300 px, and more below, where
// its apex is a feature that moves). The plainest pairs that must align,
// the photograph at 3 % contrast and a frame at 5 %, measure 0.53, the
// rest 0.59 and more. 0.35 leaves a factor of 1.5 on either side.
// Grey frames with sensor noise pass it and are left to the peak.
constexpr double kMinTexture = 0.35;

// The peak against the noise of unrelated frames. Their highest response
// falls as 1/sqrt of the transform's pixels, so the bar is on response *
// sqrt(pixels). Over the 6300 unrelated pairs its 99th percentile was 15
// to 22 at every size and its highest 26.6; the photograph upside down
// gave 24.5. Crops that do not overlap stayed under 25 but for 3 of 340,
// up to 55, where the photograph repeats itself (the saucer's rim, the
// grain of the table), and the photograph mirrored left to right gives 83,
// as the cup and saucer are symmetric: no bar tells those from a pair, as
// the pictures do match at that offset. The pairs that must align gave 45
// and more from 256 px up (45 the floor with the widest spread, 160 the
// rendered pair, 1000 the enlarged photograph) and 46 for the whole
// photograph at 62 x 42. Small noisy crops are where the two
// meet: at 30, all of them pass from 128 px, 97 % at 96 px, 75 % at 64 px,
// 53 % at 48 px and 3 % at 32 px, and none that pass had wrong offsets
// (those, all 96 px and under, reached 25 at most). 30 leaves 1.1 times
// the highest unrelated pair and 1.4 times their 99th percentile.
// The bar says the frames match at the peak, not that one shift explains
// them: a frame turned by 4 degrees or scaled by 5 % still peaks at 150,
// a few pixels off.
constexpr double kMinPeakToNoise = 30;

// The whole-number factor that brings the long side nearest kWorkingSide,
// held so that the short side keeps kMinSide pixels. A whole factor keeps
// the reduced grid on the frame's own pixels, so scaling a shift back is a
// plain multiplication.
int reductionFactor(int w, int h)
{
    const int longSide = std::max(w, h);
    const int shortSide = std::min(w, h);
    const int f = (longSide + kWorkingSide / 2) / kWorkingSide;
    return std::clamp(f, 1, shortSide / kMinSide);
}

// The largest even length up to n that the transform takes as it is.
// phaseCorrelate pads other lengths to one it likes, and on an odd padded
// length it puts the peak half a pixel off, a bias that the reduction
// multiplies. n is at least kMinSide.
int evenTransformLength(int n)
{
    for (int m = n & ~1; m > 2; m -= 2)
        if (cv::getOptimalDFTSize(m) == m)
            return m;
    return 2;
}

// The grey of the frame averaged over f x f blocks, rw x rh of them from the
// top-left corner, as zero-mean floats. What is left out lies past the far
// edges and moves the origin of neither frame, so the offsets are unchanged.
cv::Mat reducedGrey(const TBitmap& frame, int f, int rw, int rh)
{
    cv::Mat out(rh, rw, CV_32F);
    std::vector<std::uint64_t> sums(std::size_t(rw), 0);
    // Luma weights in 1/256ths; their sum is 256, so a block's mean grey is
    // its sum over 256 f^2.
    const float toGrey = 1.0f / (256.0f * float(f) * float(f));
    for (int r = 0; r < rh; ++r) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int k = 0; k < f; ++k) {
            const std::uint32_t* p = frame.scanLine(r * f + k);
            for (int c = 0; c < rw; ++c) {
                std::uint32_t s = 0;
                for (int i = 0; i < f; ++i, ++p)
                    s += 77u * ((*p >> 16) & 0xFF) + 150u * ((*p >> 8) & 0xFF) + 29u * (*p & 0xFF);
                sums[std::size_t(c)] += s;
            }
        }
        float* o = out.ptr<float>(r);
        for (int c = 0; c < rw; ++c)
            o[c] = float(sums[std::size_t(c)]) * toGrey;
    }
    // The window is the same in both frames: on a frame's mean it would add
    // a pattern that does not move, pulling the peak towards no shift.
    out -= cv::mean(out);
    return out;
}

// The detail that the correlation can lock on to, as the windowed RMS in
// grey levels of a band-pass of the reduced grey: its 3 x 3 mean less its
// 9 x 9 mean. The finest grain is mostly noise and 8-bit steps; the broad
// shading of a gradient does not move with the frame. The 4 px along the
// edges, where the means would run past the frame, are left out.
double textureOf(const cv::Mat& grey, const cv::Mat& window)
{
    cv::Mat fine, broad;
    cv::blur(grey, fine, cv::Size(3, 3));
    cv::blur(grey, broad, cv::Size(9, 9));
    const cv::Rect inner(4, 4, grey.cols - 8, grey.rows - 8);
    cv::Mat band = fine(inner);
    band -= broad(inner);
    const cv::Mat w = window(inner);
    const double weight = cv::sum(w)[0];
    return weight > 0 ? std::sqrt(band.mul(w).dot(band) / weight) : 0.0;
}

} // namespace

Alignment estimateAlignment(const TBitmap& frame1, const TBitmap& frame2)
{
    if (frame1.width() != frame2.width() || frame1.height() != frame2.height())
        throw EOrvantaError("Frames have not equal size! Offsets cannot be estimated!");
    const int w = frame1.width();
    const int h = frame1.height();
    if (w < kMinSide || h < kMinSide)
        return {};

    const int f = reductionFactor(w, h);
    const int rw = evenTransformLength(w / f);
    const int rh = evenTransformLength(h / f);
    const cv::Mat a = reducedGrey(frame1, f, rw, rh);
    const cv::Mat b = reducedGrey(frame2, f, rw, rh);
    cv::Mat window;
    cv::createHanningWindow(window, a.size(), CV_32F);
    // Measured first: phaseCorrelate multiplies its inputs by the window in
    // place when their size needs no padding, and ours never needs any.
    const double texture = std::min(textureOf(a, window), textureOf(b, window));
    double response = 0;
    const cv::Point2d shift = cv::phaseCorrelate(a, b, window, &response);

    // phaseCorrelate reports how far frame2's content moved from where it
    // is in frame1: frame2 (x, y) shows frame1 (x - shift.x, y - shift.y).
    // Pairing frame1 (x, y) with frame2 (x - dx, y - dy) lines them up
    // when dx is minus that shift.
    Alignment result;
    result.dx = int(std::lround(-shift.x * f));
    result.dy = int(std::lround(-shift.y * f));
    // The response can pass 1 a little when noise adds to the peak.
    result.response = std::isfinite(response) ? std::clamp(response, 0.0, 1.0) : 0.0;
    result.texture = texture;
    result.confident = texture >= kMinTexture
        && result.response * std::sqrt(double(rw) * double(rh)) >= kMinPeakToNoise;
    return result;
}
