// orvanta-compose lining up a hand-held pair as a user runs it: the warped,
// cropped anaglyph, the report on standard error and in JSON, --align=print
// refusing what the window's offsets cannot hold, and the same through an
// MPO file and a batch. How exact the correction is lies with
// test_correction; here the program must carry it through.
#include "align/correction.h"
#include "compose/methods.h"
#include "compose_run.h"
#include "fixtures.h"
#include "mpo_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/file_io.h"
#include "pictures/picture_files.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// The scene as a camera turned by degrees (counter-clockwise) and brought
// nearer by scale about the middle of the frame, then moved down by dy
// pixels, sees it: bilinear samples of the photograph, w x h of them from
// its middle. Plain per-pixel arithmetic, independent of the program's warp.
TBitmap cameraView(const TBitmap& scene, int w, int h, double degrees, double scale, double dy)
{
    const double a = degrees * M_PI / 180.0, c = std::cos(a) / scale, s = std::sin(a) / scale;
    const double cx = scene.width() / 2.0, cy = scene.height() / 2.0;
    TBitmap out;
    out.setSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = x - w / 2.0, v = y - h / 2.0 - dy;
            const double sx = cx + c * u + s * v, sy = cy - s * u + c * v;
            const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
            const double fx = sx - x0, fy = sy - y0;
            std::uint32_t p = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                const auto at = [&](int px, int py) { return double((scene.pixel(px, py) >> shift) & 0xFF); };
                const double value = (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy)
                    + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
                p |= std::uint32_t(std::lround(value)) << shift;
            }
            out.scanLine(y)[x] = p;
        }
    return out;
}

QJsonObject jsonLine(const QString& line) { return QJsonDocument::fromJson(line.toUtf8()).object(); }

} // namespace

class TestComposeAlign : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString in(const char* name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        const TBitmap scene = loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg"); // 600 x 400
        // The right shot turned by 2 degrees, 3 % nearer and 6 px lower.
        writeFile(in("l.bmp"), encodeBmp(cameraView(scene, 440, 300, 0, 1, 0)));
        writeFile(in("r.bmp"), encodeBmp(cameraView(scene, 440, 300, 2, 1.03, 6)));
        writeFile(in("pair.mpo"),
            mpofiles::withIndex({ encodeJpegWith(loadPictureFile(path(dir, "l.bmp")), JpegSettings { 95, true }),
                                    encodeJpegWith(loadPictureFile(path(dir, "r.bmp")), JpegSettings { 95, true }) },
                false));
    }

    void correctsRollAndSizeAndSaysSo()
    {
        const ComposeRun r = runCompose(
            { QStringLiteral("--align"), in("l.bmp"), in("r.bmp"), QStringLiteral("-o"), in("a.bmp"), QStringLiteral("--json") });
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QJsonObject o = jsonLine(r.out.trimmed());
        QVERIFY(o[QStringLiteral("aligned")].toBool());
        const QJsonObject c = o[QStringLiteral("correction")].toObject();
        QVERIFY2(!c.isEmpty(), qPrintable(r.out));
        // The right frame shows the scene turned by 2 degrees and 3 % larger.
        QVERIFY2(std::abs(std::abs(c[QStringLiteral("rotation_degrees")].toDouble()) - 2.0) < 0.15, qPrintable(r.out));
        QVERIFY2(std::abs(c[QStringLiteral("scale_percent")].toDouble() - 3.0) < 0.3, qPrintable(r.out));
        QVERIFY(c[QStringLiteral("vertical_before")].toObject()[QStringLiteral("p90")].toDouble() > 3);
        QVERIFY(c[QStringLiteral("vertical_after")].toObject()[QStringLiteral("median")].toDouble() < 0.5);
        // The anaglyph is the crop both frames cover: smaller than a frame,
        // by no more than the turn and the zoom take.
        const QJsonArray crop = c[QStringLiteral("crop")].toArray();
        const TBitmap anaglyph = loadPictureFile(path(dir, "a.bmp"));
        QCOMPARE(anaglyph.width(), crop[2].toInt());
        QCOMPARE(anaglyph.height(), crop[3].toInt());
        QVERIFY(anaglyph.width() < 440 && anaglyph.width() > 380);
        QVERIFY(anaglyph.height() < 300 && anaglyph.height() > 250);
        QCOMPARE(o[QStringLiteral("dx")].toInt(), 0);
        QCOMPARE(o[QStringLiteral("dy")].toInt(), 0);

        // Without --json the same goes to standard error for people, and
        // standard output stays empty.
        const ComposeRun plain
            = runCompose({ QStringLiteral("--align"), in("l.bmp"), in("r.bmp"), QStringLiteral("-o"), in("b.jpg") });
        QVERIFY2(plain.status == 0, qPrintable(plain.err));
        QVERIFY(plain.out.isEmpty());
        for (const char* words : { "roll ", " degrees, size +", "vertical disparity (median, 90th percentile)", " after",
                 "horizontal parallax" })
            QVERIFY2(plain.err.contains(QLatin1String(words)), qPrintable(plain.err));
    }

    // JPEG frames are lined up in the stream: the correction is found on
    // copies the decoder scales down as it decodes, the right frame warped
    // row by row. It must find what the whole frames give, and the picture
    // must be the crop it reports.
    void jpegFramesAreCorrectedInTheStream()
    {
        // 2400 x 1600: large enough that the estimate works on copies the
        // decoder halves, as on a photograph it quarters them.
        const TBitmap scene = loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg");
        TBitmap left = cameraView(scene, 2400, 1600, 0, 4.4, 0), right = cameraView(scene, 2400, 1600, 2, 4.4 * 1.03, 26);
        addNoise(left, 2, 1);
        addNoise(right, 2, 2);
        writeFile(in("big_l.jpg"), encodeJpegWith(left, JpegSettings { 95, false }));
        writeFile(in("big_r.jpg"), encodeJpegWith(right, JpegSettings { 95, false }));
        // The same frames as BMP files are lined up whole.
        writeFile(in("big_l.bmp"), encodeBmp(loadPictureFile(path(dir, "big_l.jpg"))));
        writeFile(in("big_r.bmp"), encodeBmp(loadPictureFile(path(dir, "big_r.jpg"))));
        const ComposeRun streamed = runCompose({ QStringLiteral("--align"), in("big_l.jpg"), in("big_r.jpg"),
            QStringLiteral("-o"), in("s.bmp"), QStringLiteral("--json") });
        QVERIFY2(streamed.status == 0, qPrintable(streamed.err));
        const ComposeRun whole = runCompose({ QStringLiteral("--align"), in("big_l.bmp"), in("big_r.bmp"),
            QStringLiteral("-o"), in("w.bmp"), QStringLiteral("--json") });
        QVERIFY2(whole.status == 0, qPrintable(whole.err));
        const QJsonObject s = jsonLine(streamed.out.trimmed())[QStringLiteral("correction")].toObject();
        const QJsonObject w = jsonLine(whole.out.trimmed())[QStringLiteral("correction")].toObject();
        QVERIFY2(!s.isEmpty() && !w.isEmpty(), qPrintable(streamed.out + whole.out));
        const auto near = [&](const char* key, double within) {
            return std::abs(s[QLatin1String(key)].toDouble() - w[QLatin1String(key)].toDouble()) < within;
        };
        QVERIFY2(near("rotation_degrees", 0.05) && near("scale_percent", 0.1), qPrintable(streamed.out + whole.out));
        QVERIFY2(s[QStringLiteral("vertical_after")].toObject()[QStringLiteral("median")].toDouble() < 0.5,
            qPrintable(streamed.out));
        const QJsonArray crop = s[QStringLiteral("crop")].toArray();
        const TBitmap anaglyph = loadPictureFile(path(dir, "s.bmp"));
        QCOMPARE(anaglyph.width(), crop[2].toInt());
        QCOMPARE(anaglyph.height(), crop[3].toInt());

        // The picture, row for row, is the whole frames lined up by the same
        // estimate (from the decoder's halved copies) and composed: the
        // right frame warped in the stream by the warp thread, the rows
        // composed and encoded by whichever thread was free.
        const auto halved = [&](const char* name) {
            const std::vector<std::uint8_t> file = readWholeFile(path(dir, name));
            TBitmap copy;
            BitmapRowSink rows(copy);
            decodeJpegRows(file.data(), file.size(), rows, 2);
            return copy;
        };
        QCOMPARE(correctionReduction(2400, 1600) % 2, 0);
        const StereoCorrection found = estimateCorrectionFromCopies(
            halved("big_l.jpg"), halved("big_r.jpg"), 2, 2400, 1600, CorrectionModel::Similarity, StereoWindow::Near, 2);
        QCOMPARE(QJsonArray({ found.crop.x, found.crop.y, found.crop.width, found.crop.height }), crop);
        StereoFrames frames { loadPictureFile(path(dir, "big_l.jpg")), loadPictureFile(path(dir, "big_r.jpg")) };
        const StereoFrames lined = applyCorrection(std::move(frames), found);
        QVERIFY(samePixels(anaglyph, composeAnaglyph(lined.left, lined.right, ComposeSettings {})));
    }

    void printRefusesWhatTheOffsetsCannotHold()
    {
        const ComposeRun r = runCompose({ QStringLiteral("--align=print"), in("l.bmp"), in("r.bmp") });
        QCOMPARE(r.status, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains(QStringLiteral("%1 and %2 need a roll of").arg(in("l.bmp"), in("r.bmp"))), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("build with --align")), qPrintable(r.err));
    }

    void anMpoFileAndABatchAreCorrectedToo()
    {
        const ComposeRun mpo = runCompose(
            { QStringLiteral("--align"), in("pair.mpo"), QStringLiteral("-o"), in("mpo.jpg"), QStringLiteral("--json") });
        QVERIFY2(mpo.status == 0, qPrintable(mpo.err));
        const QJsonObject c = jsonLine(mpo.out.trimmed())[QStringLiteral("correction")].toObject();
        QVERIFY2(std::abs(c[QStringLiteral("scale_percent")].toDouble() - 3.0) < 0.3, qPrintable(mpo.out));

        QDir(dir.path()).mkdir(QStringLiteral("batch"));
        QVERIFY(QFile::copy(in("l.bmp"), in("batch/view_L.bmp")));
        QVERIFY(QFile::copy(in("r.bmp"), in("batch/view_R.bmp")));
        QVERIFY(QFile::copy(in("pair.mpo"), in("batch/trip.mpo")));
        const ComposeRun batch = runCompose({ QStringLiteral("--batch"), in("batch"), QStringLiteral("-o"), in("out"),
            QStringLiteral("--align=perspective"), QStringLiteral("--window"), QStringLiteral("dominant") });
        QVERIFY2(batch.status == 0, qPrintable(batch.err));
        QCOMPARE(batch.err.count(QStringLiteral("vertical disparity")), 2);
        for (const char* name : { "out/view.jpg", "out/trip.jpg" }) {
            const TBitmap written = loadPictureFile(path(dir, name));
            QVERIFY2(written.width() > 380 && written.width() < 440, name);
        }
    }
};

QTEST_APPLESS_MAIN(TestComposeAlign)

#include "test_compose_align.moc"
