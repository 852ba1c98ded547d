#include "v4l2_camera.h"

#include "frame_convert.h"
#include "v4l2_query.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>

namespace {

constexpr std::uint32_t kBufferCount = 4;
// How long the streaming thread waits for a frame before it looks whether it
// is asked to stop: the longest a close or a change of mode waits for it.
constexpr int kPollMs = 100;
// Bitmaps kept for reuse: the one being filled, the newest, and those the
// windows still hold.
constexpr std::size_t kPoolSize = 4;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string openError(const std::string& id, const std::string& reason)
{
    return "Cannot open camera " + quoted(id) + ". " + reason;
}

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

struct MappedBuffer {
    void* start = nullptr;
    std::size_t length = 0;
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

private:
    std::string who() const { return "Camera " + quoted(name_) + " (" + path_ + ")"; }
    void applyFormat(FrameSize size);
    void applyInterval(FrameInterval interval);
    void startStreaming();
    void stopStreaming() noexcept;
    void throwIfFailed();

    // The streaming thread.
    void run(StreamFormat format) noexcept;
    void stream(const StreamFormat& format);
    bool takeNewest(const StreamFormat& format, short events);
    bool requeue(v4l2_buffer& buffer);
    void convert(const StreamFormat& format, const v4l2_buffer& buffer);
    std::shared_ptr<TBitmap> spareBitmap();
    void fail(int error);
    void fail(const std::string& reason);

    const std::shared_ptr<V4l2Io> io_;
    const std::string path_;
    std::string name_;
    int fd_ = -1;
    bool timePerFrame_ = false; // the device takes a frame interval
    FrameInterval interval_;
    StreamFormat format_;
    std::vector<MappedBuffer> buffers_;
    bool buffersRequested_ = false;
    bool streaming_ = false;
    std::thread thread_;
    std::atomic<bool> stop_ { false };

    // Serialises the requests of the public calls that talk to the device.
    std::mutex requestMutex_;
    // Guards what fetchFrame() and frameSize() read; held only to copy.
    std::mutex frameMutex_;
    std::shared_ptr<const TBitmap> newest_;
    std::string failure_;
    std::optional<FrameSize> size_;

    // The streaming thread's own.
    std::vector<std::shared_ptr<TBitmap>> pool_;
    std::size_t nextEvicted_ = 0;
    MjpegDecoder decoder_;
};

V4l2Camera::V4l2Camera(std::shared_ptr<V4l2Io> io, const std::string& path)
    : io_(std::move(io))
    , path_(path)
{
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
    thread_ = std::thread(&V4l2Camera::run, this, format_);
}

// Undoes whatever startStreaming did. Errors are ignored: a device that has
// gone still lets go of its buffers.
void V4l2Camera::stopStreaming() noexcept
{
    if (thread_.joinable()) {
        stop_ = true;
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

void V4l2Camera::throwIfFailed()
{
    std::lock_guard lock(frameMutex_);
    if (!failure_.empty())
        throw CaptureError(failure_);
}

std::optional<FrameSize> V4l2Camera::frameSize()
{
    std::lock_guard lock(frameMutex_);
    return size_;
}

std::shared_ptr<const TBitmap> V4l2Camera::fetchFrame()
{
    std::lock_guard lock(frameMutex_);
    if (!failure_.empty())
        throw CaptureError(failure_);
    return newest_;
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
        std::lock_guard lock(frameMutex_);
        newest_.reset();
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

void V4l2Camera::fail(int error) { fail(errorText(error)); }

void V4l2Camera::fail(const std::string& reason)
{
    std::lock_guard lock(frameMutex_);
    if (failure_.empty())
        failure_ = who() + " stopped working: " + reason;
    newest_.reset();
}

void V4l2Camera::run(StreamFormat format) noexcept
{
    try {
        stream(format);
    } catch (const std::bad_alloc&) {
        fail("Out of memory");
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void V4l2Camera::stream(const StreamFormat& format)
{
    while (!stop_.load()) {
        pollfd p {};
        p.fd = fd_;
        p.events = POLLIN;
        const int ready = io_->poll(&p, 1, kPollMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return;
        }
        if (ready == 0)
            continue;
        if (!(p.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)))
            continue;
        if (!takeNewest(format, p.revents))
            return;
    }
}

// Dequeues the frames that have arrived, converts the newest of them and
// gives every buffer back to the driver. False when the device failed.
bool V4l2Camera::takeNewest(const StreamFormat& format, short events)
{
    std::optional<v4l2_buffer> newest;
    for (std::size_t n = 0; n < buffers_.size(); ++n) {
        v4l2_buffer b {};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (deviceCall(*io_, fd_, VIDIOC_DQBUF, &b) != 0) {
            const int error = errno;
            if (error == EAGAIN)
                break;
            fail(error);
            return false;
        }
        if (b.index >= buffers_.size()) {
            fail(EIO);
            return false;
        }
        if (newest && !requeue(*newest))
            return false;
        newest = b;
    }
    if (!newest) {
        // Poll reported an error and dequeuing said nothing more: a device
        // that hung up has gone, any other error is the device's.
        if (events & (POLLERR | POLLHUP | POLLNVAL)) {
            fail(events & POLLHUP ? ENODEV : EIO);
            return false;
        }
        return true;
    }
    convert(format, *newest);
    return requeue(*newest);
}

bool V4l2Camera::requeue(v4l2_buffer& buffer)
{
    if (deviceCall(*io_, fd_, VIDIOC_QBUF, &buffer) == 0)
        return true;
    fail(errno);
    return false;
}

// Converts the frame in that buffer and makes it the newest. Damaged frames
// (flagged by the driver, longer than their buffer, too short for their
// size, undecodable) are dropped.
void V4l2Camera::convert(const StreamFormat& format, const v4l2_buffer& buffer)
{
    if (buffer.flags & V4L2_BUF_FLAG_ERROR)
        return;
    const MappedBuffer& mapped = buffers_[buffer.index];
    if (buffer.bytesused > mapped.length)
        return;
    const auto* data = static_cast<const std::uint8_t*>(mapped.start);
    const std::size_t size = buffer.bytesused;
    const int w = format.size.width;
    const int h = format.size.height;
    std::shared_ptr<TBitmap> bitmap = spareBitmap();
    bool whole = false;
    switch (format.fourcc) {
    case V4L2_PIX_FMT_YUYV:
        whole = yuyvToRgb(data, size, format.stride, w, h, *bitmap);
        break;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        whole = decoder_.decode(data, size, w, h, *bitmap);
        break;
    case V4L2_PIX_FMT_RGB24:
        whole = rgb24ToRgb(data, size, format.stride, w, h, *bitmap);
        break;
    default:
        break;
    }
    if (!whole)
        return;
    std::lock_guard lock(frameMutex_);
    newest_ = std::move(bitmap);
}

// A bitmap that nobody but the pool holds, to convert the next frame into,
// so that streaming does not allocate a frame's pixels for every frame.
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
            // one open at a time.
            if (const std::shared_ptr<Camera> camera = alive(path)) {
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
        if (std::shared_ptr<Camera> camera = alive(id))
            return camera;
        std::erase_if(open_, [](const auto& entry) { return entry.second.expired(); });
        auto camera = std::make_shared<V4l2Camera>(io_, id);
        open_[id] = camera;
        return camera;
    }

private:
    std::shared_ptr<Camera> alive(const std::string& id)
    {
        const auto it = open_.find(id);
        return it == open_.end() ? nullptr : it->second.lock();
    }

    const std::shared_ptr<V4l2Io> io_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<Camera>> open_;
};

} // namespace

std::unique_ptr<CameraSystem> v4l2Cameras(std::shared_ptr<V4l2Io> io)
{
    return std::make_unique<V4l2CameraSystem>(std::move(io));
}
