// The JPEG codec: the exact file the encoder writes, round trips, and what the
// decoder makes of the kinds of file libjpeg can write, of damaged files and
// of hostile ones.
#include "fixtures.h"
#include "jpeg_files.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_limits.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

using namespace jpegfiles;

namespace {

Bytes bytesOf(const QByteArray& a) { return Bytes(a.begin(), a.end()); }
QByteArray arrayOf(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }

// The file as libjpeg decodes it to plain RGB rows, one row at a time, as
// 0xFFRRGGBB pixels.
TBitmap libjpegReference(const Bytes& file)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    TBitmap picture;
    picture.setSize(int(cinfo.output_width), int(cinfo.output_height));
    Bytes row(std::size_t(cinfo.output_width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        std::uint32_t* out = picture.scanLine(int(cinfo.output_scanline));
        JSAMPROW in = row.data();
        jpeg_read_scanlines(&cinfo, &in, 1);
        for (std::size_t x = 0; x < cinfo.output_width; ++x)
            out[x] = 0xFF000000u | std::uint32_t(row[3 * x]) << 16 | std::uint32_t(row[3 * x + 1]) << 8 | row[3 * x + 2];
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return picture;
}

// Four flat 16 x 16 patches side by side (whole MCUs, so only their borders
// are touched by chroma subsampling), each patch given by its samples.
constexpr int kPatch = 16;
constexpr int kPatches = 4;
using PatchSamples = std::array<std::array<int, 4>, kPatches>;

Bytes patchSamples(const PatchSamples& patches, int components)
{
    Bytes samples;
    for (int y = 0; y < kPatch; ++y)
        for (int x = 0; x < kPatch * kPatches; ++x)
            for (int c = 0; c < components; ++c)
                samples.push_back(std::uint8_t(patches[std::size_t(x / kPatch)][std::size_t(c)]));
    return samples;
}

QByteArray patchFile(const PatchSamples& patches, int components, J_COLOR_SPACE in,
    const std::function<void(jpeg_compress_struct&)>& setup)
{
    return arrayOf(compressRaw(kPatch * kPatches, kPatch, components, in, patchSamples(patches, components), setup));
}

// The message decodeJpeg throws for a file, or "" when it decodes it.
QString decodeFailure(const Bytes& file)
{
    try {
        decodeJpeg(file.data(), file.size());
        return QString();
    } catch (const EPictureError& e) {
        return QString::fromStdString(e.what());
    }
}

// A picture without edges, changing by at most a few levels from pixel to
// pixel so that 4:2:0 chroma costs little, whose red and blue differ by 140
// at its top left corner so that swapped channels show.
TBitmap smooth(int w, int h)
{
    const int spanX = std::max(w, 64), spanY = std::max(h, 64);
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x)
            row[x] = pixelFromColor(
                RGB(60 + 150 * x / spanX, 90 + 100 * y / spanY, 200 - 140 * (x + y) / (spanX + spanY)));
    }
    return b;
}

// The largest difference in any channel; also fails on a pixel whose top
// byte is not 0xFF.
int largestDifference(const TBitmap& a, const TBitmap& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const std::uint32_t p = a.scanLine(y)[x];
            const std::uint32_t q = b.scanLine(y)[x];
            if ((p >> 24) != 0xFF || (q >> 24) != 0xFF)
                return 256;
            for (int shift = 0; shift < 24; shift += 8)
                worst = std::max(worst, std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)));
        }
    return worst;
}

TBitmap redBlueSwapped(const TBitmap& src)
{
    TBitmap b;
    b.setSize(src.width(), src.height());
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x) {
            const std::uint32_t p = src.scanLine(y)[x];
            b.scanLine(y)[x] = (p & 0xFF00FF00u) | (p >> 16 & 0xFF) | (p & 0xFF) << 16;
        }
    return b;
}

// The standard Huffman tables every baseline encoder without optimisation
// uses: code counts per length 1..16, then the symbols in code order.
struct HuffmanTable {
    int tableClass; // 0 DC, 1 AC
    int id; // 0 luminance, 1 chrominance
    std::vector<int> counts;
    std::vector<int> symbols;
};

const std::vector<HuffmanTable>& standardTables()
{
    static const std::vector<HuffmanTable> tables = {
        { 0, 0, { 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0 }, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 } },
        { 0, 1, { 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0 }, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 } },
        { 1, 0, { 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d },
            { 0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
                0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
                0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
                0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
                0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
                0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
                0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
                0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
                0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
                0xf9, 0xfa } },
        { 1, 1, { 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77 },
            { 0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
                0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
                0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
                0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
                0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
                0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
                0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
                0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
                0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
                0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
                0xf9, 0xfa } },
    };
    return tables;
}

// A greyscale progressive file whose every coefficient is sent on its own in
// `perCoefficient` scans: a first one at point transform perCoefficient - 1,
// then one refinement per bit down to bit 0. A valid progression, and for 11
// scans per coefficient as long as a file can make one: 704 scans.
Bytes progressionOf(int perCoefficient, int width = 16, int height = 16)
{
    std::vector<jpeg_scan_info> script;
    for (int k = 0; k < DCTSIZE2; ++k)
        for (int al = perCoefficient - 1; al >= 0; --al) {
            jpeg_scan_info scan {};
            scan.comps_in_scan = 1;
            scan.component_index[0] = 0;
            scan.Ss = k;
            scan.Se = k;
            scan.Ah = al == perCoefficient - 1 ? 0 : al + 1;
            scan.Al = al;
            script.push_back(scan);
        }
    Bytes grey;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            grey.push_back(std::uint8_t(20 + x * 9 + y * 5));
    return compressRaw(width, height, 1, JCS_GRAYSCALE, grey, [&](jpeg_compress_struct& c) {
        c.scan_info = script.data();
        c.num_scans = int(script.size());
    });
}

} // namespace

class TestJpeg : public QObject {
    Q_OBJECT
private slots:
    void sniffsTheStartMarker()
    {
        const Bytes jpeg = encodeJpeg(uniform(2, 2, clRed));
        QVERIFY(looksLikeJpeg(jpeg.data(), jpeg.size()));
        QVERIFY(looksLikeJpeg(jpeg.data(), 2));
        QVERIFY(!looksLikeJpeg(jpeg.data(), 1));
        const std::uint8_t bmp[] = { 'B', 'M', 0, 0 };
        QVERIFY(!looksLikeJpeg(bmp, sizeof bmp));
    }

    // Every marker of the file the encoder writes, byte for byte where the
    // content is fixed.
    void encoderWritesBaselineJfif()
    {
        const int w = 37, h = 21;
        const Bytes file = encodeJpeg(patterned(w, h, 5));
        const std::vector<Segment> segments = markersOf(file);

        std::vector<int> order;
        for (const Segment& s : segments)
            order.push_back(s.marker);
        // SOI, APP0, DQT x2, SOF0, DHT x4, SOS, EOI: no DRI, no restart
        // markers, nothing else.
        const std::vector<int> expectedOrder = { 0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9 };
        QCOMPARE(order, expectedOrder);
        QCOMPARE(segments.back().offset + 2, file.size());

        // JFIF 1.01, no density unit, 1 x 1, no thumbnail.
        const Bytes jfif = { 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0 };
        QCOMPARE(segments[1].body, jfif);

        // Two 8-bit tables, 0 and 1, all 64 entries 1.
        for (int t = 0; t < 2; ++t) {
            Bytes dqt(65, 1);
            dqt[0] = std::uint8_t(t);
            QCOMPARE(segments[std::size_t(2 + t)].body, dqt);
        }

        // Baseline, 8 bits, the size, Y 2x2 with table 0, Cb and Cr 1x1 with
        // table 1.
        const Bytes sof = { 8, 0, std::uint8_t(h), 0, std::uint8_t(w), 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1 };
        QCOMPARE(segments[4].body, sof);

        // The four standard tables, in whatever order.
        std::vector<bool> seen(standardTables().size(), false);
        for (std::size_t i = 5; i < 9; ++i) {
            const Bytes& dht = segments[i].body;
            QVERIFY(dht.size() >= 17);
            const int tableClass = dht[0] >> 4, id = dht[0] & 15;
            std::vector<int> counts(dht.begin() + 1, dht.begin() + 17);
            std::vector<int> symbols(dht.begin() + 17, dht.end());
            bool matched = false;
            for (std::size_t t = 0; t < standardTables().size(); ++t) {
                const HuffmanTable& standard = standardTables()[t];
                if (standard.tableClass != tableClass || standard.id != id)
                    continue;
                QVERIFY2(!seen[t], "a Huffman table defined twice");
                seen[t] = true;
                QCOMPARE(counts, standard.counts);
                QCOMPARE(symbols, standard.symbols);
                matched = true;
            }
            QVERIFY2(matched, qPrintable(QString("unexpected Huffman table class %1 id %2").arg(tableClass).arg(id)));
        }

        // One scan of all three components, full spectrum, no approximation.
        const Bytes sos = { 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0 };
        QCOMPARE(segments[9].body, sos);
    }

    // The encoder's output block starts at 64 KiB and doubles: every byte
    // must survive each growth, so the file is libjpeg's own for the same
    // settings, written through its memory destination, from a picture that
    // fits the first block to one whose file needs four growths.
    void encoderOutputSurvivesGrowth_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("one block") << 37 << 21;
        QTest::newRow("one growth") << 240 << 160;
        QTest::newRow("four growths") << 640 << 480;
    }
    void encoderOutputSurvivesGrowth()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        // Noise, so the file's size follows the picture's.
        TBitmap noise;
        noise.setSize(w, h);
        std::uint32_t state = 2463534242u;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                noise.scanLine(y)[x] = 0xFF000000u | (state & 0xFFFFFFu);
            }
        const Bytes file = encodeJpeg(noise);
        const Bytes expected = compressPicture(noise, [](jpeg_compress_struct& c) { c.dct_method = JDCT_FLOAT; });
        QCOMPARE(file.size(), expected.size());
        QVERIFY(file == expected);
    }

    void roundTripKeepsSizeAndColours_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("1 x 1") << 1 << 1;
        QTest::newRow("3 x 5") << 3 << 5;
        QTest::newRow("17 x 9") << 17 << 9;
        QTest::newRow("64 x 48") << 64 << 48;
        // A file of tens of kilobytes.
        QTest::newRow("333 x 217") << 333 << 217;
    }
    void roundTripKeepsSizeAndColours()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const TBitmap source = smooth(w, h);
        const Bytes file = encodeJpeg(source);
        const TBitmap back = decodeJpeg(file.data(), file.size());
        QCOMPARE(back.width(), w);
        QCOMPARE(back.height(), h);
        // Quality 100 and 4:2:0 chroma: the worst channel seen is 3 here.
        constexpr int kTolerance = 4;
        const int difference = largestDifference(source, back);
        QVERIFY2(difference <= kTolerance, qPrintable(QString("channel off by %1").arg(difference)));
        // The same tolerance rejects red and blue taken for each other.
        QVERIFY(largestDifference(source, redBlueSwapped(back)) > kTolerance);
    }

    void emptyPictureGivesNoBytes_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("no size") << 0 << 0;
        QTest::newRow("no rows") << 5 << 0;
        QTest::newRow("no columns") << 0 << 5;
    }
    void emptyPictureGivesNoBytes()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        TBitmap empty;
        empty.setSize(w, h);
        QVERIFY(encodeJpeg(empty).empty());
    }

    void longestSideIs65500_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QString>("error");
        QTest::newRow("65500 wide") << 65500 << 1 << QString();
        QTest::newRow("65500 tall") << 1 << 65500 << QString();
        QTest::newRow("65501 wide") << 65501 << 1 << QString("JPEG error #41");
        QTest::newRow("65501 tall") << 1 << 65501 << QString("JPEG error #41");
    }
    void longestSideIs65500()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QString, error);
        const TBitmap line = uniform(w, h, RGB(10, 200, 30));
        try {
            const Bytes file = encodeJpeg(line);
            QVERIFY2(error.isEmpty(), "encoded a picture libjpeg cannot take");
            const TBitmap back = decodeJpeg(file.data(), file.size());
            QCOMPARE(back.width(), w);
            QCOMPARE(back.height(), h);
            QVERIFY(largestDifference(line, back) <= 2);
        } catch (const EOrvantaError& e) {
            QCOMPARE(QString(e.what()), error);
        }
    }

    // Files of every kind libjpeg writes, each of four flat patches whose
    // inner pixels must come out as the listed colours.
    void decodesEveryKindOfFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<uint>>("colours");
        QTest::addColumn<int>("tolerance");

        const PatchSamples rgb = { { { 200, 30, 60 }, { 20, 180, 90 }, { 40, 70, 220 }, { 128, 128, 128 } } };
        const QList<uint> rgbColours = { 0xFFC81E3C, 0xFF14B45A, 0xFF2846DC, 0xFF808080 };
        using Setup = std::function<void(jpeg_compress_struct&)>;
        const auto rgbRow = [&](const char* name, const Setup& setup) {
            QTest::newRow(name) << patchFile(rgb, 3, JCS_RGB, setup) << rgbColours << 3;
        };
        rgbRow("baseline 4:2:0", {});
        rgbRow("progressive", [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
        rgbRow("arithmetic coding", [](jpeg_compress_struct& c) { c.arith_code = TRUE; });
        rgbRow("stored as RGB", [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_RGB); });
        rgbRow("restart after every MCU", [](jpeg_compress_struct& c) { c.restart_interval = 1; });

        const PatchSamples grey = { { { 30 }, { 100 }, { 170 }, { 250 } } };
        QTest::newRow("greyscale") << patchFile(grey, 1, JCS_GRAYSCALE, {})
                                   << QList<uint> { 0xFF1E1E1E, 0xFF646464, 0xFFAAAAAA, 0xFFFAFAFA } << 1;

        // The inks, C M Y K. With an Adobe marker they are stored inverted:
        // R = C * K / 255; without one R = (255 - C) * (255 - K) / 255.
        const PatchSamples inks = { { { 200, 50, 120, 180 }, { 255, 255, 255, 255 }, { 30, 220, 90, 0 },
            { 255, 0, 255, 128 } } };
        const QList<uint> adobe = { 0xFF8D2355, 0xFFFFFFFF, 0xFF000000, 0xFF800080 };
        QTest::newRow("CMYK, Adobe marker")
            << patchFile(inks, 4, JCS_CMYK, [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_CMYK); })
            << adobe << 1;
        QTest::newRow("YCCK, Adobe marker")
            << patchFile(inks, 4, JCS_CMYK, [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_YCCK); })
            << adobe << 3;
        QTest::newRow("CMYK, no Adobe marker") << patchFile(inks, 4, JCS_CMYK, [](jpeg_compress_struct& c) {
            jpeg_set_colorspace(&c, JCS_CMYK);
            c.write_Adobe_marker = FALSE;
        }) << QList<uint> { 0xFF103C28, 0xFF000000, 0xFFE123A5, 0xFF007F00 } << 1;
    }
    void decodesEveryKindOfFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<uint>, colours);
        QFETCH(int, tolerance);
        const Bytes bytes = bytesOf(file);
        const TBitmap picture = decodeJpeg(bytes.data(), bytes.size());
        QCOMPARE(picture.width(), kPatch * kPatches);
        QCOMPARE(picture.height(), kPatch);
        for (int y = 0; y < kPatch; ++y)
            for (int x = 0; x < kPatch * kPatches; ++x)
                QCOMPARE(picture.scanLine(y)[x] >> 24, 0xFFu);
        for (int p = 0; p < kPatches; ++p) {
            const TBitmap expected = uniform(8, 8, colorFromPixel(colours[p]));
            TBitmap inside;
            inside.setSize(8, 8);
            inside.copyRect(0, 0, picture, p * kPatch + 4, 4, 8, 8);
            const int difference = largestDifference(expected, inside);
            QVERIFY2(difference <= tolerance,
                qPrintable(QString("patch %1: %2 instead of %3").arg(p).arg(picture.scanLine(8)[p * kPatch + 8], 8, 16)
                        .arg(colours[p], 8, 16)));
        }
    }

    // The rows the decoder has libjpeg write straight into the picture are
    // the rows libjpeg decodes, each at its place: on a picture where every
    // pixel differs from its neighbours, exactly the same pixels.
    void decodesWhatLibjpegDecodes_data()
    {
        QTest::addColumn<QByteArray>("file");
        const TBitmap picture = patterned(53, 37, 8);
        QTest::newRow("4:2:0") << arrayOf(encodeJpeg(picture));
        QTest::newRow("4:4:4 progressive") << arrayOf(compressPicture(picture, [](jpeg_compress_struct& c) {
            for (int i = 0; i < c.num_components; ++i)
                c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
            jpeg_simple_progression(&c);
        }));
        // Chroma halved vertically only: two rows to a row group.
        QTest::newRow("1x2 chroma") << arrayOf(compressPicture(picture, [](jpeg_compress_struct& c) {
            c.comp_info[0].h_samp_factor = 1;
            c.comp_info[0].v_samp_factor = 2;
        }));
        Bytes grey;
        for (int y = 0; y < 37; ++y)
            for (int x = 0; x < 53; ++x)
                grey.push_back(std::uint8_t(picture.scanLine(y)[x] >> 8));
        QTest::newRow("greyscale") << arrayOf(compressRaw(53, 37, 1, JCS_GRAYSCALE, grey));
    }
    void decodesWhatLibjpegDecodes()
    {
        QFETCH(QByteArray, file);
        const Bytes bytes = bytesOf(file);
        QVERIFY(samePixels(decodeJpeg(bytes.data(), bytes.size()), libjpegReference(bytes)));
    }

    // Garbage between segments draws a warning from libjpeg, but the picture
    // is whole.
    void extraneousBytesBeforeAMarkerAreSkipped_data()
    {
        QTest::addColumn<int>("marker");
        QTest::newRow("before DQT") << 0xDB;
        QTest::newRow("before SOF0") << 0xC0;
        QTest::newRow("before EOI") << 0xD9;
    }
    void extraneousBytesBeforeAMarkerAreSkipped()
    {
        QFETCH(int, marker);
        const Bytes clean = encodeJpeg(patterned(40, 24, 2));
        std::size_t at = 0;
        for (const Segment& s : markersOf(clean))
            if (s.marker == marker && at == 0)
                at = s.offset;
        QVERIFY(at > 0);
        Bytes dirty = clean;
        const Bytes garbage = { 0x12, 0x34, 0x00, 0x56, 0xAB };
        dirty.insert(dirty.begin() + long(at), garbage.begin(), garbage.end());
        const TBitmap expected = decodeJpeg(clean.data(), clean.size());
        QVERIFY(samePixels(decodeJpeg(dirty.data(), dirty.size()), expected));
    }

    // Every cut of a file, down to no bytes at all, is reported as damaged.
    void everyTruncationIsDamage_data()
    {
        QTest::addColumn<QByteArray>("file");
        const TBitmap picture = patterned(40, 24, 4);
        QTest::newRow("baseline") << arrayOf(encodeJpeg(picture));
        QTest::newRow("progressive")
            << arrayOf(compressPicture(picture, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); }));
    }
    void everyTruncationIsDamage()
    {
        QFETCH(QByteArray, file);
        const Bytes whole = bytesOf(file);
        QCOMPARE(decodeFailure(whole), QString());
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            const QString failure = decodeFailure(Bytes(whole.begin(), whole.begin() + long(cut)));
            if (failure != QString(kDamagedPicture))
                QFAIL(qPrintable(QString("cut at %1 of %2: \"%3\"").arg(cut).arg(whole.size()).arg(failure)));
        }
    }

    // Damage inside a file that still ends properly: what is missing is
    // found by the entropy decoder.
    void damagedScansAreDamage_data()
    {
        QTest::addColumn<QByteArray>("file");
        const TBitmap picture = patterned(40, 24, 6);
        // The data of the file's longest scan cut in half and the file closed
        // with EOI, as a program that saves what it got might leave it.
        const auto cutAndClosed = [](const Bytes& file) {
            const std::vector<Segment> segments = markersOf(file);
            std::size_t from = 0, to = 0;
            for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
                const std::size_t data = segments[i].offset + 4 + segments[i].body.size();
                if (segments[i].marker == 0xDA && segments[i + 1].offset - data > to - from) {
                    from = data;
                    to = segments[i + 1].offset;
                }
            }
            Bytes b(file.begin(), file.begin() + long((from + to) / 2));
            b.insert(b.end(), { 0xFF, 0xD9 });
            return arrayOf(b);
        };
        QTest::newRow("baseline scan cut short") << cutAndClosed(encodeJpeg(picture));
        const Bytes progressive = compressPicture(picture, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
        QTest::newRow("progressive scan cut short") << cutAndClosed(progressive);
        // A restart marker with the wrong number, or left out: the decoder
        // must skip data to find its place again.
        Bytes restarts = compressPicture(picture, [](jpeg_compress_struct& c) { c.restart_interval = 1; });
        std::size_t rst = 0;
        int found = 0;
        for (const Segment& s : markersOf(restarts))
            if (s.marker >= 0xD0 && s.marker <= 0xD7 && found++ == 1)
                rst = s.offset;
        QVERIFY(rst > 0);
        QCOMPARE(decodeFailure(restarts), QString());
        Bytes renumbered = restarts;
        renumbered[rst + 1] = std::uint8_t(0xD0 + (renumbered[rst + 1] + 4) % 8);
        QTest::newRow("restart marker out of sequence") << arrayOf(renumbered);
        restarts.erase(restarts.begin() + long(rst), restarts.begin() + long(rst + 2));
        QTest::newRow("restart marker missing") << arrayOf(restarts);
    }
    void damagedScansAreDamage()
    {
        QFETCH(QByteArray, file);
        QCOMPARE(decodeFailure(bytesOf(file)), QString(kDamagedPicture));
    }

    // Files libjpeg refuses, and the message each gives.
    void refusedFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");

        QTest::newRow("text") << QByteArray("Just some words in a text file.\n") << "Not a JPEG file: starts with 0x4a 0x75";
        QTest::newRow("no image") << QByteArray("\xFF\xD8\xFF\xD9", 4) << "JPEG datastream contains no image";

        const Bytes good = encodeJpeg(patterned(16, 16, 1));
        std::size_t sof = 0;
        for (const Segment& s : markersOf(good))
            if (s.marker == 0xC0)
                sof = s.offset + 4; // the precision byte
        const auto patched = [&](std::size_t at, std::initializer_list<std::uint8_t> values) {
            Bytes b = good;
            std::copy(values.begin(), values.end(), b.begin() + long(at));
            return arrayOf(b);
        };
        QTest::newRow("12-bit samples") << patched(sof, { 12 }) << "Unsupported JPEG data precision 12";
        QTest::newRow("zero width") << patched(sof + 3, { 0, 0 }) << "Empty JPEG image (DNL not supported)";
        // 35584 x 18696 in a few hundred bytes: refused before anything is
        // allocated for it.
        QTest::newRow("665 megapixels") << patched(sof + 1, { 0x49, 0x08, 0x8B, 0x00 })
                                        << "The picture is too large (35584 x 18696 pixels); at most 65500 pixels "
                                           "a side and 268 megapixels can be opened";
    }
    void refusedFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QCOMPARE(decodeFailure(bytesOf(file)), message);
    }

    // Files of a few hundred bytes that claim huge pictures, and headers that
    // are wrong before any scan: all refused after the headers are read,
    // before the library allocates anything for the picture.
    void hostileHeadersAreRefusedEarly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        const QString tooLarge = QStringLiteral("The picture is too large (%1 x %2 pixels) for a file of %3 bytes");
        const QString damaged = QString::fromLatin1(kDamagedPicture);

        const Bytes bomb = progressiveBomb();
        QTest::newRow("progressive arithmetic, 3617 x 64508") << arrayOf(bomb) << tooLarge.arg(3617).arg(64508).arg(bomb.size());
        // Y started alone, so the first scan names one component id.
        const Bytes lumaFirst = keepScans(
            withFrameSize(compressColour(16, 16, withScans(lumaFirstProgression(), true)), 3617, 64508), 1);
        QTest::newRow("three components with one id") << arrayOf(withOneComponentId(lumaFirst)) << damaged;
        // libjpeg would match the scans' ids to the components in order and
        // decode this one, but no valid file has it.
        QTest::newRow("three components with one id, also in the scan, 16 x 16")
            << arrayOf(withOneComponentId(compressColour(16, 16, {}), true)) << damaged;
        QTest::newRow("quantisation table 9") << arrayOf(withQuantTable(lumaFirst, 9)) << damaged;
        QTest::newRow("quantisation table 3, never defined") << arrayOf(withQuantTable(lumaFirst, 3)) << damaged;

        const auto arithmetic = [](jpeg_compress_struct& c) { c.arith_code = TRUE; };
        const Bytes sequential = withFrameSize(compressColour(16, 16, arithmetic), 16000, 16000);
        QTest::newRow("arithmetic baseline, 16000 x 16000")
            << arrayOf(sequential) << tooLarge.arg(16000).arg(16000).arg(sequential.size());

        // Huffman codes cost at least a bit a block: these files are far too
        // short to hold the pictures they claim.
        const auto progressive = [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); };
        QTest::newRow("Huffman progressive, 8000 x 8000")
            << arrayOf(withFrameSize(compressColour(16, 16, progressive), 8000, 8000)) << damaged;
        QTest::newRow("Huffman baseline, 8000 x 8000")
            << arrayOf(withFrameSize(compressColour(16, 16, {}), 8000, 8000)) << damaged;
        QTest::newRow("Huffman, a component a scan, 8000 x 8000")
            << arrayOf(withFrameSize(compressColour(16, 16, withScans(componentPerScan())), 8000, 8000)) << damaged;
    }
    void hostileHeadersAreRefusedEarly()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QCOMPARE(decodeFailure(bytesOf(file)), message);
    }

    // A file whose components come in several scans is read to its end before
    // any row is made; it is whole only if every component's first scan was
    // there. Later scans (the AC refinements) may be missing: libjpeg makes a
    // blurred but whole picture of them.
    void everyComponentNeedsItsFirstScan_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("whole");
        for (const bool arithmetic : { false, true }) {
            const QString coding = arithmetic ? QStringLiteral("arithmetic") : QStringLiteral("Huffman");
            const Bytes progressive = compressColour(24, 16, withScans(lumaFirstProgression(), arithmetic));
            const auto row = [&](const char* name) -> QTestData& { return QTest::newRow(qPrintable(coding + ", " + name)); };
            row("progressive, cut after Y's first scan") << arrayOf(keepScans(progressive, 1)) << false;
            row("progressive, cut after every first scan") << arrayOf(keepScans(progressive, 2)) << true;
            const Bytes split = compressColour(24, 16, withScans(componentPerScan(), arithmetic));
            row("a component a scan, cut after one") << arrayOf(keepScans(split, 1)) << false;
            row("a component a scan, cut after two") << arrayOf(keepScans(split, 2)) << false;
            row("a component a scan, whole") << arrayOf(split) << true;
        }
    }
    void everyComponentNeedsItsFirstScan()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, whole);
        const Bytes bytes = bytesOf(file);
        if (!whole) {
            QCOMPARE(decodeFailure(bytes), QString::fromLatin1(kDamagedPicture));
            return;
        }
        QCOMPARE(decodeFailure(bytes), QString());
        QVERIFY(samePixels(decodeJpeg(bytes.data(), bytes.size()), libjpegReference(bytes)));
    }

    // Arithmetic coding has no cheapest block, so a tiny file may claim any
    // picture the memory rule allows it and opens; just past the rule it is
    // refused.
    void smallFilesMayClaimWhatTheRuleAllows_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("opens");
        const auto arithmetic = [](jpeg_compress_struct& c) { c.arith_code = TRUE; };
        const auto progressive = [](jpeg_compress_struct& c) {
            c.arith_code = TRUE;
            jpeg_simple_progression(&c);
        };
        const Bytes sequential = compressColour(16, 16, arithmetic);
        QTest::newRow("sequential, 4000 x 4000") << arrayOf(withFrameSize(sequential, 4000, 4000)) << true;
        QTest::newRow("sequential, 4300 x 4000") << arrayOf(withFrameSize(sequential, 4300, 4000)) << false;
        const Bytes twoScans = keepScans(compressColour(16, 16, progressive), 1);
        QTest::newRow("progressive, 3000 x 3000") << arrayOf(withFrameSize(twoScans, 3000, 3000)) << true;
        QTest::newRow("progressive, 3300 x 3000") << arrayOf(withFrameSize(twoScans, 3300, 3000)) << false;
    }
    void smallFilesMayClaimWhatTheRuleAllows()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, opens);
        const QString failure = decodeFailure(bytesOf(file));
        if (opens)
            QCOMPARE(failure, QString());
        else
            QVERIFY2(failure.startsWith(QStringLiteral("The picture is too large (")) && failure.contains("for a file of"),
                qPrintable(failure));
    }

    // A progressive file may refine each coefficient bit by bit, but a file
    // of hundreds of scans is refused rather than decoded scan after scan.
    void scanCountIsBounded_data()
    {
        QTest::addColumn<int>("perCoefficient");
        QTest::addColumn<QString>("failure");
        QTest::newRow("64 scans") << 1 << QString();
        QTest::newRow("448 scans") << 7 << QString();
        QTest::newRow("704 scans") << 11 << QString("The JPEG file has too many scans (more than 500)");
    }
    void scanCountIsBounded()
    {
        QFETCH(int, perCoefficient);
        QFETCH(QString, failure);
        const Bytes file = progressionOf(perCoefficient);
        const auto segments = markersOf(file);
        QCOMPARE(std::count_if(segments.begin(), segments.end(), [](const Segment& s) { return s.marker == 0xDA; }),
            long(64 * perCoefficient));
        QCOMPARE(decodeFailure(file), failure);
        if (failure.isEmpty()) {
            const TBitmap picture = decodeJpeg(file.data(), file.size());
            QCOMPARE(picture.width(), 16);
            QCOMPARE(picture.height(), 16);
            TBitmap grey;
            grey.setSize(16, 16);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    grey.scanLine(y)[x] = pixelFromColor(RGB(20 + x * 9 + y * 5, 20 + x * 9 + y * 5, 20 + x * 9 + y * 5));
            QVERIFY(largestDifference(grey, picture) <= 1);
        }
    }

    // Each scan passes over the whole picture, so a large picture is allowed
    // fewer of them: an 8-megapixel file stops after 64.
    void scanLimitShrinksForLargePictures()
    {
        QCOMPARE(decodeFailure(progressionOf(1, 4096, 2048)), QString());
        QCOMPARE(decodeFailure(progressionOf(2, 4096, 2048)),
            QStringLiteral("The JPEG file has too many scans (more than 64)"));
    }
};

QTEST_APPLESS_MAIN(TestJpeg)
#include "test_jpeg.moc"
