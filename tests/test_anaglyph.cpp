// The builder's geometry, the engine's runs of blocks against a naive
// per-block reading of the rules, its two ways of rendering against each
// other, and both against the plain reference and the shared table of
// expected pixels.
#include "anaglyph_cases.h"
#include "compose/anaglyph.h"
#include "compose/engine.h"
#include "fixtures.h"
#include "reference_anaglyph.h"

#include <QRect>
#include <QTest>

#include <climits>

namespace {

// The rules read literally, one block at a time, through pixel reads.
void naiveBlock(const BlockInputs& in, int s, int x, int y, TBitmap& work)
{
    const int sx = x - in.dx, sy = y - in.dy;
    int r, g, b;
    if (!in.swap) {
        g = GetGValue(in.frame2->pixel(sx, sy));
        b = GetBValue(in.frame2->pixel(sx, sy));
        if (sx >= in.W1 || sy >= in.H1 || sx < 0 || sy < 0)
            return;
        r = GetRValue(in.frame1->pixel(x, y));
    } else {
        r = GetRValue(in.frame2->pixel(x, y));
        if (sx >= in.W1 || sy >= in.H1 || sx < 0 || sy < 0)
            return;
        g = GetGValue(in.frame1->pixel(sx, sy));
        b = GetBValue(in.frame1->pixel(sx, sy));
    }
    work.setFillColor(RGB(in.gains.r * r / 255, in.gains.g * g / 255, in.gains.b * b / 255));
    work.fillRect(x, y, x + s, y + s);
}

TBitmap naiveWork(const BlockInputs& in, int s, int W, int H)
{
    TBitmap work;
    work.setSize(W, H);
    for (int r = 0; r < blocksAlong(H, s); ++r)
        for (int c = 0; c < blocksAlong(W, s); ++c)
            naiveBlock(in, s, int(blockOrigin(c, s)), int(blockOrigin(r, s)), work);
    return work;
}

// The engine's way: whole rows of blocks over a white working bitmap.
TBitmap fastWork(const BlockInputs& in, int s, int W, int H, AnaglyphMethod method = AnaglyphMethod::Colour)
{
    const CompositionPlan plan = planBuild(in, W, H, s, method);
    TBitmap work;
    work.setSize(W, H);
    for (int r = 0; r < plan.blockRows; ++r)
        renderBlockRun(plan, int(blockOrigin(r, s)), 0, plan.blockColumns - 1, work);
    return work;
}

} // namespace

class TestAnaglyph : public QObject {
    Q_OBJECT
private slots:
    void runsPaintWhatSingleBlocksPaint_data()
    {
        QTest::addColumn<int>("w1");
        QTest::addColumn<int>("h1");
        QTest::addColumn<int>("w2");
        QTest::addColumn<int>("h2");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<int>("s");
        // Views are always the size of frame 2 here (W x H) and of frame 1
        // (W1 x H1); a frame whose bitmap differs from its view was replaced
        // or is empty.
        QTest::newRow("same size, no offset") << 40 << 30 << 40 << 30 << 0 << 0 << false << 1;
        QTest::newRow("offset 5,-3") << 40 << 30 << 40 << 30 << 5 << -3 << false << 1;
        QTest::newRow("offset -5,3 swapped") << 40 << 30 << 40 << 30 << -5 << 3 << true << 1;
        QTest::newRow("preview 3,0 step 4") << 40 << 30 << 40 << 30 << 3 << 0 << false << 4;
        QTest::newRow("preview -7,5 step 7 swapped") << 40 << 30 << 40 << 30 << -7 << 5 << true << 7;
        QTest::newRow("step larger than frame") << 40 << 30 << 40 << 30 << 1 << 1 << false << 50;
        QTest::newRow("offset past the frame") << 40 << 30 << 40 << 30 << 45 << 0 << false << 1;
        QTest::newRow("frame 1 smaller than its view") << 25 << 20 << 40 << 30 << 2 << 1 << false << 1;
        QTest::newRow("frame 1 smaller, swapped") << 25 << 20 << 40 << 30 << 2 << 1 << true << 1;
        QTest::newRow("frame 1 wider than its view") << 60 << 30 << 40 << 30 << -4 << 0 << false << 1;
        QTest::newRow("frame 1 empty") << 0 << 0 << 40 << 30 << 0 << 0 << false << 1;
        QTest::newRow("frame 1 empty, swapped") << 0 << 0 << 40 << 30 << 3 << 3 << true << 2;
    }
    void runsPaintWhatSingleBlocksPaint()
    {
        QFETCH(int, w1);
        QFETCH(int, h1);
        QFETCH(int, w2);
        QFETCH(int, h2);
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, swap);
        QFETCH(int, s);
        const TBitmap f1 = patterned(w1, h1, 1);
        const TBitmap f2 = patterned(w2, h2, 2);
        BlockInputs in;
        in.frame1 = &f1;
        in.frame2 = &f2;
        in.W1 = w2; // frame 1's view keeps the size the build started with
        in.H1 = h2;
        in.dx = dx;
        in.dy = dy;
        in.swap = swap;
        in.gains = { 200, 128, 77 };
        const TBitmap expected = naiveWork(in, s, w2, h2);
        QVERIFY(samePixels(fastWork(in, s, w2, h2), expected));

        // Any split of a row into runs paints the same.
        const CompositionPlan plan = planBuild(in, w2, h2, s);
        TBitmap split;
        split.setSize(w2, h2);
        const int lastColumn = plan.blockColumns - 1;
        for (int r = 0; r < plan.blockRows; ++r)
            for (int c = 0; c <= lastColumn; c += 3)
                renderBlockRun(plan, int(blockOrigin(r, s)), c, std::min(c + 2, lastColumn), split);
        QVERIFY(samePixels(split, expected));
    }

    void casesOfTheSharedTable_data() { addAnaglyphCaseRows(); }
    void casesOfTheSharedTable()
    {
        QFETCH(int, index);
        const AnaglyphCase& c = kAnaglyphCases[index];
        const TBitmap f1 = caseFrame1(), f2 = caseFrame2();
        const int W = kCaseFrameWidth, H = kCaseFrameHeight;
        BlockInputs in { &f1, &f2, W, H, c.dx, c.dy, c.swap, c.gains };
        const TBitmap a = cropToOverlap(fastWork(in, c.step, W, H), overlapOf(W, H, c.dx, c.dy));
        const QString difference = caseDifference(c, a, f1, f2);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        if (c.step == 1)
            QVERIFY(samePixels(referenceAnaglyph(f1, f2, c.dx, c.dy, c.swap, c.gains), a));
    }

    // The engine renders a plan two ways: runs of blocks over the working
    // bitmap, cropped afterwards (the window), and bands straight into the
    // kept picture (the command line). For frames of the plan's size both
    // must give the same picture, for every method, step and offset.
    void workingBitmapAndBandsAgree()
    {
        const TBitmap f1 = patterned(37, 23, 4), f2 = patterned(37, 23, 5);
        const AnaglyphMethod methods[] = { AnaglyphMethod::Colour, AnaglyphMethod::HalfColour, AnaglyphMethod::Grey,
            AnaglyphMethod::Dubois };
        const int offsets[][2] = { { 0, 0 }, { 5, -3 }, { -9, 7 }, { 36, 22 }, { -2, 0 } };
        for (AnaglyphMethod m : methods)
            for (int s : { 1, 2, 5, 40 })
                for (const auto& o : offsets)
                    for (bool swap : { false, true }) {
                        const QString row = QStringLiteral("method %1, step %2, offset %3,%4, swap %5")
                                                .arg(int(m))
                                                .arg(s)
                                                .arg(o[0])
                                                .arg(o[1])
                                                .arg(swap);
                        ComposeSettings st;
                        st.dx = o[0];
                        st.dy = o[1];
                        st.swap = swap;
                        st.gains = { 200, 128, 77 };
                        st.method = m;
                        st.block = s;
                        const CompositionPlan plan = planComposition(f1, f2, st);
                        const BlockInputs in { &f1, &f2, 37, 23, o[0], o[1], swap, st.gains };
                        const TBitmap windowWay = cropToOverlap(fastWork(in, s, 37, 23, m), plan.keep);
                        TBitmap bands;
                        bands.allocateUninitialized(plan.keep.width, plan.keep.height);
                        // Cut in two at an odd place, as threads would.
                        const int count = renderBandCount(plan);
                        renderBands(plan, count / 3, count, bands);
                        renderBands(plan, 0, count / 3, bands);
                        QVERIFY2(samePixels(bands, windowWay), qPrintable(row));
                    }
    }

    void gainsScaleEachChannel_data()
    {
        QTest::addColumn<int>("gr");
        QTest::addColumn<int>("gg");
        QTest::addColumn<int>("gb");
        QTest::addColumn<TColor>("expected");
        QTest::newRow("128,0,255") << 128 << 0 << 255 << RGB(100, 0, 10);
        QTest::newRow("all 255 keep the bytes") << 255 << 255 << 255 << RGB(200, 50, 10);
        QTest::newRow("all 0 give black") << 0 << 0 << 0 << RGB(0, 0, 0);
        QTest::newRow("truncating division") << 1 << 254 << 3 << RGB(0, 49, 0);
    }
    void gainsScaleEachChannel()
    {
        QFETCH(int, gr);
        QFETCH(int, gg);
        QFETCH(int, gb);
        QFETCH(TColor, expected);
        TBitmap f1, f2;
        f1.setSize(3, 2);
        f2.setSize(3, 2);
        f1.setFillColor(RGB(200, 1, 1));
        f1.fillRect(0, 0, 3, 2);
        f2.setFillColor(RGB(9, 50, 10));
        f2.fillRect(0, 0, 3, 2);
        BlockInputs in { &f1, &f2, 3, 2, 0, 0, false, { gr, gg, gb } };
        const TBitmap work = fastWork(in, 1, 3, 2);
        QCOMPARE(work.pixel(2, 1), expected);
        QCOMPARE(referenceAnaglyph(f1, f2, 0, 0, false, { gr, gg, gb }).pixel(0, 0), expected);
        for (int g = 0; g <= 255; ++g)
            for (int v = 0; v <= 255; v += 5)
                QCOMPARE(scaleChannel(g, v), g * v / 255);
    }

    void emptyFramesBuildWhite()
    {
        const TBitmap none;
        BlockInputs in { &none, &none, 6, 4, 0, 0, false, { 255, 255, 255 } };
        const TBitmap work = fastWork(in, 1, 6, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                QCOMPARE(work.pixel(x, y), clWhite);
        in.gains = { 10, 20, 30 };
        QCOMPARE(fastWork(in, 1, 6, 4).pixel(0, 0), RGB(10, 20, 30));
    }

    // Each side of the overlap stops at 0 on its own.
    void offsetsPastTheFramesEmptyOneSideOfTheReference()
    {
        const TBitmap f = patterned(10, 8, 0);
        const struct {
            int dx, dy, width, height;
        } cases[] = { { 10, 0, 0, 8 }, { 0, -8, 10, 0 }, { -25, 3, 0, 5 }, { 11, 9, 0, 0 } };
        for (const auto& c : cases) {
            const TBitmap a = referenceAnaglyph(f, f, c.dx, c.dy, false, {});
            QCOMPARE(a.width(), c.width);
            QCOMPARE(a.height(), c.height);
            QVERIFY(a.empty());
        }
    }

    void overlapKeepsEachSideOnItsOwn_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<QRect>("overlap");
        QTest::newRow("no offset") << 0 << 0 << QRect(0, 0, 640, 480);
        QTest::newRow("5,-3") << 5 << -3 << QRect(5, 0, 635, 477);
        QTest::newRow("-7,2") << -7 << 2 << QRect(0, 2, 633, 478);
        QTest::newRow("dx = width") << 640 << 0 << QRect(640, 0, 0, 480);
        QTest::newRow("dx = -width") << -640 << 0 << QRect(0, 0, 0, 480);
        QTest::newRow("dy = height") << 0 << 480 << QRect(0, 480, 640, 0);
        QTest::newRow("both past") << 700 << -500 << QRect(700, 0, 0, 0);
        QTest::newRow("most negative int") << INT_MIN << 1 << QRect(0, 1, 0, 479);
        QTest::newRow("largest int") << INT_MAX << INT_MAX << QRect(INT_MAX, INT_MAX, 0, 0);
    }
    void overlapKeepsEachSideOnItsOwn()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(QRect, overlap);
        const Overlap o = overlapOf(640, 480, dx, dy);
        QCOMPARE(QRect(o.x, o.y, o.width, o.height), overlap);
        QCOMPARE(o.empty(), overlap.isEmpty());

        // The crop has the overlap's size and its top-left pixel is the
        // working bitmap's pixel at the overlap's origin.
        TBitmap work = patterned(640, 480, 3);
        const TColor corner = work.pixel(o.x, o.y);
        const TBitmap crop = cropToOverlap(std::move(work), o);
        QCOMPARE(crop.width(), o.width);
        QCOMPARE(crop.height(), o.height);
        QVERIFY(work.empty());
        if (!o.empty())
            QCOMPARE(crop.pixel(0, 0), corner);
    }

    // The block grid and the gauge: how far the last run of a build leaves
    // the gauge, against its maximum.
    void blockGridAndGauge_data()
    {
        QTest::addColumn<int>("W");
        QTest::addColumn<int>("H");
        QTest::addColumn<int>("s");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("last"); // the gauge after the last run
        QTest::newRow("build 640x480") << 640 << 480 << 1 << 481 << 641 << 307200 << 307840;
        QTest::newRow("preview 7 on 640x480") << 640 << 480 << 7 << 69 << 92 << 307200 << 305277;
        QTest::newRow("step divides both sides") << 100 << 80 << 4 << 21 << 26 << 8000 << 8100;
        QTest::newRow("step larger than the frame") << 5 << 3 << 10 << 1 << 1 << 15 << 0;
        QTest::newRow("beyond int") << 50000 << 50000 << 1 << 50001 << 50001 << INT_MAX << INT_MAX;
    }
    void blockGridAndGauge()
    {
        QFETCH(int, W);
        QFETCH(int, H);
        QFETCH(int, s);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(int, maximum);
        QFETCH(int, last);
        QCOMPARE(blocksAlong(H, s), rows);
        QCOMPARE(blocksAlong(W, s), columns);
        QCOMPARE(gaugeMaximum(W, H), maximum);
        const long long x = blockOrigin(columns - 1, s);
        const int y = int(blockOrigin(rows - 1, s));
        QCOMPARE(gaugePosition(W, x, y), last);
        // Every pixel lies in the block whose origin is at or before it and
        // less than a step away.
        for (int p : { 0, s - 1, s, W - 1 }) {
            const int origin = originOfBlockHolding(p, s);
            QVERIFY(origin <= p && p - origin < s && origin % s == 0);
        }
    }
};

QTEST_APPLESS_MAIN(TestAnaglyph)
#include "test_anaglyph.moc"
