// Pictures as a flow of rows: the row encoders give the whole-picture
// encoders' files, decodeJpegRows gives decodeJpeg's pixels (or a smaller
// picture), whatever a sink or source throws reaches the caller as it was
// thrown, and the file writer takes a file written out of order.
#include "fixtures.h"
#include "jpeg_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "pictures/picture_limits.h"
#include "pictures/png_codec.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace jpegfiles;

namespace {

// What the test's sinks and sources throw: not one of the program's own
// errors, so that the type that reaches the caller shows it went through
// untouched.
class Stop : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "Stop: MESSAGE" for a Stop thrown by f, else what f did instead.
QString stopOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Stop& e) {
        return QStringLiteral("Stop: ") + QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        return QStringLiteral("another exception: ") + QString::fromUtf8(e.what());
    }
    return QStringLiteral("<no error>");
}

// Every channel of every pixel unrelated to its neighbours', so the files
// are large for their size and a misplaced or stale row shows.
TBitmap noise(int w, int h, std::uint32_t seed)
{
    TBitmap b;
    b.setSize(w, h);
    std::uint32_t state = 2463534242u ^ seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b.scanLine(y)[x] = 0xFF000000u | (state & 0xFFFFFFu);
        }
    return b;
}

// Hands out a picture's rows through one buffer that each call overwrites,
// as a source that makes its rows as they are asked for does, so an encoder
// that reads a row after asking for the next gets the wrong pixels. Notes
// any call out of order, and throws Stop when asked for row failAt.
class BufferedRows final : public RowSource {
public:
    explicit BufferedRows(const TBitmap& picture, int failAt = -1)
        : picture_(picture), buffer_(std::size_t(picture.width())), failAt_(failAt)
    {
    }
    const std::uint32_t* row(int y) override
    {
        if (y != next_ && fault.empty())
            fault = "row " + std::to_string(y) + " asked for when " + std::to_string(next_) + " was next";
        next_ = y + 1;
        if (y == failAt_)
            throw Stop("no row " + std::to_string(y));
        std::copy_n(picture_.scanLine(y), picture_.width(), buffer_.data());
        return buffer_.data();
    }
    int asked() const { return next_; }
    std::string fault;

private:
    const TBitmap& picture_;
    std::vector<std::uint32_t> buffer_;
    int next_ = 0;
    int failAt_;
};

// Keeps the bytes, notes the largest piece, and throws Stop on write
// number failAt (counted from 0).
class CollectedBytes final : public ByteSink {
public:
    explicit CollectedBytes(int failAt = -1) : failAt_(failAt) { }
    void write(const std::uint8_t* data, std::size_t size) override
    {
        if (writes_++ == failAt_)
            throw Stop("disk full at write " + std::to_string(failAt_));
        bytes.insert(bytes.end(), data, data + size);
        largest = std::max(largest, size);
    }
    std::vector<std::uint8_t> bytes;
    std::size_t largest = 0;

private:
    int failAt_;
    int writes_ = 0;
};

// A file of a known size written in pieces: checks that the size comes
// first and that the pieces lie inside it, each byte written once. Throws
// Stop at reserve (failAt 0) or at piece failAt - 1.
class PlacedBytes final : public PlacedByteSink {
public:
    explicit PlacedBytes(int failAt = -1) : failAt_(failAt) { }
    void reserveBytes(std::uint64_t size) override
    {
        if (calls_++ == failAt_)
            throw Stop("no room for " + std::to_string(size) + " bytes");
        if (reserved_)
            note("reserved twice");
        reserved_ = true;
        bytes.assign(std::size_t(size), 0);
        times_.assign(std::size_t(size), 0);
    }
    void writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        if (calls_++ == failAt_)
            throw Stop("cannot write piece " + std::to_string(failAt_ - 1));
        if (!reserved_)
            note("written before the size was given");
        if (offset > bytes.size() || size > bytes.size() - offset) {
            note("piece at " + std::to_string(offset) + " of " + std::to_string(size) + " bytes outside the file");
            return;
        }
        std::memcpy(bytes.data() + offset, data, size);
        for (std::size_t i = 0; i < size; ++i)
            ++times_[std::size_t(offset) + i];
    }
    // Empty when every byte was written exactly once.
    std::string coverage() const
    {
        if (!fault.empty())
            return fault;
        for (std::size_t i = 0; i < times_.size(); ++i)
            if (times_[i] != 1)
                return "byte " + std::to_string(i) + " written " + std::to_string(times_[i]) + " times";
        return {};
    }
    std::vector<std::uint8_t> bytes;
    std::string fault;

private:
    void note(const std::string& what)
    {
        if (fault.empty())
            fault = what;
    }
    int failAt_;
    int calls_ = 0;
    bool reserved_ = false;
    std::vector<int> times_;
};

// Collects a decoder's rows into a picture of its own, through a staging
// area of at most maxRoom rows filled with a value no decoded pixel has, so
// a row the decoder did not write, or reported before writing, shows. Notes
// any call out of order. Throws Stop from the call named by failIn once the
// rows before failAt are in.
class CollectedRows final : public RowSink {
public:
    enum class Call { None, Begin, Room, Written };
    static constexpr std::uint32_t kPoison = 0x00BADBAD;

    explicit CollectedRows(int maxRoom = 8, Call failIn = Call::None, int failAt = 0)
        : maxRoom_(maxRoom), failIn_(failIn), failAt_(failAt)
    {
    }
    void begin(int width, int height) override
    {
        if (failIn_ == Call::Begin)
            throw Stop("no memory for " + pictureSizeText(width, height));
        if (begun)
            note("begun twice");
        begun = true;
        picture.setSize(width, height);
        staging_.assign(std::size_t(maxRoom_) * std::size_t(width), kPoison);
    }
    int room(int first, int count, std::uint32_t** rows) override
    {
        if (failIn_ == Call::Room && first >= failAt_)
            throw Stop("no room from row " + std::to_string(failAt_) + " on");
        if (!begun || first != rowsIn || count < 1 || first + count > picture.height())
            note("room for " + std::to_string(count) + " rows from " + std::to_string(first) + " with "
                + std::to_string(rowsIn) + " rows in");
        roomFirst_ = first;
        roomCount_ = std::min(count, maxRoom_);
        std::fill(staging_.begin(), staging_.end(), kPoison);
        for (int i = 0; i < roomCount_; ++i)
            rows[i] = staging_.data() + std::size_t(i) * std::size_t(picture.width());
        return roomCount_;
    }
    void written(int first, int count) override
    {
        if (first != roomFirst_ || first != rowsIn || count < 1 || count > roomCount_) {
            note("rows " + std::to_string(first) + " + " + std::to_string(count) + " reported with room for "
                + std::to_string(roomFirst_) + " + " + std::to_string(roomCount_));
            return;
        }
        for (int i = 0; i < count; ++i)
            std::copy_n(staging_.data() + std::size_t(i) * std::size_t(picture.width()), picture.width(),
                picture.scanLine(first + i));
        rowsIn += count;
        roomCount_ = 0;
        if (failIn_ == Call::Written && rowsIn >= failAt_)
            throw Stop("cannot keep rows from " + std::to_string(failAt_) + " on");
    }
    TBitmap picture;
    bool begun = false;
    int rowsIn = 0;
    std::string fault;

private:
    void note(const std::string& what)
    {
        if (fault.empty())
            fault = what;
    }
    int maxRoom_;
    Call failIn_;
    int failAt_;
    int roomFirst_ = -1;
    int roomCount_ = 0;
    std::vector<std::uint32_t> staging_;
};

QByteArray arrayOf(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }
Bytes bytesOf(const QByteArray& a) { return Bytes(a.begin(), a.end()); }

// A picture whose inks change a little from pixel to pixel, as a CMYK file
// stores them (4 bytes a pixel).
Bytes inkSamples(int w, int h)
{
    Bytes inks;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            inks.insert(inks.end(), { std::uint8_t(x * 5 + y), std::uint8_t(200 - x * 3), std::uint8_t(y * 7 + 20),
                                        std::uint8_t(2 * (x + y)) });
    return inks;
}

// Files of every kind of decode: the rows libjpeg writes straight into the
// sink (colour at each chroma subsampling, progressive, greyscale) and the
// rows converted from inks.
void addDecoderFiles(int w, int h)
{
    QTest::addColumn<QByteArray>("file");
    const TBitmap picture = patterned(w, h, 8);
    const auto fullChroma = [](jpeg_compress_struct& c) {
        for (int i = 0; i < c.num_components; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    };
    QTest::newRow("baseline 4:2:0") << arrayOf(encodeJpeg(picture));
    QTest::newRow("baseline 4:4:4") << arrayOf(compressPicture(picture, fullChroma));
    QTest::newRow("1x2 chroma") << arrayOf(compressPicture(picture, [](jpeg_compress_struct& c) {
        c.comp_info[0].h_samp_factor = 1;
        c.comp_info[0].v_samp_factor = 2;
    }));
    QTest::newRow("progressive") << arrayOf(
        compressPicture(picture, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); }));
    QTest::newRow("arithmetic, restart every MCU") << arrayOf(compressPicture(picture, [](jpeg_compress_struct& c) {
        c.arith_code = TRUE;
        c.restart_interval = 1;
    }));
    Bytes grey;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            grey.push_back(std::uint8_t(picture.scanLine(y)[x] >> 8));
    QTest::newRow("greyscale") << arrayOf(compressRaw(w, h, 1, JCS_GRAYSCALE, grey));
    QTest::newRow("CMYK, Adobe marker") << arrayOf(compressRaw(w, h, 4, JCS_CMYK, inkSamples(w, h),
        [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_CMYK); }));
    QTest::newRow("YCCK, progressive") << arrayOf(
        compressRaw(w, h, 4, JCS_CMYK, inkSamples(w, h), [](jpeg_compress_struct& c) {
            jpeg_set_colorspace(&c, JCS_YCCK);
            jpeg_simple_progression(&c);
        }));
    QTest::newRow("CMYK, no Adobe marker") << arrayOf(
        compressRaw(w, h, 4, JCS_CMYK, inkSamples(w, h), [](jpeg_compress_struct& c) {
            jpeg_set_colorspace(&c, JCS_CMYK);
            c.write_Adobe_marker = FALSE;
        }));
}

// The file cut in the middle of its longest scan's data, closed with EOI
// or just ending there.
Bytes cutInItsScan(const Bytes& file, bool closed)
{
    const std::vector<Segment> segments = markersOf(file);
    std::size_t from = 0, to = 0;
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
        const std::size_t data = segments[i].offset + 4 + segments[i].body.size();
        if (segments[i].marker == 0xDA && segments[i + 1].offset - data > to - from) {
            from = data;
            to = segments[i + 1].offset;
        }
    }
    Bytes cut(file.begin(), file.begin() + long((from + to) / 2));
    if (closed)
        cut.insert(cut.end(), { 0xFF, 0xD9 });
    return cut;
}

// A picture changing by at most 3 levels from pixel to pixel, different in
// each channel.
// A file handed to the decoder a few bytes at a time, as a disk or pipe may,
// and optionally failing once `failAt` bytes are out.
class TrickledBytes final : public ByteSource {
public:
    TrickledBytes(const Bytes& bytes, std::size_t piece, std::size_t failAt = SIZE_MAX)
        : bytes_(bytes), piece_(piece), failAt_(failAt)
    {
    }
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t nextBytes(std::uint8_t* buffer, std::size_t capacity) override
    {
        if (at_ >= failAt_)
            throw Stop("the disk went away at byte " + std::to_string(at_));
        const std::size_t n = std::min({ capacity, piece_, bytes_.size() - at_ });
        std::copy_n(bytes_.data() + at_, n, buffer);
        at_ += n;
        return n;
    }

private:
    const Bytes& bytes_;
    std::size_t piece_;
    std::size_t failAt_;
    std::size_t at_ = 0;
};

TBitmap gentle(int w, int h)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.scanLine(y)[x] = pixelFromColor(RGB(std::clamp(40 + 3 * x, 0, 255), std::clamp(30 + 2 * y, 0, 255),
                std::clamp(220 - x - y, 0, 255)));
    return b;
}

// The largest difference in any channel between each pixel of `small` and
// the mean of the d x d block of `whole` it stands for (the part of the
// block inside the picture, at the right and bottom edges).
int largestBlockDifference(const TBitmap& whole, const TBitmap& small, int d)
{
    int worst = 0;
    for (int by = 0; by < small.height(); ++by)
        for (int bx = 0; bx < small.width(); ++bx) {
            int sum[3] = {}, n = 0;
            for (int y = by * d; y < std::min((by + 1) * d, whole.height()); ++y)
                for (int x = bx * d; x < std::min((bx + 1) * d, whole.width()); ++x, ++n)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += int(whole.scanLine(y)[x] >> (8 * c) & 0xFF);
            const std::uint32_t p = small.scanLine(by)[bx];
            if (p >> 24 != 0xFF)
                return 256;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(p >> (8 * c) & 0xFF) - (sum[c] + n / 2) / n));
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

QByteArray contents(const std::string& file)
{
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

using Run = std::function<void()>;

// Runs f with the file size limit at `limit` bytes, so that every write
// past it fails as on a full disk.
void withFileSizeLimit(rlim_t limit, const Run& f)
{
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = limit;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    f();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
}

} // namespace

Q_DECLARE_METATYPE(Run)

class TestPictureRows : public QObject {
    Q_OBJECT
private slots:
    // ------------------------------------------------------------ encoders

    // Sizes from a single pixel up, with widths of every BMP row padding
    // (1, 2 and 3 bytes and none) and a picture whose files are hundreds of
    // kilobytes, more than one buffer of the JPEG encoder.
    void rowEncodersWriteTheWholePictureFiles_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("1 x 1") << 1 << 1;
        QTest::newRow("2 x 3") << 2 << 3;
        QTest::newRow("3 x 1") << 3 << 1;
        QTest::newRow("4 x 5") << 4 << 5;
        QTest::newRow("17 x 9") << 17 << 9;
        QTest::newRow("301 x 203") << 301 << 203;
    }
    void rowEncodersWriteTheWholePictureFiles()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const TBitmap picture = noise(w, h, std::uint32_t(w * 1000 + h));

        struct Setting {
            JpegSettings settings;
            std::function<void(jpeg_compress_struct&)> libjpeg;
        };
        const auto libjpegAt = [](int quality, bool fullChroma) {
            return [=](jpeg_compress_struct& c) {
                jpeg_set_quality(&c, quality, TRUE);
                c.dct_method = JDCT_FLOAT;
                if (fullChroma)
                    for (int i = 0; i < c.num_components; ++i)
                        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
            };
        };
        const std::vector<Setting> settings = { { { 100, false }, libjpegAt(100, false) },
            { { 100, true }, libjpegAt(100, true) }, { { 30, true }, libjpegAt(30, true) },
            // Held to 1..100.
            { { 0, false }, libjpegAt(1, false) } };
        for (const Setting& s : settings) {
            const QByteArray which = QStringLiteral("quality %1%2")
                                         .arg(s.settings.quality)
                                         .arg(s.settings.fullChroma ? ", 4:4:4" : ", 4:2:0")
                                         .toUtf8();
            BufferedRows rows(picture);
            CollectedBytes out;
            encodeJpegRows(w, h, s.settings, rows, out);
            QVERIFY2(rows.fault.empty(), rows.fault.c_str());
            QVERIFY2(out.bytes == encodeJpegWith(picture, s.settings), which.constData());
            // Both are the file libjpeg writes itself from RGB rows.
            QVERIFY2(out.bytes == compressPicture(picture, s.libjpeg), which.constData());
            // Written as the buffer fills, never held whole.
            QVERIFY2(out.largest <= std::size_t(64) << 10, which.constData());
        }

        {
            BufferedRows rows(picture);
            CollectedBytes out;
            encodePngRows(w, h, rows, out);
            QVERIFY2(rows.fault.empty(), rows.fault.c_str());
            QVERIFY(out.bytes == encodePng(picture));
            QVERIFY(samePixels(decodePng(out.bytes.data(), out.bytes.size()), picture));
            QVERIFY(out.largest <= std::size_t(64) << 10);
        }
    }

    // Besides the sizes above, pictures whose BMP rows fill several of the
    // encoder's batches with a part-filled last one, and rows wider than a
    // batch.
    void bmpRowsLieBottomUpInTheirPlaces_data()
    {
        rowEncodersWriteTheWholePictureFiles_data();
        QTest::newRow("640 x 480") << 640 << 480;
        QTest::newRow("90001 x 3") << 90001 << 3;
    }
    void bmpRowsLieBottomUpInTheirPlaces()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const TBitmap picture = noise(w, h, std::uint32_t(w + h));
        BufferedRows rows(picture);
        PlacedBytes out;
        encodeBmpRows(w, h, rows, out);
        QVERIFY2(rows.fault.empty(), rows.fault.c_str());
        QCOMPARE(rows.asked(), h);
        QVERIFY2(out.coverage().empty(), out.coverage().c_str());
        const std::uint64_t stride = (std::uint64_t(w) * 3 + 3) / 4 * 4;
        QCOMPARE(bmpFileSize(w, h), 54 + stride * std::uint64_t(h));
        QCOMPARE(std::uint64_t(out.bytes.size()), bmpFileSize(w, h));
        QVERIFY(out.bytes == encodeBmp(picture));
        // The reader opens no picture wider than 65500 pixels.
        if (w <= kMaxPictureSide)
            QVERIFY(samePixels(decodeBmp(out.bytes.data(), out.bytes.size()), picture));
    }

    // Rows handed over by two threads taking turns of a few rows, as the
    // streamed pair hands them whichever decoder's thread is free: the same
    // files. After the sink failed, neither a row nor the end is taken.
    void rowEncodersTakeRowsFromAnyThread()
    {
        const int w = 301, h = 203;
        const TBitmap picture = noise(w, h, 7);
        const auto inTurns = [&](RowEncoder& encoder) {
            std::mutex m;
            std::condition_variable turn;
            int next = 0;
            const auto hand = [&](int me) {
                std::unique_lock lock(m);
                for (;;) {
                    turn.wait(lock, [&] { return next == h || (next / 7) % 2 == me; });
                    if (next == h)
                        return;
                    encoder.write(picture.scanLine(next++));
                    turn.notify_all();
                }
            };
            std::thread other(hand, 1);
            hand(0);
            other.join();
            encoder.finish();
        };
        {
            CollectedBytes out;
            const auto encoder = jpegRowEncoder(w, h, JpegSettings {}, out);
            inTurns(*encoder);
            QVERIFY(out.bytes == encodeJpeg(picture));
        }
        {
            CollectedBytes out;
            const auto encoder = pngRowEncoder(w, h, out);
            inTurns(*encoder);
            QVERIFY(out.bytes == encodePng(picture));
        }
        {
            PlacedBytes out;
            const auto encoder = bmpRowEncoder(w, h, out);
            inTurns(*encoder);
            QVERIFY2(out.coverage().empty(), out.coverage().c_str());
            QVERIFY(out.bytes == encodeBmp(picture));
        }

        // The sink's own exception reaches the caller, from a row or from
        // the end, whichever wrote the failing piece.
        const auto afterFailure = [&](RowEncoder& encoder) {
            const QString stop = stopOf([&] {
                for (int y = 0; y < h; ++y)
                    encoder.write(picture.scanLine(y));
                encoder.finish();
            });
            QVERIFY2(stop.startsWith("Stop: "), qPrintable(stop));
            QVERIFY_THROWS_EXCEPTION(std::logic_error, encoder.write(picture.scanLine(0)));
            QVERIFY_THROWS_EXCEPTION(std::logic_error, encoder.finish());
        };
        {
            CollectedBytes out(0);
            afterFailure(*jpegRowEncoder(w, h, JpegSettings {}, out));
        }
        {
            CollectedBytes out(20); // past the signature and the header chunk
            afterFailure(*pngRowEncoder(w, h, out));
        }
        {
            PlacedBytes out(2); // the first batch of rows
            afterFailure(*bmpRowEncoder(w, h, out));
        }
        // The end before the last row is a mistake of the caller, not a file.
        CollectedBytes out;
        const auto early = jpegRowEncoder(w, h, JpegSettings {}, out);
        early->write(picture.scanLine(0));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, early->finish());
    }

    void bmpSizeLimit()
    {
        // A BMP file's sizes are 32-bit: 37837 rows of 113512 bytes fit,
        // 37838 of 113516 do not.
        QCOMPARE(bmpFileSize(37837, 37837), 54 + 113512ull * 37837);
        QCOMPARE(errorOf([] { bmpFileSize(37838, 37838); }), QStringLiteral("The picture is too large for a BMP file"));
        QCOMPARE(errorOf([] {
            const TBitmap one = uniform(1, 1, clRed);
            BufferedRows rows(one);
            PlacedBytes out;
            encodeBmpRows(65535, 65535, rows, out);
        }),
            QStringLiteral("The picture is too large for a BMP file"));
    }

    // ------------------------------------------------------------ decoder

    void rowsAreDecodeJpegsPixels_data() { addDecoderFiles(53, 37); }
    void rowsAreDecodeJpegsPixels()
    {
        QFETCH(QByteArray, file);
        const Bytes bytes = bytesOf(file);
        const TBitmap whole = decodeJpeg(bytes.data(), bytes.size());
        // A sink may give less room than asked for, down to a row at a time.
        for (const int maxRoom : { 1, 3, 8 }) {
            CollectedRows sink(maxRoom);
            decodeJpegRows(bytes.data(), bytes.size(), sink);
            QVERIFY2(sink.fault.empty(), sink.fault.c_str());
            QCOMPARE(sink.rowsIn, whole.height());
            QVERIFY2(samePixels(sink.picture, whole), qPrintable(QString("room for %1 rows").arg(maxRoom)));
        }
    }

    // Read piece by piece, in pieces smaller and larger than the markers
    // and segments the library skips over, the pixels and the size are the
    // same as from the file held whole.
    void aFileReadInPiecesDecodesTheSame_data() { addDecoderFiles(53, 37); }
    void aFileReadInPiecesDecodesTheSame()
    {
        QFETCH(QByteArray, file);
        const Bytes bytes = bytesOf(file);
        const TBitmap whole = decodeJpeg(bytes.data(), bytes.size());
        for (const std::size_t piece : { std::size_t(1), std::size_t(7), std::size_t(100000) }) {
            TrickledBytes in(bytes, piece);
            CollectedRows sink(3);
            decodeJpegRows(in, sink);
            QVERIFY2(sink.fault.empty(), sink.fault.c_str());
            QVERIFY2(samePixels(sink.picture, whole), qPrintable(QString("pieces of %1 bytes").arg(piece)));
            TrickledBytes header(bytes, piece);
            const JpegSize size = jpegPictureSize(header);
            QCOMPARE(size.width, whole.width());
            QCOMPARE(size.height, whole.height());
        }
    }

    // A file that ends early when read piece by piece is damaged, as held
    // whole; a read that fails reaches the caller as it was thrown.
    void aFileReadInPiecesFailsAsHeldWhole()
    {
        const Bytes file = encodeJpeg(patterned(96, 256, 3));
        const Bytes cut = cutInItsScan(file, false);
        TrickledBytes shortIn(cut, 4096);
        CollectedRows sink;
        QCOMPARE(errorOf([&] { decodeJpegRows(shortIn, sink); }), QString(kDamagedPicture));
        QVERIFY(sink.rowsIn > 0);
        TrickledBytes failing(file, 512, file.size() / 2);
        CollectedRows other;
        bool stopped = false;
        try {
            decodeJpegRows(failing, other);
        } catch (const Stop& e) {
            stopped = QString(e.what()).startsWith(QStringLiteral("the disk went away"));
        }
        QVERIFY(stopped);
    }

    // libjpeg's scaling by its inverse DCT: the picture's size divided and
    // rounded up, each pixel close to the mean of the pixels it stands for,
    // at sizes of whole blocks and of part-filled ones.
    void scaledDecodes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("d");
        const auto fullChroma = [](jpeg_compress_struct& c) {
            for (int i = 0; i < c.num_components; ++i)
                c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        };
        const auto progressive = [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); };
        for (const int d : { 2, 4, 8 }) {
            const auto row = [&](const char* name, const Bytes& file) {
                QTest::newRow(qPrintable(QStringLiteral("%1, 1/%2").arg(name).arg(d))) << arrayOf(file) << d;
            };
            row("1 x 1", compressPicture(gentle(1, 1), fullChroma));
            row("37 x 23, 4:4:4", compressPicture(gentle(37, 23), fullChroma));
            row("61 x 9, progressive 4:2:0", compressPicture(gentle(61, 9), progressive));
            row("64 x 48, 4:2:0", encodeJpeg(gentle(64, 48)));
        }
    }
    void scaledDecodes()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, d);
        const Bytes bytes = bytesOf(file);
        const TBitmap whole = decodeJpeg(bytes.data(), bytes.size());
        CollectedRows sink;
        decodeJpegRows(bytes.data(), bytes.size(), sink, d);
        QVERIFY2(sink.fault.empty(), sink.fault.c_str());
        QCOMPARE(sink.picture.width(), (whole.width() + d - 1) / d);
        QCOMPARE(sink.picture.height(), (whole.height() + d - 1) / d);
        QCOMPARE(sink.rowsIn, sink.picture.height());
        // Seen: up to 3, and 4 where 4:2:0 colour is cut off by the edges in
        // both directions. Taking one pixel of each block instead of their
        // mean is 6 off at 1/4 and 11 at 1/8.
        constexpr int kTolerance = 5;
        const int difference = largestBlockDifference(whole, sink.picture, d);
        QVERIFY2(difference <= kTolerance, qPrintable(QString("a channel off by %1").arg(difference)));
        if (whole.width() > 1)
            QVERIFY(largestBlockDifference(whole, redBlueSwapped(sink.picture), d) > kTolerance);
    }

    void scaledInkDecodes()
    {
        const Bytes file = compressRaw(45, 27, 4, JCS_CMYK, inkSamples(45, 27),
            [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_CMYK); });
        CollectedRows sink;
        decodeJpegRows(file.data(), file.size(), sink, 4);
        QVERIFY2(sink.fault.empty(), sink.fault.c_str());
        QCOMPARE(sink.picture.width(), 12);
        QCOMPARE(sink.picture.height(), 7);
        const TBitmap whole = decodeJpeg(file.data(), file.size());
        const int difference = largestBlockDifference(whole, sink.picture, 4);
        // The inks are multiplied, so the mean of the products is not quite
        // the product of the means: 2 seen.
        QVERIFY2(difference <= 3, qPrintable(QString("a channel off by %1").arg(difference)));
    }

    void scaleIsOneTwoFourOrEight_data()
    {
        QTest::addColumn<int>("d");
        for (const int d : { 0, -2, 3, 16 })
            QTest::newRow(qPrintable(QString::number(d))) << d;
    }
    void scaleIsOneTwoFourOrEight()
    {
        QFETCH(int, d);
        const Bytes file = encodeJpeg(uniform(16, 16, clRed));
        CollectedRows sink;
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, decodeJpegRows(file.data(), file.size(), sink, d));
        QVERIFY(!sink.begun);
    }

    // The memory rule counts the whole picture even when the rows come out
    // smaller, so a file is refused at every scale or at none, and before
    // the sink begins.
    void refusedFilesNeverBeginTheSink_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("d");
        QTest::addColumn<QString>("message");
        const Bytes bomb = progressiveBomb();
        const Bytes arithmetic
            = withFrameSize(compressColour(16, 16, [](jpeg_compress_struct& c) { c.arith_code = TRUE; }), 4300, 4000);
        const QString tooLarge = QStringLiteral("The picture is too large (%1 x %2 pixels) for a file of %3 bytes");
        for (const int d : { 1, 8 }) {
            QTest::newRow(qPrintable(QString("progressive, 3617 x 64508, 1/%1").arg(d)))
                << arrayOf(bomb) << d << tooLarge.arg(3617).arg(64508).arg(bomb.size());
            QTest::newRow(qPrintable(QString("arithmetic, 4300 x 4000, 1/%1").arg(d)))
                << arrayOf(arithmetic) << d << tooLarge.arg(4300).arg(4000).arg(arithmetic.size());
            QTest::newRow(qPrintable(QString("Huffman, 8000 x 8000, 1/%1").arg(d)))
                << arrayOf(withFrameSize(compressColour(16, 16, {}), 8000, 8000)) << d << QString(kDamagedPicture);
        }
    }
    void refusedFilesNeverBeginTheSink()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, d);
        QFETCH(QString, message);
        const Bytes bytes = bytesOf(file);
        CollectedRows sink;
        QCOMPARE(errorOf([&] { decodeJpegRows(bytes.data(), bytes.size(), sink, d); }), message);
        QVERIFY(!sink.begun);
    }

    // Damage met halfway through the rows: the rows before it were handed
    // over, and the decode then fails as decodeJpeg does.
    void damageHalfwayFailsAfterTheRowsBefore_data()
    {
        QTest::addColumn<QByteArray>("file");
        const Bytes file = encodeJpeg(patterned(96, 256, 3));
        QTest::newRow("scan cut short, closed with EOI") << arrayOf(cutInItsScan(file, true));
        QTest::newRow("file ends in its scan") << arrayOf(cutInItsScan(file, false));
    }
    void damageHalfwayFailsAfterTheRowsBefore()
    {
        QFETCH(QByteArray, file);
        const Bytes bytes = bytesOf(file);
        CollectedRows sink;
        bool damaged = false;
        try {
            decodeJpegRows(bytes.data(), bytes.size(), sink);
        } catch (const EPictureError& e) {
            QCOMPARE(QString(e.what()), QString(kDamagedPicture));
            damaged = true;
        }
        QVERIFY(damaged);
        QVERIFY2(sink.fault.empty(), sink.fault.c_str());
        QVERIFY2(sink.rowsIn >= 64 && sink.rowsIn < 256, qPrintable(QString("%1 rows in").arg(sink.rowsIn)));
        // The rows handed over are the file's.
        const Bytes whole = encodeJpeg(patterned(96, 256, 3));
        const TBitmap expected = decodeJpeg(whole.data(), whole.size());
        for (int y = 0; y < sink.rowsIn - 16; ++y)
            QVERIFY(std::equal(expected.scanLine(y), expected.scanLine(y) + 96, sink.picture.scanLine(y)));
    }

    // ------------------------------------------------------------ failures

    // Whatever a sink or source throws, wherever in the operation, reaches
    // the caller as it was thrown, with the library torn down.
    void exceptionsReachTheCaller_data()
    {
        QTest::addColumn<Run>("run");
        QTest::addColumn<QString>("expected");
        using Call = CollectedRows::Call;
        const Bytes colour = encodeJpeg(patterned(40, 40, 1));
        const Bytes inks = compressRaw(40, 40, 4, JCS_CMYK, inkSamples(40, 40),
            [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_CMYK); });
        const auto decoding = [](const char* name, Bytes file, Call call, int at, int d, const char* expected) {
            QTest::newRow(name) << Run([=] {
                CollectedRows sink(8, call, at);
                decodeJpegRows(file.data(), file.size(), sink, d);
            }) << QString(expected);
        };
        decoding("decode, sink cannot begin", colour, Call::Begin, 0, 1, "Stop: no memory for 40 x 40 pixels");
        decoding("decode, no room for the first rows", colour, Call::Room, 0, 1, "Stop: no room from row 0 on");
        decoding("decode, no room halfway", colour, Call::Room, 20, 1, "Stop: no room from row 20 on");
        decoding("decode, rows not kept", colour, Call::Written, 9, 1, "Stop: cannot keep rows from 9 on");
        decoding("decode scaled, no room halfway", colour, Call::Room, 2, 4, "Stop: no room from row 2 on");
        decoding("decode inks, no room halfway", inks, Call::Room, 20, 1, "Stop: no room from row 20 on");
        decoding("decode inks, rows not kept", inks, Call::Written, 1, 1, "Stop: cannot keep rows from 1 on");

        // Large enough for the JPEG encoder to fill its buffer more than once.
        const auto picture = std::make_shared<TBitmap>(noise(301, 203, 5));
        const auto encoding = [picture](const char* name, int failRow, int failWrite, const char* expected,
                                  void (*encode)(const TBitmap&, RowSource&, ByteSink&)) {
            QTest::newRow(name) << Run([=] {
                BufferedRows rows(*picture, failRow);
                CollectedBytes out(failWrite);
                encode(*picture, rows, out);
            }) << QString(expected);
        };
        const auto jpeg = [](const TBitmap& p, RowSource& rows, ByteSink& out) {
            encodeJpegRows(p.width(), p.height(), JpegSettings {}, rows, out);
        };
        const auto png = [](const TBitmap& p, RowSource& rows, ByteSink& out) {
            encodePngRows(p.width(), p.height(), rows, out);
        };
        encoding("JPEG, no first row", 0, -1, "Stop: no row 0", jpeg);
        encoding("JPEG, no row halfway", 100, -1, "Stop: no row 100", jpeg);
        encoding("JPEG, disk full at the first buffer", -1, 0, "Stop: disk full at write 0", jpeg);
        encoding("JPEG, disk full at the second buffer", -1, 1, "Stop: disk full at write 1", jpeg);
        QTest::newRow("JPEG, disk full at the end of a small file") << Run([] {
            const TBitmap small = patterned(8, 8, 1);
            BufferedRows rows(small);
            CollectedBytes out(0);
            encodeJpegRows(8, 8, JpegSettings {}, rows, out);
        }) << QString("Stop: disk full at write 0");
        encoding("PNG, no first row", 0, -1, "Stop: no row 0", png);
        encoding("PNG, no row halfway", 100, -1, "Stop: no row 100", png);
        encoding("PNG, disk full at the signature", -1, 0, "Stop: disk full at write 0", png);
        encoding("PNG, disk full after the header", -1, 2, "Stop: disk full at write 2", png);

        const auto bmp = [picture](const char* name, int failRow, int failCall, const char* expected) {
            QTest::newRow(name) << Run([=] {
                BufferedRows rows(*picture, failRow);
                PlacedBytes out(failCall);
                encodeBmpRows(picture->width(), picture->height(), rows, out);
            }) << QString(expected);
        };
        bmp("BMP, no row halfway", 100, -1, "Stop: no row 100");
        bmp("BMP, no room for the file", -1, 0, "Stop: no room for 183566 bytes");
        bmp("BMP, rows cannot be written", -1, 2, "Stop: cannot write piece 1");
    }
    void exceptionsReachTheCaller()
    {
        QFETCH(Run, run);
        QFETCH(QString, expected);
        QCOMPARE(stopOf(run), expected);
    }

    // A library error is still reported as the library's, from a row
    // encoder as from the whole-picture one.
    void libraryErrorsStayTheirs()
    {
        const TBitmap line = uniform(65501, 1, clRed);
        BufferedRows rows(line);
        CollectedBytes out;
        QCOMPARE(errorOf([&] { encodeJpegRows(65501, 1, JpegSettings {}, rows, out); }), QString("JPEG error #41"));
        QCOMPARE(rows.asked(), 0);
    }

    // ------------------------------------------------------------ files

    // A file given its size first and then written in pieces in any order
    // is exactly those bytes once committed; reserved but not committed, it
    // leaves nothing.
    void writerTakesPiecesInPlace()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "rows.bin");
        std::vector<std::uint8_t> expected(300000);
        for (std::size_t i = 0; i < expected.size(); ++i)
            expected[i] = std::uint8_t(i * 7 + i / 251);
        {
            AtomicFileWriter writer(file);
            writer.reserveBytes(expected.size());
            // Last piece first, down to the first, in pieces of odd sizes.
            std::size_t end = expected.size();
            for (std::size_t piece = 1; end > 0; piece = piece * 3 + 1) {
                const std::size_t size = std::min(piece, end);
                writer.writeAt(end - size, expected.data() + end - size, size);
                end -= size;
            }
            QCOMPARE(entries(dir).size(), qsizetype(1)); // the temporary file, not the target yet
            QCOMPARE(contents(file), QByteArray("<missing>"));
            writer.commit();
        }
        QCOMPARE(contents(file), arrayOf(expected));
        QCOMPARE(entries(dir), QStringList { "rows.bin" });

        const std::string abandoned = path(dir, "abandoned.bmp");
        {
            AtomicFileWriter writer(abandoned);
            writer.reserveBytes(1000);
            writer.writeAt(500, expected.data(), 100);
        }
        QCOMPARE(entries(dir), QStringList { "rows.bin" });
    }

    // The real destination of a BMP row encoder: the file is encodeBmp's.
    void bmpRowsThroughTheFileWriter()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "anaglyph.bmp");
        const TBitmap picture = noise(333, 217, 9);
        {
            AtomicFileWriter writer(file);
            FileByteSink out(writer);
            BufferedRows rows(picture);
            encodeBmpRows(picture.width(), picture.height(), rows, out);
            writer.commit();
        }
        QCOMPARE(contents(file), arrayOf(encodeBmp(picture)));
    }

    // A disk that has not got the room: the reserve or the piece past the
    // room fails as any write does, and no temporary file is left.
    void writerFailuresAreWriteErrors_data()
    {
        QTest::addColumn<int>("reserved");
        QTest::addColumn<int>("writtenAt");
        QTest::newRow("reserve past the room") << 64 * 1024 << -1;
        QTest::newRow("piece past the room") << 1024 << 60000;
    }
    void writerFailuresAreWriteErrors()
    {
        QFETCH(int, reserved);
        QFETCH(int, writtenAt);
        QTemporaryDir dir;
        const std::string file = path(dir, "anaglyph.bmp");
        const std::vector<std::uint8_t> piece(1000, 'n');
        QString error;
        withFileSizeLimit(8192, [&] {
            error = errorOf([&] {
                AtomicFileWriter writer(file);
                writer.reserveBytes(std::uint64_t(reserved));
                writer.writeAt(0, piece.data(), piece.size());
                if (writtenAt >= 0)
                    writer.writeAt(std::uint64_t(writtenAt), piece.data(), piece.size());
                writer.commit();
            });
        });
        QCOMPARE(error, QStringLiteral("Stream write error"));
        QVERIFY(entries(dir).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestPictureRows)
#include "test_picture_rows.moc"
