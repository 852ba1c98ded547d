// Correcting a hand-held pair: the right frame made from a photograph by
// known rolls, size changes, vertical offsets and keystones, with noise of
// its own on each frame; the correction is judged against the warp that
// made the pair, not against the estimator's own features. Also the screen
// plane for pairs with depth, the crop, the warped frames, and the pairs
// that must be refused.
#include "align/align.h"
#include "align/correction.h"
#include "compose/errors.h"
#include "fixtures.h"
#include "pictures/picture_files.h"
#include "stereo_scene.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace {

using Mat3 = std::array<double, 9>;

Mat3 times(const Mat3& p, const Mat3& q)
{
    Mat3 r {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[std::size_t(i * 3 + j)] += p[std::size_t(i * 3 + k)] * q[std::size_t(k * 3 + j)];
    return r;
}

Mat3 inverse(const Mat3& m)
{
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6])
        + m[2] * (m[3] * m[7] - m[4] * m[6]);
    return { (m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
        (m[5] * m[6] - m[3] * m[8]) / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
        (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det };
}

struct Point {
    double x, y;
};

Point mapped(const Mat3& m, double x, double y)
{
    const double w = m[6] * x + m[7] * y + m[8];
    return { (m[0] * x + m[1] * y + m[2]) / w, (m[3] * x + m[4] * y + m[5]) / w };
}

Mat3 translation(double x, double y) { return { 1, 0, x, 0, 1, y, 0, 0, 1 }; }

// What a camera rolled counter-clockwise by `roll` degrees (as seen on the
// picture), zoomed in by `zoom` percent and turned by `yaw` and `pitch`
// degrees about its centre of projection, with focal length `focal`
// pixels, sees of a point of the straight camera's frame, about the frame's
// centre (cx, cy); then moved by (tx, ty).
Mat3 cameraMove(double cx, double cy, double roll, double zoom, double yaw, double pitch, double focal, double tx, double ty)
{
    const double r = roll * std::numbers::pi / 180, a = yaw * std::numbers::pi / 180, p = pitch * std::numbers::pi / 180;
    const double k = 1 + zoom / 100;
    // In centred pixels, y down: a counter-clockwise turn on the screen.
    const Mat3 rollZoom = { k * std::cos(r), k * std::sin(r), 0, -k * std::sin(r), k * std::cos(r), 0, 0, 0, 1 };
    const Mat3 kk = { focal, 0, 0, 0, focal, 0, 0, 0, 1 };
    const Mat3 yawTurn = { std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a) };
    const Mat3 pitchTurn = { 1, 0, 0, 0, std::cos(p), -std::sin(p), 0, std::sin(p), std::cos(p) };
    const Mat3 turn = times(kk, times(times(pitchTurn, yawTurn), inverse(kk)));
    return times(translation(cx + tx, cy + ty), times(rollZoom, times(turn, translation(-cx, -cy))));
}

// Keys' cubic (a = -0.5) at (x, y), the edges repeated.
std::uint32_t sampleCubic(const TBitmap& b, double x, double y)
{
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    const double fx = x - ix, fy = y - iy;
    auto weights = [](double t, double w[4]) {
        auto k = [](double d) {
            d = std::abs(d);
            return d < 1 ? (1.5 * d - 2.5) * d * d + 1 : d < 2 ? ((-0.5 * d + 2.5) * d - 4) * d + 2 : 0.0;
        };
        for (int i = 0; i < 4; ++i)
            w[i] = k(t - (i - 1));
    };
    double wx[4], wy[4];
    weights(fx, wx);
    weights(fy, wy);
    double sum[3] = {};
    for (int j = 0; j < 4; ++j) {
        const std::uint32_t* row = b.scanLine(std::clamp(iy + j - 1, 0, b.height() - 1));
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t p = row[std::clamp(ix + i - 1, 0, b.width() - 1)];
            const double w = wx[i] * wy[j];
            sum[0] += w * ((p >> 16) & 0xFF);
            sum[1] += w * ((p >> 8) & 0xFF);
            sum[2] += w * (p & 0xFF);
        }
    }
    auto ch = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
    return pixelFromColor(RGB(ch(sum[0]), ch(sum[1]), ch(sum[2])));
}

// A w x h frame whose pixel p shows the source at frameToSource(p).
TBitmap viewOf(const TBitmap& source, const Mat3& frameToSource, int w, int h)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const Point s = mapped(frameToSource, x, y);
            row[x] = sampleCubic(source, s.x, s.y);
        }
    }
    return b;
}

// The photograph enlarged 2.5 times (1500 x 1000): the scene both cameras
// look at. The frames are 1200 x 800 views of its middle, so that even a
// moved camera sees the scene, not past its edge, in every corner.
const TBitmap& scene()
{
    static const TBitmap s = [] {
        const TBitmap photo = loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg");
        const double k = 2.5;
        return viewOf(photo, { 1 / k, 0, 0.5 / k - 0.5, 0, 1 / k, 0.5 / k - 0.5, 0, 0, 1 }, int(photo.width() * k),
            int(photo.height() * k));
    }();
    return s;
}

constexpr int kW = 1200;
constexpr int kH = 800;
const Mat3 kLeftInScene = translation(150, 100);

struct Pair {
    TBitmap left, right;
    Mat3 leftToRight; // where a point of the left frame shows in the right one
};

// The left frame straight, the right one through a camera move; the scene
// is flat, so the move is the whole of the difference.
Pair pairThrough(const Mat3& leftToRight, double sigma = 2)
{
    Pair p;
    p.leftToRight = leftToRight;
    p.left = viewOf(scene(), kLeftInScene, kW, kH);
    p.right = viewOf(scene(), times(kLeftInScene, inverse(leftToRight)), kW, kH);
    addNoise(p.left, sigma, 11);
    addNoise(p.right, sigma, 12);
    return p;
}

double percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::size_t(std::lround(q * double(v.size() - 1)))];
}

struct Errors {
    double yMedian, yP90, xMedian, xP90;
};

// Where the correction puts left-frame points, through the right frame,
// against where they are: over a 25 x 17 grid across the crop.
Errors errorsOver(const StereoCorrection& c, const Mat3& leftToRight)
{
    std::vector<double> ey, ex;
    for (int j = 0; j <= 16; ++j)
        for (int i = 0; i <= 24; ++i) {
            const double x = c.crop.x + (c.crop.width - 1) * i / 24.0;
            const double y = c.crop.y + (c.crop.height - 1) * j / 16.0;
            const Point inRight = mapped(leftToRight, x, y);
            const Point back = mapped(c.rightToLeft, inRight.x, inRight.y);
            ey.push_back(std::abs(back.y - y));
            ex.push_back(std::abs(back.x - x));
        }
    return { percentile(ey, 0.5), percentile(ey, 0.9), percentile(ex, 0.5), percentile(ex, 0.9) };
}

// The roll and size that the move shows at the right frame's centre: what
// the correction is to report.
void rollAndSizeOf(const Mat3& leftToRight, double& rollDegrees, double& sizePercent, int w = kW, int h = kH)
{
    const Mat3 back = inverse(leftToRight);
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, e = 1e-3;
    const Point o = mapped(back, cx, cy), ax = mapped(back, cx + e, cy), ay = mapped(back, cx, cy + e);
    const double across = (ax.y - o.y) / e, down = (ay.y - o.y) / e;
    rollDegrees = std::atan2(across, down) * 180 / std::numbers::pi;
    sizePercent = (1 / std::hypot(across, down) - 1) * 100;
}

// The largest rectangle of the left frame whose pixels all map into the
// right frame, the slow way: each pixel tested, then every pair of rows.
long long largestAreaByBruteForce(const Mat3& rightToLeft)
{
    const Mat3 leftToRight = inverse(rightToLeft);
    std::vector<int> lo(kH, kW), hi(kH, -1);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const Point p = mapped(leftToRight, x, y);
            if (p.x >= -1e-6 && p.x <= kW - 1 + 1e-6 && p.y >= -1e-6 && p.y <= kH - 1 + 1e-6) {
                lo[std::size_t(y)] = std::min(lo[std::size_t(y)], x);
                hi[std::size_t(y)] = std::max(hi[std::size_t(y)], x);
            }
        }
    long long best = 0;
    for (int a = 0; a < kH; ++a)
        for (int b = a; b < kH; ++b) {
            const int w = std::min(hi[std::size_t(a)], hi[std::size_t(b)]) - std::max(lo[std::size_t(a)], lo[std::size_t(b)]) + 1;
            best = std::max(best, (long long)std::max(w, 0) * (b - a + 1));
        }
    return best;
}

double meanAbsDifference(const TBitmap& a, const TBitmap& b, int x0, int y0, int w, int h)
{
    double sum = 0;
    for (int y = y0; y < y0 + h; ++y) {
        const std::uint32_t* ra = a.scanLine(y);
        const std::uint32_t* rb = b.scanLine(y);
        for (int x = x0; x < x0 + w; ++x)
            for (int s : { 16, 8, 0 })
                sum += std::abs(int((ra[x] >> s) & 0xFF) - int((rb[x] >> s) & 0xFF));
    }
    return sum / (3.0 * w * h);
}

TBitmap noiseFrame(int w, int h, std::uint32_t seed)
{
    TBitmap b;
    b.setSize(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int g = int(rng() & 0xFF);
            row[x] = pixelFromColor(RGB(g, g, g));
        }
    }
    return b;
}

TBitmap gradientFrame(int w, int h)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int g = 20 + 200 * x / (w - 1);
            row[x] = pixelFromColor(RGB(g, g, (g + y / 4) & 0xFF));
        }
    }
    return b;
}

// Two depths: a board covering the left `split` of the left frame at
// disparity `nearDisparity` before a background at `farDisparity`; the left
// frame (x, y) shows what the right one shows at (x - disparity, y). The
// nearer content has the larger disparity. The board shows the photograph
// turned round, so that nothing on it repeats the background, and it hides
// in the right frame what it hides in the left one less the strip its
// shift uncovers, as a real near object would.
void twoDepths(int nearDisparity, int farDisparity, double split, TBitmap& left, TBitmap& right)
{
    const TBitmap& s = scene();
    const Mat3 turned = { -1, 0, double(s.width() - 1), 0, -1, double(s.height() - 1), 0, 0, 1 };
    const int boardWidth = int(kW * split);
    left = viewOf(s, kLeftInScene, kW, kH);
    left.copyRect(0, 0, viewOf(s, times(turned, kLeftInScene), kW, kH), 0, 0, boardWidth, kH);
    right = viewOf(s, times(kLeftInScene, translation(farDisparity, 0)), kW, kH);
    right.copyRect(0, 0, viewOf(s, times(turned, times(kLeftInScene, translation(nearDisparity, 0))), kW, kH), 0, 0,
        boardWidth - nearDisparity, kH);
    addNoise(left, 2, 21);
    addNoise(right, 2, 22);
}

// The rendered pair, which has real depth: the left eye's view as it is,
// the right eye's through a camera move, each with noise of its own.
Pair renderedPairThrough(const Mat3& leftToRight)
{
    static const TBitmap leftEye = renderStereoEye(-1);
    static const TBitmap rightEye = renderStereoEye(1);
    Pair p;
    p.leftToRight = leftToRight;
    p.left = viewOf(leftEye, translation(0, 0), kStereoSceneWidth, kStereoSceneHeight);
    p.right = viewOf(rightEye, inverse(leftToRight), kStereoSceneWidth, kStereoSceneHeight);
    addNoise(p.left, 2, 31);
    addNoise(p.right, 2, 32);
    return p;
}

struct DepthErrors {
    double yMedian, yP90;
    // Parallax after the correction (right column less left column) of the
    // nearest content, the wall (the farthest) and of the whole grid.
    double nearest, wall;
    double depthRange; // the largest disparity over the grid less the wall's
};

// Each point of a grid over the crop, every 4 pixels, through its known
// disparity to the right eye's view, through the move to the right frame,
// and back through the correction: its row error and its parallax.
DepthErrors errorsWithDepth(const StereoCorrection& c, const Mat3& leftToRight)
{
    DepthErrors e {};
    std::vector<double> ey;
    e.nearest = 1e9;
    std::vector<double> wall;
    for (int y = c.crop.y; y < c.crop.y + c.crop.height; y += 4)
        for (int x = c.crop.x; x < c.crop.x + c.crop.width; x += 4) {
            const double d = stereoSceneDisparity(x, y);
            const Point inRight = mapped(leftToRight, x - d, y);
            const Point back = mapped(c.rightToLeft, inRight.x, inRight.y);
            ey.push_back(std::abs(back.y - y));
            const double parallax = back.x - x;
            e.nearest = std::min(e.nearest, parallax);
            e.depthRange = std::max(e.depthRange, d + 6);
            if (std::abs(d + 6) < 0.01)
                wall.push_back(parallax);
        }
    e.yMedian = percentile(ey, 0.5);
    e.yP90 = percentile(ey, 0.9);
    e.wall = percentile(wall, 0.5);
    return e;
}

} // namespace

class TestCorrection : public QObject {
    Q_OBJECT

private slots:
    // The photograph's pair through known camera moves: the rows line up to
    // within half a pixel at the median and a pixel at the 90th percentile,
    // and the roll and size come back to 0.1 degrees and 0.2 %. The scene
    // is flat, so with the screen at its one depth the columns line up too.
    void recoversKnownMoves_data()
    {
        QTest::addColumn<double>("roll");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("yaw");
        QTest::addColumn<double>("pitch");
        QTest::addColumn<double>("ty"); // percent of the height
        QTest::addColumn<bool>("perspective");
        // name, roll, zoom %, yaw, pitch, vertical offset %, model
        QTest::newRow("roll +5") << 5.0 << 0.0 << 0.0 << 0.0 << 0.0 << false;
        QTest::newRow("roll -5, larger 5 %") << -5.0 << 5.0 << 0.0 << 0.0 << 1.0 << false;
        QTest::newRow("smaller 5 %, up 5 %") << 0.0 << -5.0 << 0.0 << 0.0 << -5.0 << false;
        QTest::newRow("roll 2, smaller 3 %, down 5 %") << 2.0 << -3.0 << 0.0 << 0.0 << 5.0 << false;
        QTest::newRow("roll -0.3, larger 0.5 %, down 0.4 %") << -0.3 << 0.5 << 0.0 << 0.0 << 0.4 << false;
        QTest::newRow("similarity under the perspective model") << 3.0 << 2.0 << 0.0 << 0.0 << 2.0 << true;
        QTest::newRow("keystone: yaw 3, roll 1, larger 2 %") << 1.0 << 2.0 << 3.0 << 0.0 << 0.0 << true;
        QTest::newRow("keystone: yaw -2, pitch 2, up 3 %") << 0.0 << 0.0 << -2.0 << 2.0 << -3.0 << true;
        QTest::newRow("keystone: pitch -3, roll -2, smaller 4 %") << -2.0 << -4.0 << 0.0 << -3.0 << 2.0 << true;
    }

    void recoversKnownMoves()
    {
        QFETCH(double, roll);
        QFETCH(double, zoom);
        QFETCH(double, yaw);
        QFETCH(double, pitch);
        QFETCH(double, ty);
        QFETCH(bool, perspective);
        // A horizontal step too: the disparity of the scene's one depth.
        const Mat3 move = cameraMove((kW - 1) / 2.0, (kH - 1) / 2.0, roll, zoom, yaw, pitch, 1.2 * kW, -9, ty * kH / 100);
        const Pair p = pairThrough(move);
        const StereoCorrection c = estimateCorrection(p.left, p.right,
            perspective ? CorrectionModel::Perspective : CorrectionModel::Similarity, StereoWindow::Dominant, 2);
        QVERIFY2(c.confident, c.why.c_str());
        const Errors e = errorsOver(c, move);
        double expectedRoll, expectedSize;
        rollAndSizeOf(move, expectedRoll, expectedSize);
        qInfo("applied roll %.3f size %.3f %%; found roll %.3f size %.3f %%, %d matches; rows off by %.3f px "
              "(median), %.3f (90th); columns %.3f, %.3f; crop %d x %d",
            expectedRoll, expectedSize, c.rotationDegrees, c.scalePercent, c.matches, e.yMedian, e.yP90, e.xMedian,
            e.xP90, c.crop.width, c.crop.height);
        QVERIFY(e.yMedian <= 0.5);
        QVERIFY(e.yP90 <= 1.0);
        QVERIFY(std::abs(c.rotationDegrees - expectedRoll) <= 0.1);
        QVERIFY(std::abs(c.scalePercent - expectedSize) <= 0.2);
        // The turned camera's columns follow a keystone of their own that no
        // fit of the rows can know; a flat scene shows it as a slight
        // stretch of the parallax, never more than a pixel or two.
        QVERIFY(e.xMedian <= (yaw == 0 && pitch == 0 ? 0.5 : 2.0));
        QVERIFY(e.xP90 <= (yaw == 0 && pitch == 0 ? 1.0 : 3.0));
        // The rows of the matches agree with the independent measure.
        qInfo("matches' rows off by %.3f, %.3f before; %.3f, %.3f after", c.verticalBefore.median, c.verticalBefore.p90,
            c.verticalAfter.median, c.verticalAfter.p90);
        // Those are the features' own rows, each found to about a pixel of
        // the reduced frame; the fit averages thousands of them.
        QVERIFY(c.verticalAfter.median <= 0.75 && c.verticalAfter.p90 <= 1.5);
        QVERIFY(c.verticalBefore.p90 > 3 * c.verticalAfter.p90);
        QVERIFY(c.matches >= 100);
        QVERIFY(!c.pureTranslation);
    }

    // The rendered pair, whose depth spreads the disparity over 23 pixels
    // (the floor's grows down the frame): only the rows are corrected, to
    // the same half and whole pixel, and the depth is left as it was. Near
    // puts the nearest content at the screen and the rest behind it;
    // Dominant the wall, which most of the features lie on, and the rest in
    // front of it.
    void correctsAPairWithDepth_data()
    {
        QTest::addColumn<double>("roll");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("yaw");
        QTest::addColumn<bool>("near");
        QTest::newRow("roll 3, larger 2 %, near") << 3.0 << 2.0 << 0.0 << true;
        QTest::newRow("roll -2, smaller 4 %, dominant") << -2.0 << -4.0 << 0.0 << false;
        QTest::newRow("keystone: yaw 2, roll 1, near") << 1.0 << 0.0 << 2.0 << true;
    }

    void correctsAPairWithDepth()
    {
        QFETCH(double, roll);
        QFETCH(double, zoom);
        QFETCH(double, yaw);
        QFETCH(bool, near);
        const int w = kStereoSceneWidth, h = kStereoSceneHeight;
        const Mat3 move = cameraMove((w - 1) / 2.0, (h - 1) / 2.0, roll, zoom, yaw, 0, w, 4, 12);
        const Pair p = renderedPairThrough(move);
        const StereoCorrection c = estimateCorrection(p.left, p.right,
            yaw != 0 ? CorrectionModel::Perspective : CorrectionModel::Similarity,
            near ? StereoWindow::Near : StereoWindow::Dominant, 2);
        QVERIFY2(c.confident, c.why.c_str());
        const DepthErrors e = errorsWithDepth(c, move);
        double expectedRoll, expectedSize;
        rollAndSizeOf(move, expectedRoll, expectedSize, w, h);
        qInfo("applied roll %.3f size %.3f %%; found roll %.3f size %.3f %%, %d matches; rows off by %.3f px "
              "(median), %.3f (90th); parallax of the nearest %.2f px, of the wall %.2f px; "
              "reported %.3f %% to %.3f %%",
            expectedRoll, expectedSize, c.rotationDegrees, c.scalePercent, c.matches, e.yMedian, e.yP90, e.nearest,
            e.wall, c.nearParallaxPercent, c.farParallaxPercent);
        QVERIFY(e.yMedian <= 0.5);
        QVERIFY(e.yP90 <= 1.0);
        QVERIFY(std::abs(c.rotationDegrees - expectedRoll) <= 0.1);
        QVERIFY(std::abs(c.scalePercent - expectedSize) <= 0.2);
        // The depth kept: from the nearest sphere's front to the wall, 23.3
        // px in the left frame, whatever the right frame's size. The turned
        // camera stretches the columns a little (see recoversKnownMoves).
        QVERIFY(std::abs((e.wall - e.nearest) - e.depthRange) <= 0.5);
        if (near) {
            // The nearest features at the screen: the sphere's very front
            // stands at most a pixel or two before it.
            QVERIFY(e.nearest >= -2.0 && e.nearest <= 0.5);
            QVERIFY(std::abs(c.nearParallaxPercent) < 1e-9);
        } else {
            QVERIFY(std::abs(e.wall) <= 1.0);
            QVERIFY(e.nearest < -20);
            QVERIFY(c.nearParallaxPercent < -1.0);
        }
        // What is reported follows the depth: the ends of the features lie
        // at the sphere's front and at the wall, to the features' scatter
        // (and, turned, to the wall's own spread of about a pixel).
        QVERIFY(std::abs(c.nearParallaxPercent * w / 100 - e.nearest) <= 1.5);
        QVERIFY(std::abs(c.farParallaxPercent * w / 100 - e.wall) <= 1.5);
    }

    // A pair that only a translation separates is told as one, in the
    // window's convention: frame 1 (x, y) with frame 2 (x - dx, y - dy),
    // the same offsets as phase correlation finds.
    void pureTranslationGivesTheOffsets()
    {
        const Pair p = pairThrough(translation(-7, 12));
        const StereoCorrection c = estimateCorrection(p.left, p.right, CorrectionModel::Similarity, StereoWindow::Dominant);
        QVERIFY2(c.confident, c.why.c_str());
        QVERIFY(c.pureTranslation);
        QCOMPARE(c.dx, 7);
        QCOMPARE(c.dy, -12);
        const Alignment shift = estimateAlignment(p.left, p.right);
        QVERIFY(shift.confident);
        QCOMPARE(c.dx, shift.dx);
        QCOMPARE(c.dy, shift.dy);
    }

    // Where the screen goes, on a pair with two depths: the left third near
    // (disparity 30), the rest far (6). Near puts the near third at the
    // screen and everything else behind it; Dominant puts the far two
    // thirds there and the near third in front. Parallax is the right
    // eye's column less the left eye's: negative stands in front.
    void screenPlane_data()
    {
        QTest::addColumn<bool>("near");
        QTest::newRow("near") << true;
        QTest::newRow("dominant") << false;
    }

    void screenPlane()
    {
        QFETCH(bool, near);
        TBitmap left, right;
        twoDepths(30, 6, 1.0 / 3, left, right);
        const StereoCorrection c = estimateCorrection(left, right, CorrectionModel::Similarity,
            near ? StereoWindow::Near : StereoWindow::Dominant, 2);
        QVERIFY2(c.confident, c.why.c_str());
        // Right (x - d, y) goes to left (x - d + shift, y): the depth at d
        // stands at the screen when shift == d.
        const Point o = mapped(c.rightToLeft, kW / 2.0, kH / 2.0);
        const double shift = o.x - kW / 2.0;
        qInfo("shift %.2f, parallax %.3f %% to %.3f %%, roll %.3f, size %.3f %%", shift, c.nearParallaxPercent,
            c.farParallaxPercent, c.rotationDegrees, c.scalePercent);
        QVERIFY(std::abs(c.rotationDegrees) < 0.05 && std::abs(c.scalePercent) < 0.1);
        QVERIFY(std::abs(o.y - kH / 2.0) < 0.3);
        const double nearPx = 100.0 * 24 / kW; // the two depths' parallaxes apart, in percent
        // The ends lie in the tails of the matches' scatter: a pixel.
        const double tail = 100.0 * 1 / kW;
        if (near) {
            QVERIFY(std::abs(shift - 30) <= 0.5);
            QVERIFY(std::abs(c.nearParallaxPercent) <= 0.01);
            QVERIFY(std::abs(c.farParallaxPercent - nearPx) <= tail);
        } else {
            QVERIFY(std::abs(shift - 6) <= 0.5);
            QVERIFY(std::abs(c.nearParallaxPercent + nearPx) <= tail);
            QVERIFY(std::abs(c.farParallaxPercent) <= tail);
        }
    }

    // The crop is the largest rectangle whose pixels the right frame covers
    // after the warp (checked pixel by pixel against a brute-force search),
    // and the warped frames agree over it, corners included: a corner
    // warped from outside the right frame would show repeated edge pixels,
    // not the scene.
    void cropAndWarp_data()
    {
        QTest::addColumn<double>("roll");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("yaw");
        QTest::addColumn<bool>("perspective");
        QTest::newRow("roll 4, larger 3 %") << 4.0 << 3.0 << 0.0 << false;
        QTest::newRow("roll -3, smaller 5 %") << -3.0 << -5.0 << 0.0 << false;
        QTest::newRow("keystone, yaw 3") << 0.5 << 0.0 << 3.0 << true;
    }

    void cropAndWarp()
    {
        QFETCH(double, roll);
        QFETCH(double, zoom);
        QFETCH(double, yaw);
        QFETCH(bool, perspective);
        const Mat3 move = cameraMove((kW - 1) / 2.0, (kH - 1) / 2.0, roll, zoom, yaw, 0, 1.2 * kW, 5, 15);
        Pair p = pairThrough(move);
        const StereoCorrection c = estimateCorrection(p.left, p.right,
            perspective ? CorrectionModel::Perspective : CorrectionModel::Similarity, StereoWindow::Dominant, 2);
        QVERIFY2(c.confident, c.why.c_str());
        QCOMPARE((long long)c.crop.width * c.crop.height, largestAreaByBruteForce(c.rightToLeft));
        const Mat3 back = inverse(c.rightToLeft);
        for (Point corner : { Point { double(c.crop.x), double(c.crop.y) },
                 Point { double(c.crop.x + c.crop.width - 1), double(c.crop.y) },
                 Point { double(c.crop.x), double(c.crop.y + c.crop.height - 1) },
                 Point { double(c.crop.x + c.crop.width - 1), double(c.crop.y + c.crop.height - 1) } }) {
            const Point r = mapped(back, corner.x, corner.y);
            QVERIFY(r.x >= -1e-6 && r.x <= kW - 1 + 1e-6 && r.y >= -1e-6 && r.y <= kH - 1 + 1e-6);
        }

        StereoFrames frames;
        frames.left = std::move(p.left);
        frames.right = std::move(p.right);
        const StereoFrames out = applyCorrection(std::move(frames), c, 2);
        QVERIFY(frames.left.empty() && frames.right.empty());
        QCOMPARE(out.left.width(), c.crop.width);
        QCOMPARE(out.left.height(), c.crop.height);
        QCOMPARE(out.right.width(), c.crop.width);
        QCOMPARE(out.right.height(), c.crop.height);
        // The noise of the two frames alone differs by about 2.3 levels on
        // average; one pixel off over the photograph's detail by about 5.
        const double whole = meanAbsDifference(out.left, out.right, 0, 0, c.crop.width, c.crop.height);
        qInfo("mean difference %.2f over the crop", whole);
        QVERIFY(whole < 3.5);
        // What the warped right frame should show: the scene where the
        // correction and the camera move take each pixel, drawn straight
        // from the scene, which goes on past the right frame's edges. A
        // corner warped from past them would show the edge pixels repeated.
        const TBitmap expected = viewOf(scene(),
            times(kLeftInScene, times(inverse(move), times(back, translation(c.crop.x, c.crop.y)))), c.crop.width,
            c.crop.height);
        const int b = 40;
        for (int cy : { 0, c.crop.height - b })
            for (int cx : { 0, c.crop.width - b }) {
                const double d = meanAbsDifference(expected, out.right, cx, cy, b, b);
                QVERIFY2(d < 3.0, qPrintable(QStringLiteral("corner %1,%2: %3").arg(cx).arg(cy).arg(d)));
            }
        // The left frame is cropped, not resampled.
        const TBitmap straight = viewOf(scene(), kLeftInScene, kW, kH);
        QVERIFY(meanAbsDifference(out.left, [&] {
            TBitmap t;
            t.setSize(c.crop.width, c.crop.height);
            t.copyRect(0, 0, straight, c.crop.x, c.crop.y, c.crop.width, c.crop.height);
            return t;
        }(), 0, 0, c.crop.width, c.crop.height) < 2.0);
    }

    // Nothing is guessed: frames without detail, with nothing in common, or
    // needing a move no hand-held pair needs.
    void refuses_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("uniform") << 0 << "too little detail in common";
        QTest::newRow("gradients") << 1 << "too little detail in common";
        QTest::newRow("unrelated noise") << 2 << "too few consistent matches";
        QTest::newRow("the photograph against noise") << 3 << "too few consistent matches";
        // The roll and the size change as measured, to a tenth.
        QTest::newRow("roll 12") << 4 << "a roll of 12.0 degrees is beyond what a hand-held pair can need";
        QTest::newRow("larger 20 %") << 5 << "a size change of %1 % is beyond what a hand-held pair can need";
        QTest::newRow("tiny") << 6 << "the frames are too small to align";
    }

    void refuses()
    {
        QFETCH(int, kind);
        QFETCH(QString, why);
        TBitmap left, right;
        const double c = (kW - 1) / 2.0, m = (kH - 1) / 2.0;
        switch (kind) {
        case 0:
            left = uniform(600, 400, RGB(90, 120, 150));
            right = uniform(600, 400, RGB(90, 120, 150));
            break;
        case 1:
            left = gradientFrame(600, 400);
            right = gradientFrame(600, 400);
            break;
        case 2:
            left = noiseFrame(600, 400, 1);
            right = noiseFrame(600, 400, 2);
            break;
        case 3:
            left = viewOf(scene(), kLeftInScene, kW, kH);
            right = noiseFrame(kW, kH, 3);
            break;
        case 4:
        case 5: {
            Pair p = pairThrough(cameraMove(c, m, kind == 4 ? 12 : 0, kind == 5 ? 20 : 0, 0, 0, kW, 0, 0));
            left = std::move(p.left);
            right = std::move(p.right);
            break;
        }
        default:
            left = noiseFrame(20, 300, 4);
            right = noiseFrame(20, 300, 4);
        }
        for (CorrectionModel model : { CorrectionModel::Similarity, CorrectionModel::Perspective }) {
            const StereoCorrection r = estimateCorrection(left, right, model, StereoWindow::Near, 2);
            qInfo("%d consistent matches", r.matches);
            QVERIFY(!r.confident);
            if (kind == 5) {
                // Found to within the 0.2 % the corrections are held to.
                QVERIFY(std::abs(r.scalePercent - 20) <= 0.2);
                QCOMPARE(QString::fromStdString(r.why), why.arg(r.scalePercent, 0, 'f', 1));
            } else {
                QCOMPARE(QString::fromStdString(r.why), why);
            }
            if (kind == 4)
                QVERIFY(std::abs(r.rotationDegrees - 12) <= 0.1);
        }
    }

    void framesOfDifferentSizesThrow()
    {
        const TBitmap a = noiseFrame(300, 200, 1), b = noiseFrame(301, 200, 1);
        QVERIFY(errorOf([&] { estimateCorrection(a, b, CorrectionModel::Similarity, StereoWindow::Near); })
                    .contains(QStringLiteral("not equal size")));
        StereoCorrection c;
        c.confident = true;
        c.crop = { 0, 0, 100, 100 };
        QVERIFY(errorOf([&] {
            StereoFrames f;
            f.left = noiseFrame(300, 200, 1);
            f.right = noiseFrame(301, 200, 1);
            applyCorrection(std::move(f), c);
        }).contains(QStringLiteral("not equal size")));
        // A crop that passes the frames' edge is refused, not clipped.
        c.crop = { 250, 0, 100, 100 };
        QVERIFY(errorOf([&] {
            StereoFrames f;
            f.left = noiseFrame(300, 200, 1);
            f.right = noiseFrame(300, 200, 1);
            applyCorrection(std::move(f), c);
        }).contains(QStringLiteral("does not fit")));
    }
};

QTEST_GUILESS_MAIN(TestCorrection)
#include "test_correction.moc"
