// Building and previewing through the window's controls: the size test, the
// shared pixel table, swap, crop, the gauge, and what a build leaves behind
// when events change its inputs, an error stops it or the window is closed.
#include "anaglyph_cases.h"
#include "app/form.h"
#include "app/widgets.h"
#include "compose/errors.h"
#include "widgets/gauge.h"
#include "compose/pacing.h"
#include "widgets/spinedit.h"
#include "fixtures.h"
#include "gui_test.h"
#include "reference_anaglyph.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iterator>

namespace {

// Wraps a pacing and, once a given number of blocks is done, posts an event
// that changes something; the event runs whenever the wrapped pacing next
// lets events run, and records how many blocks were done by then.
class ProbePacing : public BuildPacing {
public:
    ProbePacing(std::unique_ptr<BuildPacing> inner, long long at, std::function<void()> change)
        : inner_(std::move(inner))
        , at_(at)
        , change_(std::move(change))
    {
    }
    void start(EventPump pump) override
    {
        inner_->start(std::move(pump));
        blocks_ = 0;
    }
    int runLength() override { return inner_->runLength(); }
    void afterRun(int blocks) override
    {
        blocks_ += blocks;
        if (!posted_ && blocks_ >= at_) {
            posted_ = true;
            QTimer::singleShot(0, [this] {
                firedAt = blocks_;
                change_();
            });
        }
        inner_->afterRun(blocks);
    }
    long long blocks() const { return blocks_; }
    long long firedAt = -1;

private:
    std::unique_ptr<BuildPacing> inner_;
    long long at_;
    std::function<void()> change_;
    long long blocks_ = 0;
    bool posted_ = false;
};

// Stops a build with an error after a given number of blocks.
class FailingPacing : public LiteralPacing {
public:
    explicit FailingPacing(long long at) : at_(at) { }
    void afterRun(int blocks) override
    {
        done_ += blocks;
        if (done_ >= at_)
            throw EOrvantaError("Disk on fire");
        LiteralPacing::afterRun(blocks);
    }

private:
    long long at_;
    long long done_ = 0;
};

void typeInto(TSpinEdit* field, const QString& text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

struct Window {
    TForm1 form { testPlatform() };
    Window()
    {
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    void setFrames(TBitmap&& frame1, TBitmap&& frame2)
    {
        form.Image2->setPicture(std::move(frame1));
        form.Image1->setPicture(std::move(frame2));
    }
    void build() { QTest::mouseClick(form.Button3, Qt::LeftButton); }
    void preview() { QTest::mouseClick(form.Button5, Qt::LeftButton); }
    const TBitmap& anaglyph() const { return form.Image3->picture(); }

    // A case of the shared table set up as a person would: the swap box
    // first (it negates the offsets), then offsets, gains and block step.
    void buildCase(const AnaglyphCase& c)
    {
        setFrames(caseFrame1(), caseFrame2());
        if (c.swap)
            QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
        typeInto(form.SpinEdit1, QString::number(c.dx));
        typeInto(form.SpinEdit2, QString::number(c.dy));
        form.TrackBar1->setValue(c.gains.r);
        form.TrackBar2->setValue(c.gains.g);
        form.TrackBar3->setValue(c.gains.b);
        if (c.step == 1) {
            build();
        } else {
            typeInto(form.SpinEdit3, QString::number(c.step));
            preview();
        }
    }
};

} // namespace

class TestBuilder : public QObject {
    Q_OBJECT
private slots:
    void framesOfDifferentSizeAreRefused_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("Russian") << 0 << "Внимание" << "Кадры имеют разный размер! Нельзя построить анаглиф!";
        QTest::newRow("English") << 1 << "Attention" << "Frames have not equal size! Anaglyph cannot be builded!";
    }
    void framesOfDifferentSizeAreRefused()
    {
        QFETCH(int, language);
        QFETCH(QString, title);
        QFETCH(QString, text);
        RecordingBoxes boxes;
        Window w;
        w.form.ComboBox1->setCurrentIndex(language);
        w.setFrames(patterned(640, 480, 1), patterned(800, 600, 2));
        w.form.Gauge1->setProgress(123);
        w.build();
        QCOMPARE(int(boxes.shown.size()), 1);
        QCOMPARE(boxes.shown[0].title, title);
        QCOMPARE(boxes.shown[0].text, text);
        QCOMPARE(boxes.shown[0].icon, BoxIcon::None);
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet4);
        QCOMPARE(w.form.Image3->size(), QSize(640, 480));
        QVERIFY(w.anaglyph().empty());
        QCOMPARE(w.form.Gauge1->progress(), 123);
        QCOMPARE(w.form.Gauge1->maxValue(), 60000);
        QVERIFY(w.form.GroupBox1->isEnabled());
        w.preview();
        QCOMPARE(int(boxes.shown.size()), 2);
    }

    void buildComposesTheSharedCases_data() { addAnaglyphCaseRows(); }
    void buildComposesTheSharedCases()
    {
        QFETCH(int, index);
        const AnaglyphCase& c = kAnaglyphCases[index];
        RecordingBoxes boxes;
        Window w;
        const long bitmaps = TBitmap::liveCount();
        w.buildCase(c);
        QVERIFY(boxes.shown.empty());
        QCOMPARE(w.form.CheckBox1->isChecked(), c.swap);
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet3);
        QCOMPARE(w.form.Image3->size(), QSize(c.width, c.height));
        const QString difference = caseDifference(c, w.anaglyph(), caseFrame1(), caseFrame2());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QVERIFY(w.form.GroupBox1->isEnabled());
        // The frames and the anaglyph remain, the working bitmap is gone.
        QCOMPARE(TBitmap::liveCount(), bitmaps);
        QCOMPARE(w.form.Gauge1->maxValue(), 8000);
        if (c.step == 1)
            QCOMPARE(w.form.Gauge1->percentDone(), 100);
    }

    void swapExchangesTheSourcesAndNegatesTheOffsets()
    {
        Window w;
        w.setFrames(caseFrame1(), caseFrame2());
        typeInto(w.form.SpinEdit1, QStringLiteral("5"));
        typeInto(w.form.SpinEdit2, QStringLiteral("-3"));
        QTest::mouseClick(w.form.CheckBox1, Qt::LeftButton);
        QVERIFY(w.form.CheckBox1->isChecked());
        QCOMPARE(w.form.SpinEdit1->text(), QStringLiteral("-5"));
        QCOMPARE(w.form.SpinEdit2->text(), QStringLiteral("3"));
        w.build();
        // Ticked after the offsets were typed, the box gives what it gives
        // ticked before them.
        const AnaglyphCase* swapped = std::find_if(std::begin(kAnaglyphCases), std::end(kAnaglyphCases),
            [](const AnaglyphCase& c) { return c.swap && c.dx == -5 && c.dy == 3 && c.step == 1; });
        QVERIFY(swapped != std::end(kAnaglyphCases));
        const QString difference = caseDifference(*swapped, w.anaglyph(), caseFrame1(), caseFrame2());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QTest::mouseClick(w.form.CheckBox1, Qt::LeftButton);
        QCOMPARE(w.form.SpinEdit1->text(), QStringLiteral("5"));
        QCOMPARE(w.form.SpinEdit2->text(), QStringLiteral("-3"));
    }

    void clearedOffsetBecomesTenThousandOnSwap()
    {
        Window w;
        typeInto(w.form.SpinEdit1, QString());
        QTest::mouseClick(w.form.CheckBox1, Qt::LeftButton);
        QCOMPARE(w.form.SpinEdit1->text(), QStringLiteral("10000"));
        QCOMPARE(w.form.SpinEdit2->text(), QStringLiteral("0"));
        // Pasted text may hold any integer, the most negative one included.
        w.form.SpinEdit2->setText(QStringLiteral("-2147483648"));
        QTest::mouseClick(w.form.CheckBox1, Qt::LeftButton);
        QCOMPARE(w.form.SpinEdit2->text(), QStringLiteral("10000"));
    }

    void gaugeEndsAtTheBlocksLastOrigin_data()
    {
        QTest::addColumn<int>("step"); // 1 is Build, others Preview
        QTest::addColumn<int>("percent");
        QTest::newRow("build") << 1 << 100;
        QTest::newRow("preview 7") << 7 << 99;
        QTest::newRow("preview 2") << 2 << 100;
    }
    void gaugeEndsAtTheBlocksLastOrigin()
    {
        QFETCH(int, step);
        QFETCH(int, percent);
        // No frame opened: both views are 640 x 480 and the anaglyph is white.
        Window w;
        if (step == 1) {
            w.build();
        } else {
            typeInto(w.form.SpinEdit3, QString::number(step));
            w.preview();
        }
        QCOMPARE(w.form.Gauge1->maxValue(), 307200);
        QCOMPARE(w.form.Gauge1->percentDone(), percent);
        const TBitmap& a = w.anaglyph();
        QCOMPARE(a.width(), 640);
        QCOMPARE(a.height(), 480);
        QVERIFY(samePixels(a, uniform(640, 480, clWhite)));
    }

    // Each side of the anaglyph is W - |dx| or H - |dy| on its own, never
    // below 0: an offset past the frames one way empties that side only.
    void offsetsBeyondTheFramesEmptyTheirSideOfTheAnaglyph_data()
    {
        QTest::addColumn<QString>("dx");
        QTest::addColumn<QString>("dy");
        QTest::addColumn<QSize>("size");
        QTest::newRow("dx = width") << "640" << "0" << QSize(0, 480);
        QTest::newRow("dx = -width, dy 5") << "-640" << "5" << QSize(0, 475);
        QTest::newRow("dy = height") << "0" << "480" << QSize(640, 0);
        QTest::newRow("dx past width") << "700" << "-30" << QSize(0, 450);
        QTest::newRow("dy past height") << "12" << "-5000" << QSize(628, 0);
        QTest::newRow("both past") << "10000" << "10000" << QSize(0, 0);
        QTest::newRow("cleared field reads -10000") << "" << "0" << QSize(0, 480);
    }
    void offsetsBeyondTheFramesEmptyTheirSideOfTheAnaglyph()
    {
        QFETCH(QString, dx);
        QFETCH(QString, dy);
        QFETCH(QSize, size);
        RecordingBoxes boxes;
        Window w;
        w.setFrames(patterned(640, 480, 1), patterned(640, 480, 2));
        typeInto(w.form.SpinEdit1, dx);
        typeInto(w.form.SpinEdit2, dy);
        const long bitmaps = TBitmap::liveCount();
        w.build();
        QVERIFY(boxes.shown.empty());
        QCOMPARE(w.form.Image3->size(), size);
        QCOMPARE(w.anaglyph().width(), size.width());
        QCOMPARE(w.anaglyph().height(), size.height());
        QVERIFY(w.anaglyph().empty());
        QVERIFY(w.form.GroupBox1->isEnabled());
        QCOMPARE(TBitmap::liveCount(), bitmaps);
        // The empty view paints and a later build fills it again.
        w.form.Image3->repaint();
        typeInto(w.form.SpinEdit1, QStringLiteral("0"));
        typeInto(w.form.SpinEdit2, QStringLiteral("0"));
        w.build();
        QCOMPARE(w.form.Image3->size(), QSize(640, 480));
        QVERIFY(samePixels(w.anaglyph(), referenceAnaglyph(patterned(640, 480, 1), patterned(640, 480, 2), 0, 0,
                                             false, {})));
    }

    void redSliderMovedMidBuildAffectsOnlyLaterBlocks()
    {
        Window w;
        w.setFrames(uniform(50, 40, RGB(200, 10, 20)), uniform(50, 40, RGB(30, 40, 50)));
        const long long at = 777; // blocks per row: 51
        auto probe = std::make_unique<ProbePacing>(std::make_unique<LiteralPacing>(), at,
            [&] { w.form.TrackBar1->setValue(0); });
        ProbePacing* p = probe.get();
        w.form.setBuildPacing(std::move(probe));
        w.build();
        QCOMPARE(p->firedAt, at);
        const TBitmap& a = w.anaglyph();
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 50; ++x) {
                const long long block = (long long)y * 51 + x;
                QCOMPARE(a.pixel(x, y), RGB(block < at ? 200 : 0, 40, 50));
            }
        QCOMPARE(w.form.Label3->text(), QStringLiteral("0"));
    }

    // The window's own pacing lets events run only every so often. Whatever
    // block the events came in after, the anaglyph must be the one that
    // events after that same block give with events run after every block.
    void slicedBuildEqualsLiteralBuild_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("gain changes") << 0 << 1 << 4 << -2;
        QTest::newRow("frame 2 replaced") << 1 << 1 << -3 << 5;
        QTest::newRow("frame 2 replaced by a narrower one") << 2 << 1 << 0 << 0;
        QTest::newRow("frame 1 replaced, preview") << 3 << 3 << 7 << 1;
        QTest::newRow("swap box ticked, gain changes") << 0 << 1 << 0 << 0;
    }
    void slicedBuildEqualsLiteralBuild()
    {
        QFETCH(int, change);
        QFETCH(int, step);
        QFETCH(int, dx);
        QFETCH(int, dy);
        const int W = 600, H = 400;
        auto run = [&](std::unique_ptr<BuildPacing> inner, long long at, long long& firedAt) {
            Window w;
            w.setFrames(patterned(W, H, 1), patterned(W, H, 2));
            w.form.SpinEdit1->setValue(dx);
            w.form.SpinEdit2->setValue(dy);
            w.form.SpinEdit3->setValue(step);
            if (QTest::currentDataTag() == QByteArray("swap box ticked, gain changes"))
                w.form.CheckBox1->setChecked(true);
            auto probe = std::make_unique<ProbePacing>(std::move(inner), at, [&] {
                switch (change) {
                case 0: w.form.TrackBar2->setValue(100); break;
                case 1: w.form.Image1->setPicture(patterned(W, H, 9)); break;
                case 2: w.form.Image1->setPicture(patterned(W - 50, H, 9)); break;
                default: w.form.Image2->setPicture(patterned(W, H, 5)); break;
                }
            });
            ProbePacing* p = probe.get();
            w.form.setBuildPacing(std::move(probe));
            if (step == 1)
                w.build();
            else
                w.preview();
            firedAt = p->firedAt;
            TBitmap result;
            result.setSize(w.anaglyph().width(), w.anaglyph().height());
            result.draw(w.anaglyph());
            return result;
        };
        const long long blocks = (long long)(H / step + 1) * (W / step + 1);
        long long slicedAt = -1, literalAt = -1;
        const TBitmap sliced = run(std::make_unique<SlicedPacing>(std::chrono::microseconds(20)), blocks / 3, slicedAt);
        QVERIFY2(slicedAt >= blocks / 3 && slicedAt < blocks, qPrintable(QString::number(slicedAt)));
        const TBitmap literal = run(std::make_unique<LiteralPacing>(), slicedAt, literalAt);
        QCOMPARE(literalAt, slicedAt);
        QVERIFY(!sliced.empty());
        QVERIFY(samePixels(sliced, literal));
    }

    void errorDuringBuildLeavesTheWindowUsable()
    {
        RecordingBoxes boxes;
        Window w;
        w.setFrames(patterned(60, 40, 1), patterned(60, 40, 2));
        const long bitmaps = TBitmap::liveCount();
        w.form.setBuildPacing(std::make_unique<FailingPacing>(500));
        w.build();
        QCOMPARE(int(boxes.shown.size()), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Disk on fire."));
        QVERIFY(w.form.GroupBox1->isEnabled());
        QVERIFY(!w.form.Building());
        QCOMPARE(TBitmap::liveCount(), bitmaps);
        // The next build runs to its end.
        w.form.setBuildPacing(std::make_unique<SlicedPacing>());
        w.build();
        QCOMPARE(w.anaglyph().width(), 60);
        QCOMPARE(int(boxes.shown.size()), 1);
    }

    void closeDuringBuildEndsItAfterTheBuild()
    {
        Window w;
        w.setFrames(patterned(80, 60, 1), patterned(80, 60, 2));
        bool visibleAfterClose = false;
        auto probe = std::make_unique<ProbePacing>(std::make_unique<LiteralPacing>(), 100, [&] {
            w.form.close();
            visibleAfterClose = w.form.isVisible();
        });
        ProbePacing* p = probe.get();
        w.form.setBuildPacing(std::move(probe));
        w.build();
        QCOMPARE(p->firedAt, 100);
        QVERIFY(visibleAfterClose);
        QCOMPARE(w.anaglyph().width(), 80); // the build ran to its end
        QTRY_VERIFY(!w.form.isVisible());
    }
};

ORVANTA_GUI_TEST_MAIN(TestBuilder)
#include "test_builder.moc"
