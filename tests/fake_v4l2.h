// Made-up Video4Linux2 devices behind V4l2Io, for the camera tests and the
// benchmark. Each device has a path, a card name, capabilities, native
// formats with their sizes and frame intervals, and controls; while it
// streams it fills its buffers with frames of its current format and size at
// its own pace. It answers the ioctls a camera uses the way a UVC driver
// does (S_FMT picks the nearest size it has, a second S_FMT while buffers
// exist is busy, a buffer still mapped keeps REQBUFS 0 busy), records the
// requests that change it, and can be unplugged, after which every call
// fails with ENODEV and poll reports POLLERR | POLLHUP (close and munmap
// still succeed, as they do on a real device), and plugged back in, which
// makes a new device on the same path: what is open on the old one stays
// dead.
//
// poll takes the fake devices' fds together with real ones of the caller (an
// eventfd, a pipe) and waits for whichever is ready first, as the system's
// poll does.
//
// Thread-safe: a camera's streaming thread polls and dequeues while the test
// thread makes its own calls.
#pragma once

#include "camera/camera.h"
#include "camera/v4l2_io.h"
#include "compose/bitmap.h"

#include <linux/videodev2.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct FakeSize {
    FrameSize size;
    std::vector<FrameInterval> intervals; // discrete; empty: none enumerated
};

struct FakeFormat {
    std::uint32_t fourcc = V4L2_PIX_FMT_YUYV;
    // Offered as a conversion by libv4l2 rather than by the device itself.
    bool emulated = false;
    std::vector<FakeSize> sizes;
    // Instead of discrete sizes: a stepwise range (every size in it has
    // the intervals of stepIntervals).
    std::optional<v4l2_frmsize_stepwise> stepwise;
    std::vector<FrameInterval> stepIntervals;
};

struct FakeControl {
    std::uint32_t id = 0;
    std::string name;
    std::uint32_t type = V4L2_CTRL_TYPE_INTEGER;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
    std::int32_t value = 0;
    std::uint32_t flags = 0;
    // Menu labels by index from `minimum`; an empty label is a gap the
    // device refuses. For an integer menu, the values instead.
    std::vector<std::string> menu;
    std::vector<std::int64_t> integerMenu;
};

// What a frame is asked for: the device's format when the buffer is filled
// and the frame's number (0, 1, 2, ...).
struct FakeFrameRequest {
    std::uint32_t fourcc = 0;
    FrameSize size;
    std::size_t stride = 0;
    std::uint64_t number = 0;
    bool huffmanTables = false;
};

// The bytes of one frame. More bytes than the buffer holds are cut to the
// buffer, but reported whole in bytesused, the way a faulty driver might.
using FakeFrameSource = std::function<std::vector<std::uint8_t>(const FakeFrameRequest&)>;

struct FakeDevice {
    std::string path;
    std::string card;
    std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    // Non-zero: the node's own capabilities, reported with V4L2_CAP_DEVICE_CAPS.
    std::uint32_t deviceCaps = 0;
    std::vector<FakeFormat> formats;
    std::vector<FakeControl> controls;
    // The format before any S_FMT: its pixel format and size; zero for the
    // first size of the first format.
    std::uint32_t initialFourcc = 0;
    FrameSize initialSize;
    bool exclusive = false; // a second open while one is open fails with EBUSY
    bool nextControl = true; // understands V4L2_CTRL_FLAG_NEXT_CTRL
    bool timePerFrame = true; // takes S_PARM
    int framePeriodMs = 10;
    // Frames it delivers in all before it stalls, as a camera that hangs
    // does; negative: no end.
    std::int64_t frameLimit = -1;
    bool huffmanTables = false; // MJPEG frames carry DHT (cameras leave it out)
    FakeFrameSource source; // empty: fakeFrame
    // Instead of a source: these frames in turn, over and over. A buffer is
    // written only when it holds another one than it is to deliver, so that
    // the device costs its process next to nothing, as a real device's DMA
    // does (for the benchmark).
    std::vector<std::vector<std::uint8_t>> stills;
};

// A format with those discrete sizes, each offering those intervals.
FakeFormat fakeFormat(std::uint32_t fourcc, std::vector<FrameSize> sizes,
    std::vector<FrameInterval> intervals = { { 1, 30 }, { 1, 15 } }, bool emulated = false);
// A streaming capture device with those formats and no controls.
FakeDevice fakeCamera(std::string path, std::string card, std::vector<FakeFormat> formats);

// What a device was asked to do, in order.
struct FakeLog {
    std::vector<v4l2_pix_format> setFormats; // as requested
    std::vector<v4l2_control> setControls;
    std::vector<v4l2_fract> setIntervals; // as requested
    std::map<unsigned long, int> calls; // ioctl request -> count
    int dequeueAgain = 0; // VIDIOC_DQBUF answered EAGAIN: nothing was ready
    int opens = 0;
    int polls = 0;
    // How polls of the device ended besides it being ready: the timeout ran
    // out, or one of the caller's own fds polled with it was ready.
    int pollTimeouts = 0;
    int pollsWokenByCaller = 0;
};

class FakeV4l2 final : public V4l2Io {
public:
    FakeV4l2();
    ~FakeV4l2() override;

    // A device on a path where none is plugged in.
    void addDevice(FakeDevice device);
    void setFrameSource(const std::string& path, FakeFrameSource source);
    void unplug(const std::string& path);
    // The device unplugged from that path, plugged back in: a new device as
    // it was first added, with a log of its own.
    void replug(const std::string& path);

    // The device on that path now (the newest, once plugged back in).
    FakeLog log(const std::string& path) const;
    // Of every device that was on that path.
    int openFds(const std::string& path) const;
    int mappedBuffers(const std::string& path) const;
    bool streaming(const std::string& path) const;
    std::uint64_t framesDelivered(const std::string& path) const;
    std::int32_t controlValue(const std::string& path, std::uint32_t id) const;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, std::int64_t offset) override;
    int munmap(void* addr, std::size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    std::vector<std::string> devicePaths() override;

    struct Device;

private:
    Device* deviceOf(int fd);
    Device& named(const std::string& path) const;
    int control(Device& d, unsigned long request, void* arg);
    int dequeue(std::unique_lock<std::mutex>& lock, Device& d, v4l2_buffer& b);
    // Tells every poll waiting that a device changed.
    void changed();

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::map<int, Device*> fds_;
    // Fake fds are numbered far above any real one, so poll can tell the
    // caller's own fds from them.
    static constexpr int kFirstFd = 1 << 28;
    int nextFd_ = kFirstFd;
    // The eventfds of the polls now waiting.
    std::vector<int> waiters_;
};

// The picture a fake camera shows in frame `number`: a red ramp across, a
// green ramp down that rolls a step every frame, and blue diagonal bands
// that move four pixels every frame. It repeats after 256 frames.
TBitmap fakePicture(FrameSize size, std::uint64_t number);

// The default frame source: fakePicture in the request's format (YUYV with
// the request's stride, RGB24, or MJPEG of quality 85 in 4:2:2).
std::vector<std::uint8_t> fakeFrame(const FakeFrameRequest& request);

// A JPEG of the picture in 4:2:2 as cameras send them, with or without its
// Huffman tables (then the standard ones are meant).
std::vector<std::uint8_t> encodeMjpeg(const TBitmap& picture, int quality, bool huffmanTables);

// A device's answer to VIDIOC_QUERYCTRL, QUERYMENU, G_CTRL and S_CTRL on
// those controls (S_CTRL is logged); -1 with errno when it refuses.
int fakeControlRequest(
    std::vector<FakeControl>& controls, bool nextControl, FakeLog& log, unsigned long request, void* arg);

// Asks the camera for its newest frame until one of that size comes; null
// when none came in time. Whatever fetchFrame() throws passes through.
std::shared_ptr<const TBitmap> waitForFrame(
    Camera& camera, FrameSize size, std::chrono::milliseconds timeout = std::chrono::seconds(10));
