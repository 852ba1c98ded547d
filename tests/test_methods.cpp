// The anaglyph methods of orvanta-compose: each method's pixel against its
// formula written out plainly, the geometry of offsets, swap and block steps,
// the colour method against the window's own arithmetic, and the split over
// threads.
#include "anaglyph_cases.h"
#include "compose/errors.h"
#include "compose/methods.h"
#include "fixtures.h"
#include "reference_anaglyph.h"

#include <QTest>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <random>

Q_DECLARE_METATYPE(AnaglyphMethod)
Q_DECLARE_METATYPE(Gains)

namespace {

struct Rgb {
    int r, g, b;
};

Rgb rgbOf(TColor c) { return { GetRValue(c), GetGValue(c), GetBValue(c) }; }

int grey(Rgb p) { return (299 * p.r + 587 * p.g + 114 * p.b + 500) / 1000; }

double toLinear(int byte)
{
    const double v = byte / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

int toByte(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return int(std::lround(255 * e));
}

Rgb dubois(Rgb L, Rgb R)
{
    const double ML[3][3] = { { 0.456, 0.500, 0.176 }, { -0.040, -0.038, -0.016 }, { -0.015, -0.021, -0.005 } };
    const double MR[3][3] = { { -0.043, -0.088, -0.002 }, { 0.378, 0.734, -0.018 }, { -0.072, -0.113, 1.226 } };
    const double l[3] = { toLinear(L.r), toLinear(L.g), toLinear(L.b) };
    const double r[3] = { toLinear(R.r), toLinear(R.g), toLinear(R.b) };
    int out[3];
    for (int c = 0; c < 3; ++c)
        out[c] = toByte(ML[c][0] * l[0] + ML[c][1] * l[1] + ML[c][2] * l[2] + MR[c][0] * r[0] + MR[c][1] * r[1]
            + MR[c][2] * r[2]);
    return { out[0], out[1], out[2] };
}

// What a method makes of the red source's pixel L and the cyan source's R.
Rgb expectedPixel(AnaglyphMethod m, Rgb L, Rgb R, Gains g)
{
    Rgb p {};
    switch (m) {
    case AnaglyphMethod::Colour:
        p = { L.r, R.g, R.b };
        break;
    case AnaglyphMethod::HalfColour:
        p = { grey(L), R.g, R.b };
        break;
    case AnaglyphMethod::Grey:
        p = { grey(L), grey(R), grey(R) };
        break;
    case AnaglyphMethod::Dubois:
        p = dubois(L, R);
        break;
    }
    return { g.r * p.r / 255, g.g * p.g / 255, g.b * p.b / 255 };
}

// Dubois goes through tables and may be 1 off the formula in any channel;
// the others are exact.
bool closeEnough(AnaglyphMethod m, Rgb got, Rgb want)
{
    const int tolerance = m == AnaglyphMethod::Dubois ? 1 : 0;
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance
        && std::abs(got.b - want.b) <= tolerance;
}

QString describe(Rgb p) { return QStringLiteral("RGB(%1, %2, %3)").arg(p.r).arg(p.g).arg(p.b); }

ComposeSettings settingsOf(AnaglyphMethod m, int dx, int dy, bool swap, Gains gains, int block = 1)
{
    ComposeSettings s;
    s.dx = dx;
    s.dy = dy;
    s.swap = swap;
    s.gains = gains;
    s.method = m;
    s.block = block;
    return s;
}

// The window's Preview: runs of blocks over the white working bitmap, row of
// blocks by row of blocks, cropped to the overlap.
TBitmap windowPreview(const TBitmap& f1, const TBitmap& f2, const ComposeSettings& st)
{
    const CompositionPlan plan = planComposition(f1, f2, st);
    TBitmap work;
    work.setSize(plan.width, plan.height);
    for (int r = 0; r < plan.blockRows; ++r)
        renderBlockRun(plan, int(blockOrigin(r, plan.step)), 0, plan.blockColumns - 1, work);
    return cropToOverlap(std::move(work), plan.keep);
}

// Empty when the anaglyph is what st gives by the rules read literally, pixel
// by pixel, else what differs first. With a block step, working pixel (x, y)
// takes the colour of the top-left pixel of its square, or white when that
// pixel's shifted point lies outside the frame.
QString differenceFromRules(const TBitmap& a, const TBitmap& f1, const TBitmap& f2, const ComposeSettings& st)
{
    const Overlap keep = overlapOf(f1.width(), f1.height(), st.dx, st.dy);
    if (a.width() != keep.width || a.height() != keep.height)
        return QStringLiteral("the anaglyph is %1 x %2, expected %3 x %4")
            .arg(a.width())
            .arg(a.height())
            .arg(keep.width)
            .arg(keep.height);
    const TBitmap& red = st.swap ? f2 : f1;
    const TBitmap& cyan = st.swap ? f1 : f2;
    const int s = std::max(st.block, 1);
    for (int j = 0; j < keep.height; ++j)
        for (int i = 0; i < keep.width; ++i) {
            const int x = i + keep.x, y = j + keep.y;
            const int x0 = x - x % s, y0 = y - y % s;
            const int sx = x0 - st.dx, sy = y0 - st.dy;
            Rgb want { 255, 255, 255 };
            if (sx >= 0 && sy >= 0 && sx < f1.width() && sy < f1.height())
                want = expectedPixel(st.method, rgbOf(red.pixel(x0, y0)), rgbOf(cyan.pixel(sx, sy)), st.gains);
            const Rgb got = rgbOf(a.pixel(i, j));
            if (!closeEnough(st.method, got, want))
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(i)
                    .arg(j)
                    .arg(describe(got), describe(want));
        }
    return {};
}

const AnaglyphMethod kMethods[] = { AnaglyphMethod::Colour, AnaglyphMethod::HalfColour, AnaglyphMethod::Grey,
    AnaglyphMethod::Dubois };

// One data row per method and the rows that add() adds for it.
template <class Add> void addPerMethod(Add add)
{
    for (AnaglyphMethod m : kMethods)
        add(m, anaglyphMethodName(m));
}

} // namespace

class TestMethods : public QObject {
    Q_OBJECT
private slots:
    // Every method on every pair of a small table of colours, red source in
    // the rows' colour and cyan source in the columns'.
    void pixelPairsFollowTheFormula_data()
    {
        QTest::addColumn<AnaglyphMethod>("method");
        QTest::addColumn<Gains>("gains");
        addPerMethod([](AnaglyphMethod m, const char* name) {
            QTest::addRow("%s, full gains", name) << m << Gains {};
            QTest::addRow("%s, gains 200,128,77", name) << m << Gains { 200, 128, 77 };
            QTest::addRow("%s, gains 0,255,31", name) << m << Gains { 0, 255, 31 };
        });
    }
    void pixelPairsFollowTheFormula()
    {
        QFETCH(AnaglyphMethod, method);
        QFETCH(Gains, gains);
        const TColor colours[] = { clBlack, clWhite, RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
            RGB(0, 255, 255), RGB(128, 128, 128), RGB(12, 200, 77), RGB(250, 3, 129), RGB(90, 160, 40),
            RGB(1, 254, 128), RGB(1, 0, 1), RGB(3, 2, 1) };
        const int n = int(std::size(colours));
        TBitmap f1, f2;
        f1.setSize(n, n);
        f2.setSize(n, n);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                f1.scanLine(j)[i] = pixelFromColor(colours[j]);
                f2.scanLine(j)[i] = pixelFromColor(colours[i]);
            }
        const TBitmap a = composeAnaglyph(f1, f2, settingsOf(method, 0, 0, false, gains));
        QCOMPARE(a.width(), n);
        QCOMPARE(a.height(), n);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const Rgb want = expectedPixel(method, rgbOf(colours[j]), rgbOf(colours[i]), gains);
                const Rgb got = rgbOf(a.pixel(i, j));
                QVERIFY2(closeEnough(method, got, want),
                    qPrintable(QStringLiteral("L %1, R %2: got %3, expected %4")
                                   .arg(describe(rgbOf(colours[j])), describe(rgbOf(colours[i])), describe(got),
                                       describe(want))));
            }
    }

    // A few spot values worked out by hand, so that the formula in this test
    // is itself checked.
    void handWorkedValues()
    {
        const auto one = [](AnaglyphMethod m, TColor l, TColor r) {
            return composeAnaglyph(uniform(1, 1, l), uniform(1, 1, r), settingsOf(m, 0, 0, false, {})).pixel(0, 0);
        };
        QCOMPARE(one(AnaglyphMethod::Colour, RGB(10, 20, 30), RGB(40, 50, 60)), RGB(10, 50, 60));
        // grey(10, 20, 30) = (2990 + 11740 + 3420 + 500) / 1000 = 18
        QCOMPARE(one(AnaglyphMethod::HalfColour, RGB(10, 20, 30), RGB(40, 50, 60)), RGB(18, 50, 60));
        // grey(40, 50, 60) = (11960 + 29350 + 6840 + 500) / 1000 = 48
        QCOMPARE(one(AnaglyphMethod::Grey, RGB(10, 20, 30), RGB(40, 50, 60)), RGB(18, 48, 48));
        QCOMPARE(one(AnaglyphMethod::Dubois, clBlack, clBlack), clBlack);
        // White on both sides: the matrices' rows sum to 0.999, 1.000 and
        // 1.000 in linear light, which encode to 254.9, 255 and 255.
        QCOMPARE(one(AnaglyphMethod::Dubois, clWhite, clWhite), clWhite);
        // Red on the left alone: 0.456 linear red, negatives clamp to 0;
        // 1.055 * 0.456^(1/2.4) - 0.055 = 0.7056, * 255 = 179.9.
        QCOMPARE(one(AnaglyphMethod::Dubois, RGB(255, 0, 0), clBlack), RGB(180, 0, 0));
    }

    // Dubois through its tables against the formula on many random pairs.
    void duboisStaysWithinOneOfTheFormula()
    {
        std::mt19937 random(20240611);
        const int w = 256, h = 64;
        TBitmap f1, f2;
        f1.setSize(w, h);
        f2.setSize(w, h);
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                f1.scanLine(j)[i] = 0xFF000000u | (random() & 0xFFFFFFu);
                f2.scanLine(j)[i] = 0xFF000000u | (random() & 0xFFFFFFu);
            }
        // Dark values too, where the encoding is steepest.
        for (int i = 0; i < w; ++i) {
            f1.scanLine(0)[i] = pixelFromColor(RGB(i, i / 2, i / 4));
            f2.scanLine(0)[i] = pixelFromColor(RGB(i / 4, i / 3, i));
            f1.scanLine(1)[i] = pixelFromColor(RGB(i % 16, 0, i % 7));
            f2.scanLine(1)[i] = pixelFromColor(RGB(0, i % 16, i % 9));
        }
        const ComposeSettings st = settingsOf(AnaglyphMethod::Dubois, 0, 0, false, {});
        const TBitmap a = composeAnaglyph(f1, f2, st);
        const QString difference = differenceFromRules(a, f1, f2, st);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Offsets, swap and gains on small frames, every pixel by the rules.
    void geometryOfEveryMethod_data()
    {
        QTest::addColumn<AnaglyphMethod>("method");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("swap");
        addPerMethod([](AnaglyphMethod m, const char* name) {
            QTest::addRow("%s, no offset", name) << m << 0 << 0 << false;
            QTest::addRow("%s, offset 3,-2", name) << m << 3 << -2 << false;
            QTest::addRow("%s, offset 3,-2 swapped", name) << m << 3 << -2 << true;
            QTest::addRow("%s, offset -4,5", name) << m << -4 << 5 << false;
            QTest::addRow("%s, offset -9,7 swapped", name) << m << -9 << 7 << true;
        });
    }
    void geometryOfEveryMethod()
    {
        QFETCH(AnaglyphMethod, method);
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, swap);
        const TBitmap f1 = patterned(10, 8, 1), f2 = patterned(10, 8, 2);
        const ComposeSettings st = settingsOf(method, dx, dy, swap, { 200, 128, 77 });
        const TBitmap a = composeAnaglyph(f1, f2, st);
        QCOMPARE(a.width(), 10 - std::abs(dx));
        QCOMPARE(a.height(), 8 - std::abs(dy));
        const QString difference = differenceFromRules(a, f1, f2, st);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Swapping is the same as handing the frames over the other way round.
    void swapExchangesTheSources()
    {
        const TBitmap f1 = patterned(10, 8, 1), f2 = patterned(10, 8, 2);
        for (AnaglyphMethod m : kMethods) {
            const TBitmap swapped = composeAnaglyph(f1, f2, settingsOf(m, 3, -2, true, { 9, 250, 128 }));
            const TBitmap exchanged = composeAnaglyph(f2, f1, settingsOf(m, 3, -2, false, { 9, 250, 128 }));
            QVERIFY(samePixels(swapped, exchanged));
            QVERIFY(!samePixels(swapped, composeAnaglyph(f1, f2, settingsOf(m, 3, -2, false, { 9, 250, 128 }))));
        }
    }

    // With block step 1 the colour method is referenceAnaglyph, bit for bit.
    void colourIsTheReferenceAnaglyph_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<Gains>("gains");
        QTest::newRow("no offset") << 0 << 0 << false << Gains {};
        QTest::newRow("offset 5,-3") << 5 << -3 << false << Gains {};
        QTest::newRow("offset -5,3 swapped") << -5 << 3 << true << Gains {};
        QTest::newRow("offset -7,2, gains 200,128,77") << -7 << 2 << false << Gains { 200, 128, 77 };
        QTest::newRow("offset 4,6 swapped, gains 0,255,31") << 4 << 6 << true << Gains { 0, 255, 31 };
        QTest::newRow("offset 39,-29, gains 1,254,3") << 39 << -29 << false << Gains { 1, 254, 3 };
        QTest::newRow("dx = width") << 40 << 0 << false << Gains {};
        QTest::newRow("dy = -height swapped") << 0 << -30 << true << Gains {};
        QTest::newRow("both past") << 45 << 31 << false << Gains {};
        QTest::newRow("most negative int") << INT_MIN << 1 << false << Gains {};
        QTest::newRow("largest int") << INT_MAX << INT_MAX << true << Gains {};
    }
    void colourIsTheReferenceAnaglyph()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, swap);
        QFETCH(Gains, gains);
        const TBitmap f1 = patterned(40, 30, 1), f2 = patterned(40, 30, 2);
        const TBitmap reference = referenceAnaglyph(f1, f2, dx, dy, swap, gains);
        for (int threads : { 1, 3 }) {
            const TBitmap a = composeAnaglyph(f1, f2, settingsOf(AnaglyphMethod::Colour, dx, dy, swap, gains), threads);
            QCOMPARE(a.width(), reference.width());
            QCOMPARE(a.height(), reference.height());
            QVERIFY(samePixels(a, reference));
        }
    }

    // The shared table of anaglyph cases, preview steps included.
    void colourFollowsTheSharedCases_data() { addAnaglyphCaseRows(); }
    void colourFollowsTheSharedCases()
    {
        QFETCH(int, index);
        const AnaglyphCase& c = kAnaglyphCases[index];
        const TBitmap f1 = caseFrame1(), f2 = caseFrame2();
        const TBitmap a = composeAnaglyph(f1, f2, settingsOf(AnaglyphMethod::Colour, c.dx, c.dy, c.swap, c.gains, c.step));
        const QString difference = caseDifference(c, a, f1, f2);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Block steps above 1 with the colour method are the window's Preview.
    void colourBlocksAreTheWindowsPreview_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<int>("s");
        QTest::newRow("step 2, no offset") << 0 << 0 << false << 2;
        QTest::newRow("step 4, offset 3,0") << 3 << 0 << false << 4;
        QTest::newRow("step 4, offset 3,2") << 3 << 2 << false << 4;
        QTest::newRow("step 3, offset 3,-2 swapped") << 3 << -2 << true << 3;
        QTest::newRow("step 7, offset -7,5 swapped") << -7 << 5 << true << 7;
        QTest::newRow("step 5, offset 11,13") << 11 << 13 << false << 5;
        QTest::newRow("step larger than the frame") << 1 << 1 << false << 50;
        QTest::newRow("step 4, no overlap") << 41 << 0 << false << 4;
    }
    void colourBlocksAreTheWindowsPreview()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, swap);
        QFETCH(int, s);
        const TBitmap f1 = patterned(41, 29, 1), f2 = patterned(41, 29, 2);
        const ComposeSettings st = settingsOf(AnaglyphMethod::Colour, dx, dy, swap, { 200, 128, 77 }, s);
        const TBitmap preview = windowPreview(f1, f2, st);
        for (int threads : { 1, 3 }) {
            const TBitmap a = composeAnaglyph(f1, f2, st, threads);
            QCOMPARE(a.width(), preview.width());
            QCOMPARE(a.height(), preview.height());
            QVERIFY(samePixels(a, preview));
            const QString difference = differenceFromRules(a, f1, f2, st);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        }
    }

    // The other methods paint the same squares, each in its top-left pixel's
    // colour by the method.
    void blocksOfTheOtherMethods_data()
    {
        QTest::addColumn<AnaglyphMethod>("method");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<int>("s");
        addPerMethod([](AnaglyphMethod m, const char* name) {
            QTest::addRow("%s, step 4, offset 3,2", name) << m << 3 << 2 << false << 4;
            QTest::addRow("%s, step 3, offset 3,-2 swapped", name) << m << 3 << -2 << true << 3;
            QTest::addRow("%s, step 4, offset 8,-4", name) << m << 8 << -4 << false << 4;
            QTest::addRow("%s, step 7, offset -7,5", name) << m << -7 << 5 << false << 7;
            QTest::addRow("%s, step 50", name) << m << 1 << 1 << false << 50;
        });
    }
    void blocksOfTheOtherMethods()
    {
        QFETCH(AnaglyphMethod, method);
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, swap);
        QFETCH(int, s);
        const TBitmap f1 = patterned(41, 29, 1), f2 = patterned(41, 29, 2);
        const ComposeSettings st = settingsOf(method, dx, dy, swap, { 200, 128, 77 }, s);
        const TBitmap a = composeAnaglyph(f1, f2, st);
        const QString difference = differenceFromRules(a, f1, f2, st);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        // Each square holds exactly the colour that step 1 gives its top-left
        // pixel, wherever that pixel lies within the overlap.
        ComposeSettings pixels = st;
        pixels.block = 1;
        const TBitmap b = composeAnaglyph(f1, f2, pixels);
        const Overlap keep = overlapOf(41, 29, dx, dy);
        for (int j = 0; j < keep.height; ++j)
            for (int i = 0; i < keep.width; ++i) {
                const int x = i + keep.x, y = j + keep.y;
                const int i0 = x - x % s - keep.x, j0 = y - y % s - keep.y;
                if (i0 >= 0 && j0 >= 0)
                    QCOMPARE(a.pixel(i, j), b.pixel(i0, j0));
            }
    }

    // Where an offset is positive and no multiple of the step, the squares
    // over the overlap's first columns or rows begin outside the frame: white.
    void duboisBlocksLeaveWhiteEdges()
    {
        const TBitmap f1 = uniform(41, 29, RGB(200, 40, 40)), f2 = uniform(41, 29, RGB(40, 90, 200));
        const TBitmap a = composeAnaglyph(f1, f2, settingsOf(AnaglyphMethod::Dubois, 3, 2, false, {}, 4));
        QCOMPARE(a.width(), 38);
        QCOMPARE(a.height(), 27);
        const TColor inside = a.pixel(1, 2);
        QVERIFY(inside != clWhite);
        for (int j = 0; j < a.height(); ++j)
            for (int i = 0; i < a.width(); ++i)
                QCOMPARE(a.pixel(i, j), i < 1 || j < 2 ? clWhite : inside);

        // A multiple of the step leaves no edge.
        const TBitmap b = composeAnaglyph(f1, f2, settingsOf(AnaglyphMethod::Dubois, 8, 4, false, {}, 4));
        for (int j = 0; j < b.height(); ++j)
            for (int i = 0; i < b.width(); ++i)
                QCOMPARE(b.pixel(i, j), inside);
        // Nor does a negative offset.
        const TBitmap c = composeAnaglyph(f1, f2, settingsOf(AnaglyphMethod::Dubois, -3, -2, false, {}, 4));
        for (int j = 0; j < c.height(); ++j)
            for (int i = 0; i < c.width(); ++i)
                QCOMPARE(c.pixel(i, j), inside);
    }

    // Any number of threads gives the very same picture.
    void threadsGiveTheSamePicture_data()
    {
        QTest::addColumn<AnaglyphMethod>("method");
        QTest::addColumn<int>("s");
        addPerMethod([](AnaglyphMethod m, const char* name) {
            QTest::addRow("%s, step 1", name) << m << 1;
            QTest::addRow("%s, step 3", name) << m << 3;
        });
    }
    void threadsGiveTheSamePicture()
    {
        QFETCH(AnaglyphMethod, method);
        QFETCH(int, s);
        const TBitmap f1 = patterned(123, 77, 1), f2 = patterned(123, 77, 2);
        const ComposeSettings st = settingsOf(method, 5, -3, true, { 250, 100, 31 }, s);
        const TBitmap one = composeAnaglyph(f1, f2, st, 1);
        QCOMPARE(one.width(), 118);
        QCOMPARE(one.height(), 74);
        for (int threads : { 2, 3, 8, 500 })
            QVERIFY2(samePixels(composeAnaglyph(f1, f2, st, threads), one), qPrintable(QString::number(threads)));
        // And so does a nonsense count.
        QVERIFY(samePixels(composeAnaglyph(f1, f2, st, 0), one));
        QVERIFY(samePixels(composeAnaglyph(f1, f2, st, -4), one));
    }

    void framesOfDifferentSizesThrow()
    {
        const TBitmap a = patterned(10, 8, 1), b = patterned(10, 9, 2), c = patterned(11, 8, 2);
        for (AnaglyphMethod m : kMethods)
            for (int block : { 1, 4 }) {
                bool thrown = false;
                try {
                    composeAnaglyph(a, b, settingsOf(m, 0, 0, false, {}, block));
                } catch (const EOrvantaError& e) {
                    thrown = true;
                    QCOMPARE(QString::fromUtf8(e.what()),
                        QStringLiteral("Frames have not equal size! Anaglyph cannot be builded!"));
                }
                QVERIFY(thrown);
                QCOMPARE(errorOf([&] { composeAnaglyph(c, a, settingsOf(m, 0, 0, false, {}, block)); }),
                    QStringLiteral("Frames have not equal size! Anaglyph cannot be builded!"));
                QCOMPARE(errorOf([&] { composeAnaglyph(a, TBitmap(), settingsOf(m, 0, 0, false, {}, block)); }),
                    QStringLiteral("Frames have not equal size! Anaglyph cannot be builded!"));
            }
    }

    // Empty frames give an empty picture; no overlap a picture with a side of
    // 0, the size referenceAnaglyph gives.
    void emptyFramesAndNoOverlap()
    {
        const TBitmap none;
        const TBitmap f = patterned(10, 8, 0);
        const struct {
            int dx, dy;
        } offsets[] = { { 10, 0 }, { 0, -8 }, { -25, 3 }, { 11, 9 }, { INT_MIN, INT_MAX } };
        for (AnaglyphMethod m : kMethods)
            for (int block : { 1, 3 }) {
                const TBitmap e = composeAnaglyph(none, none, settingsOf(m, 2, 1, false, {}, block), 2);
                QCOMPARE(e.width(), 0);
                QCOMPARE(e.height(), 0);
                for (const auto& o : offsets) {
                    const TBitmap a = composeAnaglyph(f, f, settingsOf(m, o.dx, o.dy, false, {}, block), 2);
                    const TBitmap r = referenceAnaglyph(f, f, o.dx, o.dy, false, {});
                    QVERIFY(a.empty());
                    QCOMPARE(a.width(), r.width());
                    QCOMPARE(a.height(), r.height());
                }
            }
    }

    void namesRoundTrip()
    {
        for (AnaglyphMethod m : kMethods) {
            AnaglyphMethod read = m == AnaglyphMethod::Colour ? AnaglyphMethod::Dubois : AnaglyphMethod::Colour;
            QVERIFY(parseAnaglyphMethod(anaglyphMethodName(m), read));
            QCOMPARE(read, m);
        }
        QCOMPARE(QString::fromUtf8(anaglyphMethodName(AnaglyphMethod::Colour)), QStringLiteral("colour"));
        QCOMPARE(QString::fromUtf8(anaglyphMethodName(AnaglyphMethod::HalfColour)), QStringLiteral("half-colour"));
        QCOMPARE(QString::fromUtf8(anaglyphMethodName(AnaglyphMethod::Grey)), QStringLiteral("grey"));
        QCOMPARE(QString::fromUtf8(anaglyphMethodName(AnaglyphMethod::Dubois)), QStringLiteral("dubois"));

        // What each spelling means is told by what it does to one pixel pair,
        // worked out by hand from the methods' formulas: left RGB(200, 100, 50),
        // right RGB(30, 160, 90); the left grey is 124, the right 113.
        const TBitmap left = uniform(1, 1, RGB(200, 100, 50));
        const TBitmap right = uniform(1, 1, RGB(30, 160, 90));
        const Rgb colour { 200, 160, 90 };
        const Rgb halfColour { 124, 160, 90 };
        const Rgb bothGrey { 124, 113, 113 };
        const Rgb duboisMix { 149, 132, 76 }; // within 1
        const struct {
            const char* name;
            Rgb pixel;
        } spellings[] = {
            { "colour", colour },
            { "color", colour },
            { "half-colour", halfColour },
            { "half-color", halfColour },
            { "grey", bothGrey },
            { "gray", bothGrey },
            { "dubois", duboisMix },
            // People write the names as words: any letter case.
            { "Colour", colour },
            { "Half-Color", halfColour },
            { "GRAY", bothGrey },
            { "Dubois", duboisMix },
        };
        for (const auto& sp : spellings) {
            // Starts as a method whose pixel differs, so a parse that writes
            // nothing cannot pass.
            AnaglyphMethod read = sp.pixel.r == duboisMix.r ? AnaglyphMethod::Colour : AnaglyphMethod::Dubois;
            QVERIFY2(parseAnaglyphMethod(sp.name, read), sp.name);
            const Rgb got = rgbOf(composeAnaglyph(left, right, settingsOf(read, 0, 0, false, {})).pixel(0, 0));
            QVERIFY2(closeEnough(read, got, sp.pixel),
                qPrintable(QStringLiteral("%1 gives %2, expected %3")
                        .arg(QLatin1String(sp.name), describe(got), describe(sp.pixel))));
        }
        for (const char* bad : { "", "half", "halfcolour", "grey ", "dubois2", "optimized", "colourr", "duboi" }) {
            AnaglyphMethod read = AnaglyphMethod::HalfColour;
            QVERIFY2(!parseAnaglyphMethod(bad, read), bad);
            QCOMPARE(read, AnaglyphMethod::HalfColour);
        }
    }
};

QTEST_APPLESS_MAIN(TestMethods)
#include "test_methods.moc"
