// Estimating the offsets of a pair: pairs made by shifting one picture by
// known amounts, a synthetic texture and a real photograph with noise, at
// the frame size and through the reduction of large frames; the anaglyph
// built with the estimate; the frames it refuses or cannot use; and which
// pairs it is confident about: real ones, however noisy, small or large,
// and not frames without detail or that have nothing in common.
#include "align/align.h"
#include "compose/anaglyph.h"
#include "compose/errors.h"
#include "fixtures.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "reference_anaglyph.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

std::uint32_t hash(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = std::uint32_t(x) * 0x8DA6B343u ^ std::uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// Value noise of one cell size: hashed corners, blended linearly.
double valueNoise(int x, int y, int cell, std::uint32_t seed)
{
    const int cx = x >= 0 ? x / cell : (x + 1) / cell - 1;
    const int cy = y >= 0 ? y / cell : (y + 1) / cell - 1;
    const double fx = double(x - cx * cell) / cell;
    const double fy = double(y - cy * cell) / cell;
    auto corner = [&](int i, int j) { return double(hash(cx + i, cy + j, seed) & 0xFF); };
    const double top = corner(0, 0) * (1 - fx) + corner(1, 0) * fx;
    const double bottom = corner(0, 1) * (1 - fx) + corner(1, 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

// A texture defined everywhere, so that a frame can be cut from it at any
// position: coarse and fine noise, pixel grain and a few discs.
std::uint32_t texel(int x, int y, std::uint32_t seed)
{
    double v = 0.5 * valueNoise(x, y, 48, seed) + 0.3 * valueNoise(x, y, 9, seed + 1)
        + 0.2 * double(hash(x, y, seed + 2) & 0xFF);
    for (int k = 0; k < 12; ++k) {
        const int ox = int(hash(k, 0, seed + 3) % 1000) - 100;
        const int oy = int(hash(k, 1, seed + 3) % 800) - 100;
        const int r = 20 + int(hash(k, 2, seed + 3) % 60);
        if ((x - ox) * (x - ox) + (y - oy) * (y - oy) < r * r)
            v = (k % 2) ? v * 0.3 : 255 - v * 0.3;
    }
    const int g = std::clamp(int(v), 0, 255);
    return pixelFromColor(RGB(g, (g * 3 + 40) / 4, 255 - g / 2));
}

// The texture seen from (left, top).
TBitmap textureFrame(int w, int h, int left, int top, std::uint32_t seed)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x)
            row[x] = texel(left + x, top + y, seed);
    }
    return b;
}

// Where the two cameras stand over a scene so that frame1 (x, y) shows what
// frame2 (x - dx, y - dy) shows.
struct Views {
    int x1, y1, x2, y2;
};
Views viewsFor(int dx, int dy) { return { std::max(-dx, 0), std::max(-dy, 0), std::max(dx, 0), std::max(dy, 0) }; }

TBitmap crop(const TBitmap& src, int left, int top, int w, int h)
{
    TBitmap b;
    b.setSize(w, h);
    b.copyRect(0, 0, src, left, top, w, h);
    return b;
}

// Bilinear enlargement by a whole factor, standing in for a camera with
// more pixels than the photograph has.
TBitmap enlarged(const TBitmap& src, int k)
{
    TBitmap b;
    b.setSize(src.width() * k, src.height() * k);
    for (int y = 0; y < b.height(); ++y) {
        const double sy = std::max(0.0, (y + 0.5) / k - 0.5);
        const int y0 = std::min(int(sy), src.height() - 1);
        const int y1 = std::min(y0 + 1, src.height() - 1);
        const double fy = sy - y0;
        const std::uint32_t* r0 = src.scanLine(y0);
        const std::uint32_t* r1 = src.scanLine(y1);
        std::uint32_t* out = b.scanLine(y);
        for (int x = 0; x < b.width(); ++x) {
            const double sx = std::max(0.0, (x + 0.5) / k - 0.5);
            const int x0 = std::min(int(sx), src.width() - 1);
            const int x1 = std::min(x0 + 1, src.width() - 1);
            const double fx = sx - x0;
            auto ch = [&](int shift) {
                auto at = [&](const std::uint32_t* r, int x) { return double((r[x] >> shift) & 0xFF); };
                const double v = (at(r0, x0) * (1 - fx) + at(r0, x1) * fx) * (1 - fy)
                    + (at(r1, x0) * (1 - fx) + at(r1, x1) * fx) * fy;
                return int(std::lround(v));
            };
            out[x] = pixelFromColor(RGB(ch(16), ch(8), ch(0)));
        }
    }
    return b;
}

TBitmap greyCopy(const TBitmap& src)
{
    TBitmap b;
    b.setSize(src.width(), src.height());
    for (int y = 0; y < src.height(); ++y) {
        const std::uint32_t* in = src.scanLine(y);
        std::uint32_t* out = b.scanLine(y);
        for (int x = 0; x < src.width(); ++x) {
            const int g = (77 * int((in[x] >> 16) & 0xFF) + 150 * int((in[x] >> 8) & 0xFF) + 29 * int(in[x] & 0xFF)) >> 8;
            out[x] = pixelFromColor(RGB(g, g, g));
        }
    }
    return b;
}

// In an anaglyph of grey frames red is frame1's grey and green frame2's:
// their mean difference tells how well the two sources match.
double meanRedCyanDifference(const TBitmap& anaglyph)
{
    double sum = 0;
    for (int y = 0; y < anaglyph.height(); ++y) {
        const std::uint32_t* row = anaglyph.scanLine(y);
        for (int x = 0; x < anaglyph.width(); ++x)
            sum += std::abs(int((row[x] >> 16) & 0xFF) - int((row[x] >> 8) & 0xFF));
    }
    return sum / (double(anaglyph.width()) * anaglyph.height());
}

// The reduction works at a long side of about 1024 px, so a shift is known
// to a pixel of the reduced frame: the larger of 1 px and the scale. Views
// that are not shifted have no fraction of a reduced pixel to lose, so
// they must give exactly no offset at any size.
double toleranceFor(int w, int h, int dx, int dy)
{
    if (dx == 0 && dy == 0)
        return 0;
    return std::max(1.0, std::max(w, h) / 1024.0);
}

TBitmap coffee() { return loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg"); }

// A pair cut from one scene with the cameras offset by (dx, dy), each frame
// with noise of its own.
void cutPair(const TBitmap& scene, int dx, int dy, double sigma, TBitmap& frame1, TBitmap& frame2)
{
    const Views v = viewsFor(dx, dy);
    const int w = scene.width() - std::abs(dx);
    const int h = scene.height() - std::abs(dy);
    frame1 = crop(scene, v.x1, v.y1, w, h);
    frame2 = crop(scene, v.x2, v.y2, w, h);
    addNoise(frame1, sigma, 1000u + std::uint32_t(dx * 31 + dy));
    addNoise(frame2, sigma, 2000u + std::uint32_t(dx * 17 - dy));
}

// Grey white noise, a different picture for each seed.
TBitmap noiseFrame(int w, int h, std::uint32_t seed)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int g = int(hash(x, y, seed) & 0xFF);
            row[x] = pixelFromColor(RGB(g, g, g));
        }
    }
    return b;
}

// Grey rising evenly from `from` at the left edge to `to` at the right.
TBitmap gradientFrame(int w, int h, int from, int to)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int g = int(std::lround(from + double(to - from) * x / (w - 1)));
            row[x] = pixelFromColor(RGB(g, g, g));
        }
    }
    return b;
}

// The picture turned by half a turn.
TBitmap turnedRound(const TBitmap& src)
{
    TBitmap b;
    b.setSize(src.width(), src.height());
    for (int y = 0; y < src.height(); ++y) {
        const std::uint32_t* in = src.scanLine(src.height() - 1 - y);
        std::uint32_t* out = b.scanLine(y);
        for (int x = 0; x < src.width(); ++x)
            out[x] = in[src.width() - 1 - x];
    }
    return b;
}

// Each channel scaled by gain around black, then raised by offset, as a
// second camera exposed or developed differently would give.
TBitmap withContrast(const TBitmap& src, double gain, int offset)
{
    TBitmap b;
    b.setSize(src.width(), src.height());
    for (int y = 0; y < src.height(); ++y) {
        const std::uint32_t* in = src.scanLine(y);
        std::uint32_t* out = b.scanLine(y);
        for (int x = 0; x < src.width(); ++x) {
            auto ch = [&](int shift) { return std::clamp(int(std::lround(((in[x] >> shift) & 0xFF) * gain)) + offset, 0, 255); };
            out[x] = pixelFromColor(RGB(ch(16), ch(8), ch(0)));
        }
    }
    return b;
}

// The mean of each k x k block: a smaller camera's view of the same scene.
TBitmap reduced(const TBitmap& src, int k)
{
    TBitmap b;
    b.setSize(src.width() / k, src.height() / k);
    for (int y = 0; y < b.height(); ++y) {
        std::uint32_t* out = b.scanLine(y);
        for (int x = 0; x < b.width(); ++x) {
            int sum[3] = {};
            for (int j = 0; j < k; ++j)
                for (int i = 0; i < k; ++i) {
                    const std::uint32_t p = src.scanLine(y * k + j)[x * k + i];
                    sum[0] += (p >> 16) & 0xFF;
                    sum[1] += (p >> 8) & 0xFF;
                    sum[2] += p & 0xFF;
                }
            out[x] = pixelFromColor(RGB(sum[0] / (k * k), sum[1] / (k * k), sum[2] / (k * k)));
        }
    }
    return b;
}

// Through the JPEG codec at the given quality and back.
TBitmap jpegCopy(const TBitmap& src, int quality)
{
    JpegSettings settings;
    settings.quality = quality;
    const std::vector<std::uint8_t> file = encodeJpegWith(src, settings);
    return decodeJpeg(file.data(), file.size());
}

// A pair of a scene at two depths: the left `split` of frame2's width at
// disparity dNear, the rest at dFar, both dy lower; frame1 (x, y) shows
// what frame2 (x - d, y - dy) shows.
void twoDepths(const TBitmap& scene, int dNear, int dFar, double split, int dy, TBitmap& frame1, TBitmap& frame2)
{
    const int m = std::max({ std::abs(dNear), std::abs(dFar), std::abs(dy) });
    const int w = scene.width() - 2 * m;
    const int h = scene.height() - 2 * m;
    const int nearWidth = int(w * split);
    frame1 = crop(scene, m, m, w, h);
    frame2 = crop(scene, m + dFar, m + dy, w, h);
    frame2.copyRect(0, 0, scene, m + dNear, m + dy, nearWidth, h);
}

// Frames under test: how a pair is made.
using PairMaker = std::function<void(TBitmap& frame1, TBitmap& frame2)>;

// Why a pair cannot be aligned: a frame without detail, or two frames whose
// correlation peak is no higher than unrelated pictures give.
enum class Refusal { NoDetail, WeakPeak };

struct RefusedPair {
    const char* name;
    Refusal why;
    PairMaker make;
};

// The bar on the texture, from align.cpp's measurements.
constexpr double kTextureBar = 0.35;

const std::vector<RefusedPair>& refusedPairs()
{
    static const std::vector<RefusedPair> pairs = {
        { "identical uniform frames", Refusal::NoDetail,
            [](TBitmap& a, TBitmap& b) {
                a = uniform(300, 200, RGB(128, 128, 128));
                b = uniform(300, 200, RGB(128, 128, 128));
            } },
        { "uniform frames of different greys", Refusal::NoDetail,
            [](TBitmap& a, TBitmap& b) {
                a = uniform(640, 480, RGB(60, 60, 60));
                b = uniform(640, 480, RGB(200, 200, 200));
            } },
        // A gradient moved along itself is the same gradient made brighter:
        // no offset fits it better than another.
        { "identical gradients", Refusal::NoDetail,
            [](TBitmap& a, TBitmap& b) {
                a = gradientFrame(300, 200, 20, 230);
                b = gradientFrame(300, 200, 20, 230);
            } },
        { "gradients, one brighter", Refusal::NoDetail,
            [](TBitmap& a, TBitmap& b) {
                a = gradientFrame(1000, 666, 20, 230);
                b = gradientFrame(1000, 666, 50, 200);
            } },
        { "photograph and a uniform frame", Refusal::NoDetail,
            [](TBitmap& a, TBitmap& b) {
                a = coffee();
                b = uniform(600, 400, RGB(90, 60, 40));
            } },
        { "unrelated noise", Refusal::WeakPeak,
            [](TBitmap& a, TBitmap& b) {
                a = noiseFrame(600, 400, 1);
                b = noiseFrame(600, 400, 2);
            } },
        // Small frames give unrelated peaks far higher than large ones do
        // (see peakIsJudgedByTheFrameSize).
        { "unrelated noise, 64 x 40", Refusal::WeakPeak,
            [](TBitmap& a, TBitmap& b) {
                a = noiseFrame(64, 40, 21);
                b = noiseFrame(64, 40, 22);
            } },
        { "photograph and noise", Refusal::WeakPeak,
            [](TBitmap& a, TBitmap& b) {
                a = coffee();
                b = noiseFrame(600, 400, 5);
            } },
        { "far-apart crops of the photograph", Refusal::WeakPeak,
            [](TBitmap& a, TBitmap& b) {
                const TBitmap scene = coffee();
                a = crop(scene, 0, 0, 240, 160);
                b = crop(scene, 360, 240, 240, 160);
            } },
        { "photograph and the photograph turned round", Refusal::WeakPeak,
            [](TBitmap& a, TBitmap& b) {
                a = coffee();
                b = turnedRound(a);
            } },
    };
    return pairs;
}

// A floor receding from the cameras: frame2's rows at disparities rising
// evenly from dTop at the top to dBottom at the bottom.
void recedingFloor(const TBitmap& scene, int dTop, int dBottom, TBitmap& frame1, TBitmap& frame2)
{
    const int m = std::max(std::abs(dTop), std::abs(dBottom)) + 1;
    const int w = scene.width() - 2 * m;
    const int h = scene.height() - 2 * m;
    frame1 = crop(scene, m, m, w, h);
    frame2.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        const int d = dTop + int(std::lround(double(dBottom - dTop) * y / (h - 1)));
        frame2.copyRect(0, y, scene, m + d, m + y, w, 1);
    }
}

struct RealPair {
    const char* name;
    int dxLow, dxHigh, dy; // the offsets it must find: dx anywhere from dxLow to dxHigh
    PairMaker make;
};

const std::vector<RealPair>& realPairs()
{
    static const std::vector<RealPair> pairs = {
        { "heavy noise and JPEG quality 30", 11, 11, -3,
            [](TBitmap& a, TBitmap& b) {
                cutPair(coffee(), 11, -3, 20, a, b);
                a = jpegCopy(a, 30);
                b = jpegCopy(b, 30);
            } },
        { "second frame darker and flatter", 7, 7, 2,
            [](TBitmap& a, TBitmap& b) {
                cutPair(coffee(), 7, 2, 4, a, b);
                b = withContrast(b, 0.5, 40);
            } },
        { "both frames at a tenth of the contrast", -9, -9, 4,
            [](TBitmap& a, TBitmap& b) {
                cutPair(withContrast(coffee(), 0.1, 100), -9, 4, 2, a, b);
            } },
        // The depth that fills most of the frame sets the offsets.
        { "two depths", 8, 8, 2,
            [](TBitmap& a, TBitmap& b) {
                twoDepths(coffee(), 8, 14, 0.7, 2, a, b);
                addNoise(a, 6, 11);
                addNoise(b, 6, 12);
                a = jpegCopy(a, 80);
                b = jpegCopy(b, 80);
            } },
        // Every depth from the top row to the bottom one fills as much of the
        // frame: the peak spreads and is low, and any of them will do.
        { "receding floor", 4, 34, 0,
            [](TBitmap& a, TBitmap& b) { recedingFloor(coffee(), 4, 34, a, b); } },
        { "small: the photograph at 66 x 44", 2, 2, 1,
            [](TBitmap& a, TBitmap& b) {
                cutPair(reduced(coffee(), 9), 2, 1, 4, a, b);
                a = jpegCopy(a, 85);
                b = jpegCopy(b, 85);
            } },
        { "large: 2400 x 1600 with noise and JPEG", -58, -58, 11,
            [](TBitmap& a, TBitmap& b) {
                cutPair(enlarged(coffee(), 4), -58, 11, 8, a, b);
                a = jpegCopy(a, 60);
                b = jpegCopy(b, 60);
            } },
    };
    return pairs;
}

} // namespace

class TestAlign : public QObject {
    Q_OBJECT

private slots:
    void syntheticShiftsAreFound_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("800x600 none") << 800 << 600 << 0 << 0;
        QTest::newRow("800x600 right") << 800 << 600 << 12 << 0;
        QTest::newRow("800x600 left and down") << 800 << 600 << -25 << 4;
        QTest::newRow("800x600 right and up") << 800 << 600 << 7 << -9;
        QTest::newRow("800x600 large") << 800 << 600 << 40 << 15;
        QTest::newRow("800x600 one pixel") << 800 << 600 << -1 << 1;
        // Reduced by a factor of 3, to a side that the transform pads.
        QTest::newRow("3000x2000 none") << 3000 << 2000 << 0 << 0;
        // Shifts that are not a multiple of the factor.
        QTest::newRow("3000x2000 reduced") << 3000 << 2000 << -107 << 23;
        QTest::newRow("3000x2000 reduced small") << 3000 << 2000 << 4 << -2;
        // Long enough to reduce, too narrow to: the short side keeps 16 px.
        QTest::newRow("2400x40 strip") << 2400 << 40 << 10 << 0;
        QTest::newRow("16x16 smallest") << 16 << 16 << 2 << 1;
    }
    void syntheticShiftsAreFound()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, dx);
        QFETCH(int, dy);
        // The views of the texture, as the cameras would see it.
        const Views v = viewsFor(dx, dy);
        const TBitmap frame1 = textureFrame(w, h, v.x1, v.y1, 7);
        const TBitmap frame2 = textureFrame(w, h, v.x2, v.y2, 7);
        const Alignment a = estimateAlignment(frame1, frame2);
        qInfo("%dx%d known (%d, %d): estimated (%d, %d), response %.3f", w, h, dx, dy, a.dx, a.dy, a.response);
        const double tolerance = toleranceFor(w, h, dx, dy);
        QVERIFY2(std::abs(a.dx - dx) <= tolerance && std::abs(a.dy - dy) <= tolerance,
            qPrintable(QStringLiteral("estimated (%1, %2)").arg(a.dx).arg(a.dy)));
        QVERIFY(a.response > 0 && a.response <= 1);
    }

    void photographShiftsAreFound_data()
    {
        QTest::addColumn<int>("enlarge");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("600x400 none") << 1 << 0 << 0;
        QTest::newRow("600x400 right") << 1 << 9 << 0;
        QTest::newRow("600x400 left and down") << 1 << -14 << 3;
        QTest::newRow("600x400 right and up") << 1 << 5 << -7;
        QTest::newRow("600x400 large") << 1 << 30 << 12;
        QTest::newRow("2400x1600 none") << 4 << 0 << 0;
        QTest::newRow("2400x1600 right") << 4 << 37 << 0;
        QTest::newRow("2400x1600 left and down") << 4 << -58 << 11;
        QTest::newRow("2400x1600 right and up") << 4 << 21 << -26;
        QTest::newRow("2400x1600 large") << 4 << 121 << 45;
    }
    void photographShiftsAreFound()
    {
        QFETCH(int, enlarge);
        QFETCH(int, dx);
        QFETCH(int, dy);
        TBitmap scene = coffee();
        if (enlarge > 1)
            scene = enlarged(scene, enlarge);
        TBitmap frame1, frame2;
        cutPair(scene, dx, dy, 8, frame1, frame2);
        const Alignment a = estimateAlignment(frame1, frame2);
        qInfo("%dx%d known (%d, %d): estimated (%d, %d), response %.3f", frame1.width(), frame1.height(), dx, dy,
            a.dx, a.dy, a.response);
        const double tolerance = toleranceFor(frame1.width(), frame1.height(), dx, dy);
        QVERIFY2(std::abs(a.dx - dx) <= tolerance && std::abs(a.dy - dy) <= tolerance,
            qPrintable(QStringLiteral("estimated (%1, %2)").arg(a.dx).arg(a.dy)));
        QVERIFY(a.confident);
    }

    // Pairs that are hard in one way each: noise and JPEG, exposure, little
    // contrast, parallax, a small frame and a large one. Each must give the
    // known offsets and say it is sure of them.
    void realPairsAlignConfidently_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < realPairs().size(); ++i)
            QTest::newRow(realPairs()[i].name) << int(i);
    }
    void realPairsAlignConfidently()
    {
        QFETCH(int, index);
        const RealPair& pair = realPairs()[std::size_t(index)];
        TBitmap frame1, frame2;
        pair.make(frame1, frame2);
        const Alignment a = estimateAlignment(frame1, frame2);
        qInfo("%dx%d known (%d..%d, %d): estimated (%d, %d), response %.3f, texture %.2f, %s", frame1.width(),
            frame1.height(), pair.dxLow, pair.dxHigh, pair.dy, a.dx, a.dy, a.response, a.texture,
            a.confident ? "confident" : "not confident");
        const double tolerance = toleranceFor(frame1.width(), frame1.height(), pair.dxHigh, pair.dy);
        QVERIFY2(a.dx >= pair.dxLow - tolerance && a.dx <= pair.dxHigh + tolerance
                && std::abs(a.dy - pair.dy) <= tolerance,
            qPrintable(QStringLiteral("estimated (%1, %2)").arg(a.dx).arg(a.dy)));
        QVERIFY(a.texture >= kTextureBar);
        QVERIFY(a.confident);
    }

    // Frames without detail and frames with nothing in common: whatever
    // offsets the peak gives are noise, and the estimate says it cannot
    // tell. The reason is checked too, so that each bar is shown to work
    // on its own: a frame without detail fails the texture bar, and frames
    // with detail but nothing in common fail on the peak alone.
    void refusesWhatItCannotTell_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < refusedPairs().size(); ++i)
            QTest::newRow(refusedPairs()[i].name) << int(i);
    }
    void refusesWhatItCannotTell()
    {
        QFETCH(int, index);
        const RefusedPair& pair = refusedPairs()[std::size_t(index)];
        TBitmap frame1, frame2;
        pair.make(frame1, frame2);
        const Alignment a = estimateAlignment(frame1, frame2);
        qInfo("%dx%d: estimated (%d, %d), response %.3f, texture %.2f, %s", frame1.width(), frame1.height(), a.dx,
            a.dy, a.response, a.texture, a.confident ? "confident" : "not confident");
        QVERIFY(!a.confident);
        if (pair.why == Refusal::NoDetail)
            QVERIFY(a.texture < kTextureBar);
        else
            QVERIFY(a.texture >= kTextureBar);
        // Swapped, it is just as unsure.
        QVERIFY(!estimateAlignment(frame2, frame1).confident);
    }

    // A real pair with a low peak, a receding floor whose depths spread it,
    // is trusted, while two unrelated small frames with a higher peak are
    // not: what unrelated frames give by chance grows as they shrink, and
    // the bar with it. A bar on the response alone would pass both or
    // neither.
    void peakIsJudgedByTheFrameSize()
    {
        TBitmap floor1, floor2;
        recedingFloor(coffee(), 4, 34, floor1, floor2);
        const Alignment floor = estimateAlignment(floor1, floor2);
        const Alignment small = estimateAlignment(noiseFrame(64, 40, 21), noiseFrame(64, 40, 22));
        qInfo("receding floor %dx%d: response %.3f; unrelated 64x40: response %.3f", floor1.width(),
            floor1.height(), floor.response, small.response);
        QVERIFY(small.response > floor.response);
        QVERIFY(floor.confident);
        QVERIFY(!small.confident);
    }

    // Built with the estimate, the anaglyph's red and cyan show the same
    // scene: they differ by the noise alone, far less than unaligned.
    void anaglyphWithTheEstimateMatches()
    {
        TBitmap frame1, frame2;
        cutPair(coffee(), 18, -6, 8, frame1, frame2);
        const TBitmap grey1 = greyCopy(frame1);
        const TBitmap grey2 = greyCopy(frame2);
        const Alignment a = estimateAlignment(frame1, frame2);
        const double aligned = meanRedCyanDifference(referenceAnaglyph(grey1, grey2, a.dx, a.dy, false, Gains {}));
        const double unaligned = meanRedCyanDifference(referenceAnaglyph(grey1, grey2, 0, 0, false, Gains {}));
        const double reversed = meanRedCyanDifference(referenceAnaglyph(grey1, grey2, -a.dx, -a.dy, false, Gains {}));
        qInfo("estimated (%d, %d); mean red-cyan difference %.2f aligned, %.2f unaligned, %.2f reversed", a.dx,
            a.dy, aligned, unaligned, reversed);
        // Two frames with independent noise of sigma 8 differ by about 9 on
        // average when they show the same scene.
        QVERIFY(aligned < 11);
        QVERIFY(aligned < unaligned / 2);
        QVERIFY(aligned < reversed / 2);
    }

    // A peak over two unrelated pictures is noise: its response stays far
    // below that of a pair.
    void responseTellsAPairFromUnrelatedFrames()
    {
        const TBitmap frame1 = textureFrame(800, 600, 0, 0, 7);
        const TBitmap shifted = textureFrame(800, 600, 12, 3, 7);
        const TBitmap other = textureFrame(800, 600, 0, 0, 99);
        const double pair = estimateAlignment(frame1, shifted).response;
        const double unrelated = estimateAlignment(frame1, other).response;
        qInfo("response %.3f for a pair, %.3f for unrelated frames", pair, unrelated);
        QVERIFY(unrelated >= 0);
        QVERIFY(pair > 4 * unrelated);
    }

    void framesOfDifferentSizesAreRefused()
    {
        const TBitmap a = patterned(100, 80, 1);
        for (const auto& [w, h] : { std::pair { 101, 80 }, std::pair { 100, 79 }, std::pair { 80, 100 } }) {
            const TBitmap b = patterned(w, h, 2);
            QVERIFY_THROWS_EXCEPTION(EOrvantaError, estimateAlignment(a, b));
            QVERIFY_THROWS_EXCEPTION(EOrvantaError, estimateAlignment(b, a));
        }
        QVERIFY_THROWS_EXCEPTION(EOrvantaError, estimateAlignment(TBitmap(), a));
    }

    void framesTooSmallGiveNoOffsets_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("15 wide") << 15 << 200;
        QTest::newRow("15 high") << 200 << 15;
        QTest::newRow("one pixel") << 1 << 1;
    }
    void framesTooSmallGiveNoOffsets()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        // Clearly shifted content, so zeros come from the size rule alone.
        const TBitmap frame1 = textureFrame(w, h, 0, 0, 7);
        const TBitmap frame2 = textureFrame(w, h, 5, 3, 7);
        const Alignment a = estimateAlignment(frame1, frame2);
        QCOMPARE(a.dx, 0);
        QCOMPARE(a.dy, 0);
        QCOMPARE(a.response, 0.0);
        QCOMPARE(a.texture, 0.0);
        QVERIFY(!a.confident);
    }
};

QTEST_GUILESS_MAIN(TestAlign)
#include "test_align.moc"
