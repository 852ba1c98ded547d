// The general error report: an error escaping any handler is shown once, in
// the program's own words, and the event loop carries on.
#include "compose/errors.h"
#include "gui_test.h"

#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <new>

namespace {

// What a handler may run into: kind 5 is nothing at all.
void runInto(int kind)
{
    switch (kind) {
    case 0: throw EOrvantaError("Cannot do it");
    case 1: throw EOrvantaError("Already stopped.");
    case 2: throw EOrvantaError("");
    case 3: throw EAbort();
    case 4: throw std::bad_alloc();
    default: break;
    }
}

class ThrowingPaint : public QWidget {
public:
    bool armed = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        if (armed) {
            armed = false;
            throw EOrvantaError("Paint failed");
        }
    }
};

} // namespace

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ends in a letter") << "Stream write error" << "Stream write error.";
        QTest::newRow("ends in a Cyrillic letter") << "Ошибка" << "Ошибка.";
        QTest::newRow("ends in a digit") << "JPEG error #41" << "JPEG error #41.";
        QTest::newRow("ends in a colon") << "Reason:" << "Reason:.";
        QTest::newRow("ends in a question mark") << "Why?" << "Why?.";
        QTest::newRow("ends in a full stop") << "Done." << "Done.";
        QTest::newRow("ends in !") << "Stop!" << "Stop!";
        QTest::newRow("ends in )") << "(x)" << "(x)";
        QTest::newRow("ends in ,") << "a," << "a,";
        QTest::newRow("ends in a space") << "a " << "a ";
        QTest::newRow("empty") << "" << "";
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(errorReportText(message), shown);
    }

    void errorInClickIsReportedAndNextClickWorks_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("finishes"); // whether the handler runs past the call
        QTest::newRow("message ending in a letter") << 0 << 1 << "Cannot do it." << false;
        QTest::newRow("message ending in a full stop") << 1 << 1 << "Already stopped." << false;
        QTest::newRow("empty message") << 2 << 1 << "" << false;
        QTest::newRow("abort is silent") << 3 << 0 << "" << false;
        QTest::newRow("out of memory") << 4 << 1 << "Out of system resources." << false;
        QTest::newRow("no error") << 5 << 0 << "" << true;
    }
    void errorInClickIsReportedAndNextClickWorks()
    {
        QFETCH(int, kind);
        QFETCH(int, boxes);
        QFETCH(QString, text);
        QFETCH(bool, finishes);
        RecordingBoxes recorder;
        QWidget window;
        auto* failing = new QPushButton(QStringLiteral("fail"), &window);
        auto* working = new QPushButton(QStringLiteral("work"), &window);
        working->move(0, 40);
        // The handler counts its starts and its ends: an error must cut it
        // short at the call, and the report must not hide a handler that
        // never ran (the silent abort would look the same).
        int started = 0;
        int finished = 0;
        int worked = 0;
        // Handlers run the way the window's wiring runs its own.
        connect(failing, &QPushButton::clicked, this, [&] {
            runHandler(testPlatform(), [&] {
                ++started;
                runInto(kind);
                ++finished;
            });
        });
        connect(working, &QPushButton::clicked, this, [&] { runHandler(testPlatform(), [&] { ++worked; }); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(failing, Qt::LeftButton);
        QCOMPARE(started, 1);
        QCOMPARE(finished, finishes ? 1 : 0);
        QCOMPARE(int(recorder.shown.size()), boxes);
        if (boxes) {
            QCOMPARE(recorder.shown[0].title, QStringLiteral("Orvanta"));
            QCOMPARE(recorder.shown[0].text, text);
            QCOMPARE(recorder.shown[0].icon, BoxIcon::Error);
        }
        QTest::mouseClick(working, Qt::LeftButton);
        QTest::mouseClick(working, Qt::LeftButton);
        QCOMPARE(worked, 2);
        // The failing handler runs again and is reported again.
        QTest::mouseClick(failing, Qt::LeftButton);
        QCOMPARE(started, 2);
        QCOMPARE(finished, finishes ? 2 : 0);
        QCOMPARE(int(recorder.shown.size()), 2 * boxes);
    }

    void errorsInTimerTicksAndRepaintsAreReported()
    {
        RecordingBoxes recorder;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(1);
        connect(&timer, &QTimer::timeout, this, [&] {
            if (++ticks == 1)
                throw EOrvantaError("Tick failed");
        });
        timer.start();
        QTRY_VERIFY(ticks >= 3); // the timer keeps ticking after the error
        timer.stop();
        QCOMPARE(int(recorder.shown.size()), 1);
        QCOMPARE(recorder.shown[0].text, QStringLiteral("Tick failed."));

        ThrowingPaint w;
        w.resize(50, 50);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.armed = true;
        w.repaint();
        QCOMPARE(int(recorder.shown.size()), 2);
        QCOMPARE(recorder.shown[1].text, QStringLiteral("Paint failed."));
        w.repaint(); // painting works again
        QCOMPARE(int(recorder.shown.size()), 2);
    }
};

ORVANTA_GUI_TEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
