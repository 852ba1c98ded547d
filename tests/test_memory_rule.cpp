// Opening holds its memory rule: whatever a file claims, opening it takes at
// most openingBudget(its size) above what the program held before, and then
// shows the picture or refuses it. Each file is opened by a helper program
// whose address space is limited to exactly that much more than it maps at
// its start, so any allocation past the rule fails and shows as "out of
// memory" instead of the expected outcome.
#include "fixtures.h"
#include "jpeg_files.h"
#include "pictures/picture_files.h"
#include "pictures/picture_limits.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <sys/stat.h>

using namespace jpegfiles;

namespace {

QString openWithinProgram;

// What opening `file` ends with, "W x H" or the error's message, when the
// process may map `budget` bytes more than it does at its start. A helper
// program that does not finish in 20 seconds has hung.
QString openWithin(const std::string& file, std::uint64_t budget)
{
    QProcess p;
    p.start(openWithinProgram, { QString::number(budget), QString::fromStdString(file) });
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return QStringLiteral("<hung>");
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("<failed: %1>").arg(p.exitCode());
    return QString::fromUtf8(p.readAllStandardOutput());
}

QByteArray arrayOf(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }

QString tooLarge(int w, int h, const Bytes& file)
{
    return QStringLiteral("The picture is too large (%1 x %2 pixels) for a file of %3 bytes").arg(w).arg(h).arg(file.size());
}

// An RLE8 file of w x h that sets one pixel and leaves the rest black.
Bytes sparseRle(int w, int h)
{
    Bytes b { 'B', 'M' };
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(std::uint8_t(v >> (8 * i)));
    };
    put(0, 4);
    put(0, 4);
    put(14 + 40 + 8, 4);
    put(40, 4);
    put(std::uint32_t(w), 4);
    put(std::uint32_t(h), 4);
    put(1, 2);
    put(8, 2);
    put(1, 4); // RLE8
    put(0, 4);
    put(0, 4);
    put(0, 4);
    put(2, 4);
    put(0, 4);
    b.insert(b.end(), { 0, 0, 0, 0, 255, 255, 255, 0 });
    b.insert(b.end(), { 1, 1, 0, 1 });
    return b;
}

} // namespace

class TestMemoryRule : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer reserves far more address space than any limit here; the fuzzer's limits check the "
              "rule in that build");
#endif
    }

    void filesStayWithinTheRule_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("outcome");
        const QString damaged = QString::fromLatin1(kDamagedPicture);

        const Bytes bomb = progressiveBomb();
        QTest::newRow("progressive arithmetic bomb") << arrayOf(bomb) << tooLarge(3617, 64508, bomb);
        const Bytes lumaFirst = keepScans(
            withFrameSize(compressColour(16, 16, withScans(lumaFirstProgression(), true)), 3617, 64508), 1);
        QTest::newRow("progressive bomb, three components with one id") << arrayOf(withOneComponentId(lumaFirst)) << damaged;
        QTest::newRow("progressive bomb, quantisation table 9") << arrayOf(withQuantTable(lumaFirst, 9)) << damaged;
        const Bytes arithmetic = withFrameSize(compressColour(16, 16, [](jpeg_compress_struct& c) { c.arith_code = TRUE; }), 16000, 16000);
        QTest::newRow("arithmetic baseline, 16000 x 16000") << arrayOf(arithmetic) << tooLarge(16000, 16000, arithmetic);
        const auto progressive = [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); };
        QTest::newRow("Huffman progressive, 8000 x 8000")
            << arrayOf(withFrameSize(compressColour(16, 16, progressive), 8000, 8000)) << damaged;
        QTest::newRow("Huffman baseline, 16000 x 16000")
            << arrayOf(withFrameSize(compressColour(16, 16, {}), 16000, 16000)) << damaged;
        const Bytes rle = sparseRle(16000, 16000);
        QTest::newRow("RLE8, 16000 x 16000") << arrayOf(rle) << tooLarge(16000, 16000, rle);

        // As much as the rule allows a tiny file: it opens, every pixel made.
        const Bytes edgeSequential = withFrameSize(compressColour(16, 16, [](jpeg_compress_struct& c) { c.arith_code = TRUE; }), 4000, 4000);
        QTest::newRow("arithmetic baseline, 4000 x 4000") << arrayOf(edgeSequential) << "4000 x 4000";
        const Bytes edgeProgressive = withFrameSize(keepScans(compressColour(16, 16, [](jpeg_compress_struct& c) {
            c.arith_code = TRUE;
            jpeg_simple_progression(&c);
        }), 1), 3000, 3000);
        QTest::newRow("arithmetic progressive, 3000 x 3000") << arrayOf(edgeProgressive) << "3000 x 3000";
        QTest::newRow("RLE8, 4000 x 4000") << arrayOf(sparseRle(4000, 4000)) << "4000 x 4000";
    }
    void filesStayWithinTheRule()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        const QString name = dir.filePath("picture");
        writeFile(name, Bytes(file.begin(), file.end()));
        QCOMPARE(openWithin(QFile::encodeName(name).toStdString(), openingBudget(std::uint64_t(file.size()))), outcome);
    }

    // A picture the rule allows that memory cannot hold: the allocation fails
    // cleanly (the window reports it as "Out of system resources"). RLE data
    // is read as it comes, so the 49 MB picture is allocated first, against a
    // limit of 16 MB.
    void pictureMemoryCannotHoldFailsCleanly()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath("black.bmp");
        writeFile(name, sparseRle(3500, 3500));
        QCOMPARE(openWithin(QFile::encodeName(name).toStdString(), 16u << 20), QStringLiteral("<out of memory>"));
    }

    // What is not a picture file at all is refused within the allowance of
    // an empty file.
    void otherFilesTakeNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("/dev/zero") << "/dev/zero" << "It is a character device, not a regular file";
        QTest::newRow("named pipe without a writer") << "pipe" << "It is a named pipe, not a regular file";
        QTest::newRow("sparse file of 4 GiB and a byte") << "huge" << "File too large";
    }
    void otherFilesTakeNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const std::string pipe = path(dir, "pipe");
        QVERIFY(::mkfifo(pipe.c_str(), 0600) == 0);
        const std::string huge = path(dir, "huge");
        {
            QFile f(QString::fromStdString(huge));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(kMaxPictureFileSize) + 1));
        }
        const std::string file = name.startsWith('/') ? name.toStdString() : path(dir, name.toUtf8().constData());
        QCOMPARE(openWithin(file, kOpeningAllowance),
            QStringLiteral("Cannot open file \"%1\". %2").arg(QString::fromStdString(file), reason));
    }
};

int main(int argc, char** argv)
{
    // The helper program comes first on the command line.
    if (argc < 2)
        return 2;
    openWithinProgram = QString::fromLocal8Bit(argv[1]);
    TestMemoryRule test;
    argv[1] = argv[0];
    return QTest::qExec(&test, argc - 1, argv + 1);
}
#include "test_memory_rule.moc"
