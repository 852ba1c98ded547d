// The BMP codec: the writer's exact bytes, round trips, every layout the
// reader accepts, and the damaged or unsupported files it must refuse.
#include "fixtures.h"
#include "pictures/bmp_codec.h"
#include "pictures/picture_limits.h"

#include <QList>
#include <QTest>

#include <climits>
#include <initializer_list>

namespace {

void put16(QByteArray& b, quint32 v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}

void put32(QByteArray& b, quint32 v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Pixel rows as stored, each padded with zeros to a multiple of 4 bytes.
QByteArray rows(std::initializer_list<QByteArray> list)
{
    QByteArray b;
    for (QByteArray r : list) {
        while (r.size() % 4)
            r.append('\0');
        b += r;
    }
    return b;
}

QByteArray words16(std::initializer_list<quint32> values)
{
    QByteArray b;
    for (quint32 v : values)
        put16(b, v);
    return b;
}

QByteArray words32(std::initializer_list<quint32> values)
{
    QByteArray b;
    for (quint32 v : values)
        put32(b, v);
    return b;
}

// The fields of a test file, written exactly as given: nothing is derived
// or corrected except where a field says so, so a test can put any value
// into any field.
struct TBmpFields {
    quint32 headerSize = 40;
    qint32 width = 1;
    qint32 height = 1;
    quint32 planes = 1;
    quint32 bitCount = 24;
    quint32 compression = 0;
    quint32 clrUsed = 0;
    QList<quint32> masks; // inside a 52-byte or longer header, else after the header
    QList<quint32> palette; // 0xRRGGBB, 3 bytes each after a 12-byte header, else 4
    int gap = 0; // bytes between the palette and the pixels
    QByteArray pixels;
    qint64 offBits = -1; // -1: where the pixels really start
};

QByteArray bmpFile(const TBmpFields& f)
{
    QByteArray info;
    put32(info, f.headerSize);
    if (f.headerSize == 12) {
        put16(info, quint32(f.width));
        put16(info, quint32(f.height));
        put16(info, f.planes);
        put16(info, f.bitCount);
    } else {
        put32(info, quint32(f.width));
        put32(info, quint32(f.height));
        put16(info, f.planes);
        put16(info, f.bitCount);
        put32(info, f.compression);
        put32(info, quint32(f.pixels.size()));
        put32(info, 2835);
        put32(info, 2835);
        put32(info, f.clrUsed);
        put32(info, 0);
        if (f.headerSize >= 52 && f.headerSize != 64) {
            const int maskSlots = f.headerSize == 52 ? 3 : 4;
            for (int i = 0; i < maskSlots; ++i)
                put32(info, i < f.masks.size() ? f.masks[i] : 0);
        }
        if (f.headerSize >= 108)
            put32(info, 0x73524742); // "sRGB"
        while (quint32(info.size()) < f.headerSize)
            info.append('\0');
        // An OS/2 2.x header cut short after any of its fields.
        if (f.headerSize > 12 && f.headerSize < 40)
            info.truncate(int(f.headerSize));
        if (f.headerSize == 40)
            for (quint32 m : f.masks)
                put32(info, m);
    }
    for (quint32 c : f.palette) {
        info.append(char(c & 0xFF));
        info.append(char((c >> 8) & 0xFF));
        info.append(char((c >> 16) & 0xFF));
        if (f.headerSize != 12)
            info.append('\0');
    }
    info.append(QByteArray(f.gap, '\0'));

    QByteArray file("BM");
    const quint32 offBits = f.offBits >= 0 ? quint32(f.offBits) : quint32(14 + info.size());
    put32(file, quint32(14 + info.size() + f.pixels.size()));
    put32(file, 0);
    put32(file, offBits);
    return file + info + f.pixels;
}

TBitmap decode(const QByteArray& file)
{
    return decodeBmp(reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size()));
}

// The decoded pixels top row first, as 0xFFRRGGBB words.
QList<quint32> pixelsOf(const TBitmap& b)
{
    QList<quint32> out;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            out.append(b.scanLine(y)[x]);
    return out;
}

QString hexList(const QList<quint32>& v)
{
    QStringList s;
    for (quint32 p : v)
        s << QString::number(p, 16).toUpper();
    return s.join(' ');
}

constexpr quint32 px(quint32 rgb) { return 0xFF000000u | rgb; }

// Colours of the small palettes. Index 0 is not black, so pixels that RLE
// data leaves unset show whether they took black or the first colour.
constexpr quint32 kBlue = 0x0000FF;
constexpr quint32 kRed = 0xFF0000;
constexpr quint32 kGreen = 0x00FF00;
constexpr quint32 kWhite = 0xFFFFFF;
constexpr quint32 K = 0xFF000000u; // black, opaque
constexpr quint32 B = px(kBlue);
constexpr quint32 R = px(kRed);
constexpr quint32 G = px(kGreen);
constexpr quint32 W = px(kWhite);
const QList<quint32> kFourColours { kBlue, kRed, kGreen, kWhite };

// A valid 8-bit 3 x 2 file with a 4-colour palette: 14 + 40 + 16 bytes of
// headers, pixels at 70, two rows of 4 bytes, 78 bytes in all.
TBmpFields small8()
{
    TBmpFields f;
    f.bitCount = 8;
    f.width = 3;
    f.height = 2;
    f.clrUsed = 4;
    f.palette = kFourColours;
    f.pixels = rows({ bytes({ 0, 1, 2 }), bytes({ 3, 2, 1 }) });
    return f;
}

TBmpFields rle8(qint32 width, qint32 height, const QByteArray& data)
{
    TBmpFields f;
    f.bitCount = 8;
    f.compression = 1;
    f.width = width;
    f.height = height;
    f.clrUsed = 4;
    f.palette = kFourColours;
    f.pixels = data;
    return f;
}

TBmpFields rle4(qint32 width, qint32 height, const QByteArray& data)
{
    TBmpFields f = rle8(width, height, data);
    f.bitCount = 4;
    f.compression = 2;
    return f;
}

} // namespace

class TestBmp : public QObject {
    Q_OBJECT
private slots:
    void recognisesTheSignature()
    {
        const std::uint8_t bm[] = { 'B', 'M', 0 };
        const std::uint8_t ba[] = { 'B', 'A', 0 };
        QVERIFY(looksLikeBmp(bm, 2));
        QVERIFY(looksLikeBmp(bm, 3));
        QVERIFY(!looksLikeBmp(bm, 1));
        QVERIFY(!looksLikeBmp(ba, 3));
        QVERIFY(!looksLikeBmp(nullptr, 0));
    }

    // The writer's whole file, byte for byte: the stride and file size are
    // given here as numbers, not worked out the way the writer does.
    void writesExactBytes_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("stride");
        QTest::addColumn<int>("fileSize");
        QTest::newRow("1 x 1") << 1 << 1 << 4 << 58;
        QTest::newRow("1 x 2") << 1 << 2 << 4 << 62;
        QTest::newRow("3 x 1") << 3 << 1 << 12 << 66;
        QTest::newRow("3 x 2") << 3 << 2 << 12 << 78;
        QTest::newRow("4 x 2") << 4 << 2 << 12 << 78;
        QTest::newRow("5 x 1") << 5 << 1 << 16 << 70;
        QTest::newRow("5 x 2") << 5 << 2 << 16 << 86;
    }
    void writesExactBytes()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, stride);
        QFETCH(int, fileSize);
        const TBitmap picture = patterned(w, h, 40 + w * 10 + h);

        QByteArray expected("BM");
        put32(expected, quint32(fileSize));
        put32(expected, 0); // reserved
        put32(expected, 54); // bfOffBits
        put32(expected, 40); // biSize
        put32(expected, quint32(w));
        put32(expected, quint32(h));
        put16(expected, 1); // planes
        put16(expected, 24); // bit count
        put32(expected, 0); // BI_RGB
        put32(expected, quint32(stride * h)); // biSizeImage
        put32(expected, 0);
        put32(expected, 0);
        put32(expected, 0);
        put32(expected, 0);
        for (int y = h - 1; y >= 0; --y) {
            QByteArray row;
            for (int x = 0; x < w; ++x) {
                const TColor c = colorFromPixel(picture.scanLine(y)[x]);
                row.append(char(GetBValue(c)));
                row.append(char(GetGValue(c)));
                row.append(char(GetRValue(c)));
            }
            row.append(QByteArray(stride - 3 * w, '\0'));
            expected += row;
        }
        QCOMPARE(expected.size(), fileSize);

        const std::vector<std::uint8_t> file = encodeBmp(picture);
        const QByteArray actual(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
        QCOMPARE(actual.toHex(' '), expected.toHex(' '));
    }

    void writesNothingForAnEmptyPicture()
    {
        QVERIFY(encodeBmp(TBitmap()).empty());
        TBitmap noRows;
        noRows.setSize(5, 0);
        QVERIFY(encodeBmp(noRows).empty());
    }

    void roundTrips_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("1 x 1") << 1 << 1;
        QTest::newRow("2 x 3") << 2 << 3;
        QTest::newRow("5 x 7") << 5 << 7;
        QTest::newRow("17 x 9") << 17 << 9;
        QTest::newRow("33 x 1") << 33 << 1;
        QTest::newRow("1 x 33") << 1 << 33;
        QTest::newRow("301 x 203") << 301 << 203;
    }
    void roundTrips()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const TBitmap picture = patterned(w, h, w + 3 * h);
        const std::vector<std::uint8_t> file = encodeBmp(picture);
        const TBitmap back = decodeBmp(file.data(), file.size());
        QCOMPARE(back.width(), w);
        QCOMPARE(back.height(), h);
        QVERIFY(samePixels(back, picture));
    }

    void decodesEveryLayout_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QList<quint32>>("expected");

        {
            // Bits past the width in the last byte are ignored.
            TBmpFields f;
            f.bitCount = 1;
            f.width = 10;
            f.height = 2;
            f.palette = { 0x112233, 0xDDEEFF };
            f.pixels = rows({ bytes({ 0xAA, 0xC0 }), bytes({ 0x0F, 0x7F }) });
            const quint32 a = px(0x112233), b = px(0xDDEEFF);
            QTest::newRow("1 bpp, 10 wide") << bmpFile(f) << 10 << 2
                                            << QList<quint32> { a, a, a, a, b, b, b, b, a, b, //
                                                   b, a, b, a, b, a, b, a, b, b };
        }
        {
            // Three colours; the unused low nibble of the last byte holds 15.
            TBmpFields f;
            f.bitCount = 4;
            f.width = 5;
            f.height = 2;
            f.clrUsed = 3;
            f.palette = { kBlue, kRed, kGreen };
            f.pixels = rows({ bytes({ 0x01, 0x20, 0x1F }), bytes({ 0x22, 0x11, 0x00 }) });
            QTest::newRow("4 bpp, 3 colours") << bmpFile(f) << 5 << 2
                                              << QList<quint32> { G, G, R, R, B, B, R, G, B, R };
        }
        {
            TBmpFields f = small8();
            f.height = -2;
            QTest::newRow("8 bpp, 4 colours, top-down") << bmpFile(f) << 3 << 2
                                                        << QList<quint32> { B, R, G, W, G, R };
        }
        {
            TBmpFields f = small8();
            QTest::newRow("8 bpp, 4 colours, bottom-up") << bmpFile(f) << 3 << 2
                                                         << QList<quint32> { W, G, R, B, R, G };
        }
        {
            TBmpFields f;
            f.bitCount = 8;
            f.width = 4;
            f.height = 1;
            for (quint32 i = 0; i < 256; ++i)
                f.palette.append((i << 16) | ((255 - i) << 8) | (i ^ 0x55));
            f.pixels = bytes({ 0x00, 0x7F, 0x80, 0xFF });
            QTest::newRow("8 bpp, 256 colours by default")
                << bmpFile(f) << 4 << 1 << QList<quint32> { px(0x00FF55), px(0x7F802A), px(0x807FD5), px(0xFF00AA) };
        }
        {
            // x1r5g5b5: 31 -> 255, 16 -> 132, 1 -> 8; the top bit is ignored.
            TBmpFields f;
            f.bitCount = 16;
            f.width = 3;
            f.height = 2;
            f.pixels = rows({ words16({ 0x7E01, 0x83F0, 0x403F }), words16({ 0x0000, 0x7FFF, 0x0421 }) });
            const QList<quint32> expected { px(0x000000), px(0xFFFFFF), px(0x080808), //
                px(0xFF8408), px(0x00FF84), px(0x8408FF) };
            QTest::newRow("16 bpp 5-5-5 by default") << bmpFile(f) << 3 << 2 << expected;
            // Masks in a V4 header mean nothing without BI_BITFIELDS.
            f.headerSize = 108;
            f.masks = { 0xF800, 0x07E0, 0x001F };
            QTest::newRow("16 bpp 5-5-5, V4 header with other masks") << bmpFile(f) << 3 << 2 << expected;
        }
        // 5-6-5: 6-bit 63 -> 255, 32 -> 130, 1 -> 4.
        const QByteArray pixels565 = rows({ words16({ 0xFFF0, 0x8401, 0x0820 }) });
        const QList<quint32> expected565 { px(0xFFFF84), px(0x848208), px(0x080400) };
        const QList<quint32> masks565 { 0xF800, 0x07E0, 0x001F };
        {
            TBmpFields f;
            f.bitCount = 16;
            f.compression = 3;
            f.width = 3;
            f.masks = masks565;
            f.pixels = pixels565;
            QTest::newRow("16 bpp 5-6-5 masks after the header") << bmpFile(f) << 3 << 1 << expected565;
            f.headerSize = 52;
            QTest::newRow("16 bpp 5-6-5, V2 header") << bmpFile(f) << 3 << 1 << expected565;
            f.headerSize = 108;
            QTest::newRow("16 bpp 5-6-5, V4 header") << bmpFile(f) << 3 << 1 << expected565;
        }
        {
            TBmpFields f;
            f.width = 3;
            f.height = 2;
            f.pixels = rows({ bytes({ 1, 2, 3, 4, 5, 6, 7, 8, 9 }), bytes({ 10, 11, 12, 13, 14, 15, 16, 17, 18 }) });
            const QList<quint32> bottomUp { px(0x0C0B0A), px(0x0F0E0D), px(0x121110), //
                px(0x030201), px(0x060504), px(0x090807) };
            const QList<quint32> topDown { px(0x030201), px(0x060504), px(0x090807), //
                px(0x0C0B0A), px(0x0F0E0D), px(0x121110) };
            QTest::newRow("24 bpp bottom-up") << bmpFile(f) << 3 << 2 << bottomUp;
            f.gap = 6;
            QTest::newRow("24 bpp, pixels after a gap") << bmpFile(f) << 3 << 2 << bottomUp;
            f.gap = 0;
            f.height = -2;
            QTest::newRow("24 bpp top-down") << bmpFile(f) << 3 << 2 << topDown;
            f.headerSize = 12;
            f.height = 2;
            QTest::newRow("24 bpp, OS/2 1.x header") << bmpFile(f) << 3 << 2 << bottomUp;
        }
        {
            // B, G, R and an unused byte.
            TBmpFields f;
            f.bitCount = 32;
            f.width = 2;
            f.pixels = bytes({ 0x10, 0x20, 0x30, 0x77, 0xFF, 0x00, 0x80, 0x01 });
            const QList<quint32> expected { px(0x302010), px(0x8000FF) };
            QTest::newRow("32 bpp BGRx") << bmpFile(f) << 2 << 1 << expected;
            // Masks in a V5 header mean nothing without BI_BITFIELDS.
            f.headerSize = 124;
            f.masks = { 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000 };
            QTest::newRow("32 bpp BGRx, V5 header with other masks") << bmpFile(f) << 2 << 1 << expected;
        }
        {
            // 10-bit channels: 1023 -> 255, 512 -> 128, 7 -> 2, 3 -> 1, 1022 -> 255,
            // where dropping the low bits would give 1 and 0 for 7 and 3. The two
            // bits above the masks are set and ignored.
            TBmpFields f;
            f.bitCount = 32;
            f.compression = 3;
            f.width = 2;
            f.masks = { 0x3FF00000, 0x000FFC00, 0x000003FF };
            f.pixels = words32({ 0xFFF80007, 0x003003FE });
            QTest::newRow("32 bpp 10-10-10 bit fields") << bmpFile(f) << 2 << 1
                                                        << QList<quint32> { px(0xFF8002), px(0x0100FF) };
        }
        {
            // A 20-bit channel: 2^19 -> 128 and 2057 -> 1 (a shift gives 0);
            // 6-bit 40 -> 162, 33 -> 134.
            TBmpFields f;
            f.bitCount = 32;
            f.compression = 3;
            f.width = 2;
            f.masks = { 0xFFFFF000, 0x00000FC0, 0x0000003F };
            f.pixels = words32({ 0x80000A21, 0x00809FC0 });
            QTest::newRow("32 bpp 20-6-6 bit fields") << bmpFile(f) << 2 << 1
                                                      << QList<quint32> { px(0x80A286), px(0x01FF00) };
        }
        {
            // R, G, B, A byte order given by the masks.
            TBmpFields f;
            f.bitCount = 32;
            f.compression = 6;
            f.width = 2;
            f.masks = { 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000 };
            f.pixels = bytes({ 0x11, 0x22, 0x33, 0x44, 0xA0, 0xB0, 0xC0, 0x00 });
            const QList<quint32> expected { px(0x112233), px(0xA0B0C0) };
            QTest::newRow("32 bpp alpha bit fields after the header") << bmpFile(f) << 2 << 1 << expected;
            f.compression = 3;
            f.headerSize = 56;
            QTest::newRow("32 bpp RGBA masks, V3 header") << bmpFile(f) << 2 << 1 << expected;
            f.headerSize = 124;
            QTest::newRow("32 bpp RGBA masks, V5 header") << bmpFile(f) << 2 << 1 << expected;
        }
        {
            // A 3-byte palette of 3 colours: as many as fit before the pixels.
            TBmpFields f;
            f.headerSize = 12;
            f.bitCount = 4;
            f.width = 3;
            f.palette = { kRed, kGreen, kWhite };
            f.pixels = rows({ bytes({ 0x01, 0x20 }) });
            QTest::newRow("4 bpp, OS/2 1.x header") << bmpFile(f) << 3 << 1 << QList<quint32> { R, G, W };
        }
        {
            TBmpFields f = small8();
            f.headerSize = 64;
            QTest::newRow("8 bpp, OS/2 2.x header") << bmpFile(f) << 3 << 2 << QList<quint32> { W, G, R, B, R, G };
        }
        {
            // Rows from the bottom: runs, an odd literal with its pad byte,
            // end-of-line, a delta within a row and one across rows, and the
            // skipped pixels black.
            const QByteArray data = bytes({
                0x02, 0x01, 0x00, 0x03, 0x02, 0x03, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, // R R G W G B
                0x00, 0x02, 0x02, 0x00, 0x02, 0x03, 0x00, 0x00, // K K W W K K
                0x00, 0x04, 0x00, 0x01, 0x02, 0x03, 0x00, 0x02, 0x01, 0x01, // B R G W K K
                0x01, 0x02, 0x00, 0x01, // K K K K K G
            });
            QTest::newRow("RLE8") << bmpFile(rle8(6, 4, data)) << 6 << 4
                                  << QList<quint32> { K, K, K, K, K, G, //
                                         B, R, G, W, K, K, //
                                         K, K, W, W, K, K, //
                                         R, R, G, W, G, B };
        }
        {
            const QByteArray data = bytes({ 0x03, 0x01, 0x00, 0x01 });
            QTest::newRow("RLE8 ending early") << bmpFile(rle8(3, 2, data)) << 3 << 2
                                               << QList<quint32> { K, K, K, R, R, R };
        }
        {
            const QByteArray data = bytes({ 0x03, 0x01, 0x00, 0x00, 0x03, 0x02, 0x00, 0x00, 0x00, 0x01 });
            QTest::newRow("RLE8 with end-of-line after the last row") << bmpFile(rle8(3, 2, data)) << 3 << 2
                                                                      << QList<quint32> { G, G, G, R, R, R };
        }
        {
            // A 5-nibble literal takes 3 bytes and a pad byte; runs alternate
            // their two nibbles.
            const QByteArray data = bytes({
                0x00, 0x05, 0x01, 0x23, 0x10, 0x00, 0x02, 0x33, 0x00, 0x00, // B R G W R W W
                0x00, 0x02, 0x01, 0x00, 0x03, 0x21, 0x00, 0x01, // K G R G K K K
            });
            QTest::newRow("RLE4") << bmpFile(rle4(7, 2, data)) << 7 << 2
                                  << QList<quint32> { K, G, R, G, K, K, K, B, R, G, W, R, W, W };
        }
    }
    void decodesEveryLayout()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QList<quint32>, expected);
        TBitmap picture;
        try {
            picture = decode(file);
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
        QCOMPARE(picture.width(), w);
        QCOMPARE(picture.height(), h);
        const QList<quint32> actual = pixelsOf(picture);
        QVERIFY2(actual == expected, qPrintable("got " + hexList(actual) + "\nexpected " + hexList(expected)));
    }

    // OS/2 2.x headers may end after any of their fields: every such length
    // from 16 to 64 bytes opens, the fields left out taken as zero (here: no
    // compression, the full palette of a 1-bit picture). Other lengths are
    // no header at all.
    void os2HeaderLengths_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("opens");
        for (int length : { 16, 20, 24, 28, 32, 36, 40, 42, 44, 46, 48, 52, 56, 60, 64 })
            QTest::newRow(qPrintable(QString("%1 bytes").arg(length))) << length << true;
        for (int length : { 13, 14, 15, 17, 38, 41, 43, 50, 62, 63, 65, 100 })
            QTest::newRow(qPrintable(QString("%1 bytes").arg(length))) << length << false;
    }
    void os2HeaderLengths()
    {
        QFETCH(int, length);
        QFETCH(bool, opens);
        TBmpFields f;
        f.headerSize = quint32(length);
        f.bitCount = 1;
        f.width = 3;
        f.height = 2;
        f.palette = { kRed, kGreen };
        f.pixels = rows({ bytes({ 0xA0 }), bytes({ 0x40 }) });
        const QByteArray file = bmpFile(f);
        if (!opens) {
            try {
                decode(file);
                QFAIL("opened");
            } catch (const EPictureError& e) {
                QVERIFY2(QString(e.what()).contains(QString("unknown size of %1 bytes").arg(length)), e.what());
            }
            return;
        }
        try {
            const TBitmap picture = decode(file);
            QCOMPARE(picture.width(), 3);
            QCOMPARE(picture.height(), 2);
            QCOMPARE(pixelsOf(picture), (QList<quint32> { R, G, R, G, R, G }));
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
    }

    // The same compression values mean other things in OS/2 2.x: Huffman
    // and RLE24, neither supported, whatever the header's length.
    void os2CompressionIsRefused_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("compression");
        QTest::addColumn<QString>("message");
        for (int length : { 20, 36, 48, 64 }) {
            QTest::newRow(qPrintable(QString("%1 bytes, Huffman").arg(length))) << length << 3 << "Huffman";
            QTest::newRow(qPrintable(QString("%1 bytes, RLE24").arg(length))) << length << 4 << "RLE24";
        }
    }
    void os2CompressionIsRefused()
    {
        QFETCH(int, length);
        QFETCH(int, compression);
        QFETCH(QString, message);
        TBmpFields f = small8();
        f.headerSize = quint32(length);
        f.compression = quint32(compression);
        try {
            decode(bmpFile(f));
            QFAIL("opened");
        } catch (const EPictureError& e) {
            QVERIFY2(QString(e.what()).contains(message), e.what());
        }
    }

    void refusesBadFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");

        const QByteArray good = bmpFile(small8());
        QTest::newRow("no bytes") << QByteArray() << kNotAPicture;
        QTest::newRow("not a BMP") << QByteArray("GIF89a\1\0\1\0") << kNotAPicture;
        QTest::newRow("cut in the file header") << good.left(10) << "ends inside its file header";
        QTest::newRow("cut in the info header") << good.left(30) << "ends inside its info header";
        QTest::newRow("cut in the palette") << good.left(60) << "ends inside its palette";
        QTest::newRow("cut where the pixels start") << good.left(70) << "past the end of the file";
        QTest::newRow("cut in the pixel rows") << good.left(77) << "more pixels than the file holds";

        const auto add = [](const char* name, const TBmpFields& f, const char* message) {
            QTest::newRow(name) << bmpFile(f) << QString(message);
        };
        TBmpFields f = small8();
        f.height = 3;
        add("a row more than the file holds", f, "more pixels than the file holds");
        f = small8();
        f.clrUsed = 2;
        f.palette = { kRed, kGreen };
        f.pixels = rows({ bytes({ 0, 1, 0 }), bytes({ 1, 5, 0 }) });
        add("8 bpp index past the palette", f, "colour 5 of a palette of 2");
        f = small8();
        f.bitCount = 4;
        f.clrUsed = 3;
        f.palette = { kRed, kGreen, kWhite };
        f.pixels = rows({ bytes({ 0x01, 0x20 }), bytes({ 0x03, 0x00 }) });
        add("4 bpp index past the palette", f, "colour 3 of a palette of 3");
        f = small8();
        f.bitCount = 1;
        f.clrUsed = 1;
        f.palette = { kRed };
        f.pixels = rows({ bytes({ 0x00 }), bytes({ 0x20 }) });
        add("1 bpp index past the palette", f, "colour 1 of a palette of 1");
        f = small8();
        f.clrUsed = 300;
        add("300 colours for 8 bpp", f, "300 colours");
        f = small8();
        f.headerSize = 12;
        f.bitCount = 16;
        add("16 bpp in an OS/2 1.x header", f, "OS/2 1.x bitmap with 16 bits");
        f = small8();
        f.headerSize = 12;
        f.palette = {};
        add("OS/2 1.x header without a palette", f, "no room for its palette");

        f = small8();
        f.width = 0;
        add("width 0", f, "width is 0");
        f = small8();
        f.width = -3;
        add("negative width", f, "width is -3");
        f = small8();
        f.height = 0;
        add("height 0", f, "height is 0");
        f = small8();
        f.height = INT_MIN;
        add("height INT32_MIN", f, "height is out of range");
        f = small8();
        f.planes = 2;
        add("2 planes", f, "2 planes");
        f = small8();
        f.bitCount = 7;
        add("7 bits per pixel", f, "7 bits per pixel");
        f = small8();
        f.compression = 9;
        add("compression 9", f, "compression 9 is unknown");
        f = small8();
        f.compression = 4;
        add("JPEG inside", f, "JPEG stored inside a BMP");
        f = small8();
        f.compression = 5;
        add("PNG inside", f, "PNG stored inside a BMP");
        f = small8();
        f.compression = 1;
        f.bitCount = 4;
        add("RLE8 at 4 bpp", f, "RLE8 needs 8");
        f = small8();
        f.bitCount = 24;
        f.compression = 3;
        f.palette = {};
        f.clrUsed = 0;
        f.masks = { 0xFF0000, 0xFF00, 0xFF };
        add("bit fields at 24 bpp", f, "need 16 or 32");

        const auto withMasks = [](QList<quint32> masks) {
            TBmpFields m;
            m.bitCount = 16;
            m.compression = 3;
            m.width = 2;
            m.masks = masks;
            m.pixels = bytes({ 0, 0, 0, 0 });
            return m;
        };
        add("zero red mask", withMasks({ 0, 0x07E0, 0x001F }), "red bit-field mask is zero");
        add("zero blue mask", withMasks({ 0xF800, 0x07E0, 0 }), "blue bit-field mask is zero");
        add("overlapping masks", withMasks({ 0xFC00, 0x07E0, 0x001F }), "masks overlap");
        add("mask with a hole", withMasks({ 0xF800, 0x0760, 0x001F }), "green bit-field mask is not one run");
        add("mask outside 16 bits", withMasks({ 0x1F0000, 0x07E0, 0x001F }), "outside the 16-bit pixel");
        f = withMasks({ 0xF800, 0x07E0, 0x001F, 0x8000 });
        f.compression = 6;
        add("alpha mask over red", f, "masks overlap");
        f = withMasks({ 0xF800, 0x07E0 });
        f.pixels.clear();
        add("cut in the masks", f, "ends inside its bit-field masks");

        f = small8();
        f.offBits = 500;
        add("pixels past the end", f, "past the end of the file");
        f = small8();
        f.offBits = 40;
        add("pixels inside the headers", f, "inside its headers");
        f = small8();
        f.offBits = 62;
        add("pixels inside the palette", f, "inside its palette");

        // Small files that claim huge pictures: refused before allocating.
        f = small8();
        f.width = 35584;
        f.height = 18696;
        f.pixels = QByteArray(100 - 70, '\0');
        add("35584 x 18696 in 100 bytes", f, "too large");
        f = TBmpFields();
        f.width = 16000;
        f.height = 16000;
        f.pixels = QByteArray(200, '\x40');
        add("16000 x 16000 x 24 bpp in 254 bytes", f, "more pixels than the file holds");
        // RLE can leave a whole picture black in a few bytes, but a file
        // this small may not claim the gigabyte such a picture takes.
        add("16000 x 16000 RLE8 in 78 bytes", rle8(16000, 16000, bytes({ 0xFF, 0x01, 0xFF, 0x02, 0x00, 0x02, 0x10, 0x40 })),
            "The picture is too large (16000 x 16000 pixels) for a file of 78 bytes");

        add("RLE8 run past the row", rle8(3, 2, bytes({ 0x04, 0x01, 0x00, 0x01 })), "run goes past the end of its row");
        add("RLE8 literal past the row", rle8(3, 2, bytes({ 0x00, 0x04, 1, 1, 1, 1, 0x00, 0x01 })),
            "literal pixels go past the end");
        add("RLE4 run past the row", rle4(3, 2, bytes({ 0x04, 0x12, 0x00, 0x01 })), "run goes past the end of its row");
        add("RLE delta past the row", rle8(3, 2, bytes({ 0x00, 0x02, 0x04, 0x00, 0x00, 0x01 })),
            "delta moves past the end of its row");
        add("RLE delta past the picture", rle8(3, 2, bytes({ 0x00, 0x02, 0x00, 0x02, 0x00, 0x01 })),
            "delta moves past the top");
        add("RLE rows past the picture",
            rle8(3, 2, bytes({ 0x03, 0x01, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x01, 0x00, 0x01 })),
            "past the top of the picture");
        add("RLE end of line past the picture", rle8(3, 1, bytes({ 0x00, 0x00, 0x00, 0x00, 0x00, 0x01 })),
            "end-of-line moves past the top");
        add("RLE without its end", rle8(3, 2, bytes({ 0x03, 0x01, 0x00, 0x00 })), "before its end-of-bitmap marker");
        add("RLE cut in a literal", rle8(6, 2, bytes({ 0x00, 0x05, 1, 2 })), "inside a run of literal pixels");
        add("RLE cut in a delta", rle8(3, 2, bytes({ 0x00, 0x02, 0x01 })), "inside a delta");
        add("RLE8 index past the palette", rle8(3, 2, bytes({ 0x03, 0x09, 0x00, 0x01 })), "colour 9 of a palette of 4");
        add("RLE4 index past the palette", rle4(3, 2, bytes({ 0x00, 0x03, 0x12, 0x70, 0x00, 0x01 })),
            "colour 7 of a palette of 4");
        f = rle8(3, -2, bytes({ 0x03, 0x01, 0x00, 0x01 }));
        add("top-down RLE", f, "cannot be stored top-down");
    }
    void refusesBadFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        try {
            decode(file);
            QFAIL("no error");
        } catch (const EPictureError& e) {
            const QString what = QString::fromUtf8(e.what());
            QVERIFY2(what.contains(message), qPrintable("message: " + what));
        }
    }
};

QTEST_APPLESS_MAIN(TestBmp)
#include "test_bmp.moc"
