// orvanta-compose writes the same file, byte for byte, as the window does
// when it opens the same two files, builds with the same settings and saves
// the anaglyph.
#include "app/form.h"
#include "app/widgets.h"
#include "widgets/spinedit.h"
#include "fixtures.h"
#include "gui_test.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"

#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

namespace {

const QString program = QStringLiteral(ORVANTA_COMPOSE);

QByteArray contentOf(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Settings {
    const char* name;
    int dx, dy;
    bool swap;
    int gains[3];
    int block; // 1: Build; more: Preview with that step
};

const Settings kSettings[] = {
    { "defaults", 0, 0, false, { 255, 255, 255 }, 1 },
    { "offsets and gains", 5, -3, false, { 128, 0, 255 }, 1 },
    { "swapped", -7, 4, true, { 255, 200, 90 }, 1 },
    { "preview with white edge", 3, 2, false, { 255, 255, 255 }, 4 },
    { "swapped preview", -2, 5, true, { 30, 255, 255 }, 7 },
};

} // namespace

class TestComposeWindow : public QObject {
    Q_OBJECT
private slots:
    void sameFileAsTheWindow_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("jpeg");
        for (int i = 0; i < int(std::size(kSettings)); ++i) {
            QTest::newRow(qPrintable(QStringLiteral("%1, jpeg").arg(QLatin1String(kSettings[i].name)))) << i << true;
            QTest::newRow(qPrintable(QStringLiteral("%1, bmp").arg(QLatin1String(kSettings[i].name)))) << i << false;
        }
    }

    void sameFileAsTheWindow()
    {
        QFETCH(int, row);
        QFETCH(bool, jpeg);
        const Settings& s = kSettings[row];
        QTemporaryDir dir;
        // A JPEG left frame and a BMP right one: the window and the tool
        // must decode both kinds alike too.
        const QString left = dir.filePath(QStringLiteral("left.jpg"));
        const QString right = dir.filePath(QStringLiteral("right.bmp"));
        writeFile(left, encodeJpeg(patterned(97, 61, 1)));
        writeFile(right, encodeBmp(patterned(97, 61, 2)));

        TForm1 form { testPlatform() };
        RecordingBoxes boxes;
        testPlatform().answers.clear();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        testPlatform().answer(left);
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        testPlatform().answer(right);
        QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
        // The swap box negates the offsets when it changes, so it goes first
        // and the fields then take the offsets as the tool is given them.
        if (s.swap)
            QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
        QCOMPARE(form.CheckBox1->isChecked(), s.swap);
        form.SpinEdit1->setValue(s.dx);
        form.SpinEdit2->setValue(s.dy);
        form.TrackBar1->setValue(s.gains[0]);
        form.TrackBar2->setValue(s.gains[1]);
        form.TrackBar3->setValue(s.gains[2]);
        if (s.block == 1) {
            QTest::mouseClick(form.Button3, Qt::LeftButton);
        } else {
            form.SpinEdit3->setValue(s.block);
            QTest::mouseClick(form.Button5, Qt::LeftButton);
        }
        QVERIFY(boxes.shown.empty());
        const QString windowFile = dir.filePath(jpeg ? QStringLiteral("window.jpg") : QStringLiteral("window.bmp"));
        testPlatform().answer(windowFile);
        QTest::mouseClick(jpeg ? form.BitBtn3 : form.BitBtn8, Qt::LeftButton);
        QVERIFY(boxes.shown.empty());

        const QString toolFile = dir.filePath(jpeg ? QStringLiteral("tool.jpg") : QStringLiteral("tool.bmp"));
        QStringList args { left, right, QStringLiteral("-o"), toolFile, QStringLiteral("--dx"), QString::number(s.dx),
            QStringLiteral("--dy"), QString::number(s.dy), QStringLiteral("--gains"),
            QStringLiteral("%1,%2,%3").arg(s.gains[0]).arg(s.gains[1]).arg(s.gains[2]) };
        if (s.swap)
            args << QStringLiteral("--swap");
        if (s.block != 1)
            args << QStringLiteral("--block") << QString::number(s.block);
        QProcess tool;
        tool.start(program, args);
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());

        const QByteArray fromWindow = contentOf(windowFile);
        QVERIFY(!fromWindow.isEmpty());
        QVERIFY(fromWindow == contentOf(toolFile));
    }
};

ORVANTA_GUI_TEST_MAIN(TestComposeWindow)

#include "test_compose_window.moc"
