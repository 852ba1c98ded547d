// PNG files, which orvanta-compose reads and writes: exact round trips, every
// colour type and bit depth with transparency laid over white, damaged
// files, files that claim more memory than they justify, and the program
// itself on PNG frames.
#include "compose/methods.h"
#include "compose_run.h"
#include "fixtures.h"
#include "fuzz/png_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/picture_files.h"
#include "pictures/picture_limits.h"
#include "pictures/png_codec.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using pngfiles::Bytes;
using pngfiles::Image;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Image)

namespace {

// ------------------------------------------------- what a file should give
//
// Worked out in floating point from the sample values, apart from the
// decoder's integer arithmetic: a sample of d bits is v * M / (2^d - 1) at
// the output's depth M, a channel c under alpha a over white is
// round(c * a / M + M - a), and 16 bits become 8 as round(v / 257).

long roundedOver(double c, double a, double max) { return std::lround(c * a / max + max - a); }

std::uint32_t word(long r, long g, long b) { return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b); }

TBitmap expectedPicture(const Image& image)
{
    const int channels = pngfiles::channelsOf(image.colourType);
    const bool palette = image.colourType == PNG_COLOR_TYPE_PALETTE;
    // Palettes and grey of up to 8 bits come out at 8 bits; 16 stays 16.
    const double max = image.depth == 16 ? 65535 : 255;
    const double top = double((1 << image.depth) - 1);
    TBitmap picture;
    picture.setSize(image.width, image.height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint16_t* s = image.samples.data() + (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * std::size_t(channels);
            double rgb[3];
            double alpha = max;
            if (palette) {
                const png_color& c = image.palette[s[0]];
                rgb[0] = c.red, rgb[1] = c.green, rgb[2] = c.blue;
                if (s[0] < image.paletteAlpha.size())
                    alpha = image.paletteAlpha[s[0]];
            } else {
                const bool grey = channels <= 2;
                for (int i = 0; i < 3; ++i)
                    rgb[i] = std::round(s[grey ? 0 : i] * max / top);
                if (channels == 2 || channels == 4)
                    alpha = std::round(s[channels - 1] * max / top);
                if (image.hasTransparentColour) {
                    const png_color_16& t = image.transparentColour;
                    const bool hit = grey ? s[0] == t.gray : s[0] == t.red && s[1] == t.green && s[2] == t.blue;
                    if (hit)
                        alpha = 0;
                }
            }
            long out[3];
            for (int i = 0; i < 3; ++i) {
                const long composed = roundedOver(rgb[i], alpha, max);
                out[i] = image.depth == 16 ? std::lround(double(composed) / 257.0) : composed;
            }
            picture.scanLine(y)[x] = word(out[0], out[1], out[2]);
        }
    return picture;
}

// Samples that reach both ends of the range and much between, alpha
// included: 0, the maximum and the values next to them come up in every
// picture.
Image withSamples(int width, int height, int depth, int colourType, bool interlaced, unsigned seed)
{
    Image image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.colourType = colourType;
    image.interlaced = interlaced;
    const int channels = pngfiles::channelsOf(colourType);
    const std::uint32_t top = (1u << depth) - 1;
    std::mt19937 random(seed);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        const int entries = 1 << depth;
        for (int i = 0; i < entries; ++i)
            image.palette.push_back({ png_byte(random()), png_byte(random()), png_byte(i * 255 / (entries - 1)) });
    }
    const std::uint32_t count = std::uint32_t(width * height * channels);
    // A palette's indices reach its last entry, other samples their depth's
    // maximum.
    const std::uint32_t limit = colourType == PNG_COLOR_TYPE_PALETTE ? std::uint32_t(image.palette.size()) - 1 : top;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t v = random() % (limit + 1);
        switch (i % 7) {
        case 0: v = 0; break;
        case 1: v = limit; break;
        case 2: v = limit > 0 ? limit - 1 : 0; break;
        default: break;
        }
        image.samples.push_back(std::uint16_t(v));
    }
    return image;
}

QString errorOfDecoding(const Bytes& file)
{
    return errorOf([&] { decodePng(file.data(), file.size()); });
}

// What decoding ends with, "W x H", the error's message or "<out of
// memory>", in a child process that may map only the memory rule's budget
// for the file beyond what it maps already. The test runs on one thread, so
// the child's malloc has one arena whose growth the limit sees.
QString outcomeWithinTheRule(const Bytes& file)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return QStringLiteral("<no pipe>");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        unsigned long long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%llu", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        struct rlimit limit {};
        ::getrlimit(RLIMIT_AS, &limit);
        // The file is held already: the rule's budget counts it.
        limit.rlim_cur = rlim_t(pages * std::uint64_t(::sysconf(_SC_PAGESIZE)) + openingBudget(file.size()) - file.size());
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(2);
        std::string outcome;
        try {
            const TBitmap picture = decodePng(file.data(), file.size());
            outcome = std::to_string(picture.width()) + " x " + std::to_string(picture.height());
        } catch (const std::bad_alloc&) {
            outcome = "<out of memory>";
        } catch (const std::exception& e) {
            outcome = e.what();
        }
        const bool written = ::write(pipeEnds[1], outcome.data(), outcome.size()) == ssize_t(outcome.size());
        ::_exit(written ? 0 : 3);
    }
    ::close(pipeEnds[1]);
    QByteArray got;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, qsizetype(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("<child failed: %1>").arg(status);
    return QString::fromUtf8(got);
}

QString tooLargeForItsFile(int w, int h, const Bytes& file)
{
    return QStringLiteral("The picture is too large (%1 x %2 pixels) for a file of %3 bytes").arg(w).arg(h).arg(file.size());
}

// A grey picture of one bit a pixel, all black, with its whole IDAT: zlib
// packs its rows of zeros about a thousand to one.
Bytes blackBits(std::uint32_t w, std::uint32_t h)
{
    Bytes file = pngfiles::start(w, h, 1, PNG_COLOR_TYPE_GRAY);
    const Bytes idat = pngfiles::chunk("IDAT", pngfiles::deflated(Bytes(std::size_t(h) * ((w + 7) / 8 + 1), 0)));
    const Bytes iend = pngfiles::chunk("IEND", {});
    file.insert(file.end(), idat.begin(), idat.end());
    file.insert(file.end(), iend.begin(), iend.end());
    return file;
}

std::string local(const QTemporaryDir& dir, const char* name) { return path(dir, name); }

void writeBytes(const std::string& name, const Bytes& bytes) { writeFile(QString::fromStdString(name), bytes); }

TBitmap decodedFile(const std::string& name)
{
    return loadPictureOrPngFile(name);
}

} // namespace

class TestPng : public QObject {
    Q_OBJECT
private slots:
    void encodedPicturesComeBackExactly_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("one pixel") << 1 << 1;
        QTest::newRow("odd sizes") << 37 << 23;
        QTest::newRow("one wide row") << 1000 << 1;
        QTest::newRow("one tall column") << 1 << 700;
        QTest::newRow("a frame") << 640 << 480;
    }

    void encodedPicturesComeBackExactly()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        const TBitmap picture = patterned(width, height, width + height);
        const Bytes file = encodePng(picture);
        QVERIFY(looksLikePng(file.data(), file.size()));
        // 8-bit RGB, not interlaced: what any viewer shows as it is.
        QCOMPARE(int(file[24]), 8);
        QCOMPARE(int(file[25]), PNG_COLOR_TYPE_RGB);
        QCOMPARE(int(file[28]), 0);
        QVERIFY(samePixels(decodePng(file.data(), file.size()), picture));
        QVERIFY(samePixels(decodePictureOrPng(file.data(), file.size()), picture));
    }

    void anEmptyPictureEncodesToNothing() { QVERIFY(encodePng(TBitmap()).empty()); }

    void everyColourTypeAndDepthDecodes_data()
    {
        QTest::addColumn<Image>("image");
        struct Kind {
            const char* name;
            int colourType;
            std::initializer_list<int> depths;
        };
        const Kind kinds[] = {
            { "grey", PNG_COLOR_TYPE_GRAY, { 1, 2, 4, 8, 16 } },
            { "grey+alpha", PNG_COLOR_TYPE_GRAY_ALPHA, { 8, 16 } },
            { "palette", PNG_COLOR_TYPE_PALETTE, { 1, 2, 4, 8 } },
            { "RGB", PNG_COLOR_TYPE_RGB, { 8, 16 } },
            { "RGBA", PNG_COLOR_TYPE_RGB_ALPHA, { 8, 16 } },
        };
        unsigned seed = 1;
        for (const Kind& kind : kinds)
            for (const int depth : kind.depths)
                for (const bool interlaced : { false, true }) {
                    // 13 x 11: every interlace pass has pixels, and rows of
                    // low-depth samples end inside a byte.
                    const Image image = withSamples(13, 11, depth, kind.colourType, interlaced, seed++);
                    QTest::addRow("%s %d-bit%s", kind.name, depth, interlaced ? " interlaced" : "") << image;
                }
        // tRNS: palette entries with alpha (fewer than the palette has), and
        // one colour or grey level made transparent.
        Image palette = withSamples(16, 9, 4, PNG_COLOR_TYPE_PALETTE, false, 100);
        palette.paletteAlpha = { 0, 255, 128, 1, 254, 77 };
        QTest::newRow("palette with tRNS") << palette;
        palette.interlaced = true;
        QTest::newRow("palette with tRNS interlaced") << palette;
        Image greyKey = withSamples(16, 9, 8, PNG_COLOR_TYPE_GRAY, false, 101);
        greyKey.hasTransparentColour = true;
        greyKey.transparentColour.gray = 0; // every seventh sample is 0
        QTest::newRow("grey 8-bit with tRNS") << greyKey;
        Image grey2Key = withSamples(16, 9, 2, PNG_COLOR_TYPE_GRAY, false, 102);
        grey2Key.hasTransparentColour = true;
        grey2Key.transparentColour.gray = 3;
        QTest::newRow("grey 2-bit with tRNS") << grey2Key;
        Image rgbKey = withSamples(16, 9, 8, PNG_COLOR_TYPE_RGB, false, 103);
        for (int i = 0; i < 3 * 16; i += 3)
            rgbKey.samples[std::size_t(i)] = 10, rgbKey.samples[std::size_t(i + 1)] = 20, rgbKey.samples[std::size_t(i + 2)] = 30;
        rgbKey.hasTransparentColour = true;
        rgbKey.transparentColour.red = 10, rgbKey.transparentColour.green = 20, rgbKey.transparentColour.blue = 30;
        QTest::newRow("RGB 8-bit with tRNS") << rgbKey;
        Image rgb16Key = withSamples(16, 9, 16, PNG_COLOR_TYPE_RGB, true, 104);
        for (int i = 0; i < 3 * 16; i += 3)
            rgb16Key.samples[std::size_t(i)] = 1000, rgb16Key.samples[std::size_t(i + 1)] = 65535, rgb16Key.samples[std::size_t(i + 2)] = 0;
        rgb16Key.hasTransparentColour = true;
        rgb16Key.transparentColour.red = 1000, rgb16Key.transparentColour.green = 65535, rgb16Key.transparentColour.blue = 0;
        QTest::newRow("RGB 16-bit with tRNS interlaced") << rgb16Key;
    }

    void everyColourTypeAndDepthDecodes()
    {
        QFETCH(Image, image);
        const Bytes file = pngfiles::encode(image);
        const TBitmap got = decodePng(file.data(), file.size());
        const TBitmap want = expectedPicture(image);
        QCOMPARE(got.width(), want.width());
        QCOMPARE(got.height(), want.height());
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x)
                QVERIFY2(got.scanLine(y)[x] == want.scanLine(y)[x],
                    qPrintable(QStringLiteral("(%1, %2): %3, expected %4")
                                   .arg(x)
                                   .arg(y)
                                   .arg(got.scanLine(y)[x], 8, 16, QLatin1Char('0'))
                                   .arg(want.scanLine(y)[x], 8, 16, QLatin1Char('0'))));
    }

    // Worked out by hand, so that a mistake shared by the decoder and
    // expectedPicture still shows.
    void knownPixelsOverWhite_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<QList<int>>("rgba");
        QTest::addColumn<uint>("expected");
        QTest::newRow("opaque 8-bit") << 8 << QList<int> { 12, 34, 56, 255 } << 0xFF0C2238u;
        QTest::newRow("transparent 8-bit is white") << 8 << QList<int> { 12, 34, 56, 0 } << 0xFFFFFFFFu;
        // 0 under 128: 255 - 128 = 127; 255 stays 255.
        QTest::newRow("half red 8-bit") << 8 << QList<int> { 255, 0, 0, 128 } << 0xFFFF7F7Fu;
        // 100 * 51 / 255 + 204 = 224.
        QTest::newRow("a fifth 8-bit") << 8 << QList<int> { 100, 0, 255, 51 } << 0xFFE0CCFFu;
        // Opaque 16-bit: 32896 / 257 = 128.0, 32767 / 257 = 127.5 - 0.002,
        // 65535 -> 255.
        QTest::newRow("opaque 16-bit rounding") << 16 << QList<int> { 32896, 32767, 65535, 65535 } << 0xFF807FFFu;
        // 385 / 257 = 1.498 -> 1; 386 / 257 = 1.502 -> 2.
        QTest::newRow("16-bit just below and above a half") << 16 << QList<int> { 385, 386, 0, 65535 } << 0xFF010200u;
        // Alpha 32768: 0 -> 32767 -> 127; 32768 -> 16384.25 + 32767 =
        // 49151 -> 191.25 -> 191.
        QTest::newRow("half 16-bit") << 16 << QList<int> { 65535, 0, 32768, 32768 } << 0xFFFF7FBFu;
    }

    void knownPixelsOverWhite()
    {
        QFETCH(int, depth);
        QFETCH(QList<int>, rgba);
        QFETCH(uint, expected);
        Image image;
        image.depth = depth;
        image.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        for (const int v : rgba)
            image.samples.push_back(std::uint16_t(v));
        const Bytes file = pngfiles::encode(image);
        const TBitmap got = decodePng(file.data(), file.size());
        QCOMPARE(got.scanLine(0)[0], std::uint32_t(expected));
    }

    void theWindowsLoaderStillRefusesPng()
    {
        const Bytes file = encodePng(patterned(4, 3, 1));
        QCOMPARE(errorOf([&] { decodePicture(file.data(), file.size()); }), QString::fromLatin1(kNotAPicture));
        const Bytes text { 'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e' };
        QCOMPARE(errorOf([&] { decodePictureOrPng(text.data(), text.size()); }), QString::fromLatin1(kNotAPictureOrPng));
    }

    void everyTruncationIsAnError_data()
    {
        QTest::addColumn<Bytes>("file");
        QTest::newRow("RGB") << encodePng(patterned(20, 10, 3));
        Image interlaced = withSamples(9, 7, 16, PNG_COLOR_TYPE_RGB_ALPHA, true, 7);
        QTest::newRow("interlaced 16-bit RGBA") << pngfiles::encode(interlaced);
    }

    void everyTruncationIsAnError()
    {
        QFETCH(Bytes, file);
        QVERIFY(errorOfDecoding(file) == QStringLiteral("<no error>"));
        // Every cut from just after the signature to one byte short of the
        // end, IEND's checksum included.
        for (std::size_t n = 8; n < file.size(); ++n) {
            const Bytes cut(file.begin(), file.begin() + long(n));
            const QString error = errorOfDecoding(cut);
            QVERIFY2(error.startsWith(QString::fromLatin1(kDamagedPicture)),
                qPrintable(QStringLiteral("%1 of %2 bytes: %3").arg(n).arg(file.size()).arg(error)));
        }
        QCOMPARE(errorOfDecoding(Bytes(file.begin(), file.begin() + 7)), QStringLiteral("Not a PNG picture"));
    }

    void damagedFilesAreErrors_data()
    {
        QTest::addColumn<Bytes>("file");
        QTest::addColumn<QString>("says"); // a part of the message
        const Bytes good = encodePng(patterned(20, 10, 3));
        const auto changed = [&](std::size_t at, std::uint8_t to) {
            Bytes b = good;
            b[at] = to;
            return b;
        };
        const std::size_t idatData = 8 + 25 + 8; // after IHDR and IDAT's length and name
        QTest::newRow("IHDR's checksum") << changed(29, std::uint8_t(good[29] ^ 1)) << QStringLiteral("CRC");
        // zlib's own checksum at the end of the data meets it before the
        // chunk's CRC does.
        QTest::newRow("a byte of IDAT") << changed(idatData + 5, std::uint8_t(good[idatData + 5] ^ 0x40))
                                        << QStringLiteral("IDAT");
        // With its checksum made right again, the damage reaches zlib.
        Bytes pixels = pngfiles::start(20, 10, 8, PNG_COLOR_TYPE_RGB);
        const Bytes garbage = pngfiles::chunk("IDAT", Bytes(200, 0x5A));
        pixels.insert(pixels.end(), garbage.begin(), garbage.end());
        const Bytes iend = pngfiles::chunk("IEND", {});
        pixels.insert(pixels.end(), iend.begin(), iend.end());
        QTest::newRow("IDAT that is not zlib data") << pixels << QString();
        QTest::newRow("a bit depth of 3") << pngfiles::start(4, 4, 3, PNG_COLOR_TYPE_GRAY) << QString();
        QTest::newRow("colour type 5") << pngfiles::start(4, 4, 8, 5) << QString();
        QTest::newRow("16-bit palette") << pngfiles::start(4, 4, 16, PNG_COLOR_TYPE_PALETTE) << QString();
        Bytes noPalette = pngfiles::start(4, 4, 8, PNG_COLOR_TYPE_PALETTE);
        const Bytes idat = pngfiles::chunk("IDAT", pngfiles::deflated(Bytes(4 * 5, 0)));
        noPalette.insert(noPalette.end(), idat.begin(), idat.end());
        noPalette.insert(noPalette.end(), iend.begin(), iend.end());
        QTest::newRow("palette picture without PLTE") << noPalette << QString();
        Bytes fewRows = pngfiles::start(4, 4, 8, PNG_COLOR_TYPE_GRAY);
        const Bytes twoRows = pngfiles::chunk("IDAT", pngfiles::deflated(Bytes(2 * 5, 0)));
        fewRows.insert(fewRows.end(), twoRows.begin(), twoRows.end());
        fewRows.insert(fewRows.end(), iend.begin(), iend.end());
        QTest::newRow("IDAT with half the rows") << fewRows << QString();
        Bytes noEnd = good;
        noEnd.resize(good.size() - 12);
        QTest::newRow("no IEND") << noEnd << QString();
    }

    void damagedFilesAreErrors()
    {
        QFETCH(Bytes, file);
        QFETCH(QString, says);
        const QString error = errorOfDecoding(file);
        QVERIFY2(error.startsWith(QString::fromLatin1(kDamagedPicture)) && error.contains(says), qPrintable(error));
    }

    void claimsBeyondTheFileAreRefusedAtOnce_data()
    {
        QTest::addColumn<Bytes>("file");
        QTest::addColumn<QString>("expected");
        // Past what may be opened at all, whatever the file.
        Bytes huge = pngfiles::start(30000, 30000, 8, PNG_COLOR_TYPE_RGB_ALPHA);
        const Bytes iend = pngfiles::chunk("IEND", {});
        huge.insert(huge.end(), iend.begin(), iend.end());
        QTest::newRow("30000 x 30000 in a few bytes")
            << huge
            << QStringLiteral("The picture is too large (30000 x 30000 pixels); at most 65500 pixels a side and 268 "
                              "megapixels can be opened");
        // Allowed in itself, but 1 GB of pixels for a file of 60 bytes.
        Bytes claim = pngfiles::start(16000, 16000, 1, PNG_COLOR_TYPE_GRAY);
        claim.insert(claim.end(), iend.begin(), iend.end());
        QTest::newRow("16000 x 16000 in a few bytes") << claim << tooLargeForItsFile(16000, 16000, claim);
        // The whole IDAT of 16000 x 16000 black pixels, 32 MB inflated from
        // 31 KB: 1 GB of pixels needs a file of a megabyte.
        const Bytes bomb = blackBits(16000, 16000);
        QTest::newRow("an IDAT that inflates a thousandfold") << bomb << tooLargeForItsFile(16000, 16000, bomb);
        QTest::newRow("no pixels") << pngfiles::start(0, 10, 8, PNG_COLOR_TYPE_RGB)
                                   << QStringLiteral("The picture has no pixels (0 x 10)");
    }

    void claimsBeyondTheFileAreRefusedAtOnce()
    {
        QFETCH(Bytes, file);
        QFETCH(QString, expected);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(errorOfDecoding(file), expected);
        QVERIFY2(timer.elapsed() < 100, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
        // And in a process that may not take more than the rule allows.
        QCOMPARE(outcomeWithinTheRule(file), expected);
    }

    // Decoding takes what the rule counts and no more: an interlaced 16-bit
    // RGBA picture holds its pixels, every row at 8 bytes a pixel until the
    // last pass, and libpng's rows, in a budget its small file barely
    // justifies.
    void aLargeInterlacedPictureFitsItsBudget()
    {
        Image image;
        image.width = 3000;
        image.height = 2500;
        image.depth = 16;
        image.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        image.interlaced = true;
        image.samples.assign(std::size_t(image.width) * std::size_t(image.height) * 4, 40000);
        const Bytes file = pngfiles::encode(image);
        const std::uint64_t needs = 3000ull * 2500 * (4 + 8);
        QVERIFY2(needs > kOpeningAllowance && needs < openingBudget(file.size()),
            qPrintable(QStringLiteral("%1 bytes need %2").arg(file.size()).arg(needs)));
        QCOMPARE(outcomeWithinTheRule(file), QStringLiteral("3000 x 2500"));
    }

    // Text is never decompressed: a zTXt chunk that inflates to far more
    // than the picture costs no time, and thousands of ancillary chunks,
    // past libpng's cache for them, do not stop a picture from opening.
    void compressedChunksAreSkipped_data()
    {
        QTest::addColumn<Bytes>("file");
        const Bytes picture = encodePng(patterned(8, 8, 5));
        QTest::newRow("zTXt of 200 MB") << pngfiles::withChunkBefore(picture, "IDAT", pngfiles::zeroText(std::size_t(200) << 20));
        const Bytes small = pngfiles::zeroText(4096);
        Bytes texts;
        for (int i = 0; i < 3000; ++i)
            texts.insert(texts.end(), small.begin(), small.end());
        QTest::newRow("3000 zTXt after the pixels") << pngfiles::withChunkBefore(picture, "IEND", texts);
    }

    void compressedChunksAreSkipped()
    {
        QFETCH(Bytes, file);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(samePixels(decodePng(file.data(), file.size()), patterned(8, 8, 5)));
        QVERIFY2(timer.elapsed() < 200, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
        QCOMPARE(outcomeWithinTheRule(file), QStringLiteral("8 x 8"));
    }

    // ------------------------------------------------ orvanta-compose

    void composesPngFramesAsItDoesBmpFrames_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output");
        QTest::newRow("defaults") << QStringList() << QStringLiteral("a.png");
        QTest::newRow("offsets and gains, upper-case name")
            << QStringList { "--dx", "7", "--dy", "-3", "--gains", "255,200,180" } << QStringLiteral("a.PNG");
        QTest::newRow("dubois, swapped") << QStringList { "--method", "dubois", "--swap" } << QStringLiteral("a.png");
    }

    void composesPngFramesAsItDoesBmpFrames()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QTemporaryDir dir;
        const TBitmap left = patterned(64, 48, 1), right = patterned(64, 48, 2);
        writeBytes(local(dir, "l.png"), encodePng(left));
        // The right frame as 16-bit RGB, which comes back exactly when each
        // sample is v * 257.
        Image right16;
        right16.width = 64;
        right16.height = 48;
        right16.depth = 16;
        right16.colourType = PNG_COLOR_TYPE_RGB;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const std::uint32_t p = right.scanLine(y)[x];
                for (const int shift : { 16, 8, 0 })
                    right16.samples.push_back(std::uint16_t(((p >> shift) & 0xFF) * 257));
            }
        writeBytes(local(dir, "r.png"), pngfiles::encode(right16));
        writeBytes(local(dir, "l.bmp"), encodeBmp(left));
        writeBytes(local(dir, "r.bmp"), encodeBmp(right));

        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        const ComposeRun fromPng = runCompose(QStringList { in("l.png"), in("r.png"), "-o", dir.filePath(output) } + options);
        QVERIFY2(fromPng.status == 0, qPrintable(fromPng.err));
        const ComposeRun fromBmp = runCompose(QStringList { in("l.bmp"), in("r.bmp"), "-o", in("a.bmp") } + options);
        QVERIFY2(fromBmp.status == 0, qPrintable(fromBmp.err));

        const std::string written = QFile::encodeName(dir.filePath(output)).toStdString();
        const Bytes bytes = readWholeFile(written);
        QVERIFY(looksLikePng(bytes.data(), bytes.size()));
        const TBitmap anaglyph = decodedFile(written);
        QVERIFY(!anaglyph.empty());
        QVERIFY(samePixels(anaglyph, decodedFile(local(dir, "a.bmp"))));
    }

    void aBatchPairsPngFramesAndWritesPng()
    {
        QTemporaryDir dir, out;
        const TBitmap left = patterned(40, 30, 3), right = patterned(40, 30, 4);
        writeBytes(local(dir, "p_L.png"), encodePng(left));
        writeBytes(local(dir, "p_R.png"), encodePng(right));
        writeBytes(local(dir, "q_f1.PNG"), encodePng(right));
        writeBytes(local(dir, "q_f2.PNG"), encodePng(left));
        const ComposeRun r = runCompose({ QStringLiteral("--batch"), dir.path(), QStringLiteral("-o"), out.path(),
            QStringLiteral("--format"), QStringLiteral("png") });
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(entries(out), QStringList({ "p.png", "q.png" }));
        QVERIFY(samePixels(decodedFile(local(out, "p.png")), composeAnaglyph(left, right, {})));
        QVERIFY(samePixels(decodedFile(local(out, "q.png")), composeAnaglyph(right, left, {})));
    }

    void theFormatIsToldFromTheName()
    {
        QTemporaryDir dir;
        writeBytes(local(dir, "l.png"), encodePng(patterned(8, 8, 1)));
        const QString l = dir.filePath(QStringLiteral("l.png"));
        const ComposeRun unknown = runCompose({ l, l, QStringLiteral("-o"), dir.filePath(QStringLiteral("a.gif")) });
        QCOMPARE(unknown.status, 2);
        QVERIFY2(unknown.err.contains(QStringLiteral(".jpg, .jpeg, .bmp or .png")), qPrintable(unknown.err));
        const ComposeRun format = runCompose({ QStringLiteral("--batch"), dir.path(), QStringLiteral("-o"), dir.path(),
            QStringLiteral("--format"), QStringLiteral("gif") });
        QCOMPARE(format.status, 2);
        QVERIFY2(format.err.contains(QStringLiteral("--format takes jpg, bmp or png")), qPrintable(format.err));
    }
};

QTEST_APPLESS_MAIN(TestPng)
#include "test_png.moc"
