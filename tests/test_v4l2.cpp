// The Video4Linux2 camera back end against fake devices: which nodes are
// cameras, the format and size a camera opens with, its modes and controls,
// handing out frames without waiting and converting them only when they are
// fetched, sharing one open device, closing at once, a quiet stream (no
// dequeue in vain), and a device unplugged while it streams and plugged back
// in. The frames themselves are tested in test_v4l2_frames.cpp.
#include "fake_v4l2.h"
#include "fixtures.h"

#include "camera/v4l2_camera.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

namespace {

const std::vector<FrameInterval> kRates { { 1, 30 }, { 1, 15 } };

FakeFormat format(std::uint32_t fourcc, std::vector<FrameSize> sizes, bool emulated = false)
{
    return fakeFormat(fourcc, std::move(sizes), kRates, emulated);
}

FakeDevice yuyvCamera(const std::string& path = "/dev/video0", FrameSize size = { 64, 48 })
{
    return fakeCamera(path, "Cam", { format(V4L2_PIX_FMT_YUYV, { size }) });
}

QString text(const std::string& s) { return QString::fromStdString(s); }

// Whether f throws CameraLostError (rather than another CaptureError, or
// nothing).
bool throwsLost(const std::function<void()>& f)
{
    try {
        f();
    } catch (const CameraLostError&) {
        return true;
    } catch (const CaptureError&) {
    }
    return false;
}

V4l2FrameCounts countsOf(const Camera& camera)
{
    const std::optional<V4l2FrameCounts> counts = v4l2FrameCounts(camera);
    if (!counts)
        throw std::logic_error("not a Video4Linux2 camera");
    return *counts;
}

} // namespace

class TestV4l2 : public QObject {
    Q_OBJECT

private slots:
    void naturalOrder();
    void listsCaptureNodesOnly();
    void negotiatesFormatAndSize_data();
    void negotiatesFormatAndSize();
    void refusesToOpen_data();
    void refusesToOpen();
    void enumeratesModes();
    void setModeTakesTheDriversSize();
    void enumeratesControls_data();
    void enumeratesControls();
    void setControlReachesTheDevice();
    void fetchFrameNeverWaitsForTheDevice();
    void convertsOnlyWhatIsFetched();
    void convertsEachFrameOnce_data();
    void convertsEachFrameOnce();
    void steadyFetchesFindTheirFrameReady();
    void neverDequeuesInVain();
    void sharesOneOpenDevice();
    void closesPromptlyWithoutFrames();
    void unpluggedWhileStreaming();
    void pluggedBackIn();
};

void TestV4l2::naturalOrder()
{
    std::vector<std::string> paths { "/dev/video10", "/dev/video2", "/dev/video1", "/dev/video0", "/dev/video11",
        "/dev/video9" };
    std::sort(paths.begin(), paths.end(), naturalLess);
    const std::vector<std::string> expected { "/dev/video0", "/dev/video1", "/dev/video2", "/dev/video9",
        "/dev/video10", "/dev/video11" };
    QVERIFY(paths == expected);
    QVERIFY(naturalLess("a2b", "a10a"));
    QVERIFY(!naturalLess("a10", "a10"));
    QVERIFY(naturalLess("a10", "a010")); // equal values: fewer leading zeros first, so the order is strict
    QVERIFY(!naturalLess("a010", "a10"));
    QVERIFY(naturalLess("video", "video0"));
}

void TestV4l2::listsCaptureNodesOnly()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice left = yuyvCamera("/dev/video0");
    left.card = "Left Cam";
    left.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    left.deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    left.exclusive = true;
    fake->addDevice(left);
    // The same UVC camera's metadata node: the device can capture video, the
    // node cannot.
    FakeDevice metadata = yuyvCamera("/dev/video1");
    metadata.capabilities = left.capabilities;
    metadata.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    fake->addDevice(metadata);
    FakeDevice output = yuyvCamera("/dev/video2");
    output.capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
    fake->addDevice(output);
    FakeDevice readOnly = yuyvCamera("/dev/video3");
    readOnly.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
    fake->addDevice(readOnly);
    FakeDevice right = yuyvCamera("/dev/video10"); // an old driver without device_caps
    right.card = "Right Cam";
    fake->addDevice(right);

    const auto system = v4l2Cameras(fake);
    const std::vector<CameraInfo> expected { { "/dev/video0", "Left Cam" }, { "/dev/video10", "Right Cam" } };
    QVERIFY(system->cameras() == expected);

    // A camera open here is listed without being opened again (its driver
    // allows one open at a time).
    const std::shared_ptr<Camera> first = system->open(system->cameras().front().id);
    QCOMPARE(first->info(), expected.front());
    const int opens = fake->log("/dev/video0").opens;
    QVERIFY(system->cameras() == expected);
    QCOMPARE(fake->log("/dev/video0").opens, opens);
}

namespace {

struct NegotiationCase {
    const char* name;
    std::vector<FakeFormat> formats;
    std::uint32_t initialFourcc;
    FrameSize initialSize;
    std::uint32_t expectedFourcc;
    FrameSize expectedSize;
};

std::vector<NegotiationCase> negotiationCases()
{
    FakeFormat stepwise;
    stepwise.fourcc = V4L2_PIX_FMT_YUYV;
    stepwise.stepwise = v4l2_frmsize_stepwise { 160, 1920, 16, 120, 1080, 8 };
    stepwise.stepIntervals = kRates;
    return {
        { "YUYV before MJPEG listed first, current size kept",
            { format(V4L2_PIX_FMT_MJPEG, { { 64, 48 }, { 96, 64 } }),
                format(V4L2_PIX_FMT_YUYV, { { 64, 48 }, { 96, 64 } }) },
            V4L2_PIX_FMT_MJPEG, { 96, 64 }, V4L2_PIX_FMT_YUYV, { 96, 64 } },
        { "MJPEG when there is no YUYV", { format(V4L2_PIX_FMT_MJPEG, { { 32, 24 }, { 64, 48 } }) }, 0, { 64, 48 },
            V4L2_PIX_FMT_MJPEG, { 64, 48 } },
        { "JPEG fourcc", { format(V4L2_PIX_FMT_JPEG, { { 64, 48 } }) }, 0, {}, V4L2_PIX_FMT_JPEG, { 64, 48 } },
        { "RGB24 from libv4l2 for a Bayer sensor",
            { format(V4L2_PIX_FMT_SBGGR8, { { 64, 48 } }), format(V4L2_PIX_FMT_RGB24, { { 64, 48 } }, true),
                format(V4L2_PIX_FMT_BGR24, { { 64, 48 } }, true) },
            0, {}, V4L2_PIX_FMT_RGB24, { 64, 48 } },
        { "emulated MJPEG is not taken for native", // libv4l2 never does this, but the flag decides
            { format(V4L2_PIX_FMT_SBGGR8, { { 64, 48 } }), format(V4L2_PIX_FMT_MJPEG, { { 64, 48 } }, true),
                format(V4L2_PIX_FMT_RGB24, { { 64, 48 } }, true) },
            0, {}, V4L2_PIX_FMT_RGB24, { 64, 48 } },
        { "current size not offered: largest up to 1280x720",
            { format(V4L2_PIX_FMT_YUYV, { { 320, 240 }, { 1280, 720 }, { 640, 480 }, { 1920, 1080 } }) }, 0,
            { 800, 600 }, V4L2_PIX_FMT_YUYV, { 1280, 720 } },
        { "every size above 1280x720: the smallest", { format(V4L2_PIX_FMT_YUYV, { { 2592, 1944 }, { 1920, 1080 } }) },
            0, { 1024, 768 }, V4L2_PIX_FMT_YUYV, { 1920, 1080 } },
        { "stepwise range: a common size on its steps", { stepwise }, 0, { 1000, 1000 }, V4L2_PIX_FMT_YUYV,
            { 1280, 720 } },
    };
}

} // namespace

void TestV4l2::negotiatesFormatAndSize_data()
{
    QTest::addColumn<int>("index");
    const auto cases = negotiationCases();
    for (std::size_t i = 0; i < cases.size(); ++i)
        QTest::newRow(cases[i].name) << int(i);
}

void TestV4l2::negotiatesFormatAndSize()
{
    QFETCH(int, index);
    const NegotiationCase c = negotiationCases()[std::size_t(index)];
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = fakeCamera("/dev/video0", "Cam", c.formats);
    d.initialFourcc = c.initialFourcc;
    d.initialSize = c.initialSize;
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const std::shared_ptr<Camera> cam = system->open("/dev/video0");

    const FakeLog log = fake->log("/dev/video0");
    QCOMPARE(log.setFormats.size(), std::size_t(1));
    QCOMPARE(log.setFormats[0].pixelformat, c.expectedFourcc);
    QCOMPARE(int(log.setFormats[0].width), c.expectedSize.width);
    QCOMPARE(int(log.setFormats[0].height), c.expectedSize.height);
    QCOMPARE(cam->frameSize(), std::optional<FrameSize>(c.expectedSize));
    QVERIFY(waitForFrame(*cam, c.expectedSize) != nullptr);
}

void TestV4l2::refusesToOpen_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::newRow("no such node") << "/dev/video7"
                                  << R"(Cannot open camera "/dev/video7". No such file or directory)";
    QTest::newRow("busy elsewhere") << "/dev/video0"
                                    << R"(Cannot open camera "/dev/video0". Device or resource busy)";
    QTest::newRow("metadata node") << "/dev/video1"
                                   << R"(Cannot open camera "/dev/video1". It is not a video capture device.)";
    QTest::newRow("no usable format")
        << "/dev/video2"
        << R"(Cannot open camera "/dev/video2". It offers no frame format that can be converted for display.)";
}

void TestV4l2::refusesToOpen()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice busy = yuyvCamera("/dev/video0");
    busy.exclusive = true;
    fake->addDevice(busy);
    FakeDevice metadata = yuyvCamera("/dev/video1");
    metadata.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    fake->addDevice(metadata);
    fake->addDevice(fakeCamera("/dev/video2", "Raw", { format(V4L2_PIX_FMT_SBGGR8, { { 64, 48 } }) }));
    const int otherProgram = fake->open("/dev/video0", 0);
    QVERIFY(otherProgram >= 0);

    const auto system = v4l2Cameras(fake);
    QCOMPARE(errorOf([&] { system->open(path.toStdString()); }), message);
    // Nothing is left open by a failed open.
    QCOMPARE(fake->openFds("/dev/video1") + fake->openFds("/dev/video2"), 0);
    QCOMPARE(fake->openFds("/dev/video0"), 1);
}

void TestV4l2::enumeratesModes()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeFormat yuyv = format(V4L2_PIX_FMT_YUYV, { { 640, 480 }, { 1280, 720 } });
    yuyv.sizes[1].intervals = { { 1, 10 } };
    fake->addDevice(fakeCamera("/dev/video0", "Discrete", { yuyv, format(V4L2_PIX_FMT_MJPEG, { { 1920, 1080 } }) }));
    FakeFormat range;
    range.fourcc = V4L2_PIX_FMT_YUYV;
    range.stepwise = v4l2_frmsize_stepwise { 100, 1000, 4, 100, 600, 4 };
    fake->addDevice(fakeCamera("/dev/video1", "Stepwise", { range }));
    const auto system = v4l2Cameras(fake);

    // The modes of the format in use, not those of the MJPEG format.
    const std::vector<CameraMode> discrete = system->open("/dev/video0")->modes();
    QCOMPARE(discrete.size(), std::size_t(2));
    QCOMPARE(discrete[0].size, (FrameSize { 640, 480 }));
    QVERIFY(discrete[0].intervals == kRates);
    QCOMPARE(discrete[1].size, (FrameSize { 1280, 720 }));
    QVERIFY(discrete[1].intervals == (std::vector<FrameInterval> { { 1, 10 } }));

    // A range: common sizes on its steps and its largest, nothing outside.
    std::vector<FrameSize> sizes;
    for (const CameraMode& m : system->open("/dev/video1")->modes())
        sizes.push_back(m.size);
    const std::vector<FrameSize> expected { { 160, 120 }, { 176, 144 }, { 320, 240 }, { 352, 288 }, { 640, 360 },
        { 640, 480 }, { 800, 600 }, { 1000, 600 } };
    QVERIFY(sizes == expected);
}

void TestV4l2::setModeTakesTheDriversSize()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeFormat yuyv = format(V4L2_PIX_FMT_YUYV, { { 64, 48 }, { 160, 120 } });
    yuyv.sizes[1].intervals = { { 1, 30 }, { 1, 15 }, { 1, 5 } };
    fake->addDevice(fakeCamera("/dev/video0", "Cam", { yuyv }));
    const auto system = v4l2Cameras(fake);
    const std::shared_ptr<Camera> cam = system->open("/dev/video0");
    QVERIFY(waitForFrame(*cam, { 64, 48 }) != nullptr);
    QCOMPARE(cam->frameInterval(), (FrameInterval { 1, 30 }));

    // 150 x 100 is not offered: the driver takes its nearest, 160 x 120.
    cam->setMode({ 150, 100 }, { 1, 15 });
    QCOMPARE(cam->frameSize(), std::optional<FrameSize>(FrameSize { 160, 120 }));
    QCOMPARE(cam->frameInterval(), (FrameInterval { 1, 15 }));
    const FakeLog log = fake->log("/dev/video0");
    QCOMPARE(int(log.setFormats.back().width), 150);
    QCOMPARE(log.setIntervals.size(), std::size_t(1));
    QCOMPARE(log.setIntervals[0].denominator, 15u);
    // From the moment setMode returns, no frame of the old size comes out.
    const QDeadlineTimer deadline(10000);
    std::shared_ptr<const TBitmap> frame;
    while (!frame && !deadline.hasExpired()) {
        frame = cam->fetchFrame();
        QVERIFY(!frame || (frame->width() == 160 && frame->height() == 120));
    }
    QVERIFY(frame != nullptr);

    // A zero interval keeps the device's choice: no S_PARM.
    cam->setMode({ 64, 48 }, {});
    QCOMPARE(cam->frameSize(), std::optional<FrameSize>(FrameSize { 64, 48 }));
    QCOMPARE(fake->log("/dev/video0").setIntervals.size(), std::size_t(1));
    QVERIFY(waitForFrame(*cam, { 64, 48 }) != nullptr);
}

namespace {

std::vector<FakeControl> deviceControls()
{
    FakeControl brightness { V4L2_CID_BRIGHTNESS, "Brightness", V4L2_CTRL_TYPE_INTEGER, -64, 64, 1, 0, 12, 0, {}, {} };
    FakeControl contrast { V4L2_CID_CONTRAST, "Contrast", V4L2_CTRL_TYPE_INTEGER, 0, 95, 1, 0, 0,
        V4L2_CTRL_FLAG_DISABLED, {}, {} };
    FakeControl autoWb { V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1, 1,
        0, {}, {} };
    FakeControl doWb { V4L2_CID_DO_WHITE_BALANCE, "Do White Balance", V4L2_CTRL_TYPE_BUTTON, 0, 0, 0, 0, 0,
        V4L2_CTRL_FLAG_WRITE_ONLY, {}, {} };
    FakeControl gain { V4L2_CID_GAIN, "Gain", V4L2_CTRL_TYPE_INTEGER, 0, 100, 1, 0, 33, V4L2_CTRL_FLAG_READ_ONLY, {},
        {} };
    FakeControl power { V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", V4L2_CTRL_TYPE_MENU, 0, 3, 1, 1, 2, 0,
        { "Disabled", "50 Hz", "60 Hz", "" }, {} };
    FakeControl temperature { V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", V4L2_CTRL_TYPE_INTEGER,
        2800, 6500, 10, 4600, 5000, V4L2_CTRL_FLAG_INACTIVE, {}, {} };
    FakeControl rates { V4L2_CID_PRIVATE_BASE, "Bit Rate", V4L2_CTRL_TYPE_INTEGER_MENU, 0, 1, 1, 0, 1, 0, {},
        { 1000000, 2500000 } };
    return { brightness, contrast, autoWb, doWb, gain, power, temperature, rates };
}

} // namespace

void TestV4l2::enumeratesControls_data()
{
    QTest::addColumn<bool>("nextControl");
    QTest::newRow("V4L2_CTRL_FLAG_NEXT_CTRL") << true;
    QTest::newRow("driver without it: id ranges") << false;
}

void TestV4l2::enumeratesControls()
{
    QFETCH(bool, nextControl);
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera();
    d.controls = deviceControls();
    if (nextControl) // a control class the user never sees
        d.controls.push_back(
            { V4L2_CID_USER_CLASS, "User Controls", V4L2_CTRL_TYPE_CTRL_CLASS, 0, 0, 0, 0, 0, 0, {}, {} });
    d.nextControl = nextControl;
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const std::vector<CameraControl> list = system->open("/dev/video0")->controls();

    using K = CameraControl::Kind;
    struct Expected {
        std::uint32_t id;
        const char* name;
        K kind;
        std::int32_t value;
        bool inactive;
    };
    const Expected expected[] = {
        { V4L2_CID_BRIGHTNESS, "Brightness", K::Integer, 12, false },
        { V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", K::Boolean, 1, false },
        { V4L2_CID_DO_WHITE_BALANCE, "Do White Balance", K::Button, 0, false },
        { V4L2_CID_GAIN, "Gain", K::Integer, 33, true },
        { V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", K::Menu, 2, false },
        { V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", K::Integer, 5000, true },
        { V4L2_CID_PRIVATE_BASE, "Bit Rate", K::Menu, 1, false },
    };
    QCOMPARE(list.size(), std::size(expected));
    for (std::size_t i = 0; i < list.size(); ++i) {
        QCOMPARE(list[i].id, expected[i].id);
        QCOMPARE(text(list[i].name), QString::fromUtf8(expected[i].name));
        QVERIFY2(list[i].kind == expected[i].kind, expected[i].name);
        QCOMPARE(list[i].value, expected[i].value);
        QCOMPARE(list[i].inactive, expected[i].inactive);
    }
    QCOMPARE(list[0].minimum, -64);
    QCOMPARE(list[0].maximum, 64);
    QCOMPARE(list[5].step, 10);
    QCOMPARE(list[5].defaultValue, 4600);
    // Menu items with their values; the gap the device refuses is left out.
    using Menu = std::vector<std::pair<std::int32_t, std::string>>;
    QVERIFY(list[4].menu == (Menu { { 0, "Disabled" }, { 1, "50 Hz" }, { 2, "60 Hz" } }));
    QVERIFY(list[6].menu == (Menu { { 0, "1000000" }, { 1, "2500000" } }));
}

void TestV4l2::setControlReachesTheDevice()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera();
    d.controls = deviceControls();
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const std::shared_ptr<Camera> cam = system->open("/dev/video0");

    cam->setControl(V4L2_CID_POWER_LINE_FREQUENCY, 1);
    cam->setControl(V4L2_CID_BRIGHTNESS, -20);
    const FakeLog log = fake->log("/dev/video0");
    QCOMPARE(log.setControls.size(), std::size_t(2));
    QCOMPARE(log.setControls[1].id, std::uint32_t(V4L2_CID_BRIGHTNESS));
    QCOMPARE(log.setControls[1].value, -20);
    QCOMPARE(fake->controlValue("/dev/video0", V4L2_CID_POWER_LINE_FREQUENCY), 1);
    const auto now = cam->controls();
    QCOMPARE(now[0].value, -20);

    QCOMPARE(errorOf([&] { cam->setControl(V4L2_CID_GAIN, 50); }),
        QString(R"(Camera "Cam" (/dev/video0) did not accept the value 50 for "Gain": Permission denied)"));
    QCOMPARE(errorOf([&] { cam->setControl(V4L2_CID_POWER_LINE_FREQUENCY, 3); }),
        QString(
            R"(Camera "Cam" (/dev/video0) did not accept the value 3 for "Power Line Frequency": Invalid argument)"));
    QCOMPARE(errorOf([&] { cam->setControl(0x00990001, 1); }),
        QString(R"(Camera "Cam" (/dev/video0) did not accept the value 1 for setting 10027009: Invalid argument)"));
}

void TestV4l2::fetchFrameNeverWaitsForTheDevice()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera();
    // Each frame takes the device a long time after the first.
    d.source = [](const FakeFrameRequest& r) {
        if (r.number > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return fakeFrame(r);
    };
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    QVERIFY(waitForFrame(*cam, { 64, 48 }) != nullptr);
    QTRY_VERIFY(fake->framesDelivered("/dev/video0") >= 2); // the slow frame is under way
    QElapsedTimer clock;
    clock.start();
    qint64 slowest = 0;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer one;
        one.start();
        QVERIFY(cam->fetchFrame() != nullptr);
        QVERIFY(cam->frameSize().has_value());
        slowest = std::max(slowest, one.nsecsElapsed());
    }
    QVERIFY2(slowest < 50'000'000, qPrintable(QString::number(slowest)));
}

// Frames nobody fetches are kept as they came and never converted; each
// fetch converts at most the one newest frame.
void TestV4l2::convertsOnlyWhatIsFetched()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = fakeCamera("/dev/video0", "Cam", { format(V4L2_PIX_FMT_MJPEG, { { 160, 120 } }) });
    d.framePeriodMs = 2;
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    QTRY_VERIFY_WITH_TIMEOUT(countsOf(*cam).delivered >= 20, 10000);
    QCOMPARE(countsOf(*cam).converted, std::uint64_t(0));

    int fetches = 0;
    std::shared_ptr<const TBitmap> frame;
    const QDeadlineTimer deadline(10000);
    while (countsOf(*cam).delivered < 60 && !deadline.hasExpired()) {
        frame = cam->fetchFrame();
        ++fetches;
        QVERIFY(frame != nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Streaming on without anyone looking converts nothing more, but for
    // the frame made ready for the fetch that would have come next.
    std::uint64_t delivered = countsOf(*cam).delivered;
    QTRY_VERIFY_WITH_TIMEOUT(countsOf(*cam).delivered >= delivered + 20, 10000);
    const V4l2FrameCounts counts = countsOf(*cam);
    QVERIFY(counts.delivered >= 60);
    QVERIFY2(counts.converted >= 1 && counts.converted <= std::uint64_t(fetches) + 1,
        qPrintable(QString("%1 conversions for %2 fetches").arg(counts.converted).arg(fetches)));
    QCOMPARE(frame->width(), 160);
    delivered = counts.delivered;
    QTRY_VERIFY_WITH_TIMEOUT(countsOf(*cam).delivered >= delivered + 20, 10000);
    QCOMPARE(countsOf(*cam).converted, counts.converted);
}

void TestV4l2::convertsEachFrameOnce_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::newRow("a good frame") << false;
    QTest::newRow("a damaged MJPEG frame") << true;
}

// A camera that delivers one frame and stalls: however often it is fetched,
// the frame is decoded once, and every fetch hands out the same bitmap (or,
// for a frame that does not decode, none, without trying again).
void TestV4l2::convertsEachFrameOnce()
{
    QFETCH(bool, damaged);
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = fakeCamera("/dev/video0", "Cam", { format(V4L2_PIX_FMT_MJPEG, { { 96, 64 } }) });
    d.framePeriodMs = 1;
    d.frameLimit = 1;
    if (damaged)
        d.source = [](const FakeFrameRequest& r) {
            std::vector<std::uint8_t> bytes = fakeFrame(r);
            bytes.resize(bytes.size() / 2);
            return bytes;
        };
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    QTRY_COMPARE_WITH_TIMEOUT(countsOf(*cam).delivered, std::uint64_t(1), 10000);
    QCOMPARE(countsOf(*cam).converted, std::uint64_t(0));

    const std::shared_ptr<const TBitmap> first = cam->fetchFrame();
    QCOMPARE(first == nullptr, damaged);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(cam->fetchFrame().get(), first.get());
    QCOMPARE(countsOf(*cam).converted, std::uint64_t(1));
}

// Fetches at a steady pace, as a stream's ticks are, find a fresh frame
// converted before they come: the caller (the window's thread) is not held
// for the conversion. Judged on most fetches, not all: a fetch the test's
// own sleep makes late or early may have to wait, and is still served.
void TestV4l2::steadyFetchesFindTheirFrameReady()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = fakeCamera("/dev/video0", "Cam", { format(V4L2_PIX_FMT_MJPEG, { { 320, 240 } }) });
    d.framePeriodMs = 33;
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const auto cam = system->open("/dev/video0");
    QTRY_VERIFY_WITH_TIMEOUT(countsOf(*cam).delivered >= 2, 10000);
    std::shared_ptr<const TBitmap> previous = cam->fetchFrame();
    QVERIFY(previous != nullptr);
    constexpr int kFetches = 10;
    int ready = 0;
    for (int i = 0; i < kFetches; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::uint64_t before = countsOf(*cam).converted;
        const std::shared_ptr<const TBitmap> frame = cam->fetchFrame();
        QVERIFY(frame != nullptr);
        // A newer frame each time: 200 ms is six of the camera's frames.
        QVERIFY(frame != previous);
        if (countsOf(*cam).converted == before && i > 0)
            ++ready;
        previous = frame;
    }
    QVERIFY2(ready >= kFetches / 2, qPrintable(QString("%1 of %2 fetches found their frame ready").arg(ready).arg(kFetches - 1)));
    // One conversion a fetch, not one a frame.
    QVERIFY2(countsOf(*cam).converted <= std::uint64_t(kFetches) + 2,
        qPrintable(QString("%1 conversions").arg(countsOf(*cam).converted)));
}

// Normal streaming dequeues only frames the device said were ready: libv4l2
// logs every dequeue answered "try again".
void TestV4l2::neverDequeuesInVain()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice yuyv = yuyvCamera("/dev/video0", { 160, 120 });
    yuyv.framePeriodMs = 2;
    fake->addDevice(yuyv);
    FakeDevice mjpeg = fakeCamera("/dev/video1", "Cam", { format(V4L2_PIX_FMT_MJPEG, { { 160, 120 } }) });
    mjpeg.framePeriodMs = 3;
    fake->addDevice(mjpeg);
    const auto system = v4l2Cameras(fake);
    const auto a = system->open("/dev/video0");
    const auto b = system->open("/dev/video1");
    const QDeadlineTimer deadline(20000);
    while ((fake->framesDelivered("/dev/video0") < 100 || fake->framesDelivered("/dev/video1") < 100)
        && !deadline.hasExpired()) {
        a->fetchFrame();
        b->fetchFrame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QVERIFY(fake->framesDelivered("/dev/video0") >= 100 && fake->framesDelivered("/dev/video1") >= 100);
    a->setMode({ 160, 120 }, {});
    QVERIFY(waitForFrame(*a, { 160, 120 }) != nullptr);
    for (const char* path : { "/dev/video0", "/dev/video1" }) {
        const FakeLog log = fake->log(path);
        QVERIFY(log.calls.at(VIDIOC_DQBUF) >= 100);
        QCOMPARE(log.dequeueAgain, 0);
    }
}

void TestV4l2::sharesOneOpenDevice()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera();
    d.exclusive = true; // a second open() of the node would be refused
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    std::shared_ptr<Camera> a = system->open("/dev/video0");
    std::shared_ptr<Camera> b = system->open("/dev/video0");
    QCOMPARE(a.get(), b.get());
    QCOMPARE(fake->log("/dev/video0").opens, 1);
    QVERIFY(waitForFrame(*b, { 64, 48 }) != nullptr);

    a.reset();
    QVERIFY(fake->streaming("/dev/video0")); // b still holds it
    b.reset();
    // The last holder's release stops streaming, unmaps and closes.
    const FakeLog log = fake->log("/dev/video0");
    QCOMPARE(log.calls.at(VIDIOC_STREAMOFF), 1);
    QVERIFY(!fake->streaming("/dev/video0"));
    QCOMPARE(fake->mappedBuffers("/dev/video0"), 0);
    QCOMPARE(fake->openFds("/dev/video0"), 0);

    // Opened anew once nobody holds it.
    const std::shared_ptr<Camera> c = system->open("/dev/video0");
    QCOMPARE(fake->log("/dev/video0").opens, 2);
    QVERIFY(waitForFrame(*c, { 64, 48 }) != nullptr);
}

void TestV4l2::closesPromptlyWithoutFrames()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera();
    d.framePeriodMs = 60000; // a camera that never delivers a frame
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    std::shared_ptr<Camera> cam = system->open("/dev/video0");
    QVERIFY(cam->fetchFrame() == nullptr);
    // Each time, the streaming thread is waiting for the device.
    QTRY_VERIFY(fake->log("/dev/video0").polls > 0);
    QElapsedTimer clock;
    clock.start();
    // Counted before the change: the restarted thread may be polling by the
    // time setMode returns. The thread it replaced polls no more once woken.
    const int polls = fake->log("/dev/video0").polls;
    cam->setMode({ 64, 48 }, { 1, 15 });
    QTRY_VERIFY(fake->log("/dev/video0").polls > polls);
    cam.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(fake->openFds("/dev/video0"), 0);
    // Both stops woke the thread out of its wait for the device; it never
    // had to wait for a timeout to see them.
    const FakeLog log = fake->log("/dev/video0");
    QCOMPARE(log.pollsWokenByCaller, 2);
    QCOMPARE(log.pollTimeouts, 0);
}

void TestV4l2::unpluggedWhileStreaming()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera("/dev/video0", { 160, 120 });
    d.card = "USB Camera";
    d.controls = deviceControls();
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    std::shared_ptr<Camera> cam = system->open("/dev/video0");
    QVERIFY(waitForFrame(*cam, { 160, 120 }) != nullptr);
    // A refusal of a device that is there is not a loss.
    QVERIFY(!throwsLost([&] { cam->setControl(V4L2_CID_GAIN, 50); }));
    QVERIFY(!errorOf([&] { cam->setControl(V4L2_CID_GAIN, 50); }).contains("stopped working"));

    fake->unplug("/dev/video0");
    // Whether the streaming thread or the request meets the loss first, each
    // request fails the same way, and keeps failing.
    const QString expected = R"(Camera "USB Camera" (/dev/video0) stopped working: No such device)";
    const std::vector<std::pair<const char*, std::function<void()>>> requests {
        { "controls", [&] { cam->controls(); } },
        { "setControl", [&] { cam->setControl(V4L2_CID_BRIGHTNESS, 1); } },
        { "modes", [&] { cam->modes(); } },
        { "setMode", [&] { cam->setMode({ 160, 120 }, {}); } },
        { "fetchFrame", [&] { cam->fetchFrame(); } },
    };
    for (int round = 0; round < 2; ++round)
        for (const auto& [name, request] : requests) {
            QVERIFY2(throwsLost(request), name);
            QCOMPARE(errorOf(request), expected);
        }
    QCOMPARE(cam->frameSize(), std::optional<FrameSize>(FrameSize { 160, 120 }));
    QVERIFY(system->cameras().empty());
    // Opening it again now finds no device, and does not give the lost one.
    QCOMPARE(errorOf([&] { system->open("/dev/video0"); }),
        QString(R"(Cannot open camera "/dev/video0". No such file or directory)"));

    QElapsedTimer clock;
    clock.start();
    cam.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(fake->mappedBuffers("/dev/video0"), 0);
    QCOMPARE(fake->openFds("/dev/video0"), 0);
}

// A lost camera stays lost for those who hold it; opening its id once it is
// plugged back in gives the device afresh, even while the lost one is held.
void TestV4l2::pluggedBackIn()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeDevice d = yuyvCamera("/dev/video0", { 160, 120 });
    d.exclusive = true; // the new device must not be refused for the old open
    fake->addDevice(d);
    const auto system = v4l2Cameras(fake);
    const std::shared_ptr<Camera> lost = system->open("/dev/video0");
    QVERIFY(waitForFrame(*lost, { 160, 120 }) != nullptr);
    fake->unplug("/dev/video0");
    QTRY_VERIFY_WITH_TIMEOUT(throwsLost([&] { lost->fetchFrame(); }), 5000);

    fake->replug("/dev/video0");
    QVERIFY(system->cameras() == (std::vector<CameraInfo> { { "/dev/video0", "Cam" } }));
    const std::shared_ptr<Camera> fresh = system->open("/dev/video0");
    QVERIFY(fresh != lost);
    QVERIFY(waitForFrame(*fresh, { 160, 120 }) != nullptr);
    // The working one is shared from now on; the lost one still says lost.
    QCOMPARE(system->open("/dev/video0"), fresh);
    QVERIFY(throwsLost([&] { lost->fetchFrame(); }));
    QVERIFY(fresh->fetchFrame() != nullptr);
    QCOMPARE(fake->openFds("/dev/video0"), 2);
}

QTEST_GUILESS_MAIN(TestV4l2)
#include "test_v4l2.moc"
