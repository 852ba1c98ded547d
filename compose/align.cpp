#include "align.h"

#include "errors.h"

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
    return result;
}
