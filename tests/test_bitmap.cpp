// Colours and the bitmap's resize, fill, copy and out-of-range read rules.
#include "compose/bitmap.h"

#include <QTest>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

namespace {

TBitmap filled(int w, int h, TColor c)
{
    TBitmap b;
    b.setSize(w, h);
    b.setFillColor(c);
    b.fillRect(0, 0, w, h);
    return b;
}

int countPixels(const TBitmap& b, TColor c)
{
    int n = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            n += b.pixel(x, y) == c;
    return n;
}

} // namespace

class TestBitmap : public QObject {
    Q_OBJECT
private slots:
    void colourFunctions()
    {
        QCOMPARE(RGB(0, 255, 255), TColor(16776960));
        QCOMPARE(RGB(0, 255, 255), clAqua);
        QCOMPARE(GetGValue(RGB(10, 20, 30)), 20);
        QCOMPARE(GetRValue(RGB(300, 0, 0)), 44);
        QCOMPARE(GetBValue(RGB(1, 2, -1)), 255);
        QCOMPARE(GetRValue(CLR_INVALID), 255);
        QCOMPARE(GetGValue(CLR_INVALID), 255);
        QCOMPARE(GetBValue(CLR_INVALID), 255);
        for (TColor c : { clBlack, clWhite, clRed, clAqua, clGreen, clNavy, RGB(1, 2, 3) })
            QCOMPARE(colorFromPixel(pixelFromColor(c)), c);
    }

    void readsOutsideAreInvalid_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("inside");
        QTest::newRow("left of it") << -1 << 0 << false;
        QTest::newRow("right of it") << 4 << 0 << false;
        QTest::newRow("below it") << 0 << 3 << false;
        QTest::newRow("above it") << 0 << -1 << false;
        QTest::newRow("last pixel") << 3 << 2 << true;
        QTest::newRow("first pixel") << 0 << 0 << true;
    }
    void readsOutsideAreInvalid()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(bool, inside);
        TBitmap b = filled(4, 3, RGB(1, 2, 3));
        QCOMPARE(b.pixel(x, y), inside ? RGB(1, 2, 3) : CLR_INVALID);
    }

    void emptyBitmapReadsInvalidEverywhere()
    {
        TBitmap b;
        QCOMPARE(b.pixel(0, 0), CLR_INVALID);
        b.setWidth(3);
        QVERIFY(b.empty());
        QCOMPARE(b.width(), 3);
        QCOMPARE(b.height(), 0);
        QCOMPARE(b.pixel(0, 0), CLR_INVALID);
    }

    void newSizeIsWhite()
    {
        TBitmap b;
        b.setWidth(3);
        b.setHeight(2);
        QCOMPARE(countPixels(b, clWhite), 6);
    }

    void enlargingKeepsPictureAndFillsTheRest_data()
    {
        QTest::addColumn<TColor>("fill");
        QTest::newRow("white fill") << clWhite;
        QTest::newRow("red fill") << clRed;
    }
    void enlargingKeepsPictureAndFillsTheRest()
    {
        QFETCH(TColor, fill);
        TBitmap b = filled(2, 2, clBlack);
        b.setFillColor(fill);
        b.setWidth(3);
        b.setHeight(3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                QCOMPARE(b.pixel(x, y), (x < 2 && y < 2) ? clBlack : fill);
    }

    void reducingKeepsTopLeft()
    {
        TBitmap b = filled(4, 4, clBlack);
        b.setFillColor(clRed);
        b.fillRect(1, 1, 2, 2);
        b.setSize(2, 2);
        QCOMPARE(b.pixel(0, 0), clBlack);
        QCOMPARE(b.pixel(1, 1), clRed);
        QCOMPARE(b.pixel(2, 2), CLR_INVALID);
    }

    void emptiedAndRegrownTakesFillColour()
    {
        TBitmap b = filled(2, 2, clBlack);
        b.setWidth(0);
        QVERIFY(b.empty());
        QCOMPARE(b.height(), 2);
        b.setWidth(2);
        QCOMPARE(countPixels(b, clBlack), 4); // fill colour is still black
        TBitmap fresh;
        fresh.setSize(2, 2);
        QCOMPARE(fresh.pixel(0, 0), clWhite); // a read leaves the fill colour white
        fresh.setWidth(0);
        fresh.setWidth(5);
        QCOMPARE(countPixels(fresh, clWhite), 10);
        // The fill colour goes with the bitmap when it is moved, set before
        // there were any pixels.
        TBitmap red;
        red.setFillColor(clRed);
        TBitmap moved(std::move(red));
        moved.setSize(2, 1);
        QCOMPARE(countPixels(moved, clRed), 2);
        TBitmap assigned;
        assigned = std::move(moved);
        assigned.setSize(3, 1);
        QCOMPARE(countPixels(assigned, clRed), 3);
    }

    void fillIsClippedAndExcludesRightBottom()
    {
        TBitmap b = filled(4, 4, clWhite);
        b.setFillColor(clBlack);
        b.fillRect(2, 2, 6, 6);
        QCOMPARE(countPixels(b, clBlack), 4);
        for (int y = 2; y < 4; ++y)
            for (int x = 2; x < 4; ++x)
                QCOMPARE(b.pixel(x, y), clBlack);
        TBitmap c = filled(4, 4, clWhite);
        c.setFillColor(clBlack);
        c.fillRect(4, 0, 5, 1);
        c.fillRect(3, 3, 3, 4); // right == left
        c.fillRect(-5, -5, 0, 0);
        QCOMPARE(countPixels(c, clBlack), 0);
    }

    void copyRectCopiesExactlyTheBlock()
    {
        TBitmap src;
        src.setSize(5, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                src.scanLine(y)[x] = pixelFromColor(RGB(x, y, 7));
        TBitmap dst = filled(6, 6, clWhite);
        dst.copyRect(1, 2, src, 2, 1, 3, 2);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool inBlock = x >= 1 && x < 4 && y >= 2 && y < 4;
                QCOMPARE(dst.pixel(x, y), inBlock ? RGB(x - 1 + 2, y - 2 + 1, 7) : clWhite);
            }
        // Zero-sized and out-of-range requests change nothing and do not crash.
        TBitmap same = filled(3, 3, clWhite);
        same.copyRect(0, 0, src, 0, 0, 0, 4);
        same.copyRect(0, 0, src, 10, 10, 3, 3);
        same.copyRect(-2, -2, src, 0, 0, 3, 3); // only (0,0) lands inside
        QCOMPARE(same.pixel(0, 0), RGB(2, 2, 7));
        QCOMPARE(countPixels(same, clWhite), 8);
    }

    // A crop in place keeps exactly the rectangle (clipped to the bitmap):
    // rows that overlap where they are moved to must not be overwritten
    // before they are read.
    void cropKeepsTheRectangleInPlace_data()
    {
        QTest::addColumn<QRect>("asked");
        QTest::addColumn<QRect>("kept");
        QTest::newRow("inside") << QRect(3, 2, 4, 3) << QRect(3, 2, 4, 3);
        QTest::newRow("one column wide") << QRect(8, 0, 1, 6) << QRect(8, 0, 1, 6);
        QTest::newRow("all but the first column") << QRect(1, 0, 8, 6) << QRect(1, 0, 8, 6);
        QTest::newRow("the whole") << QRect(0, 0, 9, 6) << QRect(0, 0, 9, 6);
        QTest::newRow("past the edges") << QRect(-2, 4, 20, 9) << QRect(0, 4, 9, 2);
        QTest::newRow("outside") << QRect(9, 0, 3, 3) << QRect();
        QTest::newRow("no width") << QRect(2, 2, 0, 3) << QRect();
    }

    void cropKeepsTheRectangleInPlace()
    {
        QFETCH(QRect, asked);
        QFETCH(QRect, kept);
        TBitmap b;
        b.setSize(9, 6);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 9; ++x)
                b.scanLine(y)[x] = pixelFromColor(RGB(x, y, 7));
        const std::uint32_t* store = b.bits();
        b.crop(asked.x(), asked.y(), asked.width(), asked.height());
        QCOMPARE(b.width(), kept.width());
        QCOMPARE(b.height(), kept.height());
        if (kept.isEmpty())
            return;
        QCOMPARE(b.bits(), store);
        for (int y = 0; y < kept.height(); ++y)
            for (int x = 0; x < kept.width(); ++x)
                QCOMPARE(b.pixel(x, y), RGB(kept.x() + x, kept.y() + y, 7));
    }

    // Two threads read one frame at once, by pixel and as the source of
    // copyRect. Reads must write nothing to the bitmap; a ThreadSanitizer
    // build of this test reports any that does.
    void threadsReadOneBitmapAtOnce()
    {
        constexpr int w = 64, h = 48;
        TBitmap frame;
        frame.setSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                frame.scanLine(y)[x] = pixelFromColor(RGB(x, y, x ^ y));
        const TBitmap& shared = frame;
        // Each thread: every pixel read and compared, then the frame copied
        // in strips into a bitmap of its own, many times over.
        auto reader = [&shared](int& mismatches, TBitmap& copy) {
            copy.setSize(w, h);
            for (int round = 0; round < 50; ++round) {
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        mismatches += shared.pixel(x, y) != RGB(x, y, x ^ y);
                for (int y = 0; y < h; y += 8)
                    copy.copyRect(0, y, shared, 0, y, w, 8);
            }
        };
        int mismatches[2] = { 0, 0 };
        TBitmap copies[2];
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t)
            threads.emplace_back(reader, std::ref(mismatches[t]), std::ref(copies[t]));
        for (std::thread& t : threads)
            t.join();
        for (int t = 0; t < 2; ++t) {
            QCOMPARE(mismatches[t], 0);
            for (int y = 0; y < h; ++y)
                QVERIFY(std::equal(copies[t].scanLine(y), copies[t].scanLine(y) + w, frame.scanLine(y)));
        }
    }

    void takeOverMovesPixelsAndSize()
    {
        TBitmap a = filled(3, 2, clNavy);
        TBitmap b;
        b.takeOver(std::move(a));
        QCOMPARE(b.width(), 3);
        QCOMPARE(b.height(), 2);
        QCOMPARE(countPixels(b, clNavy), 6);
        QVERIFY(a.empty());
    }

    void liveCountFollowsLifetimes()
    {
        const long before = TBitmap::liveCount();
        {
            TBitmap a;
            TBitmap b(std::move(a));
            QCOMPARE(TBitmap::liveCount(), before + 2);
        }
        QCOMPARE(TBitmap::liveCount(), before);
    }
};

QTEST_APPLESS_MAIN(TestBitmap)
#include "test_bitmap.moc"
