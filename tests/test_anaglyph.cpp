// The builder's block arithmetic against a naive per-block reading of the
// rules, and the closed form of the anaglyph against explicit pixel tables.
#include "compose/anaglyph.h"
#include "fixtures.h"

#include <QTest>

#include <cstdlib>

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
    for (int r = 0; r <= H / s; ++r)
        for (int c = 0; c <= W / s; ++c)
            naiveBlock(in, s, c * s, r * s, work);
    return work;
}

TBitmap fastWork(const BlockInputs& in, int s, int W, int H)
{
    TBitmap work;
    work.setSize(W, H);
    for (int r = 0; r <= H / s; ++r)
        paintBlockRun(in, s, r * s, 0, W / s, work);
    return work;
}

TBitmap crop(const TBitmap& work, int dx, int dy)
{
    TBitmap out;
    out.setSize(work.width() - std::abs(dx), work.height() - std::abs(dy));
    out.copyRect(0, 0, work, std::max(dx, 0), std::max(dy, 0), out.width(), out.height());
    return out;
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
        TBitmap split;
        split.setSize(w2, h2);
        for (int r = 0; r <= h2 / s; ++r)
            for (int c = 0; c <= w2 / s; c += 3)
                paintBlockRun(in, s, r * s, c, std::min(c + 2, w2 / s), split);
        QVERIFY(samePixels(split, expected));
    }

    void pixelTablesForOffsetFiveMinusThree()
    {
        const TBitmap f1 = patterned(100, 80, 1);
        const TBitmap f2 = patterned(100, 80, 2);
        for (bool swap : { false, true }) {
            const int dx = swap ? -5 : 5;
            const int dy = swap ? 3 : -3;
            BlockInputs in { &f1, &f2, 100, 80, dx, dy, swap, {} };
            const TBitmap a = crop(fastWork(in, 1, 100, 80), dx, dy);
            QCOMPARE(a.width(), 95);
            QCOMPARE(a.height(), 77);
            for (int j = 0; j < 77; ++j)
                for (int i = 0; i < 95; ++i) {
                    // Normal: red from frame 1 at (i+5, j), cyan from frame 2
                    // at (i, j+3). Swapped: red from frame 2 at (i, j+3),
                    // cyan from frame 1 at (i+5, j).
                    const TColor red = swap ? f2.pixel(i, j + 3) : f1.pixel(i + 5, j);
                    const TColor cyan = swap ? f1.pixel(i + 5, j) : f2.pixel(i, j + 3);
                    QCOMPARE(a.pixel(i, j), RGB(GetRValue(red), GetGValue(cyan), GetBValue(cyan)));
                }
            QVERIFY(samePixels(a, referenceAnaglyph(f1, f2, dx, dy, swap, {})));
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

    void previewLeavesAWhiteEdgeForPositiveOffsets()
    {
        const TBitmap f1 = patterned(100, 80, 1);
        const TBitmap f2 = patterned(100, 80, 2);
        BlockInputs in { &f1, &f2, 100, 80, 3, 0, false, {} };
        const TBitmap a = crop(fastWork(in, 4, 100, 80), 3, 0);
        QCOMPARE(a.width(), 97);
        QCOMPARE(a.height(), 80);
        for (int j = 0; j < 80; ++j)
            QCOMPARE(a.pixel(0, j), clWhite);
        // From column 1 on: 4 x 4 squares (columns 1-4, 5-8, ..., 93-96), each
        // in the colour computed at its top-left pixel, working (4k, 4m).
        for (int j = 0; j < 80; ++j)
            for (int i = 1; i < 97; ++i) {
                const int x = ((i + 3) / 4) * 4, y = (j / 4) * 4;
                const TColor red = f1.pixel(x, y);
                const TColor cyan = f2.pixel(x - 3, y);
                QCOMPARE(a.pixel(i, j), RGB(GetRValue(red), GetGValue(cyan), GetBValue(cyan)));
            }
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

    void noOverlapGivesEmptyReference()
    {
        const TBitmap f = patterned(10, 10, 0);
        QVERIFY(referenceAnaglyph(f, f, 10, 0, false, {}).empty());
        QVERIFY(referenceAnaglyph(f, f, 0, -12, true, {}).empty());
    }
};

QTEST_APPLESS_MAIN(TestAnaglyph)
#include "test_anaglyph.moc"
