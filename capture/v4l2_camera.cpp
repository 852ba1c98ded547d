#include "v4l2_camera.h"

#include "frame_convert.h"
#include "v4l2_query.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kBufferCount = 4;
// Bitmaps kept for reuse: the one being filled, the newest, and those the
// windows still hold.
constexpr std::size_t kPoolSize = 4;
// Copies of device frames kept for reuse: the newest, the one a fetch is
// converting, and the one the streaming thread fills.
constexpr std::size_t kRawPoolSize = 3;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string openError(const std::string& id, const std::string& reason)
{
    return "Cannot open camera " + quoted(id) + ". " + reason;
}

// The device itself is gone (unplugged, or its driver let go of it), as
// opposed to a device that is there and refuses or fails.
bool lostError(int error) { return error == ENODEV || error == ENXIO; }

// The format frames arrive in, as the driver accepted it.
struct StreamFormat {
    std::uint32_t fourcc = 0;
    FrameSize size;
    std::size_t stride = 0; // bytes from one row to the next (YUYV, RGB24)
};

bool convertible(std::uint32_t fourcc)
{
    return fourcc == V4L2_PIX_FMT_YUYV || fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG
        || fourcc == V4L2_PIX_FMT_RGB24;
}

// The bytes a whole uncompressed frame needs; 0 for a compressed format,
// whose frames only decoding can judge.
std::size_t wholeFrameBytes(const StreamFormat& format)
{
    const std::size_t w = std::size_t(format.size.width);
    const std::size_t h = std::size_t(format.size.height);
    switch (format.fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return format.stride * (h - 1) + (w + 1) / 2 * 4;
    case V4L2_PIX_FMT_RGB24:
        return format.stride * (h - 1) + w * 3;
    default:
        return 0;
    }
}

struct MappedBuffer {
    void* start = nullptr;
    std::size_t length = 0;
};

// A frame as the device delivered it: a copy of its bytes and the format
// they are in. The store is kept from frame to frame.
struct RawFrame {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
    std::size_t size = 0;
    StreamFormat format;
    std::uint64_t sequence = 0; // 1, 2, 3... over the camera's life
};

// The streaming thread's wake-up call: polled beside the device, so that a
// close or a change of mode stops the thread at once.
class WakeFd {
public:
    WakeFd()
        : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    ~WakeFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    int fd() const { return fd_; }
    void ring() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }
    void clear() const
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    }

private:
    int fd_;
};

class V4l2Camera final : public Camera {
public:
    V4l2Camera(std::shared_ptr<V4l2Io> io, const std::string& path);
    ~V4l2Camera() override;

    CameraInfo info() const override { return { path_, name_ }; }
    std::optional<FrameSize> frameSize() override;
    std::shared_ptr<const TBitmap> fetchFrame() override;
    std::vector<CameraMode> modes() override;
    FrameInterval frameInterval() override;
    void setMode(FrameSize size, FrameInterval interval) override;
    std::vector<CameraControl> controls() override;
    void setControl(std::uint32_t id, std::int32_t value) override;

    // Its device went away: it will never deliver again.
    bool lost();
    V4l2FrameCounts counts() const { return { delivered_.load(), converted_.load() }; }

private:
    std::string who() const { return "Camera " + quoted(name_) + " (" + path_ + ")"; }
    void applyFormat(FrameSize size);
    void applyInterval(FrameInterval interval);
    void startStreaming();
    void stopStreaming() noexcept;
    void throwIfFailed();
    [[noreturn]] void throwFailure();
    // A request that failed with that errno: a device that is gone makes the
    // camera lost and throws; any other error returns.
    void checkLost(int error);
    bool convert(const RawFrame& raw, TBitmap& out);
    std::shared_ptr<TBitmap> spareBitmap();

    // The streaming thread.
    void run(StreamFormat format) noexcept;
    void stream(const StreamFormat& format);
    enum class Take { Frame, Nothing, Failed };
    Take takeFrame(const StreamFormat& format);
    bool requeue(v4l2_buffer& buffer);
    void keep(const StreamFormat& format, const v4l2_buffer& buffer);
    std::shared_ptr<RawFrame> spareRaw(std::size_t size);
    void fail(int error);
    void fail(const std::string& reason, bool lost);

    const std::shared_ptr<V4l2Io> io_;
    const std::string path_;
    std::string name_;
    const WakeFd wake_;
    int fd_ = -1;
    bool timePerFrame_ = false; // the device takes a frame interval
    FrameInterval interval_;
    StreamFormat format_;
    std::vector<MappedBuffer> buffers_;
    bool buffersRequested_ = false;
    bool streaming_ = false;
    std::thread thread_;
    std::atomic<bool> stop_ { false };
    std::atomic<std::uint64_t> delivered_ { 0 };
    std::atomic<std::uint64_t> converted_ { 0 };

    // Serialises the requests of the public calls that talk to the device.
    std::mutex requestMutex_;
    // Serialises conversions; guards what only they touch. Taken before
    // frameMutex_ when both are held.
    std::mutex convertMutex_;
    std::shared_ptr<const TBitmap> shown_; // the newest frame converted
    std::uint64_t tried_ = 0; // the sequence of the last frame converted or refused
    std::vector<std::shared_ptr<TBitmap>> pool_;
    std::size_t nextEvicted_ = 0;
    MjpegDecoder decoder_;

    // Guards what the streaming thread hands over; held only to copy.
    std::mutex frameMutex_;
    std::shared_ptr<const RawFrame> newest_;
    std::string failure_;
    bool lost_ = false;
    std::optional<FrameSize> size_;

    // The streaming thread's own.
    std::vector<std::shared_ptr<RawFrame>> rawPool_;
    std::size_t nextRawEvicted_ = 0;
};

V4l2Camera::V4l2Camera(std::shared_ptr<V4l2Io> io, const std::string& path)
    : io_(std::move(io))
    , path_(path)
{
    if (wake_.fd() < 0)
        throw CaptureError(openError(path, errorText(errno)));
    fd_ = io_->open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd_ < 0)
        throw CaptureError(openError(path, errorText(errno)));
    try {
        v4l2_capability cap {};
        mustCall(*io_, fd_, VIDIOC_QUERYCAP, &cap);
        if (!isStreamingCapture(cap))
            throw CaptureError(openError(path, "It is not a video capture device."));
        name_ = cardName(cap).empty() ? path : cardName(cap);
        v4l2_streamparm parm {};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (deviceCall(*io_, fd_, VIDIOC_G_PARM, &parm) == 0) {
            timePerFrame_ = (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) != 0;
            if (timePerFrame_)
                interval_ = { parm.parm.capture.timeperframe.numerator, parm.parm.capture.timeperframe.denominator };
        }
        format_.fourcc = choosePixelFormat(offeredFormats(*io_, fd_));
        if (format_.fourcc == 0)
            throw CaptureError(openError(path, "It offers no frame format that can be converted for display."));
        v4l2_format current {};
        current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        mustCall(*io_, fd_, VIDIOC_G_FMT, &current);
        const FrameSize now { int(current.fmt.pix.width), int(current.fmt.pix.height) };
        applyFormat(defaultSize(offeredModes(*io_, fd_, format_.fourcc), now));
        startStreaming();
    } catch (const DeviceFailure& f) {
        stopStreaming();
        io_->close(fd_);
        throw CaptureError(openError(path, errorText(f.error)));
    } catch (...) {
        stopStreaming();
        io_->close(fd_);
        throw;
    }
}

V4l2Camera::~V4l2Camera()
{
    stopStreaming();
    io_->close(fd_);
}

// Sets the capture format at that size and takes what the driver made of it
// (drivers pick their nearest size).
void V4l2Camera::applyFormat(FrameSize size)
{
    v4l2_format f {};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = std::uint32_t(size.width);
    f.fmt.pix.height = std::uint32_t(size.height);
    f.fmt.pix.pixelformat = format_.fourcc;
    f.fmt.pix.field = V4L2_FIELD_ANY;
    mustCall(*io_, fd_, VIDIOC_S_FMT, &f);
    const v4l2_pix_format& p = f.fmt.pix;
    if (!convertible(p.pixelformat) || p.width == 0 || p.height == 0 || p.width > 65535 || p.height > 65535)
        throw DeviceFailure { EINVAL };
    StreamFormat accepted;
    accepted.fourcc = p.pixelformat;
    accepted.size = { int(p.width), int(p.height) };
    // Rows are at least as long as their pixels, whatever the driver says.
    const std::size_t packed
        = p.pixelformat == V4L2_PIX_FMT_RGB24 ? std::size_t(p.width) * 3 : (std::size_t(p.width) + 1) / 2 * 4;
    accepted.stride = std::max<std::size_t>(p.bytesperline, packed);
    format_ = accepted;
    std::lock_guard lock(frameMutex_);
    size_ = accepted.size;
}

void V4l2Camera::applyInterval(FrameInterval interval)
{
    v4l2_streamparm parm {};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = { interval.numerator, interval.denominator };
    mustCall(*io_, fd_, VIDIOC_S_PARM, &parm);
    interval_ = { parm.parm.capture.timeperframe.numerator, parm.parm.capture.timeperframe.denominator };
}

void V4l2Camera::startStreaming()
{
    v4l2_requestbuffers request {};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    mustCall(*io_, fd_, VIDIOC_REQBUFS, &request);
    buffersRequested_ = true;
    if (request.count == 0)
        throw DeviceFailure { ENOMEM };
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer b {};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        mustCall(*io_, fd_, VIDIOC_QUERYBUF, &b);
        void* start = io_->mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
        if (start == MAP_FAILED)
            throw DeviceFailure { errno };
        buffers_.push_back({ start, b.length });
    }
    for (std::uint32_t i = 0; i < buffers_.size(); ++i) {
        v4l2_buffer b {};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        mustCall(*io_, fd_, VIDIOC_QBUF, &b);
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    mustCall(*io_, fd_, VIDIOC_STREAMON, &type);
    streaming_ = true;
    stop_ = false;
    // A stop asked of an earlier thread must not end this one.
    wake_.clear();
    thread_ = std::thread(&V4l2Camera::run, this, format_);
}

// Undoes whatever startStreaming did. Errors are ignored: a device that has
// gone still lets go of its buffers.
void V4l2Camera::stopStreaming() noexcept
{
    if (thread_.joinable()) {
        stop_ = true;
        wake_.ring();
        thread_.join();
    }
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        deviceCall(*io_, fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const MappedBuffer& b : buffers_)
        io_->munmap(b.start, b.length);
    buffers_.clear();
    if (buffersRequested_) {
        v4l2_requestbuffers none {};
        none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        none.memory = V4L2_MEMORY_MMAP;
        deviceCall(*io_, fd_, VIDIOC_REQBUFS, &none);
        buffersRequested_ = false;
    }
}

void V4l2Camera::throwFailure()
{
    if (lost_)
        throw CameraLostError(failure_);
    throw CaptureError(failure_);
}

void V4l2Camera::throwIfFailed()
{
    std::lock_guard lock(frameMutex_);
    if (!failure_.empty())
        throwFailure();
}

void V4l2Camera::checkLost(int error)
{
    if (!lostError(error))
        return;
    fail(error);
    throwIfFailed();
}

bool V4l2Camera::lost()
{
    std::lock_guard lock(frameMutex_);
    return lost_;
}

std::optional<FrameSize> V4l2Camera::frameSize()
{
    std::lock_guard lock(frameMutex_);
    return size_;
}

// Converts the newest frame the device delivered unless it was converted (or
// refused) before: a frame is decoded only when someone looks, and once.
std::shared_ptr<const TBitmap> V4l2Camera::fetchFrame()
{
    std::lock_guard converting(convertMutex_);
    std::shared_ptr<const RawFrame> raw;
    {
        std::lock_guard lock(frameMutex_);
        if (!failure_.empty())
            throwFailure();
        raw = newest_;
    }
    if (!raw || raw->sequence == tried_)
        return shown_;
    tried_ = raw->sequence;
    try {
        std::shared_ptr<TBitmap> bitmap = spareBitmap();
        ++converted_;
        // A frame that does not convert (damaged, cut short) is passed over:
        // the one before stays the newest, as if it had never come.
        if (convert(*raw, *bitmap))
            shown_ = std::move(bitmap);
    } catch (const std::bad_alloc&) {
        fail("Out of memory", false);
        throwIfFailed();
    }
    return shown_;
}

bool V4l2Camera::convert(const RawFrame& raw, TBitmap& out)
{
    const StreamFormat& format = raw.format;
    const int w = format.size.width;
    const int h = format.size.height;
    switch (format.fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return yuyvToRgb(raw.bytes.get(), raw.size, format.stride, w, h, out);
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return decoder_.decode(raw.bytes.get(), raw.size, w, h, out);
    case V4L2_PIX_FMT_RGB24:
        return rgb24ToRgb(raw.bytes.get(), raw.size, format.stride, w, h, out);
    default:
        return false;
    }
}

// A bitmap that nobody but the pool holds, to convert the next frame into,
// so that converting does not allocate a frame's pixels every time.
std::shared_ptr<TBitmap> V4l2Camera::spareBitmap()
{
    for (const std::shared_ptr<TBitmap>& b : pool_)
        if (b.use_count() == 1) {
            // The holder that let go last did so with a release; this makes
            // its reads of the pixels happen before our writes.
            std::atomic_thread_fence(std::memory_order_acquire);
            return b;
        }
    auto fresh = std::make_shared<TBitmap>();
    if (pool_.size() < kPoolSize) {
        pool_.push_back(fresh);
    } else {
        // Every pooled bitmap is still held; the pool drops one (its holder
        // keeps it) and keeps the new one instead.
        pool_[nextEvicted_] = fresh;
        nextEvicted_ = (nextEvicted_ + 1) % kPoolSize;
    }
    return fresh;
}

std::vector<CameraMode> V4l2Camera::modes()
{
    std::lock_guard request(requestMutex_);
    throwIfFailed();
    try {
        std::vector<CameraMode> list = offeredModes(*io_, fd_, format_.fourcc);
        // A device that lists no sizes still has the one it delivers.
        if (list.empty())
            list.push_back({ format_.size, {} });
        return list;
    } catch (const DeviceFailure& f) {
        checkLost(f.error);
        throw CaptureError(who() + " did not list its frame sizes: " + errorText(f.error));
    }
}

FrameInterval V4l2Camera::frameInterval()
{
    std::lock_guard request(requestMutex_);
    if (!timePerFrame_)
        return {};
    v4l2_streamparm parm {};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (deviceCall(*io_, fd_, VIDIOC_G_PARM, &parm) == 0)
        interval_ = { parm.parm.capture.timeperframe.numerator, parm.parm.capture.timeperframe.denominator };
    return interval_;
}

void V4l2Camera::setMode(FrameSize size, FrameInterval interval)
{
    std::lock_guard request(requestMutex_);
    throwIfFailed();
    stopStreaming();
    {
        // No frame of the old size is handed out once the new size is set.
        std::lock_guard converting(convertMutex_);
        std::lock_guard lock(frameMutex_);
        newest_.reset();
        shown_.reset();
    }
    std::string refusal;
    try {
        applyFormat(size);
        if (timePerFrame_ && interval.numerator != 0 && interval.denominator != 0)
            applyInterval(interval);
    } catch (const DeviceFailure& f) {
        refusal = who() + " did not accept the mode " + std::to_string(size.width) + " x " + std::to_string(size.height)
            + ": " + errorText(f.error);
    }
    // Streaming resumes in whatever format the device now has.
    try {
        startStreaming();
    } catch (const DeviceFailure& f) {
        stopStreaming();
        fail(f.error);
        throwIfFailed();
    }
    if (!refusal.empty())
        throw CaptureError(refusal);
}

std::vector<CameraControl> V4l2Camera::controls()
{
    std::lock_guard request(requestMutex_);
    throwIfFailed();
    try {
        return deviceControls(*io_, fd_);
    } catch (const DeviceFailure& f) {
        checkLost(f.error);
        throw CaptureError(who() + " did not list its settings: " + errorText(f.error));
    }
}

void V4l2Camera::setControl(std::uint32_t id, std::int32_t value)
{
    std::lock_guard request(requestMutex_);
    throwIfFailed();
    v4l2_control c {};
    c.id = id;
    c.value = value;
    if (deviceCall(*io_, fd_, VIDIOC_S_CTRL, &c) == 0)
        return;
    const int error = errno;
    checkLost(error);
    v4l2_queryctrl q {};
    q.id = id;
    const std::string setting = deviceCall(*io_, fd_, VIDIOC_QUERYCTRL, &q) == 0
        ? quoted(std::string(
            reinterpret_cast<const char*>(q.name), strnlen(reinterpret_cast<const char*>(q.name), sizeof q.name)))
        : "setting " + std::to_string(id);
    throw CaptureError(
        who() + " did not accept the value " + std::to_string(value) + " for " + setting + ": " + errorText(error));
}

// ------------------------------------------------------------ streaming

void V4l2Camera::fail(int error) { fail(errorText(error), lostError(error)); }

void V4l2Camera::fail(const std::string& reason, bool lost)
{
    std::lock_guard lock(frameMutex_);
    if (failure_.empty()) {
        failure_ = who() + " stopped working: " + reason;
        lost_ = lost;
    }
    newest_.reset();
}

void V4l2Camera::run(StreamFormat format) noexcept
{
    try {
        stream(format);
    } catch (const std::bad_alloc&) {
        fail("Out of memory", false);
    } catch (const std::exception& e) {
        fail(e.what(), false);
    }
}

// Waits for the device and for the wake-up call together, with no timeout:
// a camera that sends nothing costs nothing, and a stop is seen at once.
void V4l2Camera::stream(const StreamFormat& format)
{
    pollfd p[2] {};
    p[0].fd = fd_;
    p[0].events = POLLIN;
    p[1].fd = wake_.fd();
    p[1].events = POLLIN;
    while (!stop_.load()) {
        p[0].revents = 0;
        p[1].revents = 0;
        const int ready = io_->poll(p, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return;
        }
        if (p[1].revents != 0)
            return; // asked to stop
        const short events = p[0].revents;
        // A device that hung up has gone (the kernel says so for a device
        // unregistered while open).
        if (events & POLLHUP) {
            fail(ENODEV);
            return;
        }
        if (!(events & (POLLIN | POLLERR | POLLNVAL)))
            continue;
        const Take taken = takeFrame(format);
        if (taken == Take::Failed)
            return;
        if (taken == Take::Nothing && (events & (POLLERR | POLLNVAL))) {
            // An error, and dequeuing had nothing to say what it was.
            fail(EIO);
            return;
        }
    }
}

// Dequeues the one frame poll reported, keeps a copy of it and gives the
// buffer back at once. One frame per wake-up: dequeuing until the device says
// "try again" would make libv4l2 log that answer for every frame.
V4l2Camera::Take V4l2Camera::takeFrame(const StreamFormat& format)
{
    v4l2_buffer b {};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    if (deviceCall(*io_, fd_, VIDIOC_DQBUF, &b) != 0) {
        const int error = errno;
        if (error == EAGAIN)
            return Take::Nothing;
        fail(error);
        return Take::Failed;
    }
    if (b.index >= buffers_.size()) {
        fail(EIO);
        return Take::Failed;
    }
    keep(format, b);
    return requeue(b) ? Take::Frame : Take::Failed;
}

bool V4l2Camera::requeue(v4l2_buffer& buffer)
{
    if (deviceCall(*io_, fd_, VIDIOC_QBUF, &buffer) == 0)
        return true;
    fail(errno);
    return false;
}

// Makes a copy of the frame in that buffer the newest. Frames that are
// damaged on their face (flagged by the driver, longer than their buffer,
// too short for their size) are dropped here; an MJPEG frame is judged when
// it is decoded.
void V4l2Camera::keep(const StreamFormat& format, const v4l2_buffer& buffer)
{
    if (buffer.flags & V4L2_BUF_FLAG_ERROR)
        return;
    const MappedBuffer& mapped = buffers_[buffer.index];
    const std::size_t size = buffer.bytesused;
    if (size == 0 || size > mapped.length || size < wholeFrameBytes(format))
        return;
    std::shared_ptr<RawFrame> raw = spareRaw(size);
    std::memcpy(raw->bytes.get(), mapped.start, size);
    raw->size = size;
    raw->format = format;
    raw->sequence = ++delivered_;
    std::lock_guard lock(frameMutex_);
    newest_ = std::move(raw);
}

// A frame store that nobody but the pool holds, with room for `size` bytes.
// Stores grow to the largest frame seen and are reused after that.
std::shared_ptr<RawFrame> V4l2Camera::spareRaw(std::size_t size)
{
    std::shared_ptr<RawFrame> raw;
    for (const std::shared_ptr<RawFrame>& r : rawPool_)
        if (r.use_count() == 1) {
            // Pairs with the release of the fetch that let go of it last.
            std::atomic_thread_fence(std::memory_order_acquire);
            raw = r;
            break;
        }
    if (!raw) {
        raw = std::make_shared<RawFrame>();
        if (rawPool_.size() < kRawPoolSize) {
            rawPool_.push_back(raw);
        } else {
            rawPool_[nextRawEvicted_] = raw;
            nextRawEvicted_ = (nextRawEvicted_ + 1) % kRawPoolSize;
        }
    }
    if (raw->capacity < size) {
        // Compressed frames vary in size: a little room to spare saves
        // growing again at the next larger one.
        const std::size_t capacity = size + size / 8;
        raw->bytes = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        raw->capacity = capacity;
    }
    return raw;
}

// ------------------------------------------------------------- the system

class V4l2CameraSystem final : public CameraSystem {
public:
    explicit V4l2CameraSystem(std::shared_ptr<V4l2Io> io)
        : io_(std::move(io))
    {
    }

    std::vector<CameraInfo> cameras() override
    {
        std::lock_guard lock(mutex_);
        std::vector<CameraInfo> list;
        for (const std::string& path : io_->devicePaths()) {
            // A camera open here is not opened again: its driver may allow
            // one open at a time. One that is lost is looked at afresh: the
            // node may be a camera plugged back in.
            if (const std::shared_ptr<V4l2Camera> camera = working(path)) {
                list.push_back(camera->info());
                continue;
            }
            const int fd = io_->open(path.c_str(), O_RDWR | O_NONBLOCK);
            if (fd < 0)
                continue;
            v4l2_capability cap {};
            if (deviceCall(*io_, fd, VIDIOC_QUERYCAP, &cap) == 0 && isStreamingCapture(cap))
                list.push_back({ path, cardName(cap).empty() ? path : cardName(cap) });
            io_->close(fd);
        }
        return list;
    }

    std::shared_ptr<Camera> open(const std::string& id) override
    {
        std::lock_guard lock(mutex_);
        if (std::shared_ptr<V4l2Camera> camera = working(id))
            return camera;
        std::erase_if(open_, [](const auto& entry) { return entry.second.expired(); });
        // A lost camera stays with the windows that hold it, failing as lost;
        // whoever opens the id now gets the device as it is now.
        auto camera = std::make_shared<V4l2Camera>(io_, id);
        open_[id] = camera;
        return camera;
    }

private:
    // The camera open with that id unless it is lost.
    std::shared_ptr<V4l2Camera> working(const std::string& id)
    {
        const auto it = open_.find(id);
        std::shared_ptr<V4l2Camera> camera = it == open_.end() ? nullptr : it->second.lock();
        return camera && !camera->lost() ? camera : nullptr;
    }

    const std::shared_ptr<V4l2Io> io_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<V4l2Camera>> open_;
};

} // namespace

std::unique_ptr<CameraSystem> v4l2Cameras(std::shared_ptr<V4l2Io> io)
{
    return std::make_unique<V4l2CameraSystem>(std::move(io));
}

std::optional<V4l2FrameCounts> v4l2FrameCounts(const Camera& camera)
{
    if (const auto* v4l2 = dynamic_cast<const V4l2Camera*>(&camera))
        return v4l2->counts();
    return std::nullopt;
}
