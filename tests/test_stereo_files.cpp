// Stereo-camera files: the multi-picture index of MPO files read from real
// chains of JPEG files, every damaged index refused with a clear error, the
// pair held to the memory rule of its one file, and side-by-side pictures
// split into their halves.
#include "fixtures.h"
#include "jpeg_files.h"
#include "mpo_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_limits.h"
#include "pictures/stereo_files.h"

#include <QTest>

#include <functional>
#include <string>
#include <vector>

using mpofiles::Bytes;
using mpofiles::entryAt;
using mpofiles::fieldAt;
using mpofiles::kHeaderAt;

namespace {

// Two pictures of different sizes, so frames that come out swapped show.
Bytes leftFile() { return encodeJpeg(patterned(24, 16, 1)); }
Bytes rightFile() { return encodeJpeg(patterned(16, 8, 5)); }

QString pairFailure(const Bytes& file, int threads = 1)
{
    return errorOf([&] { decodeMultiPicturePair(file.data(), file.size(), threads); });
}

QString rangesFailure(const Bytes& file)
{
    return errorOf([&] { multiPictureRanges(file.data(), file.size()); });
}

// The columns [from, from + count) of a picture, made by the bitmap's own
// copy rather than the code under test.
TBitmap columns(const TBitmap& picture, int from, int count)
{
    TBitmap part;
    part.setSize(count, picture.height());
    part.copyRect(0, 0, picture, from, 0, count, picture.height());
    return part;
}

// More bytes than any entry covers between the pictures lets the file's
// budget cover both decodes at their largest: 64 MiB / 999 bytes.
constexpr std::size_t kGapForTwoDecodes = 67200;

const char* const kDamaged = "The multi-picture index is damaged";
const char* const kPastTheEnd = "The multi-picture index points past the end of the file";
const char* const kNotJpeg = "The multi-picture index points at something that is not a JPEG picture";

} // namespace

class TestStereoFiles : public QObject {
    Q_OBJECT

private slots:
    void pairDecodesToItsPictures_data()
    {
        QTest::addColumn<bool>("littleEndian");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("gap");
        QTest::newRow("little-endian") << true << 1 << 0;
        QTest::newRow("big-endian") << false << 1 << 0;
        // Two threads allowed, but the budget of a file of just the two
        // pictures does not cover two decodes at once: one after the other.
        QTest::newRow("little-endian, two threads") << true << 2 << 0;
        QTest::newRow("big-endian, two threads, gap") << false << 2 << int(kGapForTwoDecodes);
        QTest::newRow("little-endian, two threads, gap") << true << 2 << int(kGapForTwoDecodes);
    }
    void pairDecodesToItsPictures()
    {
        QFETCH(bool, littleEndian);
        QFETCH(int, threads);
        QFETCH(int, gap);
        const Bytes left = leftFile();
        const Bytes right = rightFile();
        const Bytes file = mpofiles::withIndex({ left, right }, littleEndian, std::size_t(gap));
        QVERIFY(hasMultiPictureIndex(file.data(), file.size()));

        const std::vector<PictureRange> ranges = multiPictureRanges(file.data(), file.size());
        QCOMPARE(ranges.size(), std::size_t(2));
        QCOMPARE(ranges[0].offset, std::size_t(0));
        QCOMPARE(ranges[0].size, file.size() - right.size() - std::size_t(gap));
        QCOMPARE(ranges[1].offset, file.size() - right.size());
        QCOMPARE(ranges[1].size, right.size());

        const StereoFrames frames = decodeMultiPicturePair(file.data(), file.size(), threads);
        QVERIFY(samePixels(frames.left, decodeJpeg(left.data(), left.size())));
        QVERIFY(samePixels(frames.right, decodeJpeg(right.data(), right.size())));
    }

    // Cameras write Exif and colour profiles (APP2 too) before the index,
    // and markers may be preceded by fill bytes.
    void indexFoundAmongOtherSegments()
    {
        const Bytes right = rightFile();
        Bytes file = mpofiles::withIndex({ leftFile(), right }, true);
        const Bytes before { 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xE2, 0x00, 0x10, 'I', 'C', 'C',
            '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1, 0xFF, 0xFF };
        file.insert(file.begin() + 2, before.begin(), before.end());
        const std::size_t firstSize = file.size() - right.size();
        mpofiles::put(file, entryAt(0) + before.size() + 4, std::uint32_t(firstSize), 4, true);
        QVERIFY(hasMultiPictureIndex(file.data(), file.size()));
        const std::vector<PictureRange> ranges = multiPictureRanges(file.data(), file.size());
        QCOMPARE(ranges.size(), std::size_t(2));
        QCOMPARE(ranges[0].size, firstSize);
        QCOMPARE(ranges[1].offset, firstSize);
        QVERIFY(samePixels(decodeMultiPicturePair(file.data(), file.size()).right, decodeJpeg(right.data(), right.size())));
    }

    // Without an index the ranges are empty, not an error: an ordinary JPEG
    // file is not damaged.
    void filesWithoutAnIndex_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const auto raw = [](const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); };
        const Bytes jpeg = leftFile();
        QTest::newRow("JPEG") << raw(jpeg);
        QTest::newRow("BMP") << raw(encodeBmp(patterned(4, 4, 2)));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("SOI only") << QByteArray("\xFF\xD8", 2);
        QTest::newRow("SOI and a lone FF") << QByteArray("\xFF\xD8\xFF", 3);
        QTest::newRow("APP2 cut in its length") << QByteArray("\xFF\xD8\xFF\xE2\x00", 5);
        QTest::newRow("APP2 cut in its identifier") << QByteArray("\xFF\xD8\xFF\xE2\x00\x40MP", 8);
        QTest::newRow("APP2 too short for the identifier") << QByteArray("\xFF\xD8\xFF\xE2\x00\x04MPF\0", 10);
        QTest::newRow("MPF in APP1") << QByteArray("\xFF\xD8\xFF\xE1\x00\x08MPF\0\xFF\xD9", 12);
        QTest::newRow("length below 2") << QByteArray("\xFF\xD8\xFF\xE0\x00\x01\xFF\xE2\x00\x08MPF\0", 14);
        // Only the first picture's markers before its scan are looked at.
        Bytes late = jpeg;
        late.insert(late.end() - 2, { 0xFF, 0xE2, 0x00, 0x08, 'M', 'P', 'F', 0 });
        QTest::newRow("MPF after the scan") << raw(late);
    }
    void filesWithoutAnIndex()
    {
        QFETCH(QByteArray, bytes);
        // A block of exactly the file's size, so a read past its end shows
        // in the sanitizer build.
        const Bytes exact(bytes.begin(), bytes.end());
        const std::uint8_t* data = exact.data();
        const std::size_t size = exact.size();
        QVERIFY(!hasMultiPictureIndex(data, size));
        QVERIFY(multiPictureRanges(data, size).empty());
        QCOMPARE(errorOf([&] { decodeMultiPicturePair(data, size); }), QStringLiteral("The file has no multi-picture index"));
    }

    // Each field of the index broken in turn, in both byte orders: every one
    // is refused before anything is decoded, and none reads out of bounds
    // (the sanitizer build runs this too).
    void damagedIndexesAreRefused()
    {
        struct Case {
            const char* name;
            std::function<void(Bytes&, bool)> damage;
            const char* message;
        };
        const auto put = [](Bytes& f, std::size_t at, std::uint32_t v, int bytes, bool le) { mpofiles::put(f, at, v, bytes, le); };
        const std::vector<Case> cases {
            { "segment past the end of the file", [](Bytes& f, bool) { f.resize(kHeaderAt + 20); }, kDamaged },
            { "segment too short for the TIFF header", [&](Bytes& f, bool) { put(f, 4, 2 + 4 + 7, 2, false); }, kDamaged },
            { "unknown byte-order mark", [](Bytes& f, bool) { f[kHeaderAt] = 'I'; f[kHeaderAt + 1] = 'M'; },
                "The multi-picture index has an unknown byte order" },
            { "not 42 after the mark", [&](Bytes& f, bool le) { put(f, kHeaderAt + 2, 43, 2, le); },
                "The multi-picture index has an unknown byte order" },
            { "IFD inside the TIFF header", [&](Bytes& f, bool le) { put(f, kHeaderAt + 4, 4, 4, le); }, kDamaged },
            { "IFD past the segment", [&](Bytes& f, bool le) { put(f, kHeaderAt + 4, 0xFFFFFFF0u, 4, le); }, kDamaged },
            { "absurd field count", [&](Bytes& f, bool le) { put(f, kHeaderAt + 8, 0xFFFF, 2, le); }, kDamaged },
            { "no entries field", [&](Bytes& f, bool le) { put(f, fieldAt(2), 0xB003, 2, le); },
                "The multi-picture index lists no pictures" },
            { "entries not UNDEFINED", [&](Bytes& f, bool le) { put(f, fieldAt(2) + 2, 4, 2, le); }, kDamaged },
            { "no entry bytes", [&](Bytes& f, bool le) { put(f, fieldAt(2) + 4, 0, 4, le); }, kDamaged },
            { "entry bytes not whole entries", [&](Bytes& f, bool le) { put(f, fieldAt(2) + 4, 33, 4, le); }, kDamaged },
            { "absurd entry count", [&](Bytes& f, bool le) { put(f, fieldAt(2) + 4, 0xFFFFFFF0u, 4, le); }, kDamaged },
            { "entries past the segment by a byte",
                [&](Bytes& f, bool le) { put(f, fieldAt(2) + 8, std::uint32_t(mpofiles::kEntries + 1), 4, le); }, kDamaged },
            { "entries offset wrapping", [&](Bytes& f, bool le) { put(f, fieldAt(2) + 8, 0xFFFFFFFFu, 4, le); }, kDamaged },
            { "picture count disagreeing", [&](Bytes& f, bool le) { put(f, fieldAt(1) + 8, 3, 4, le); }, kDamaged },
            { "picture count not one LONG", [&](Bytes& f, bool le) { put(f, fieldAt(1) + 4, 2, 4, le); }, kDamaged },
            { "first picture not at the start", [&](Bytes& f, bool le) { put(f, entryAt(0) + 8, 2, 4, le); }, kDamaged },
            { "first picture of one byte", [&](Bytes& f, bool le) { put(f, entryAt(0) + 4, 1, 4, le); }, kDamaged },
            { "second picture of no bytes", [&](Bytes& f, bool le) { put(f, entryAt(1) + 4, 0, 4, le); }, kDamaged },
            { "second picture past the end by a byte",
                [&](Bytes& f, bool le) {
                    const std::uint32_t size = std::uint32_t(rightFile().size());
                    put(f, entryAt(1) + 4, size + 1, 4, le);
                },
                kPastTheEnd },
            { "second picture's offset and size overflowing",
                [&](Bytes& f, bool le) {
                    put(f, entryAt(1) + 4, 0xFFFFFFFFu, 4, le);
                    put(f, entryAt(1) + 8, 0xFFFFFFFFu, 4, le);
                },
                kPastTheEnd },
            { "first picture larger than the file", [&](Bytes& f, bool le) { put(f, entryAt(0) + 4, std::uint32_t(f.size() + 1), 4, le); },
                kPastTheEnd },
            { "file cut after the first picture",
                [](Bytes& f, bool) { f.resize(f.size() - rightFile().size() + 1); }, kPastTheEnd },
            { "second picture not at an SOI",
                [&](Bytes& f, bool le) {
                    const std::uint32_t size = std::uint32_t(rightFile().size());
                    put(f, entryAt(1) + 8, std::uint32_t(f.size() - size - kHeaderAt + 1), 4, le);
                    put(f, entryAt(1) + 4, size - 1, 4, le);
                },
                kNotJpeg },
            { "second picture at the index", [&](Bytes& f, bool le) { put(f, entryAt(1) + 8, 0, 4, le); }, kNotJpeg },
        };
        for (const bool littleEndian : { true, false }) {
            for (const Case& c : cases) {
                Bytes damaged = mpofiles::withIndex({ leftFile(), rightFile() }, littleEndian);
                c.damage(damaged, littleEndian);
                const Bytes file(damaged.begin(), damaged.end()); // no spare capacity past its end
                const QString what = QString::fromUtf8(c.name) + (littleEndian ? " (II)" : " (MM)");
                QVERIFY2(hasMultiPictureIndex(file.data(), file.size()), qPrintable(what));
                QCOMPARE(rangesFailure(file), QString::fromUtf8(c.message));
                QVERIFY2(pairFailure(file) == QString::fromUtf8(c.message), qPrintable(what + ": " + pairFailure(file)));
            }
        }
    }

    void onePictureIsNotAPair()
    {
        const Bytes file = mpofiles::withIndex({ leftFile() }, false);
        const std::vector<PictureRange> ranges = multiPictureRanges(file.data(), file.size());
        QCOMPARE(ranges.size(), std::size_t(1));
        QCOMPARE(ranges[0].size, file.size());
        QCOMPARE(pairFailure(file), QStringLiteral("The file holds fewer than two pictures"));
    }

    // The index is sound but the second picture is cut short: decodeJpeg's
    // own error comes out, from the second thread too.
    void damagedPictureReportsTheDecodersError_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("gap");
        QTest::newRow("one after the other") << 1 << 0;
        QTest::newRow("at once") << 2 << int(kGapForTwoDecodes);
    }
    void damagedPictureReportsTheDecodersError()
    {
        QFETCH(int, threads);
        QFETCH(int, gap);
        const Bytes whole = rightFile();
        const Bytes cut(whole.begin(), whole.end() - 20);
        const QString expected = errorOf([&] { decodeJpeg(cut.data(), cut.size()); });
        QCOMPARE(expected, QString::fromUtf8(kDamagedPicture));
        QCOMPARE(pairFailure(mpofiles::withIndex({ leftFile(), cut }, true, std::size_t(gap)), threads), expected);
        QCOMPARE(pairFailure(mpofiles::withIndex({ cut, leftFile() }, true, std::size_t(gap)), threads), expected);
    }

    // Each picture is held to the rule for its own bytes by decodeJpeg, which
    // grants each the fixed allowance. A first picture of many pixels from
    // few (arithmetic-coded) bytes passes alone, but with the second decode
    // at its largest the pair would pass the rule for the one file; it opens
    // once the file is large enough to justify both.
    void pairHeldToTheFilesMemoryRule()
    {
        const int side = 1024;
        const Bytes flat = jpegfiles::compressRaw(side, side, 1, JCS_GRAYSCALE, Bytes(std::size_t(side) * side, 0x80),
            [](jpeg_compress_struct& c) { c.arith_code = TRUE; });
        const Bytes right = rightFile();
        const std::uint64_t firstPixels = 4ull * side * side;
        QVERIFY(decodeJpeg(flat.data(), flat.size()).width() == side);

        const Bytes tight = mpofiles::withIndex({ flat, right }, true);
        // Fixture: the first picture holds more than the rule gives for the
        // bytes that are not the second picture's.
        QVERIFY(firstPixels > kBytesPerFileByte * (tight.size() - right.size()));
        const std::vector<PictureRange> ranges = multiPictureRanges(tight.data(), tight.size());
        QVERIFY(decodeJpeg(tight.data() + ranges[0].offset, ranges[0].size).width() == side);
        QCOMPARE(pairFailure(tight), QStringLiteral("The two pictures are too large for a file of %1 bytes").arg(tight.size()));
        QCOMPARE(pairFailure(tight, 2), pairFailure(tight));

        const Bytes roomy = mpofiles::withIndex({ flat, right }, true, std::size_t(firstPixels / kBytesPerFileByte));
        const StereoFrames frames = decodeMultiPicturePair(roomy.data(), roomy.size());
        QCOMPARE(frames.left.width(), side);
        QVERIFY(samePixels(frames.right, decodeJpeg(right.data(), right.size())));
    }

    void sideBySideSplits_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("cross");
        QTest::newRow("even, parallel") << 10 << false;
        QTest::newRow("even, cross") << 10 << true;
        QTest::newRow("odd, parallel") << 11 << false;
        QTest::newRow("odd, cross") << 11 << true;
        QTest::newRow("two pixels") << 2 << false;
        QTest::newRow("three pixels, cross") << 3 << true;
    }
    void sideBySideSplits()
    {
        QFETCH(int, width);
        QFETCH(bool, cross);
        const TBitmap picture = patterned(width, 3, 9);
        const int half = width / 2;
        const TBitmap leftHalf = columns(picture, 0, half);
        // An odd width's middle column belongs to neither eye.
        const TBitmap rightHalf = columns(picture, width - half, half);
        const StereoFrames frames = splitSideBySide(picture, cross ? SideBySide::Cross : SideBySide::Parallel);
        QVERIFY(samePixels(frames.left, cross ? rightHalf : leftHalf));
        QVERIFY(samePixels(frames.right, cross ? leftHalf : rightHalf));
    }

    void sideBySideNeedsTwoColumns()
    {
        TBitmap narrow;
        narrow.setSize(1, 5);
        QCOMPARE(errorOf([&] { splitSideBySide(narrow, SideBySide::Parallel); }),
            QStringLiteral("A side-by-side picture must be at least 2 pixels wide (this one is 1 x 5 pixels)"));
        const TBitmap none;
        QVERIFY_THROWS_EXCEPTION(EPictureError, splitSideBySide(none, SideBySide::Cross));
    }
};

QTEST_APPLESS_MAIN(TestStereoFiles)
#include "test_stereo_files.moc"
