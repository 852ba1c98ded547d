// The glasses calibration: sliders, their value labels, the swatches, and the
// calibration area as it is painted.
#include "app/form.h"
#include "app/widgets.h"
#include "fixtures.h"
#include "gui_test.h"
#include "reference_anaglyph.h"

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

class TestCalibration : public QObject {
    Q_OBJECT
private slots:
    void slidersStartAtFullGain()
    {
        TForm1 form { testPlatform() };
        for (QSlider* s : { form.TrackBar1, form.TrackBar2, form.TrackBar3 })
            QCOMPARE(s->value(), 255);
        QCOMPARE(form.Panel1->color(), clRed);
        QCOMPARE(form.Panel2->color(), clAqua);
    }

    void keysMoveTheSlidersAndTheSwatchesFollow()
    {
        TForm1 form { testPlatform() };
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.TrackBar1->setFocus();
        const int wideLabel = form.Label3->width();
        QTest::keyClick(form.TrackBar1, Qt::Key_Left);
        QCOMPARE(form.TrackBar1->value(), 254);
        QTest::keyClick(form.TrackBar1, Qt::Key_PageDown);
        QCOMPARE(form.TrackBar1->value(), 252);
        QCOMPARE(form.Label3->text(), QStringLiteral("252"));
        QCOMPARE(form.Panel1->color(), RGB(252, 0, 0));
        QTest::keyClick(form.TrackBar1, Qt::Key_Home);
        QCOMPARE(form.Label3->text(), QStringLiteral("0"));
        QCOMPARE(form.Panel1->color(), clBlack);
        QVERIFY(form.Label3->width() < wideLabel); // the label takes the width of its text
        QTest::keyClick(form.TrackBar1, Qt::Key_Up);
        QCOMPARE(form.Label3->text(), QStringLiteral("1"));
        QTest::keyClick(form.TrackBar1, Qt::Key_End);
        QCOMPARE(form.Label3->text(), QStringLiteral("255"));
        QCOMPARE(form.Panel1->color(), clRed);

        // The cyan swatch takes both green and blue, whichever moved last.
        form.TrackBar2->setValue(128);
        QCOMPARE(form.Panel2->color(), RGB(0, 128, 255));
        form.TrackBar3->setValue(0);
        form.TrackBar3->setValue(255);
        QCOMPARE(form.Panel2->color(), RGB(0, 128, 255));
        QCOMPARE(form.Label4->text(), QStringLiteral("128"));
        QCOMPARE(form.Label5->text(), QStringLiteral("255"));
    }

    void calibrationAreaStacksFieldsAndSwatches()
    {
        TForm1 form { testPlatform() };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QImage area = form.GroupBox3->grab().toImage().convertToFormat(QImage::Format_RGB32);
        auto at = [&](int x, int y) { return QColor(area.pixel(x, y)).rgb() & 0xFFFFFF; };
        // Black field from y = 16 to 47, white from 48 to 80; each swatch has
        // 16 rows on black and 17 on white. Sample inside the bevels.
        QCOMPARE(at(14, 20), 0x000000u);
        QCOMPARE(at(14, 44), 0x000000u);
        QCOMPARE(at(14, 52), 0xFFFFFFu);
        QCOMPARE(at(114, 76), 0xFFFFFFu);
        for (int y : { 34, 47, 48, 62 }) {
            QCOMPARE(at(40, y), 0xFF0000u);
            QCOMPARE(at(88, y), 0x00FFFFu);
        }
    }

    void gainsScaleTheBuild_data()
    {
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("g");
        QTest::addColumn<int>("b");
        QTest::newRow("zero gains give black") << 0 << 0 << 0;
        QTest::newRow("128, 0, 255") << 128 << 0 << 255;
    }
    void gainsScaleTheBuild()
    {
        QFETCH(int, r);
        QFETCH(int, g);
        QFETCH(int, b);
        TForm1 form { testPlatform() };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const TBitmap f1 = patterned(30, 20, 1), f2 = patterned(30, 20, 2);
        form.Image2->setPicture(patterned(30, 20, 1));
        form.Image1->setPicture(patterned(30, 20, 2));
        form.TrackBar1->setValue(r);
        form.TrackBar2->setValue(g);
        form.TrackBar3->setValue(b);
        QTest::mouseClick(form.Button3, Qt::LeftButton);
        QVERIFY(samePixels(form.Image3->picture(), referenceAnaglyph(f1, f2, 0, 0, false, { r, g, b })));
        if (r == 0 && g == 0 && b == 0)
            QVERIFY(samePixels(form.Image3->picture(), uniform(30, 20, clBlack)));
    }
};

ORVANTA_GUI_TEST_MAIN(TestCalibration)
#include "test_calibration.moc"
