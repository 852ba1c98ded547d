// The frames a Video4Linux2 camera hands out: YUYV and MJPEG converted as
// independent references do it (the BT.601 formula in floating point,
// libv4lconvert), damaged frames refused or dropped, and the bitmaps of the
// stream recycled without changing a frame anyone holds.
#include "fake_v4l2.h"
#include "fixtures.h"
#include "jpeg_files.h"
#include "v4lconvert_reference.h"

#include "camera/frame_convert.h"
#include "camera/v4l2_camera.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_limits.h"

#include <QDeadlineTimer>
#include <QTest>


#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(n);
    for (std::uint8_t& x : b)
        x = std::uint8_t(random());
    return b;
}

// The largest difference of any channel between the bitmap and a reference
// given as 0..255 doubles per channel.
template <typename Reference> double worstDifference(const TBitmap& b, Reference reference)
{
    double worst = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const std::uint32_t p = b.scanLine(y)[x];
            if ((p >> 24) != 0xFF)
                return 999;
            const auto [r, g, bl] = reference(x, y);
            worst = std::max({ worst, std::abs(double((p >> 16) & 0xFF) - r), std::abs(double((p >> 8) & 0xFF) - g),
                std::abs(double(p & 0xFF) - bl) });
        }
    return worst;
}

// BT.601 limited range in floating point, as the standard states it.
double worstAgainstBt601(const TBitmap& b, const Bytes& yuyv, std::size_t stride)
{
    return worstDifference(b, [&](int x, int y) {
        const std::uint8_t* pair = yuyv.data() + std::size_t(y) * stride + std::size_t(x / 2) * 4;
        const double l = 255.0 / 219.0 * (pair[x % 2 ? 2 : 0] - 16.0);
        const double u = 255.0 / 224.0 * (pair[1] - 128.0);
        const double v = 255.0 / 224.0 * (pair[3] - 128.0);
        const auto clamp = [](double c) { return std::clamp(c, 0.0, 255.0); };
        return std::tuple { clamp(l + 1.402 * v), clamp(l - 0.344136 * u - 0.714136 * v), clamp(l + 1.772 * u) };
    });
}

// The frame as libv4lconvert decodes it to RGB24; empty when it cannot.
Bytes libv4lconvertRgb(std::uint32_t fourcc, FrameSize size, const Bytes& frame)
{
    V4lconvertReference reference;
    Bytes rgb;
    return reference.toRgb24(fourcc, size, 0, frame, rgb) ? rgb : Bytes {};
}

double worstAgainstRgb(const TBitmap& b, const Bytes& rgb)
{
    if (rgb.size() != std::size_t(b.width()) * std::size_t(b.height()) * 3)
        return 999;
    return worstDifference(b, [&](int x, int y) {
        const std::uint8_t* p = rgb.data() + (std::size_t(y) * std::size_t(b.width()) + std::size_t(x)) * 3;
        return std::tuple { double(p[0]), double(p[1]), double(p[2]) };
    });
}

// A source that always delivers the same bytes.
FakeFrameSource constant(Bytes bytes)
{
    return [bytes = std::move(bytes)](const FakeFrameRequest&) { return bytes; };
}

} // namespace

class TestV4l2Frames : public QObject {
    Q_OBJECT

private slots:
    void yuyvMatchesBt601();
    void mjpegMatchesLibv4lconvert();
    void mjpegRefusesBadFrames();
    void mjpegFramesDecodeLikeFiles();
    void dropsCorruptFrames_data();
    void dropsCorruptFrames();
    void framesAreRecycledButNeverChanged();
};

void TestV4l2Frames::yuyvMatchesBt601()
{
    // Every byte value in every position, an odd width (the last pixel has
    // its pair's chroma) and rows padded beyond their pixels.
    const int width = 37;
    const int height = 29;
    const std::size_t stride = 19 * 4 + 12;
    const Bytes frame = randomBytes(stride * height, 1);
    TBitmap direct;
    QVERIFY(yuyvToRgb(frame.data(), frame.size(), stride, width, height, direct));
    QCOMPARE(direct.width(), width);
    QVERIFY(worstAgainstBt601(direct, frame, stride) <= 1.0);

    // Too few bytes, or rows shorter than their pixels: refused, untouched.
    TBitmap untouched;
    QVERIFY(!yuyvToRgb(frame.data(), stride * (height - 1) + 75, stride, width, height, untouched));
    QVERIFY(!yuyvToRgb(frame.data(), frame.size(), 74, width, height, untouched));
    QVERIFY(untouched.empty());

    // Through a streaming camera.
    auto fake = std::make_shared<FakeV4l2>();
    fake->addDevice(fakeCamera("/dev/video0", "Cam", { fakeFormat(V4L2_PIX_FMT_YUYV, { { 64, 48 } }) }));
    const Bytes streamed = randomBytes(64 * 48 * 2, 2);
    fake->setFrameSource("/dev/video0", constant(streamed));
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    const auto frameSeen = waitForFrame(*cam, { 64, 48 });
    QVERIFY(frameSeen != nullptr);
    QVERIFY(worstAgainstBt601(*frameSeen, streamed, 128) <= 1.0);
}

void TestV4l2Frames::mjpegMatchesLibv4lconvert()
{
    const FrameSize size { 320, 240 };
    // Without Huffman tables, as cameras send them; the library must supply
    // the standard ones.
    const Bytes frame = encodeMjpeg(fakePicture(size, 5), 85, false);
    const Bytes reference = libv4lconvertRgb(V4L2_PIX_FMT_MJPEG, size, frame);
    QVERIFY(!reference.empty());

    auto fake = std::make_shared<FakeV4l2>();
    fake->addDevice(fakeCamera("/dev/video0", "Cam", { fakeFormat(V4L2_PIX_FMT_MJPEG, { size }) }));
    fake->setFrameSource("/dev/video0", constant(frame));
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    const auto frameSeen = waitForFrame(*cam, size);
    QVERIFY(frameSeen != nullptr);
    QVERIFY(worstAgainstRgb(*frameSeen, reference) <= 2.0);
}

void TestV4l2Frames::mjpegRefusesBadFrames()
{
    const FrameSize size { 96, 64 };
    const Bytes good = encodeMjpeg(fakePicture(size, 0), 85, true);
    TBitmap out;
    // A frame of another size is refused before the bitmap is touched.
    QVERIFY(!mjpegToRgb(good.data(), good.size(), 160, 120, out));
    QVERIFY(out.empty());
    // So is a tiny frame that claims a huge picture, even at the stream's
    // size: the memory rule for files holds for frames.
    const Bytes huge = jpegfiles::withFrameSize(good, 16000, 16000);
    QVERIFY(!mjpegToRgb(huge.data(), huge.size(), 16000, 16000, out));
    QVERIFY(out.empty());
    const struct {
        const char* name;
        Bytes bytes;
    } bad[] = {
        { "cut short", Bytes(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)) },
        { "headers only", Bytes(good.begin(), good.begin() + 20) },
        { "not a JPEG", randomBytes(good.size(), 3) },
        { "empty", Bytes {} },
        // Valid as a file, but not what a camera streams.
        { "progressive", jpegfiles::compressPicture(fakePicture(size, 0), [](jpeg_compress_struct& c) {
             jpeg_simple_progression(&c);
         }) },
    };
    const Bytes reference = libv4lconvertRgb(V4L2_PIX_FMT_MJPEG, size, good);
    for (const auto& b : bad) {
        QVERIFY2(!mjpegToRgb(b.bytes.data(), b.bytes.size(), size.width, size.height, out), b.name);
        // The next good frame decodes whatever the refused one left behind.
        QVERIFY2(mjpegToRgb(good.data(), good.size(), size.width, size.height, out), b.name);
        QVERIFY2(worstAgainstRgb(out, reference) <= 2.0, b.name);
    }
}

void TestV4l2Frames::mjpegFramesDecodeLikeFiles()
{
    const FrameSize size { 72, 40 };
    const TBitmap picture = fakePicture(size, 7);
    const Bytes withTables = encodeMjpeg(picture, 85, true);
    const Bytes withoutTables = encodeMjpeg(picture, 85, false);
    QVERIFY(withoutTables.size() < withTables.size());
    // The frame decodes exactly as the picture decoder decodes the file,
    // and without its Huffman tables exactly as with them.
    const TBitmap asFile = decodeJpeg(withTables.data(), withTables.size());
    TBitmap out;
    QVERIFY(mjpegToRgb(withoutTables.data(), withoutTables.size(), size.width, size.height, out));
    QVERIFY(samePixels(out, asFile));
    QVERIFY(samePixels(decodeJpeg(withoutTables.data(), withoutTables.size()), asFile));

    // The next frame of the stream goes into the same pixel store.
    const std::uint32_t* store = out.scanLine(0);
    const Bytes next = encodeMjpeg(fakePicture(size, 8), 85, false);
    QVERIFY(mjpegToRgb(next.data(), next.size(), size.width, size.height, out));
    QCOMPARE(out.scanLine(0), store);
    QVERIFY(samePixels(out, decodeJpeg(next.data(), next.size())));

    // A frame is whole with its last row: padding where a file has its end
    // marker does not matter, although it makes the file damaged.
    Bytes padded = withoutTables;
    padded.resize(padded.size() - 2);
    padded.insert(padded.end(), 64, 0);
    QVERIFY(mjpegToRgb(padded.data(), padded.size(), size.width, size.height, out));
    QVERIFY(samePixels(out, asFile));
    try {
        decodeJpeg(padded.data(), padded.size());
        QFAIL("a file without its end marker was taken as whole");
    } catch (const EPictureError& e) {
        QCOMPARE(QString(e.what()), QString(kDamagedPicture));
    }
}

void TestV4l2Frames::dropsCorruptFrames_data()
{
    QTest::addColumn<std::uint32_t>("fourcc");
    QTest::addColumn<int>("kind");
    QTest::newRow("YUYV too short") << std::uint32_t(V4L2_PIX_FMT_YUYV) << 0;
    QTest::newRow("YUYV bytesused beyond the buffer") << std::uint32_t(V4L2_PIX_FMT_YUYV) << 1;
    QTest::newRow("MJPEG cut short") << std::uint32_t(V4L2_PIX_FMT_MJPEG) << 0;
    QTest::newRow("MJPEG of another size") << std::uint32_t(V4L2_PIX_FMT_MJPEG) << 2;
    QTest::newRow("MJPEG garbage") << std::uint32_t(V4L2_PIX_FMT_MJPEG) << 3;
}

void TestV4l2Frames::dropsCorruptFrames()
{
    QFETCH(std::uint32_t, fourcc);
    QFETCH(int, kind);
    const FrameSize size { 64, 48 };
    FakeFrameRequest request;
    request.fourcc = fourcc;
    request.size = size;
    request.stride = 128;
    request.number = 0;
    const Bytes good = fakeFrame(request);
    // The corrupt frames show another picture, so a corrupt frame that got
    // through would not look like the good one.
    request.number = 9;
    const Bytes other = fakeFrame(request);
    Bytes corrupt;
    switch (kind) {
    case 0:
        corrupt.assign(other.begin(), other.begin() + std::ptrdiff_t(other.size() * 2 / 3));
        break;
    case 1:
        corrupt = other;
        corrupt.resize(64 * 48 * 2 + 100, 0x80); // more than the buffer's 6144 bytes
        break;
    case 2:
        corrupt = encodeMjpeg(fakePicture({ 32, 24 }, 9), 85, false);
        break;
    default:
        corrupt = randomBytes(3000, 4);
        corrupt[0] = 0xFF;
        corrupt[1] = 0xD8;
        break;
    }
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = fakeCamera("/dev/video0", "Cam", { fakeFormat(fourcc, { size }) });
    d.framePeriodMs = 2;
    d.source = [&](const FakeFrameRequest& r) { return r.number % 2 ? corrupt : good; };
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    const auto first = waitForFrame(*cam, size);
    QVERIFY(first != nullptr);
    // Many frames of both kinds pass; every frame handed out is the good one.
    const QDeadlineTimer deadline(20000);
    while (fake->framesDelivered("/dev/video0") < 30 && !deadline.hasExpired()) {
        const auto f = cam->fetchFrame();
        QVERIFY(f != nullptr);
        QVERIFY(samePixels(*f, *first));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QVERIFY(fake->framesDelivered("/dev/video0") >= 30);
}

void TestV4l2Frames::framesAreRecycledButNeverChanged()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = fakeCamera("/dev/video0", "Cam", { fakeFormat(V4L2_PIX_FMT_YUYV, { { 160, 120 } }) });
    d.framePeriodMs = 2;
    fake->addDevice(d);
    const long before = TBitmap::liveCount();
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    const auto held = waitForFrame(*cam, { 160, 120 });
    QVERIFY(held != nullptr);
    TBitmap copy;
    copy.setSize(held->width(), held->height());
    copy.draw(*held);
    const std::uint64_t start = fake->framesDelivered("/dev/video0");
    std::shared_ptr<const TBitmap> latest;
    QTRY_VERIFY_WITH_TIMEOUT((latest = cam->fetchFrame(), fake->framesDelivered("/dev/video0") > start + 40), 20000);
    // The pattern moves, so newer frames differ; the one held is as it was.
    QVERIFY(!samePixels(*latest, copy));
    QVERIFY(samePixels(*held, copy));
    latest.reset();
    // However many frames pass, only a handful of bitmaps are alive.
    QVERIFY2(TBitmap::liveCount() - before <= 6, qPrintable(QString::number(TBitmap::liveCount() - before)));
}

QTEST_GUILESS_MAIN(TestV4l2Frames)
#include "test_v4l2_frames.moc"
