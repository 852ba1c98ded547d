#include "v4l2_camera.h"

#include "frame_convert.h"
#include "v4l2_query.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
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

// One of them is held out of the device's queue: the newest frame, until a
// newer one comes.
constexpr std::uint32_t kBufferCount = 4;
// Bitmaps kept for reuse: the one being filled, the newest, and those the
// windows still hold.
constexpr std::size_t kPoolSize = 4;

using Clock = std::chrono::steady_clock;
// How far ahead of the next fetch its frame is converted, beyond the time a
// conversion takes: enough for a timer's usual lateness or earliness, little
// enough that the frame shown is a frame or two old.
constexpr Clock::duration kConversionLead = std::chrono::milliseconds(30);
// Fetches further apart than this tell nothing of when the next one comes
// (a stream switched off and on again).
constexpr Clock::duration kLongestFetchInterval = std::chrono::seconds(5);
// The longest a fetch waits for the newest frame to be converted: past it,
// the one converted before is handed out.
constexpr Clock::duration kLongestFetchWait = std::chrono::milliseconds(200);

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

// The streaming thread's wake-up call: polled beside the device, so that a
// close or a change of mode stops the thread at once, and a fetch is seen
// as it happens.
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

    // The streaming thread.
    void run(StreamFormat format) noexcept;
    void stream(const StreamFormat& format);
    enum class Take { Frame, Nothing, Failed };
    Take takeFrame(const StreamFormat& format);
    bool requeue(v4l2_buffer& buffer);
    int msUntilConversion();
    void convertHeld(const StreamFormat& format);
    bool convert(const StreamFormat& format, const std::uint8_t* bytes, std::size_t size, TBitmap& out);
    std::shared_ptr<TBitmap> spareBitmap();
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

    // Guards what the streaming thread and fetchFrame() share; never held
    // while converting.
    std::mutex frameMutex_;
    std::condition_variable frameReady_;
    std::shared_ptr<const TBitmap> shown_; // the newest frame converted
    std::uint64_t newest_ = 0; // the sequence of the newest frame held
    std::uint64_t tried_ = 0; // the sequence of the last frame converted or refused
    bool convertedSinceFetch_ = false;
    bool fetchWaits_ = false;
    std::optional<Clock::time_point> lastFetch_;
    Clock::duration fetchInterval_ {}; // between the last two fetches; 0 when not known
    std::string failure_;
    bool lost_ = false;
    std::optional<FrameSize> size_;

    // The streaming thread's own (the caller's once it has been joined).
    std::optional<v4l2_buffer> held_; // the newest frame, out of the device's queue
    Clock::duration conversionTime_ {};
    std::vector<std::shared_ptr<TBitmap>> pool_;
    std::size_t nextEvicted_ = 0;
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
    // Stopping the stream gives every buffer back, the held one too.
    held_.reset();
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

// Hands out the newest frame converted. The streaming thread converts the
// frame it holds shortly before the next fetch is due, judged from the time
// between the last two, so that a fetch at a steady pace finds its frame
// ready and holds its caller for no conversion. A fetch that finds nothing
// converted since the last one (the first of a stream, or one earlier than
// its pace) has the newest frame converted and waits for it. Either way a
// frame is converted only for a fetch, and at most once.
std::shared_ptr<const TBitmap> V4l2Camera::fetchFrame()
{
    std::unique_lock lock(frameMutex_);
    if (!failure_.empty())
        throwFailure();
    const Clock::time_point now = Clock::now();
    if (lastFetch_) {
        const Clock::duration since = now - *lastFetch_;
        fetchInterval_ = since <= kLongestFetchInterval ? since : Clock::duration {};
    }
    lastFetch_ = now;
    const bool ready = convertedSinceFetch_ || tried_ == newest_;
    convertedSinceFetch_ = false;
    fetchWaits_ = !ready;
    // The thread plans its next conversion from this fetch; without a frame
    // to convert it plans when the next one comes.
    if (fetchWaits_ || newest_ != tried_)
        wake_.ring();
    if (!ready) {
        frameReady_.wait_for(lock, kLongestFetchWait, [&] { return !fetchWaits_ || !failure_.empty(); });
        fetchWaits_ = false;
        convertedSinceFetch_ = false;
        if (!failure_.empty())
            throwFailure();
    }
    return shown_;
}

bool V4l2Camera::convert(const StreamFormat& format, const std::uint8_t* bytes, std::size_t size, TBitmap& out)
{
    const int w = format.size.width;
    const int h = format.size.height;
    switch (format.fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return yuyvToRgb(bytes, size, format.stride, w, h, out);
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return mjpegToRgb(bytes, size, w, h, out);
    case V4L2_PIX_FMT_RGB24:
        return rgb24ToRgb(bytes, size, format.stride, w, h, out);
    default:
        return false;
    }
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
        std::lock_guard lock(frameMutex_);
        shown_.reset();
        tried_ = newest_;
        convertedSinceFetch_ = false;
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
    {
        std::lock_guard lock(frameMutex_);
        if (failure_.empty()) {
            failure_ = who() + " stopped working: " + reason;
            lost_ = lost;
        }
    }
    // A fetch waiting for a frame hears of it at once.
    frameReady_.notify_all();
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

// Waits for the device and for the wake-up call together, with no timeout
// unless a fetch is due: a camera that sends nothing, or whose frames nobody
// fetches, costs nothing but taking its frames, and a stop is seen at once.
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
        const int ready = io_->poll(p, 2, msUntilConversion());
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return;
        }
        if (p[1].revents != 0) {
            wake_.clear();
            if (stop_.load())
                return;
        }
        const short events = p[0].revents;
        // A device that hung up has gone (the kernel says so for a device
        // unregistered while open).
        if (events & POLLHUP) {
            fail(ENODEV);
            return;
        }
        if (events & (POLLIN | POLLERR | POLLNVAL)) {
            const Take taken = takeFrame(format);
            if (taken == Take::Failed)
                return;
            if (taken == Take::Nothing && (events & (POLLERR | POLLNVAL))) {
                // An error, and dequeuing had nothing to say what it was.
                fail(EIO);
                return;
            }
        }
        if (msUntilConversion() == 0)
            convertHeld(format);
    }
}

// Dequeues the one frame poll reported and holds it as the newest, giving
// the one held before back to the device. One frame per wake-up: dequeuing
// until the device says "try again" would make libv4l2 log that answer for
// every frame. Frames damaged on their face (flagged by the driver, longer
// than their buffer, too short for their size) go straight back; an MJPEG
// frame is judged when it is decoded.
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
    const std::size_t size = b.bytesused;
    if ((b.flags & V4L2_BUF_FLAG_ERROR) || size == 0 || size > buffers_[b.index].length
        || size < wholeFrameBytes(format))
        return requeue(b) ? Take::Frame : Take::Failed;
    if (held_ && !requeue(*held_))
        return Take::Failed;
    held_ = b;
    const std::uint64_t sequence = ++delivered_;
    std::lock_guard lock(frameMutex_);
    newest_ = sequence;
    return Take::Frame;
}

bool V4l2Camera::requeue(v4l2_buffer& buffer)
{
    if (deviceCall(*io_, fd_, VIDIOC_QBUF, &buffer) == 0)
        return true;
    fail(errno);
    return false;
}

// How long until the held frame is to be converted: 0 when a fetch waits
// for it or the next fetch is near, -1 when no fetch is in sight or the
// held frame was converted already.
int V4l2Camera::msUntilConversion()
{
    std::lock_guard lock(frameMutex_);
    if (!held_ || newest_ == tried_)
        return -1;
    if (fetchWaits_)
        return 0;
    if (!lastFetch_ || fetchInterval_ == Clock::duration {} || convertedSinceFetch_)
        return -1;
    const Clock::time_point due = *lastFetch_ + fetchInterval_ - conversionTime_ - kConversionLead;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, kLongestFetchInterval / std::chrono::milliseconds(1)));
}

// Converts the frame held for the next fetch; a frame that does not convert
// (damaged, cut short) is passed over, and the one before stays the newest.
void V4l2Camera::convertHeld(const StreamFormat& format)
{
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(frameMutex_);
        sequence = newest_;
    }
    std::shared_ptr<TBitmap> bitmap = spareBitmap();
    const Clock::time_point start = Clock::now();
    ++converted_;
    const bool good = convert(format, static_cast<const std::uint8_t*>(buffers_[held_->index].start),
        held_->bytesused, *bitmap);
    const Clock::duration took = Clock::now() - start;
    // The time the next one will take, smoothed: one slow frame does not
    // move every later conversion forward.
    conversionTime_ = conversionTime_ == Clock::duration {} ? took : (conversionTime_ * 3 + took) / 4;
    {
        std::lock_guard lock(frameMutex_);
        tried_ = sequence;
        if (good)
            shown_ = std::move(bitmap);
        convertedSinceFetch_ = true;
        fetchWaits_ = false;
    }
    frameReady_.notify_all();
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
