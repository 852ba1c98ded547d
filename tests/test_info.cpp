// orvanta-info: one line per file, the exit status telling whether all opened.
#include "fixtures.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString infoProgram;

struct Run {
    int status;
    QStringList lines;
};

Run run(const QStringList& files)
{
    QProcess p;
    p.start(infoProgram, files);
    p.waitForFinished(30000);
    return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
        QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts) };
}

} // namespace

class TestInfo : public QObject {
    Q_OBJECT
private slots:
    void printsSizesAndErrors()
    {
        QTemporaryDir dir;
        const QString jpeg = dir.filePath("left.jpg"), bmp = dir.filePath("right"), text = dir.filePath("notes.bmp"),
                      missing = dir.filePath("missing.jpg");
        writeFile(jpeg, encodeJpeg(patterned(64, 48, 1)));
        writeFile(bmp, encodeBmp(patterned(7, 3, 2)));
        const std::string words = "not a picture";
        writeFile(text, std::vector<std::uint8_t>(words.begin(), words.end()));

        const Run good = run({ jpeg, bmp });
        QCOMPARE(good.status, 0);
        QCOMPARE(good.lines, QStringList({ jpeg + ": 64x48", bmp + ": 7x3" }));

        const Run bad = run({ jpeg, text, missing });
        QCOMPARE(bad.status, 1);
        QCOMPARE(bad.lines,
            QStringList({ jpeg + ": 64x48", text + ": error: Not a JPEG or BMP picture",
                missing + ": error: Cannot open file \"" + missing + "\". No such file or directory" }));

        QCOMPARE(run({}).status, 2);
    }
};

int main(int argc, char** argv)
{
    // The program under test comes first on the command line.
    if (argc < 2)
        return 2;
    infoProgram = QString::fromLocal8Bit(argv[1]);
    TestInfo test;
    argv[1] = argv[0];
    return QTest::qExec(&test, argc - 1, argv + 1);
}
#include "test_info.moc"
