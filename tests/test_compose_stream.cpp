// orvanta-compose streams its pairs: the files it writes row by row must be
// byte for byte what composing the whole decoded frames and encoding the
// whole anaglyph gives, whatever the offsets, gains, swap, block, method,
// output format and input kind; a frame damaged halfway leaves nothing; and
// a large pair passes in a few megabytes.
#include "align/warp.h"
#include "compose/methods.h"
#include "compose_run.h"
#include "fixtures.h"
#include "mpo_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "pictures/png_codec.h"
#include "pictures/stereo_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <QProcess>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

namespace {

std::vector<std::uint8_t> bytesOf(const QString& name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    return { all.begin(), all.end() };
}

// A photograph-like frame: smooth shading with texture, so that JPEG
// keeps detail in every block and a wrong row or column shows.
TBitmap scene(int w, int h, int seed)
{
    TBitmap b = patterned(w, h, seed);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int shade = int(60 * std::sin(x * 0.07 + seed) + 50 * std::cos(y * 0.05));
            const auto channel = [&](int shift) {
                return std::uint32_t(std::clamp(int((row[x] >> shift) & 0xFF) / 2 + 64 + shade, 0, 255)) << shift;
            };
            row[x] = 0xFF000000u | channel(16) | channel(8) | channel(0);
        }
    }
    return b;
}

std::vector<std::uint8_t> encodeAs(const QString& format, const TBitmap& picture)
{
    if (format == QLatin1String("bmp"))
        return encodeBmp(picture);
    if (format == QLatin1String("png"))
        return encodePng(picture);
    return encodeJpeg(picture);
}

// The peak resident memory of a run of orvanta-compose, in bytes, or -1
// when it did not exit with status 0. Through the benchmark's launcher: a
// process's peak counts from what the process it was started from held,
// which for this test, having made a large picture, is far more than the
// program's own.
long long peakOfRun(const QStringList& args, const QString& report)
{
    QProcess p;
    p.start(QStringLiteral(ORVANTA_BENCH_LAUNCH), QStringList { report, QStringLiteral(ORVANTA_COMPOSE) } + args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    QFile f(report);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> figures = f.readAll().trimmed().split(' ');
    return figures.size() == 2 ? figures[1].toLongLong() * 1024 : -1;
}

} // namespace

class TestComposeStream : public QObject {
    Q_OBJECT
private slots:
    void writesWhatTheWholeFramesGive_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<QString>("gains");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("h");
        // Offsets both ways, past a decoder's batch of rows and past the
        // rows a decoder may run ahead (dy 61); blocks that do and do not
        // divide the frame; every method; every output format.
        QTest::newRow("plain jpg") << "colour" << 1 << 0 << 0 << false << "255,255,255" << "jpg" << 157;
        QTest::newRow("offsets bmp") << "colour" << 1 << 7 << -5 << false << "255,255,255" << "bmp" << 157;
        QTest::newRow("swap png") << "colour" << 1 << -13 << 11 << true << "200,180,90" << "png" << 157;
        QTest::newRow("far rows jpg") << "half-colour" << 1 << 3 << 61 << false << "255,255,255" << "jpg" << 157;
        QTest::newRow("far rows up bmp") << "grey" << 1 << -2 << -61 << true << "255,128,64" << "bmp" << 157;
        QTest::newRow("dubois jpg") << "dubois" << 1 << 5 << 2 << false << "250,240,230" << "jpg" << 157;
        QTest::newRow("block 4 bmp") << "colour" << 4 << 6 << -9 << false << "255,255,255" << "bmp" << 157;
        QTest::newRow("block 13 swap png") << "dubois" << 13 << -20 << 17 << true << "255,255,255" << "png" << 157;
        QTest::newRow("block 13 far jpg") << "grey" << 13 << 0 << -70 << false << "100,255,255" << "jpg" << 157;
        // Frames taller than a decoder's ring of rows: the decoders fill
        // their rings and encode in turns, one frame's rows read hundreds of
        // rows after the other's.
        QTest::newRow("tall jpg") << "colour" << 1 << 4 << 0 << false << "255,255,255" << "jpg" << 900;
        QTest::newRow("tall far rows png") << "colour" << 1 << -3 << 300 << false << "255,255,255" << "png" << 900;
        QTest::newRow("tall far up swap bmp") << "dubois" << 4 << 9 << -350 << true << "255,255,255" << "bmp" << 900;
    }

    void writesWhatTheWholeFramesGive()
    {
        QFETCH(QString, method);
        QFETCH(int, block);
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, swap);
        QFETCH(QString, gains);
        QFETCH(QString, format);
        QFETCH(int, h);
        QTemporaryDir dir;
        // Sizes that are not whole JPEG blocks or MCUs.
        const int w = 203;
        const QString l = dir.filePath(QStringLiteral("l.jpg")), r = dir.filePath(QStringLiteral("r.jpg"));
        writeFile(l, encodeJpegWith(scene(w, h, 1), { 92, false }));
        writeFile(r, encodeJpegWith(scene(w, h, 2), { 92, false }));
        const QString out = dir.filePath(QStringLiteral("a.") + format);
        QStringList args { l, r, QStringLiteral("-o"), out, QStringLiteral("--method"), method, QStringLiteral("--block"),
            QString::number(block), QStringLiteral("--dx"), QString::number(dx), QStringLiteral("--dy"),
            QString::number(dy), QStringLiteral("--gains"), gains };
        if (swap)
            args << QStringLiteral("--swap");
        const ComposeRun run = runCompose(args);
        QVERIFY2(run.status == 0, qPrintable(run.err));

        ComposeSettings s;
        QVERIFY(parseAnaglyphMethod(method.toStdString(), s.method));
        s.block = block;
        s.dx = dx;
        s.dy = dy;
        s.swap = swap;
        const QStringList g = gains.split(QLatin1Char(','));
        s.gains = { g[0].toInt(), g[1].toInt(), g[2].toInt() };
        const TBitmap left = loadPictureFile(l.toStdString()), right = loadPictureFile(r.toStdString());
        QVERIFY(bytesOf(out) == encodeAs(format, composeAnaglyph(left, right, s)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
    }

    void streamsMultiPictureAndSideBySideFiles()
    {
        QTemporaryDir dir;
        const TBitmap left = scene(120, 90, 3), right = scene(120, 90, 4);
        const std::vector<std::uint8_t> l = encodeJpeg(left), r = encodeJpeg(right);
        writeFile(dir.filePath(QStringLiteral("pair.mpo")), mpofiles::withIndex({ l, r }, true));
        // Decoded as the tool decodes them, from the files' own pictures.
        const TBitmap dl = decodeJpeg(l.data(), l.size()), dr = decodeJpeg(r.data(), r.size());
        ComposeSettings s;
        s.dx = 4;
        s.dy = -3;
        const QString out = dir.filePath(QStringLiteral("mpo.jpg"));
        ComposeRun run = runCompose({ dir.filePath(QStringLiteral("pair.mpo")), QStringLiteral("-o"), out,
            QStringLiteral("--dx"), QStringLiteral("4"), QStringLiteral("--dy"), QStringLiteral("-3") });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(bytesOf(out) == encodeJpeg(composeAnaglyph(dl, dr, s)));

        // One picture, two views read rows dy apart from one decoder; an
        // odd width drops the middle column.
        TBitmap whole;
        whole.setSize(241, 90);
        whole.copyRect(0, 0, left, 0, 0, 120, 90);
        whole.copyRect(121, 0, right, 0, 0, 120, 90);
        const std::vector<std::uint8_t> sbs = encodeJpeg(whole);
        writeFile(dir.filePath(QStringLiteral("view.jps")), sbs);
        const StereoFrames halves = splitSideBySide(decodeJpeg(sbs.data(), sbs.size()), SideBySide::Cross);
        s.dx = -6;
        s.dy = 40;
        const QString sbsOut = dir.filePath(QStringLiteral("sbs.bmp"));
        run = runCompose({ dir.filePath(QStringLiteral("view.jps")), QStringLiteral("-o"), sbsOut, QStringLiteral("--dx"),
            QStringLiteral("-6"), QStringLiteral("--dy"), QStringLiteral("40") });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(bytesOf(sbsOut) == encodeBmp(composeAnaglyph(halves.left, halves.right, s)));

        // Halves squeezed to half width, stretched back row by row as they
        // come: what stretching the whole halves gives.
        const QString halfOut = dir.filePath(QStringLiteral("half.png"));
        run = runCompose({ dir.filePath(QStringLiteral("view.jps")), QStringLiteral("--half"), QStringLiteral("-o"),
            halfOut, QStringLiteral("--dx"), QStringLiteral("-6"), QStringLiteral("--dy"), QStringLiteral("40") });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const TBitmap wideLeft = stretchAcross(halves.left, 240, 2), wideRight = stretchAcross(halves.right, 240, 2);
        QVERIFY(bytesOf(halfOut) == encodePng(composeAnaglyph(wideLeft, wideRight, s)));
    }

    // One decoder feeds both views row for row, so the view read |dy| rows
    // later holds them meanwhile: offsets past the decoders' 256 rows of
    // slack, either way, plain and stretched.
    void sideBySideViewsFarApart_data()
    {
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("half");
        QTest::newRow("400 down") << 400 << false;
        QTest::newRow("400 up") << -400 << false;
        QTest::newRow("300 down, stretched") << 300 << true;
        QTest::newRow("500 up, stretched") << -500 << true;
    }
    void sideBySideViewsFarApart()
    {
        QFETCH(int, dy);
        QFETCH(bool, half);
        QTemporaryDir dir;
        const std::vector<std::uint8_t> sbs = encodeJpeg(scene(81, 700, 8));
        writeFile(dir.filePath(QStringLiteral("tall.jpg")), sbs);
        const QString out = dir.filePath(QStringLiteral("a.bmp"));
        QStringList args { QStringLiteral("--sbs"), QStringLiteral("parallel"), dir.filePath(QStringLiteral("tall.jpg")),
            QStringLiteral("-o"), out, QStringLiteral("--dy"), QString::number(dy) };
        if (half)
            args << QStringLiteral("--half");
        const ComposeRun run = runCompose(args);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        StereoFrames views = splitSideBySide(decodeJpeg(sbs.data(), sbs.size()), SideBySide::Parallel);
        if (half) {
            views.left = stretchAcross(views.left, 80, 2);
            views.right = stretchAcross(views.right, 80, 2);
        }
        ComposeSettings s;
        s.dy = dy;
        QVERIFY(bytesOf(out) == encodeBmp(composeAnaglyph(views.left, views.right, s)));
    }

    void aFrameDamagedHalfwayLeavesNothing_data()
    {
        QTest::addColumn<bool>("damageLeft");
        QTest::addColumn<QString>("format");
        QTest::newRow("left, jpg") << true << "jpg";
        QTest::newRow("right, bmp") << false << "bmp";
        QTest::newRow("right, png") << false << "png";
    }

    void aFrameDamagedHalfwayLeavesNothing()
    {
        QFETCH(bool, damageLeft);
        QFETCH(QString, format);
        QTemporaryDir dir;
        const std::vector<std::uint8_t> good = encodeJpeg(scene(300, 400, 5));
        // Cut in the middle of the scan: hundreds of rows decode before the
        // data ends, and some of the anaglyph is encoded by then.
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3));
        const QString l = dir.filePath(QStringLiteral("l.jpg")), r = dir.filePath(QStringLiteral("r.jpg"));
        writeFile(l, damageLeft ? cut : good);
        writeFile(r, damageLeft ? good : cut);
        const QString out = dir.filePath(QStringLiteral("a.") + format);
        const ComposeRun run = runCompose({ l, r, QStringLiteral("-o"), out });
        QCOMPARE(run.status, 1);
        const QString damaged = damageLeft ? l : r;
        QVERIFY2(run.err.contains(damaged + QStringLiteral(": The picture file is damaged or truncated")), qPrintable(run.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // The disk refuses the output a few hundred kilobytes in (a file size
    // limit), while the decoders' threads are encoding: the error is the
    // output's, and neither the output nor its temporary file is left.
    void anOutputRefusedHalfwayLeavesNothing_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("jpg") << "jpg";
        QTest::newRow("png") << "png";
        QTest::newRow("bmp") << "bmp"; // its whole size is taken first
    }
    void anOutputRefusedHalfwayLeavesNothing()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        const QString l = dir.filePath(QStringLiteral("l.jpg")), r = dir.filePath(QStringLiteral("r.jpg"));
        writeFile(l, encodeJpegWith(scene(640, 960, 3), { 95, false }));
        writeFile(r, encodeJpegWith(scene(640, 960, 4), { 95, false }));
        const QString out = dir.filePath(QStringLiteral("a.") + format);
        QProcess p;
        p.setChildProcessModifier([] {
            // Past the limit a write fails with EFBIG instead of ending the
            // program.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit { 300 << 10, 300 << 10 };
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(QStringLiteral(ORVANTA_COMPOSE), { l, r, QStringLiteral("-o"), out });
        QVERIFY(p.waitForFinished(120000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(out + QStringLiteral(": Stream write error")), qPrintable(err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void aLargePairPassesInAFewMegabytes()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizers' shadow memory is not the program's");
#endif
        // 16 megapixels: whole, the two frames and the anaglyph would take
        // 192 MB, and the files alone are 30 MB. Streamed, the pair holds the
        // decoders' and the encoder's working rows and a few hundred rows of
        // each frame; the files are read piece by piece.
        QTemporaryDir dir;
        const int w = 4896, h = 3264;
        const QString l = dir.filePath(QStringLiteral("l.jpg"));
        {
            // Gone before the program starts: a child's peak counts from
            // what its parent held when it was started.
            writeFile(l, encodeJpegWith(patterned(w, h, 7), { 95, false }));
        }
        QVERIFY(QFileInfo(l).size() > (12 << 20));
        for (const char* name : { "a.jpg", "a.bmp", "a.png" }) {
            const long long peak = peakOfRun({ l, l, QStringLiteral("-o"), dir.filePath(QLatin1String(name)),
                                                   QStringLiteral("--dx"), QStringLiteral("5") },
                dir.filePath(QStringLiteral("peak.txt")));
            QVERIFY2(peak > 0, name);
            // The program itself, its libraries mapped in, takes about 12 MB.
            const long long bound = 40ll << 20;
            QVERIFY2(peak < bound, qPrintable(QStringLiteral("%1: %2 MB, bound %3 MB")
                                             .arg(QLatin1String(name))
                                             .arg(peak >> 20)
                                             .arg(bound >> 20)));
        }
        const TBitmap out = loadPictureFile(dir.filePath(QStringLiteral("a.bmp")).toStdString());
        QCOMPARE(out.width(), w - 5);
        QCOMPARE(out.height(), h);
    }
};

QTEST_GUILESS_MAIN(TestComposeStream)
#include "test_compose_stream.moc"
