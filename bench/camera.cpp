#include "camera.h"

#include "app/form.h"
#include "app/widgets.h"
#include "widgets/capture/camera_backend.h"
#include "widgets/capture/capture_window.h"
#include "camera/frame_convert.h"
#include "widgets/capture/synthetic_backend.h"
#include "widgets/capture/timer.h"
#include "camera/v4l2_camera.h"
#include "fake_v4l2.h"
#include "support.h"
#include "v4lconvert_reference.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRadioButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

namespace {

struct CameraFormat {
    const char* name;
    std::uint32_t fourcc; // 0: the synthetic camera
};

constexpr CameraFormat kFormats[] = {
    { "synthetic", 0 },
    { "yuyv", V4L2_PIX_FMT_YUYV },
    { "mjpeg", V4L2_PIX_FMT_MJPEG },
};

constexpr FrameSize kCameraSizes[] = { { 640, 480 }, { 1920, 1080 } };

// Ticks and grabs are quick; conversions at 1920 x 1080 take milliseconds.
constexpr int kRepetitions = 41;

// The back end the program uses, over made-up devices; a run answers no
// dialogs, as a user who closes them at once would not be timed either.
class QuietBackend final : public CameraBackend {
public:
    using CameraBackend::CameraBackend;

protected:
    void showSourceDialog(CaptureWindow&) override { }
    void showFormatDialog(CaptureWindow&) override { }
};

std::string megapixelsOf(FrameSize size)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(size.width) * double(size.height) / 1e6);
    return text;
}

void report(const Bench& b, const char* caseName, const char* format, FrameSize size, const std::vector<double>& ms)
{
    const double median = medianOf(ms);
    if (b.options.json)
        std::printf("{\"case\":\"%s\",\"format\":\"%s\",\"megapixels\":%s,\"median_ms\":%.3f}\n", caseName, format,
            megapixelsOf(size).c_str(), median);
    else
        std::printf("%-16s %-10s %4d x %-5d %10.3f ms [%zu]\n", caseName, format, size.width, size.height, median,
            ms.size());
    std::fflush(stdout);
}

// One camera streaming `format` at `size` behind the window's capture channels.
std::unique_ptr<CaptureBackend> backendFor(const CameraFormat& format, FrameSize size, BenchPlatform& platform)
{
    const auto put = [&platform](const QImage& picture) { platform.putPicture(picture); };
    if (format.fourcc == 0) {
        auto synthetic = std::make_unique<SyntheticBackend>(put);
        synthetic->switches().size = size;
        return synthetic;
    }
    auto devices = std::make_shared<FakeV4l2>();
    FakeDevice device;
    device.path = "/dev/video0";
    device.card = "Bench camera";
    device.formats = { { format.fourcc, false, { { size, { { 1, 30 } } } }, std::nullopt, {} } };
    device.framePeriodMs = 33;
    devices->addDevice(device);
    return std::make_unique<QuietBackend>(v4l2Cameras(devices), put);
}

// The newest capture window of channel 1 once it shows a frame of that size.
CaptureWindow* waitForFrame(TForm1& form, FrameSize size)
{
    const QList<CaptureWindow*> windows = form.Panel6->findChildren<CaptureWindow*>(Qt::FindDirectChildrenOnly);
    if (windows.isEmpty())
        throw BenchFailure("connecting made no capture window");
    CaptureWindow* window = windows.last();
    const Clock::time_point start = Clock::now();
    for (;;) {
        form.Timer1Timer(nullptr);
        const auto& frame = window->frame();
        if (frame && frame->width() == size.width && frame->height() == size.height)
            return window;
        if (millisecondsSince(start) > 10000)
            throw BenchFailure("no frame of the camera's size came within 10 s");
        QThread::msleep(10);
    }
}

void timeTicksAndGrabs(Bench& b, const CameraFormat& format, FrameSize size, bool tick, bool grab)
{
    TForm1& form = *b.form;
    BenchPlatform& platform = *b.platform;
    // Windows of an earlier back end go with it.
    qDeleteAll(form.Panel6->findChildren<CaptureWindow*>(Qt::FindDirectChildrenOnly));
    platform.cameras = backendFor(format, size, platform);
    form.PageControl1->setCurrentWidget(form.TabSheet5);
    form.Button2Click(nullptr);
    CaptureWindow* window = waitForFrame(form, size);

    if (tick) {
        std::vector<double> ms;
        for (int r = 0; r < kRepetitions; ++r) {
            // A fresh frame from the camera between ticks, as at 500 ms.
            QThread::msleep(format.fourcc ? 40 : 0);
            const Clock::time_point t0 = Clock::now();
            form.Timer1Timer(nullptr);
            window->repaint();
            ms.push_back(millisecondsSince(t0));
        }
        report(b, "camera-tick", format.name, size, ms);
    }
    if (grab) {
        std::vector<double> ms;
        for (int r = 0; r < kRepetitions; ++r) {
            const Clock::time_point t0 = Clock::now();
            form.Button10Click(nullptr);
            ms.push_back(millisecondsSince(t0));
            if (form.Image2->picture().width() != size.width || form.Image2->picture().height() != size.height)
                throw BenchFailure(std::string("camera-grab ") + format.name + " did not grab the camera's frame");
        }
        report(b, "camera-grab", format.name, size, ms);
    }
    form.Button4xClick(nullptr);
    qDeleteAll(form.Panel6->findChildren<CaptureWindow*>(Qt::FindDirectChildrenOnly));
    platform.cameras = std::make_unique<SyntheticBackend>([&platform](const QImage& p) { platform.putPicture(p); });
    form.Image2->setPicture(TBitmap());
    form.LetEventsRun();
}

// Our conversion of one camera frame against libv4lconvert's of the same
// bytes into RGB24.
void timeConversions(Bench& b, const CameraFormat& format, FrameSize size, bool ours, bool theirs)
{
    FakeFrameRequest request;
    request.fourcc = format.fourcc;
    request.size = size;
    request.stride = format.fourcc == V4L2_PIX_FMT_YUYV ? std::size_t(size.width) * 2 : 0;
    const std::vector<std::uint8_t> frame = fakeFrame(request);

    if (ours) {
        std::vector<double> ms;
        TBitmap out;
        for (int r = 0; r < kRepetitions; ++r) {
            const Clock::time_point t0 = Clock::now();
            const bool ok = format.fourcc == V4L2_PIX_FMT_YUYV
                ? yuyvToRgb(frame.data(), frame.size(), request.stride, size.width, size.height, out)
                : mjpegToRgb(frame.data(), frame.size(), size.width, size.height, out);
            ms.push_back(millisecondsSince(t0));
            if (!ok)
                throw BenchFailure(std::string("camera-convert ") + format.name + " refused its frame");
        }
        report(b, "camera-convert", format.name, size, ms);
    }
    if (theirs) {
        V4lconvertReference converter;
        std::vector<std::uint8_t> rgb;
        std::vector<double> ms;
        for (int r = 0; r < kRepetitions; ++r) {
            const Clock::time_point t0 = Clock::now();
            const bool ok = converter.toRgb24(format.fourcc, size, request.stride, frame, rgb);
            ms.push_back(millisecondsSince(t0));
            if (!ok)
                throw BenchFailure(std::string("libv4lconvert failed on the ") + format.name
                    + " frame: " + converter.error());
        }
        report(b, "v4lconvert", format.name, size, ms);
    }
}

// ------------------------------------------------------------ camera-idle

constexpr FrameSize kIdleSize { 1280, 720 };
constexpr int kIdleSeconds = 10;

// Two cameras for the window's two channels: connecting channel 2 gives it
// the second camera, as a user would choose it in the source dialog.
class TwoCameraBackend final : public CameraBackend {
public:
    TwoCameraBackend(std::unique_ptr<CameraSystem> cameras, PutOnClipboard put, QWidget* secondPanel)
        : CameraBackend(std::move(cameras), std::move(put))
        , secondPanel_(secondPanel)
    {
    }

protected:
    void showSourceDialog(CaptureWindow& window) override
    {
        if (window.parentWidget() == secondPanel_)
            window.attach(cameras().open("/dev/video1"));
    }
    void showFormatDialog(CaptureWindow&) override { }

private:
    QWidget* secondPanel_;
};

// A made-up device streaming the same two frames over and over at 30 fps,
// written into its buffers once, so that the device itself costs the
// process next to nothing, as a real camera's DMA does.
FakeDevice idleDevice(const char* path, std::uint32_t fourcc)
{
    FakeDevice device;
    device.path = path;
    device.card = "Bench camera";
    device.formats = { { fourcc, false, { { kIdleSize, { { 1, 30 } } } }, std::nullopt, {} } };
    device.framePeriodMs = 33;
    FakeFrameRequest request;
    request.fourcc = fourcc;
    request.size = kIdleSize;
    request.stride = fourcc == V4L2_PIX_FMT_YUYV ? std::size_t(kIdleSize.width) * 2 : 0;
    for (std::uint64_t n = 0; n < 2; ++n) {
        request.number = n * 40;
        device.stills.push_back(fakeFrame(request));
    }
    return device;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Lets the window's event loop run for that long: its timers tick, its
// windows paint.
void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QList<CaptureWindow*> windowsOf(QWidget* panel)
{
    return panel->findChildren<CaptureWindow*>(Qt::FindDirectChildrenOnly);
}

void timeIdle(Bench& b)
{
    TForm1& form = *b.form;
    BenchPlatform& platform = *b.platform;
    const auto put = [&platform](const QImage& picture) { platform.putPicture(picture); };
    for (QWidget* panel : { static_cast<QWidget*>(form.Panel6), static_cast<QWidget*>(form.Panel12) })
        qDeleteAll(windowsOf(panel));
    auto devices = std::make_shared<FakeV4l2>();
    devices->addDevice(idleDevice("/dev/video0", V4L2_PIX_FMT_YUYV));
    devices->addDevice(idleDevice("/dev/video1", V4L2_PIX_FMT_MJPEG));
    platform.cameras = std::make_unique<TwoCameraBackend>(v4l2Cameras(devices), put, form.Panel12);
    form.PageControl1->setCurrentWidget(form.TabSheet5);
    form.RadioButton2->setChecked(true);
    form.RadioButton2Click(nullptr);
    form.Button2Click(nullptr);
    form.Button8Click(nullptr);
    const QList<CaptureWindow*> first = windowsOf(form.Panel6);
    const QList<CaptureWindow*> second = windowsOf(form.Panel12);
    if (first.isEmpty() || second.isEmpty() || !first.last()->camera() || !second.last()->camera()
        || first.last()->camera() == second.last()->camera())
        throw BenchFailure("camera-idle did not connect two cameras");

    for (const bool on : { true, false }) {
        if (form.Timer1->enabled() != on)
            form.Button1xClick(nullptr);
        if (form.Timer2->enabled() != on)
            form.Button7Click(nullptr);
        // Settle first: the first frames, the first conversions.
        runEventsFor(1000);
        const std::uint64_t framesBefore
            = devices->framesDelivered("/dev/video0") + devices->framesDelivered("/dev/video1");
        const Clock::time_point t0 = Clock::now();
        const double cpu0 = cpuSeconds();
        runEventsFor(kIdleSeconds * 1000);
        const double cpu = cpuSeconds() - cpu0;
        const double wall = millisecondsSince(t0) / 1000.0;
        const double frames = double(
            devices->framesDelivered("/dev/video0") + devices->framesDelivered("/dev/video1") - framesBefore);
        // The devices really stream: two at about 30 frames a second.
        if (frames < 2 * 25 * wall)
            throw BenchFailure("camera-idle: the devices delivered only " + std::to_string(int(frames)) + " frames");
        for (CaptureWindow* w : { first.last(), second.last() }) {
            const auto& frame = w->frame();
            if (on && (!frame || frame->width() != kIdleSize.width || frame->height() != kIdleSize.height))
                throw BenchFailure("camera-idle: a channel showed no frame of the cameras' size");
        }
        const char* format = on ? "streams-on" : "streams-off";
        if (b.options.json)
            std::printf("{\"case\":\"camera-idle\",\"format\":\"%s\",\"megapixels\":%s,\"cpu_s_per_s\":%.4f,"
                        "\"seconds\":%.1f}\n",
                format, megapixelsOf(kIdleSize).c_str(), cpu / wall, wall);
        else
            std::printf("%-16s %-11s %4d x %-5d %9.4f CPU-s/s over %.1f s, %.0f frames\n", "camera-idle", format,
                kIdleSize.width, kIdleSize.height, cpu / wall, wall, frames);
        std::fflush(stdout);
    }

    form.Button4xClick(nullptr);
    form.Button9Click(nullptr);
    for (QWidget* panel : { static_cast<QWidget*>(form.Panel6), static_cast<QWidget*>(form.Panel12) })
        qDeleteAll(windowsOf(panel));
    platform.cameras = std::make_unique<SyntheticBackend>(put);
    form.RadioButton1->setChecked(true);
    form.RadioButton1Click(nullptr);
    form.LetEventsRun();
}

} // namespace

void runCameraCases(Bench& b, int only)
{
    const auto wanted = [only](CameraCase c) { return only < 0 || only == int(c); };
    if (!b.options.json)
        std::printf("\n%-16s %-10s %-12s %13s\n", "camera case", "format", "frame", "median");
    for (FrameSize size : kCameraSizes) {
        for (const CameraFormat& format : kFormats) {
            const bool tick = wanted(CameraCase::Tick);
            const bool grab = wanted(CameraCase::Grab);
            if (tick || grab)
                timeTicksAndGrabs(b, format, size, tick, grab);
            if (format.fourcc != 0)
                timeConversions(b, format, size, wanted(CameraCase::Convert), wanted(CameraCase::V4lconvert));
        }
    }
    if (wanted(CameraCase::Idle))
        timeIdle(b);
}

} // namespace bench
