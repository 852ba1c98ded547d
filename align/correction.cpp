#include "align/correction.h"

#include "align/warp.h"

#include "compose/errors.h"
#include "compose/parallel.h"

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <limits>
#include <random>
#include <vector>

namespace {

// The long side the frames are reduced to for finding features, and how
// many ORB may keep in each. Measured on 24-megapixel pairs (four moves:
// rolls to 4 degrees, sizes to 4 %, a keystone), the rows' error over the
// frame at the median and 90th percentile, and the time of one core (the
// test photograph enlarged to 6000 x 4000, noise on each frame):
//   1024 px, 4000 features: 0.08-0.31 px, 0.16-0.77 px; 0.21 s
//   1024 px, 2000 features: 0.24-0.58 px, 0.48-1.31 px; 0.11 s
//    768 px, 4000 features: 0.10-0.60 px, 0.22-1.40 px; 0.15 s
//   1536 px, 3000 features: 0.13-0.23 px, 0.30-0.46 px; 0.18 s
//   the same with the corners refined: 0.10-0.12 px, 0.16-0.56 px; 0.19 s
// Matching is the larger part of the time, and grows with the square of
// the features. SIFT (1024 px) was as exact (0.03 px, 0.06 px) at 0.45 s;
// AKAZE found a quarter of ORB's matches on smooth pictures at 0.15 s.
constexpr int kWorkingSide = 1536;
// Below this a reduced side holds too few features to fit anything.
constexpr int kMinSide = 32;
constexpr int kFeatures = 3000;
constexpr double kPyramidStep = 1.2;
// The pyramid levels whose corners are refined to a fraction of a pixel
// (featuresOf): refining all eight placed the rows no better in the same
// measurement.
constexpr int kRefinedLevels = 2;
// Lowe's ratio test: a match is kept when its best descriptor distance is
// clearly below the second best.
constexpr double kRatio = 0.8;
// A match agrees with the model when its row lies within this many working
// pixels of where the model puts it.
constexpr double kInlierWorkingPx = 1.5;
// The fewest matches that agree on one correction for it to stand.
// Unrelated frames (two noises, the test photograph against noise) leave
// 2 to 6 agreeing by chance; real pairs of the photograph leave 1250 at
// 600 x 400, 360 at 300 x 200 and 50 at 150 x 100. 24 stands four times
// above chance and half under the smallest of those.
constexpr int kMinMatches = 24;
// What a hand-held pair can need; beyond it the frames are not one scene
// taken twice, or the matches found something else.
constexpr double kMaxRollDegrees = 10;
constexpr double kMaxScaleChange = 0.15;
// The nearest and the farthest content: the ends of the parallaxes that
// enough matches share, so that the odd feature matched to a lookalike on
// the same row does not count. A low percentile does not do: the nearest
// object is often small (in the rendered test pair a sphere, 1 % of the
// frame, whose front stood 11 px before the 3rd percentile).
constexpr int kEndSupport = 5; // matches, or 1 in 100 of them if more
constexpr double kEndSpreadWorkingPx = 2; // their spread at most

// cv::setNumThreads is process-wide: held for the call, given back after.
class OpenCvThreads {
public:
    explicit OpenCvThreads(int threads) : saved_(cv::getNumThreads()) { cv::setNumThreads(std::max(1, threads)); }
    ~OpenCvThreads() { cv::setNumThreads(saved_); }
    OpenCvThreads(const OpenCvThreads&) = delete;
    OpenCvThreads& operator=(const OpenCvThreads&) = delete;

private:
    int saved_;
};

// The whole-number factor that brings the long side nearest kWorkingSide,
// held so that the short side keeps kMinSide pixels. Reduced pixel (u, v)
// is the mean of the f x f block whose centre is full pixel
// (f u + (f - 1) / 2, f v + (f - 1) / 2).
int reductionFactor(int w, int h)
{
    const int f = (std::max(w, h) + kWorkingSide / 2) / kWorkingSide;
    return std::clamp(f, 1, std::max(1, std::min(w, h) / kMinSide));
}

// The luma of the frame averaged over f x f blocks, 8 bits. The f rows of
// a block are first added byte by byte (each channel of each column, a loop
// the compiler turns into vector adds), and the luma is taken once per block
// from its channels' sums: a luma per pixel took 0.1 s for a 24-megapixel
// frame, as long as finding and matching the features, and OpenCV's area
// resize of the four-channel frame no less.
cv::Mat reducedGrey(const TBitmap& frame, int f)
{
    const int rw = frame.width() / f;
    const int rh = frame.height() / f;
    cv::Mat out(rh, rw, CV_8U);
    const std::size_t bytes = std::size_t(rw) * std::size_t(f) * 4;
    // Up to f * 255 in each: f stays far under 257 for any frame.
    std::vector<std::uint16_t> columns(bytes);
    const std::uint32_t divisor = 256u * std::uint32_t(f) * std::uint32_t(f);
    for (int r = 0; r < rh; ++r) {
        std::fill(columns.begin(), columns.end(), std::uint16_t(0));
        for (int k = 0; k < f; ++k) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(frame.scanLine(r * f + k));
            std::uint16_t* c = columns.data();
            std::size_t i = 0;
#if defined(__SSE2__)
            // Sixteen bytes at a time, widened to words: the compiler leaves
            // this loop scalar at the optimisation level we build with.
            const __m128i zero = _mm_setzero_si128();
            for (; i + 16 <= bytes; i += 16) {
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                auto* w = reinterpret_cast<__m128i*>(c + i);
                _mm_storeu_si128(w, _mm_add_epi16(_mm_loadu_si128(w), _mm_unpacklo_epi8(b, zero)));
                _mm_storeu_si128(w + 1, _mm_add_epi16(_mm_loadu_si128(w + 1), _mm_unpackhi_epi8(b, zero)));
            }
#endif
            for (; i < bytes; ++i)
                c[i] = std::uint16_t(c[i] + p[i]);
        }
        // The words are 0xFFRRGGBB: bytes blue, green, red, unused.
        std::uint8_t* o = out.ptr<std::uint8_t>(r);
        const std::uint16_t* c = columns.data();
        for (int x = 0; x < rw; ++x) {
            std::uint32_t b = 0, g = 0, red = 0;
            for (int i = 0; i < f; ++i, c += 4) {
                b += c[0];
                g += c[1];
                red += c[2];
            }
            o[x] = std::uint8_t((77u * red + 150u * g + 29u * b + divisor / 2) / divisor);
        }
    }
    return out;
}

struct Features {
    cv::Mat grey; // the reduced frame
    std::vector<cv::KeyPoint> points;
    cv::Mat descriptors;
};

Features featuresOf(cv::Mat reduced)
{
    Features out;
    out.grey = std::move(reduced);
    const cv::Mat& grey = out.grey;
    cv::Ptr<cv::ORB> orb = cv::ORB::create(kFeatures, float(kPyramidStep));
    orb->detectAndCompute(grey, cv::noArray(), out.points, out.descriptors);
    // ORB places its corners on whole pixels of its pyramid's levels; the
    // corners of the three finest levels are placed to a fraction of a
    // reduced pixel, on the reduced frame itself.
    std::vector<cv::Point2f> corners;
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < out.points.size(); ++i)
        if (out.points[i].octave <= kRefinedLevels) {
            corners.push_back(out.points[i].pt);
            which.push_back(i);
        }
    if (!corners.empty()) {
        cv::cornerSubPix(grey, corners, cv::Size(3, 3), cv::Size(-1, -1),
            cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.01));
        for (std::size_t k = 0; k < which.size(); ++k) {
            out.points[which[k]].pt = corners[k];
            out.points[which[k]].octave = 0; // now placed on the reduced frame's own pixels
        }
    }
    return out;
}

struct Match {
    double xl, yl, xr, yr; // in the full frames, normalised (see RowModel)
};

// A model of where the right frame's rows go in the left frame, in
// normalised coordinates (centred, divided by half the long side). Only
// rows are fitted: the columns also hold the disparity of depth, which a
// fit would take for roll or keystone. The columns follow from the rows:
// the same turn and size (x' = b x - a y), over the same denominator. For
// a camera turned between the shots that is its small-angle form: the
// columns of a flat scene then stray by about half a pixel at the median
// and a pixel at the 90th percentile (1200 x 800, turned 2 to 3 degrees),
// a slight stretch of the parallax, never a row error.
//   Similarity: y' = a x + b y + t
//   Perspective: y' = (a x + b y + t) / (g x + h y + 1)
struct RowModel {
    double a = 0, b = 1, t = 0, g = 0, h = 0;

    double denominator(double x, double y) const { return g * x + h * y + 1; }
    double row(double x, double y) const { return (a * x + b * y + t) / denominator(x, y); }
    double column(double x, double y) const { return (b * x - a * y) / denominator(x, y); }
};

int parametersOf(CorrectionModel model) { return model == CorrectionModel::Perspective ? 5 : 3; }

// Least squares over the chosen matches of y_l * (g x + h y + 1) = a x + b y + t,
// each equation divided by the previous model's denominator so that the
// error minimised is the row's own. With as many matches as parameters
// this is the exact fit of a random sample.
bool fitRows(const std::vector<Match>& m, const std::vector<int>& chosen, CorrectionModel model, RowModel& io)
{
    const int k = parametersOf(model);
    double ata[5][5] = {};
    double atb[5] = {};
    for (int i : chosen) {
        const Match& p = m[std::size_t(i)];
        const double w = 1.0 / io.denominator(p.xr, p.yr);
        const double row[5] = { p.xr * w, p.yr * w, w, -p.xr * p.yl * w, -p.yr * p.yl * w };
        const double rhs = p.yl * w;
        for (int r = 0; r < k; ++r) {
            for (int c = 0; c < k; ++c)
                ata[r][c] += row[r] * row[c];
            atb[r] += row[r] * rhs;
        }
    }
    cv::Mat A(k, k, CV_64F), B(k, 1, CV_64F), X;
    for (int r = 0; r < k; ++r) {
        for (int c = 0; c < k; ++c)
            A.at<double>(r, c) = ata[r][c];
        B.at<double>(r) = atb[r];
    }
    if (!cv::solve(A, B, X, cv::DECOMP_LU))
        return false;
    RowModel out;
    out.a = X.at<double>(0);
    out.b = X.at<double>(1);
    out.t = X.at<double>(2);
    if (k == 5) {
        out.g = X.at<double>(3);
        out.h = X.at<double>(4);
    }
    for (double v : { out.a, out.b, out.t, out.g, out.h })
        if (!std::isfinite(v))
            return false;
    if (out.b <= 0)
        return false; // upside down: no hand-held pair
    io = out;
    return true;
}

struct Fit {
    RowModel model;
    std::vector<int> inliers;
};

// Whether a match agrees with the model: on the row it predicts, and with a
// parallax a pair can have (two views of one scene are not a third of the
// frame apart; a chance agreement of rows usually is).
bool agrees(const RowModel& m, const Match& p, double tolerance, double maxParallax)
{
    if (m.denominator(p.xr, p.yr) <= 0.1)
        return false;
    return std::abs(m.row(p.xr, p.yr) - p.yl) <= tolerance
        && std::abs(m.column(p.xr, p.yr) - p.xl) <= maxParallax;
}

std::vector<int> agreeing(const RowModel& m, const std::vector<Match>& matches, double tolerance, double maxParallax)
{
    std::vector<int> out;
    for (int i = 0; i < int(matches.size()); ++i)
        if (agrees(m, matches[std::size_t(i)], tolerance, maxParallax))
            out.push_back(i);
    return out;
}

// No library fits a model to the rows alone (findHomography and
// estimateAffinePartial2D fit both coordinates, and would take a floor's
// growing disparity for a roll), hence this small RANSAC: exact fits to
// random minimal samples, scored by the truncated squared error (MSAC),
// the best refined by least squares over the matches that agree with it
// until they no longer change.
Fit robustFit(const std::vector<Match>& matches, CorrectionModel model, double tolerance, double maxParallax)
{
    const int n = int(matches.size());
    const int k = parametersOf(model);
    Fit best;
    if (n < k)
        return best;
    std::mt19937 rng(12345u); // the same pair gives the same answer
    double bestCost = std::numeric_limits<double>::infinity();
    const double t2 = tolerance * tolerance;
    int iterations = 3000;
    std::vector<int> sample(static_cast<std::size_t>(k));
    for (int it = 0; it < iterations; ++it) {
        for (int j = 0; j < k; ++j) {
            int c;
            do
                c = int(rng() % std::uint32_t(n));
            while (std::find(sample.begin(), sample.begin() + j, c) != sample.begin() + j);
            sample[std::size_t(j)] = c;
        }
        RowModel m;
        if (!fitRows(matches, sample, model, m))
            continue;
        double cost = 0;
        int good = 0;
        for (const Match& p : matches) {
            const double d = m.denominator(p.xr, p.yr);
            double e = t2;
            if (d > 0.1 && std::abs(m.column(p.xr, p.yr) - p.xl) <= maxParallax) {
                const double r = m.row(p.xr, p.yr) - p.yl;
                if (r * r < t2) {
                    e = r * r;
                    ++good;
                }
            }
            cost += e;
            if (cost >= bestCost)
                break;
        }
        if (cost < bestCost) {
            bestCost = cost;
            best.model = m;
            // Enough draws to have met an all-agreeing sample with 99.9 %
            // certainty at the agreement seen so far.
            const double w = double(good) / n;
            const double allGood = std::pow(w, k);
            if (allGood > 1e-9) {
                const double needed = std::log(0.001) / std::log1p(-std::min(allGood, 1 - 1e-12));
                iterations = std::min(iterations, std::max(50, int(std::ceil(needed))));
            }
        }
    }
    if (!std::isfinite(bestCost))
        return best;
    best.inliers = agreeing(best.model, matches, tolerance, maxParallax);
    for (int round = 0; round < 10 && int(best.inliers.size()) >= k; ++round) {
        RowModel refined = best.model;
        if (!fitRows(matches, best.inliers, model, refined))
            break;
        std::vector<int> again = agreeing(refined, matches, tolerance, maxParallax);
        if (int(again.size()) < k)
            break;
        best.model = refined;
        const bool same = again == best.inliers;
        best.inliers = std::move(again);
        if (same)
            break;
    }
    return best;
}

// A 3 x 3 product, row-major.
std::array<double, 9> times(const std::array<double, 9>& p, const std::array<double, 9>& q)
{
    std::array<double, 9> r {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[std::size_t(i * 3 + j)] += p[std::size_t(i * 3 + k)] * q[std::size_t(k * 3 + j)];
    return r;
}

cv::Point2d mapped(const std::array<double, 9>& m, double x, double y)
{
    const double w = m[6] * x + m[7] * y + m[8];
    return { (m[0] * x + m[1] * y + m[2]) / w, (m[3] * x + m[4] * y + m[5]) / w };
}

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const double at = q * double(v.size() - 1);
    const std::size_t i = std::size_t(at);
    const double frac = at - double(i);
    return i + 1 < v.size() ? v[i] * (1 - frac) + v[i + 1] * frac : v[i];
}

DisparitySpread spreadOf(const std::vector<double>& absolute)
{
    return { percentile(absolute, 0.5), percentile(absolute, 0.9) };
}

// The screen parallax of each match (where the right eye sees it less
// where the left eye does: negative in front of the screen), measured
// again on the reduced frames by block matching along the row, the right
// one warped by the correction. ORB's corners of its coarser levels lie
// on whole pixels of their level, up to 2.5 px apart at the sixth; at the
// ends of the parallaxes, where the window and the report look, those
// errors stood out by 2 to 3 px. Each match is given the sub-pixel peak of
// the zero-mean correlation of a 9 x 9 block over shifts of -3 .. 3 px
// around its own parallax; a match whose block finds no clear peak (an
// edge between depths, a plain area) keeps none, unless too few do.
// The same block is then matched down the column at that parallax: what is
// left of the vertical disparity once the frames are corrected, measured
// to a fraction of a pixel rather than to ORB's corners, which at a coarse
// level scatter by more than the correction is off. The matches whose
// block finds a clear peak both ways give it in `vertical`.
struct Remeasured {
    std::vector<double> parallax;
    std::vector<double> vertical; // |rows apart| after the correction, full pixels
};

Remeasured parallaxesOf(const cv::Mat& leftGrey, const cv::Mat& rightGrey, int f,
    const std::array<double, 9>& rightToLeft, const std::vector<cv::Point2d>& lefts,
    const std::vector<cv::Point2d>& rights)
{
    // Reduced pixel u is full pixel f u + (f - 1) / 2.
    const double o = (f - 1) / 2.0;
    const std::array<double, 9> toFull = { double(f), 0, o, 0, double(f), o, 0, 0, 1 };
    const std::array<double, 9> toReduced = { 1.0 / f, 0, -o / f, 0, 1.0 / f, -o / f, 0, 0, 1 };
    const std::array<double, 9> reduced = times(toReduced, times(rightToLeft, toFull));
    cv::Mat warped;
    cv::warpPerspective(rightGrey, warped, cv::Matx33d(reduced.data()), leftGrey.size(), cv::INTER_LINEAR,
        cv::BORDER_CONSTANT, cv::Scalar(0));
    constexpr int r = 4, reach = 3;
    std::vector<double> measured, found, vertical;
    for (std::size_t i = 0; i < lefts.size(); ++i) {
        found.push_back(rights[i].x - lefts[i].x);
        const int u = int(std::lround((lefts[i].x - o) / f));
        const int v = int(std::lround((lefts[i].y - o) / f));
        const int d0 = int(std::lround(found.back() / f));
        if (v - r < 0 || v + r >= leftGrey.rows || u - r < 0 || u + r >= leftGrey.cols
            || u + d0 - reach - r < 0 || u + d0 + reach + r >= warped.cols)
            continue;
        double score[2 * reach + 1];
        double a[(2 * r + 1) * (2 * r + 1)];
        double meanA = 0;
        for (int y = -r, k = 0; y <= r; ++y)
            for (int x = -r; x <= r; ++x, ++k)
                meanA += a[k] = leftGrey.at<std::uint8_t>(v + y, u + x);
        meanA /= double(std::size(a));
        double varA = 0;
        for (double& value : a) {
            value -= meanA;
            varA += value * value;
        }
        // The zero-mean correlation of the block with the warped frame's
        // block centred at (cu, cv); -1 where either is plain.
        const auto correlation = [&](int cu, int cv) {
            double sumB = 0, sumBB = 0, sumAB = 0;
            for (int y = -r, k = 0; y <= r; ++y) {
                const std::uint8_t* row = warped.ptr<std::uint8_t>(cv + y) + cu;
                for (int x = -r; x <= r; ++x, ++k) {
                    const double b = row[x];
                    sumB += b;
                    sumBB += b * b;
                    sumAB += a[k] * b;
                }
            }
            const double varB = sumBB - sumB * sumB / double(std::size(a));
            return varA > 0 && varB > 0 ? sumAB / std::sqrt(varA * varB) : -1.0;
        };
        for (int s = -reach; s <= reach; ++s)
            score[s + reach] = correlation(u + d0 + s, v);
        const int best = int(std::max_element(score, score + 2 * reach + 1) - score);
        if (best == 0 || best == 2 * reach || score[best] < 0.8)
            continue;
        const double l = score[best - 1], c = score[best], rr = score[best + 1];
        const double curve = l - 2 * c + rr;
        const double peak = curve < 0 ? 0.5 * (l - rr) / curve : 0;
        // The block stands at reduced (u, v), so the shift is between
        // reduced columns: into full pixels by f alone.
        measured.push_back((d0 + best - reach + peak) * f);

        // Down the column at the whole-pixel parallax just found.
        const int across = u + d0 + best - reach;
        if (v - r - 1 < 0 || v + r + 1 >= warped.rows)
            continue;
        const double down[3] = { correlation(across, v - 1), correlation(across, v), correlation(across, v + 1) };
        const double bend = down[0] - 2 * down[1] + down[2];
        if (down[1] < 0.8 || down[1] < down[0] || down[1] < down[2] || bend >= 0)
            continue;
        vertical.push_back(std::abs(0.5 * (down[0] - down[2]) / bend) * f);
    }
    if (int(measured.size()) < kMinMatches)
        measured = found;
    if (int(vertical.size()) < kMinMatches)
        vertical.clear();
    return { measured, vertical };
}

// The nearest (lowest) parallax that enough matches share: the start of
// the first run of them that spans at most `spread`, and the run's median.
// The farthest, the same from the other end.
double supportedEnd(std::vector<double> parallax, double spread, bool nearest)
{
    std::sort(parallax.begin(), parallax.end());
    if (!nearest)
        std::reverse(parallax.begin(), parallax.end());
    const std::size_t n = parallax.size();
    const std::size_t run = std::min(n, std::max<std::size_t>(kEndSupport, n / 100));
    for (std::size_t i = 0; i + run <= n; ++i)
        if (std::abs(parallax[i + run - 1] - parallax[i]) <= spread)
            return parallax[i + run / 2];
    return parallax[n / 2];
}

// The parallax that most matches share: the peak of their histogram in
// bins of one working pixel, smoothed, then the median of the matches
// within two bins of it.
double dominantParallax(const std::vector<double>& parallax, double bin)
{
    const auto [lo, hi] = std::minmax_element(parallax.begin(), parallax.end());
    bin = std::max(bin, (*hi - *lo) / 4096.0);
    const int bins = int((*hi - *lo) / bin) + 1;
    std::vector<double> count(std::size_t(bins) + 4, 0);
    for (double p : parallax)
        count[std::size_t(int((p - *lo) / bin)) + 2] += 1;
    int peak = 2;
    double peakCount = -1;
    for (int i = 2; i < bins + 2; ++i) {
        const double c = count[std::size_t(i - 2)] + 2 * count[std::size_t(i - 1)] + 3 * count[std::size_t(i)]
            + 2 * count[std::size_t(i + 1)] + count[std::size_t(i + 2)];
        if (c > peakCount) {
            peakCount = c;
            peak = i - 2;
        }
    }
    const double centre = *lo + (peak + 0.5) * bin;
    std::vector<double> near;
    for (double p : parallax)
        if (std::abs(p - centre) <= 2.5 * bin)
            near.push_back(p);
    return percentile(near, 0.5);
}

// The columns of the left frame's row y inside the convex quad q (its
// corners in order), clipped to 0 .. w - 1; lo > hi when there are none.
void rowInside(const std::array<cv::Point2d, 4>& q, double orientation, int y, int w, int& lo, int& hi)
{
    double from = 0, to = w - 1;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d p = q[std::size_t(i)];
        const cv::Point2d e = q[std::size_t((i + 1) % 4)] - p;
        // Inside: orientation * cross(e, (x, y) - p) >= 0, linear in x.
        const double slope = -e.y * orientation;
        const double rest = orientation * (e.x * (y - p.y) + e.y * p.x);
        if (std::abs(slope) < 1e-12) {
            if (rest < -1e-9)
                from = 1, to = 0;
        } else if (slope > 0) {
            from = std::max(from, -rest / slope);
        } else {
            to = std::min(to, -rest / slope);
        }
    }
    lo = int(std::ceil(from - 1e-6));
    hi = int(std::floor(to + 1e-6));
}

// The largest axis-aligned rectangle of whole pixels that lies in the left
// frame and whose pixel centres all map into the right frame's pixels. The
// region is convex, so a rectangle whose top and bottom rows lie in it lies
// in it whole: over rows y1 <= y2 its width is
// min(hi(y1), hi(y2)) - max(lo(y1), lo(y2)) + 1. The pairs of rows are
// searched with a bound that stops each scan as soon as it cannot win,
// which leaves a few thousand pairs for an ordinary quad.
CropRect largestCrop(const std::array<double, 9>& rightToLeft, int w, int h)
{
    std::array<cv::Point2d, 4> q = { mapped(rightToLeft, 0, 0), mapped(rightToLeft, w - 1, 0),
        mapped(rightToLeft, w - 1, h - 1), mapped(rightToLeft, 0, h - 1) };
    for (int i = 0; i < 4; ++i) {
        const double cx = (i == 1 || i == 2) ? w - 1 : 0;
        const double cy = i >= 2 ? h - 1 : 0;
        if (rightToLeft[6] * cx + rightToLeft[7] * cy + rightToLeft[8] <= 0)
            return {};
    }
    // Convex, and which way round.
    double orientation = 0;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d a = q[std::size_t((i + 1) % 4)] - q[std::size_t(i)];
        const cv::Point2d b = q[std::size_t((i + 2) % 4)] - q[std::size_t((i + 1) % 4)];
        const double c = a.x * b.y - a.y * b.x;
        if (c == 0 || (orientation != 0 && (c > 0) != (orientation > 0)))
            return {};
        orientation = c > 0 ? 1 : -1;
    }
    std::vector<int> lo(static_cast<std::size_t>(h)), hi(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        rowInside(q, orientation, y, w, lo[std::size_t(y)], hi[std::size_t(y)]);
    CropRect best;
    long long bestArea = 0;
    for (int y1 = 0; y1 < h; ++y1) {
        const long long w1 = hi[std::size_t(y1)] - lo[std::size_t(y1)] + 1;
        if (w1 <= 0 || w1 * (h - y1) <= bestArea)
            continue;
        for (int y2 = h - 1; y2 >= y1; --y2) {
            if (w1 * (y2 - y1 + 1) <= bestArea)
                break;
            const int left = std::max(lo[std::size_t(y1)], lo[std::size_t(y2)]);
            const int right = std::min(hi[std::size_t(y1)], hi[std::size_t(y2)]);
            const long long area = (long long)(right - left + 1) * (y2 - y1 + 1);
            if (right >= left && area > bestArea) {
                bestArea = area;
                best = { left, y1, right - left + 1, y2 - y1 + 1 };
            }
        }
    }
    return best;
}

std::string formatted(const char* pattern, double value)
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}


// The estimate from the frames' reduced grey copies (reducedGrey's at
// factor f) of frames of w x h.
StereoCorrection estimateReduced(const std::function<cv::Mat()>& leftGrey, const std::function<cv::Mat()>& rightGrey,
    int f, int w, int h, CorrectionModel model, StereoWindow window, int threads)
{
    StereoCorrection result;
    if (std::min(w, h) < kMinSide) {
        result.why = "the frames are too small to align";
        return result;
    }
    threads = std::max(1, threads);
    const OpenCvThreads openCvThreads(threads);

    // The two frames' features at once when there are two threads: the
    // reduction and the detection of one frame do not depend on the other.
    // OpenCV's own loops run serially meanwhile, so that no more than two
    // threads work.
    Features fl, fr;
    if (threads >= 2) {
        const OpenCvThreads serial(1);
        bothAtOnce([&] { fl = featuresOf(leftGrey()); }, [&] { fr = featuresOf(rightGrey()); });
    } else {
        fl = featuresOf(leftGrey());
        fr = featuresOf(rightGrey());
    }
    if (int(fl.points.size()) < kMinMatches || int(fr.points.size()) < kMinMatches) {
        result.why = "too little detail in common";
        return result;
    }

    std::vector<std::vector<cv::DMatch>> knn;
    cv::BFMatcher(cv::NORM_HAMMING).knnMatch(fl.descriptors, fr.descriptors, knn, 2);
    // Normalised coordinates: centred, and divided by half the long side so
    // that the fit's unknowns are of one order.
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, unit = std::max(w, h) / 2.0;
    // ORB scales a keypoint found on pyramid level L by 1.2^L, which puts
    // the centre of a level's pixel half a level pixel less half a pixel
    // off: a shift that grows with the level and differs between the two
    // frames when they show the scene at different sizes.
    auto full = [f](float v, int level) {
        const double scale = std::pow(kPyramidStep, level);
        return (double(v) + 0.5 * (scale - 1) + 0.5) * f - 0.5;
    };
    std::vector<Match> matches;
    for (const auto& pair : knn) {
        if (pair.size() < 2 || pair[0].distance >= kRatio * pair[1].distance)
            continue;
        const cv::KeyPoint& kl = fl.points[std::size_t(pair[0].queryIdx)];
        const cv::KeyPoint& kr = fr.points[std::size_t(pair[0].trainIdx)];
        matches.push_back({ (full(kl.pt.x, kl.octave) - cx) / unit, (full(kl.pt.y, kl.octave) - cy) / unit,
            (full(kr.pt.x, kr.octave) - cx) / unit, (full(kr.pt.y, kr.octave) - cy) / unit });
    }

    const double tolerance = kInlierWorkingPx * f / unit;
    const double maxParallax = (w / 3.0) / unit;
    const Fit fit = robustFit(matches, model, tolerance, maxParallax);
    result.matches = int(fit.inliers.size());
    if (result.matches < kMinMatches) {
        result.why = "too few consistent matches";
        return result;
    }
    const RowModel& m = fit.model;

    // Roll and size from the rows' slope across and down the middle.
    const double across = m.a - m.t * m.g;
    const double down = m.b - m.t * m.h;
    result.rotationDegrees = std::atan2(across, down) * 180 / CV_PI;
    result.scalePercent = (1 / std::hypot(across, down) - 1) * 100;

    // Into full-frame pixels: normalised = (pixel - centre) / unit.
    const std::array<double, 9> model3 = { m.b, -m.a, 0, m.a, m.b, m.t, m.g, m.h, 1 };
    const std::array<double, 9> toUnit = { 1 / unit, 0, -cx / unit, 0, 1 / unit, -cy / unit, 0, 0, 1 };
    const std::array<double, 9> fromUnit = { unit, 0, cx, 0, unit, cy, 0, 0, 1 };
    std::array<double, 9> rightToLeft = times(fromUnit, times(model3, toUnit));

    std::vector<double> before, after;
    std::vector<cv::Point2d> lefts, rights; // in the left frame's pixels
    for (int i : fit.inliers) {
        const Match& p = matches[std::size_t(i)];
        const double xl = p.xl * unit + cx, yl = p.yl * unit + cy;
        const double xr = p.xr * unit + cx, yr = p.yr * unit + cy;
        const cv::Point2d c = mapped(rightToLeft, xr, yr);
        before.push_back(std::abs(yl - yr));
        after.push_back(std::abs(yl - c.y));
        lefts.push_back({ xl, yl });
        rights.push_back(c);
    }
    const Remeasured remeasured = parallaxesOf(fl.grey, fr.grey, f, rightToLeft, lefts, rights);
    const std::vector<double>& parallax = remeasured.parallax;
    result.verticalBefore = spreadOf(before);
    result.verticalAfter = spreadOf(remeasured.vertical.empty() ? after : remeasured.vertical);

    const double nearest = supportedEnd(parallax, kEndSpreadWorkingPx * f, true);
    const double farthest = supportedEnd(parallax, kEndSpreadWorkingPx * f, false);
    const double atScreen = window == StereoWindow::Near ? nearest : dominantParallax(parallax, double(f));
    const std::array<double, 9> shift = { 1, 0, -atScreen, 0, 1, 0, 0, 0, 1 };
    rightToLeft = times(shift, rightToLeft);
    for (double v : rightToLeft)
        if (!std::isfinite(v)) {
            result.why = "too few consistent matches";
            return result;
        }
    for (double& v : rightToLeft)
        v /= rightToLeft[8];
    result.rightToLeft = rightToLeft;
    result.nearParallaxPercent = (nearest - atScreen) * 100.0 / w;
    result.farParallaxPercent = (farthest - atScreen) * 100.0 / w;

    // A translation when every corner moves by the same whole pixels, to
    // within half a pixel.
    const double corners[4][2] = { { 0, 0 }, { double(w - 1), 0 }, { 0, double(h - 1) }, { double(w - 1), double(h - 1) } };
    double mx = 0, my = 0;
    for (const auto& c : corners) {
        const cv::Point2d p = mapped(rightToLeft, c[0], c[1]);
        mx += (p.x - c[0]) / 4;
        my += (p.y - c[1]) / 4;
    }
    result.dx = int(std::lround(mx));
    result.dy = int(std::lround(my));
    result.pureTranslation = true;
    for (const auto& c : corners) {
        const cv::Point2d p = mapped(rightToLeft, c[0], c[1]);
        if (std::abs(p.x - c[0] - result.dx) > 0.5 || std::abs(p.y - c[1] - result.dy) > 0.5)
            result.pureTranslation = false;
    }
    if (!result.pureTranslation)
        result.dx = result.dy = 0;

    result.crop = largestCrop(rightToLeft, w, h);

    if (std::abs(result.rotationDegrees) > kMaxRollDegrees)
        result.why = formatted("a roll of %.1f degrees is beyond what a hand-held pair can need",
            std::abs(result.rotationDegrees));
    else if (std::abs(result.scalePercent) > kMaxScaleChange * 100)
        result.why = formatted("a size change of %.1f %% is beyond what a hand-held pair can need",
            std::abs(result.scalePercent));
    else if (result.crop.empty())
        result.why = "the frames have too little in common";
    else
        result.confident = true;
    return result;
}

} // namespace

int correctionReduction(int width, int height) { return reductionFactor(width, height); }

StereoCorrection estimateCorrection(const TBitmap& left, const TBitmap& right, CorrectionModel model,
    StereoWindow window, int threads)
{
    if (left.width() != right.width() || left.height() != right.height())
        throw EOrvantaError("Frames have not equal size! They cannot be aligned!");
    const int w = left.width(), h = left.height();
    const int f = reductionFactor(w, h);
    return estimateReduced([&] { return reducedGrey(left, f); }, [&] { return reducedGrey(right, f); }, f, w, h,
        model, window, threads);
}

StereoCorrection estimateCorrectionFromCopies(const TBitmap& leftCopy, const TBitmap& rightCopy, int copyFactor,
    int width, int height, CorrectionModel model, StereoWindow window, int threads)
{
    const int f = reductionFactor(width, height);
    if (copyFactor < 1 || f % copyFactor != 0)
        throw EOrvantaError("Copies reduced by " + std::to_string(copyFactor) + " cannot be reduced on to "
            + std::to_string(f));
    const int r = f / copyFactor;
    // The copies hold a column or row more than width / copyFactor when the
    // frame is not a whole number of them; the reduction reads none of it.
    for (const TBitmap* b : { &leftCopy, &rightCopy })
        if (b->width() / r < width / f || b->height() / r < height / f)
            throw EOrvantaError("The reduced frames are smaller than " + std::to_string(width / copyFactor) + " x "
                + std::to_string(height / copyFactor));
    return estimateReduced([&] { return reducedGrey(leftCopy, r); }, [&] { return reducedGrey(rightCopy, r); }, f,
        width, height, model, window, threads);
}

std::array<double, 9> correctionWarpMap(const StereoCorrection& correction)
{
    // Output pixel (u, v) is left-frame pixel (u + crop.x, v + crop.y); it
    // shows the right frame where the correction's inverse takes it.
    const CropRect& c = correction.crop;
    const std::array<double, 9> fromCrop = { 1, 0, double(c.x), 0, 1, double(c.y), 0, 0, 1 };
    const cv::Matx33d forward(correction.rightToLeft.data());
    const cv::Matx33d back = forward.inv();
    std::array<double, 9> m {};
    for (int i = 0; i < 9; ++i)
        m[std::size_t(i)] = back.val[i];
    m = times(m, fromCrop);
    for (double& v : m)
        v /= m[8];
    if (std::abs(m[6]) < 1e-15 && std::abs(m[7]) < 1e-15)
        m[6] = m[7] = 0;
    return m;
}

StereoFrames applyCorrection(StereoFrames&& frames, const StereoCorrection& correction, int threads)
{
    TBitmap& left = frames.left;
    TBitmap& right = frames.right;
    if (left.width() != right.width() || left.height() != right.height())
        throw EOrvantaError("Frames have not equal size! They cannot be aligned!");
    const CropRect& c = correction.crop;
    if (c.empty() || c.x < 0 || c.y < 0 || c.x + c.width > left.width() || c.y + c.height > left.height())
        throw EOrvantaError("The correction does not fit these frames!");

    StereoFrames out;
    out.right.allocateUninitialized(c.width, c.height);
    warpBicubic(right, correctionWarpMap(correction), out.right, threads);
    right = TBitmap();
    // In its own store: a copy would touch as much fresh memory as the
    // warp, which on a 24-megapixel frame costs about as long as copying.
    left.crop(c.x, c.y, c.width, c.height);
    out.left = std::move(left);
    return out;
}
