#include "widgets/gauge.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QImage>
#include <QTest>

#include <climits>

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kWhite = 0xFFFFFFFFu;

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QImage render(TGauge& gauge)
{
    return gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Where the percentage text may put pixels: its bounding box in the widget's
// font, centred, with a pixel of slack for anti-aliasing.
QRect textArea(const TGauge& gauge)
{
    const QString text = QString::asprintf("%d%%", gauge.percentDone());
    return QFontMetrics(gauge.font())
        .boundingRect(gauge.rect(), Qt::AlignCenter, text)
        .adjusted(-1, -1, 1, 1);
}

} // namespace

class TestGauge : public QObject {
    Q_OBJECT

private slots:
    void accessibleAsProgressBar()
    {
        // First of the tests, so that the constructor, not an earlier call,
        // is what makes the gauge visible to the accessibility layer.
        TGauge gauge;
        gauge.setMaxValue(60000);
        gauge.setProgress(22222);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&gauge);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::ProgressBar);
        QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("37%"));
        QAccessibleValueInterface* value = iface->valueInterface();
        QVERIFY(value);
        QCOMPARE(value->currentValue().toInt(), 22222);
        QCOMPARE(value->minimumValue().toInt(), 0);
        QCOMPARE(value->maximumValue().toInt(), 60000);
        QCOMPARE(value->minimumStepSize().toInt(), 0);
        // Read-only: only the builder moves the gauge.
        value->setCurrentValue(5);
        QCOMPARE(gauge.progress(), 22222);
        gauge.setProgress(60000);
        QCOMPARE(value->currentValue().toInt(), 60000);
        QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("100%"));

        // Installing again changes nothing for new gauges.
        installGaugeAccessibility();
        TGauge second;
        QAccessibleInterface* secondIface = QAccessible::queryAccessibleInterface(&second);
        QVERIFY(secondIface);
        QCOMPARE(secondIface->role(), QAccessible::ProgressBar);
    }

    void startsEmpty()
    {
        TGauge gauge;
        QCOMPARE(gauge.minValue(), 0);
        QCOMPARE(gauge.maxValue(), 100);
        QCOMPARE(gauge.progress(), 0);
        QCOMPARE(gauge.percentDone(), 0);
    }

    void percentDone_data()
    {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("expected");
        QTest::newRow("37 of 100") << 0 << 100 << 37 << 37;
        QTest::newRow("thirds truncate") << 0 << 3 << 2 << 66;
        QTest::newRow("max equals min") << 0 << 0 << 0 << 0;
        QTest::newRow("max equals min, nonzero") << 5 << 5 << 5 << 0;
        QTest::newRow("negative minimum") << -100 << 100 << 0 << 50;
        QTest::newRow("640x480 build ends") << 0 << 307200 << 307200 << 100;
        QTest::newRow("640x480 one short") << 0 << 307200 << 307199 << 99;
        // Preview with block step 7 on 640 x 480 ends at 640*476 + 91*7.
        QTest::newRow("640x480 preview step 7") << 0 << 307200 << 305277 << 99;
        // 100 * progress overflows 32 bits here.
        QTest::newRow("int max range") << 0 << INT_MAX << INT_MAX - 1 << 99;
        QTest::newRow("full int range") << INT_MIN << INT_MAX << 0 << 50;
    }
    void percentDone()
    {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(int, progress);
        QFETCH(int, expected);
        TGauge gauge;
        gauge.setMinValue(minValue);
        gauge.setMaxValue(maxValue);
        gauge.setProgress(progress);
        QCOMPARE(gauge.progress(), progress);
        QCOMPARE(gauge.percentDone(), expected);
    }

    void progressStaysInRange()
    {
        TGauge gauge;
        gauge.setMaxValue(60000);
        gauge.setProgress(50000);
        gauge.setMaxValue(100);
        QCOMPARE(gauge.progress(), 100);
        gauge.setProgress(-5);
        QCOMPARE(gauge.progress(), 0);
        gauge.setProgress(101);
        QCOMPARE(gauge.progress(), 100);
        gauge.setMinValue(150);
        QCOMPARE(gauge.progress(), 150);
        QCOMPARE(gauge.maxValue(), 150);
        gauge.setMaxValue(-10);
        QCOMPARE(gauge.minValue(), -10);
        QCOMPARE(gauge.progress(), -10);
    }

    void drawing_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<int>("progress");
        // Black inside columns counted from x = 1.
        QTest::addColumn<int>("barColumns");
        QTest::addColumn<bool>("textOnWhite");
        QTest::addColumn<bool>("textOnBar");
        // The real gauge is 105 wide: inside 103, w = 104.
        QTest::newRow("0%") << 105 << 100 << 0 << 0 << true << false;
        QTest::newRow("1%: 1.04") << 105 << 100 << 1 << 1 << true << false;
        QTest::newRow("37%: 38.48") << 105 << 100 << 37 << 38 << true << false;
        QTest::newRow("50%: text on both") << 105 << 100 << 50 << 52 << true << true;
        QTest::newRow("99%: 102.96") << 105 << 100 << 99 << 102 << false << true;
        QTest::newRow("100% fills the inside") << 105 << 100 << 100 << 103 << false << true;
        QTest::newRow("640x480 build") << 105 << 307200 << 307200 << 103 << false << true;
        // w = 100: 29 * 0.01 is a shade under 0.29 in binary, so the edge
        // is 28.999999999999996, not 29.
        QTest::newRow("29%: floating point") << 101 << 100 << 29 << 28 << true << false;
        // w = 49: 0.98 is below 1, nothing is filled.
        QTest::newRow("2% of a narrow gauge") << 50 << 100 << 2 << 0 << true << false;
    }
    void drawing()
    {
        QFETCH(int, width);
        QFETCH(int, maxValue);
        QFETCH(int, progress);
        QFETCH(int, barColumns);
        QFETCH(bool, textOnWhite);
        QFETCH(bool, textOnBar);

        TGauge gauge;
        QFont font = gauge.font();
        font.setPixelSize(12);
        gauge.setFont(font);
        gauge.resize(width, 25);
        gauge.setMaxValue(maxValue);
        gauge.setProgress(progress);
        const QImage img = render(gauge);
        QCOMPARE(img.size(), QSize(width, 25));
        const QRect text = textArea(gauge);
        const int h = img.height();

        int darkTextOnWhite = 0;
        int lightTextOnBar = 0;
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                const bool frame = x == 0 || y == 0 || x == width - 1 || y == h - 1;
                const bool onBar = !frame && x <= barColumns;
                if (!frame && text.contains(x, y)) {
                    if (onBar && row[x] != kBlack)
                        ++lightTextOnBar;
                    if (!onBar && row[x] != kWhite)
                        ++darkTextOnWhite;
                    continue;
                }
                const QRgb expected = frame || onBar ? kBlack : kWhite;
                if (row[x] != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(row[x], 8, 16)
                                         .arg(expected, 8, 16)));
            }
        }
        // The text shows in the inverse colour of what lies beneath it.
        QCOMPARE(darkTextOnWhite > 0, textOnWhite);
        QCOMPARE(lightTextOnBar > 0, textOnBar);
        if (textOnBar) {
            // White, not merely grey, where a glyph covers a whole pixel.
            bool pureWhite = false;
            for (int y = text.top(); y <= text.bottom(); ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
                for (int x = std::max(text.left(), 1); x <= std::min(text.right(), barColumns); ++x)
                    pureWhite = pureWhite || row[x] == kWhite;
            }
            QVERIFY(pureWhite);
        }
    }

    void repaintsOnlyWhenThePercentageChanges()
    {
        TGauge gauge;
        gauge.resize(105, 25);
        gauge.setMaxValue(60000);
        gauge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gauge));
        PaintCounter counter;
        gauge.installEventFilter(&counter);
        // Something must paint at all, or counting proves nothing.
        gauge.update();
        QTRY_VERIFY(counter.paints > 0);
        QTest::qWait(50);
        counter.paints = 0;

        // As a build does it: one step, then pending events, 60000 times.
        for (int i = 0; i <= 60000; ++i) {
            gauge.setProgress(i);
            QCoreApplication::processEvents();
        }
        QCOMPARE(counter.paints, 100);

        // A range change repaints only when it moves the percentage.
        counter.paints = 0;
        gauge.setMaxValue(119999); // 60000 / 119999 is still 50%
        QCoreApplication::processEvents();
        QCOMPARE(gauge.percentDone(), 50);
        QCOMPARE(counter.paints, 1);
        gauge.setMaxValue(120000);
        gauge.setMinValue(1);
        QCoreApplication::processEvents();
        QCOMPARE(gauge.percentDone(), 49);
        QCOMPARE(counter.paints, 2);
        gauge.setMinValue(0);
        gauge.setMaxValue(120000);
        QCoreApplication::processEvents();
        QCOMPARE(gauge.percentDone(), 50);
        QCOMPARE(counter.paints, 3);
        gauge.setMaxValue(119999);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 3);
    }

};

QTEST_MAIN(TestGauge)
#include "test_gauge.moc"
