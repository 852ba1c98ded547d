#include "fake_v4l2.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Buffer i is mapped at offset i * kOffsetStep, as drivers hand out cookies.
constexpr std::int64_t kOffsetStep = 1 << 16;
constexpr std::uint32_t kMaxBuffers = 8;

std::size_t strideOf(std::uint32_t fourcc, int width)
{
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return (std::size_t(width) + 1) / 2 * 4;
    case V4L2_PIX_FMT_RGB24:
        return std::size_t(width) * 3;
    default:
        return 0;
    }
}

std::size_t imageSizeOf(std::uint32_t fourcc, FrameSize s)
{
    const std::size_t stride = strideOf(fourcc, s.width);
    // A compressed frame gets room for two bytes a pixel, as UVC cameras
    // state for their MJPEG buffers.
    return (stride ? stride : std::size_t(s.width) * 2) * std::size_t(s.height);
}

long long distance(FrameSize a, FrameSize b) { return std::llabs(a.width - b.width) + std::llabs(a.height - b.height); }

std::uint32_t clampStep(std::uint32_t v, std::uint32_t lo, std::uint32_t hi, std::uint32_t step)
{
    v = std::clamp(v, lo, hi);
    if (step > 1)
        v = lo + (v - lo) / step * step;
    return v;
}

void copyText(std::uint8_t* to, std::size_t capacity, const std::string& text)
{
    std::memset(to, 0, capacity);
    std::memcpy(to, text.data(), std::min(text.size(), capacity - 1));
}

double seconds(const v4l2_fract& f) { return f.denominator ? double(f.numerator) / f.denominator : 0; }

} // namespace

struct FakeV4l2::Device {
    struct Buffer {
        std::unique_ptr<std::uint8_t[]> memory;
        std::size_t length = 0;
        bool queued = false;
        bool mapped = false;
        std::size_t still = SIZE_MAX; // the still it holds
    };

    FakeDevice spec;
    FakeLog log;
    bool unplugged = false;
    int openCount = 0;
    std::uint32_t fourcc = 0;
    FrameSize size;
    v4l2_fract interval { 0, 0 };
    std::vector<Buffer> buffers;
    int owner = -1; // the fd that requested the buffers
    std::deque<std::uint32_t> queue;
    bool streaming = false;
    Clock::time_point nextFrame;
    std::uint64_t frames = 0;

    const FakeFormat* format(std::uint32_t f) const
    {
        for (const FakeFormat& x : spec.formats)
            if (x.fourcc == f)
                return &x;
        return nullptr;
    }

    // The intervals the device offers at that size in that format.
    std::vector<FrameInterval> intervals(const FakeFormat& f, FrameSize s) const
    {
        if (f.stepwise)
            return f.stepIntervals;
        for (const FakeSize& x : f.sizes)
            if (x.size == s)
                return x.intervals;
        return {};
    }

    // The size the device takes when asked for `wanted`: its nearest.
    FrameSize nearest(const FakeFormat& f, FrameSize wanted) const
    {
        if (f.stepwise) {
            const v4l2_frmsize_stepwise& r = *f.stepwise;
            return { int(clampStep(std::uint32_t(std::max(wanted.width, 0)), r.min_width, r.max_width, r.step_width)),
                int(clampStep(std::uint32_t(std::max(wanted.height, 0)), r.min_height, r.max_height, r.step_height)) };
        }
        FrameSize best = f.sizes.empty() ? wanted : f.sizes.front().size;
        for (const FakeSize& x : f.sizes)
            if (distance(x.size, wanted) < distance(best, wanted))
                best = x.size;
        return best;
    }

    void resetInterval()
    {
        const FakeFormat* f = format(fourcc);
        const std::vector<FrameInterval> list = f ? intervals(*f, size) : std::vector<FrameInterval> {};
        interval
            = list.empty() ? v4l2_fract { 1, 30 } : v4l2_fract { list.front().numerator, list.front().denominator };
    }

    bool stalled() const { return spec.frameLimit >= 0 && frames >= std::uint64_t(spec.frameLimit); }

    bool anyMapped() const
    {
        return std::any_of(buffers.begin(), buffers.end(), [](const Buffer& b) { return b.mapped; });
    }

    void stopStreaming()
    {
        streaming = false;
        queue.clear();
        for (Buffer& b : buffers)
            b.queued = false;
    }

    void fillFormat(v4l2_pix_format& p) const
    {
        p.width = std::uint32_t(size.width);
        p.height = std::uint32_t(size.height);
        p.pixelformat = fourcc;
        p.field = V4L2_FIELD_NONE;
        p.bytesperline = std::uint32_t(strideOf(fourcc, size.width));
        p.sizeimage = std::uint32_t(imageSizeOf(fourcc, size));
        p.colorspace = V4L2_COLORSPACE_SRGB;
    }
};

FakeV4l2::FakeV4l2() = default;
FakeV4l2::~FakeV4l2() = default;

void FakeV4l2::addDevice(FakeDevice device)
{
    auto d = std::make_unique<Device>();
    if (device.formats.empty())
        throw std::logic_error("a fake device needs a format");
    const FakeFormat& first = device.formats.front();
    d->fourcc = device.initialFourcc ? device.initialFourcc : first.fourcc;
    const FakeFormat* initial = nullptr;
    for (const FakeFormat& f : device.formats)
        if (f.fourcc == d->fourcc)
            initial = &f;
    if (initial == nullptr)
        throw std::logic_error("the initial format of a fake device must be one of its formats");
    d->size = device.initialSize.width ? device.initialSize
        : initial->stepwise ? FrameSize { int(initial->stepwise->min_width), int(initial->stepwise->min_height) }
                            : initial->sizes.at(0).size;
    d->spec = std::move(device);
    d->resetInterval();
    std::lock_guard lock(mutex_);
    for (const auto& other : devices_)
        if (other->spec.path == d->spec.path && !other->unplugged)
            throw std::logic_error("a fake device is plugged in at " + d->spec.path + " already");
    devices_.push_back(std::move(d));
}

void FakeV4l2::replug(const std::string& path)
{
    FakeDevice spec;
    {
        std::lock_guard lock(mutex_);
        spec = named(path).spec;
    }
    addDevice(std::move(spec));
}

void FakeV4l2::setFrameSource(const std::string& path, FakeFrameSource source)
{
    std::lock_guard lock(mutex_);
    named(path).spec.source = std::move(source);
}

void FakeV4l2::unplug(const std::string& path)
{
    std::lock_guard lock(mutex_);
    named(path).unplugged = true;
    changed();
}

FakeLog FakeV4l2::log(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    return named(path).log;
}

int FakeV4l2::openFds(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    named(path);
    int count = 0;
    for (const auto& d : devices_)
        if (d->spec.path == path)
            count += d->openCount;
    return count;
}

int FakeV4l2::mappedBuffers(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    named(path);
    int count = 0;
    for (const auto& d : devices_)
        if (d->spec.path == path)
            count += int(
                std::count_if(d->buffers.begin(), d->buffers.end(), [](const Device::Buffer& b) { return b.mapped; }));
    return count;
}

bool FakeV4l2::streaming(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    return named(path).streaming;
}

std::uint64_t FakeV4l2::framesDelivered(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    return named(path).frames;
}

std::int32_t FakeV4l2::controlValue(const std::string& path, std::uint32_t id) const
{
    std::lock_guard lock(mutex_);
    for (const FakeControl& c : named(path).spec.controls)
        if (c.id == id)
            return c.value;
    throw std::logic_error("no such fake control");
}

FakeV4l2::Device& FakeV4l2::named(const std::string& path) const
{
    for (auto it = devices_.rbegin(); it != devices_.rend(); ++it)
        if ((*it)->spec.path == path)
            return **it;
    throw std::logic_error("no fake device " + path);
}

void FakeV4l2::changed()
{
    const std::uint64_t one = 1;
    for (int fd : waiters_)
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

FakeV4l2::Device* FakeV4l2::deviceOf(int fd)
{
    const auto it = fds_.find(fd);
    return it == fds_.end() ? nullptr : it->second;
}

std::vector<std::string> FakeV4l2::devicePaths()
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> list;
    for (const auto& d : devices_)
        if (!d->unplugged)
            list.push_back(d->spec.path);
    return list;
}

int FakeV4l2::open(const char* path, int)
{
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_) {
        if (d->spec.path != path || d->unplugged)
            continue;
        if (d->spec.exclusive && d->openCount > 0) {
            errno = EBUSY;
            return -1;
        }
        ++d->openCount;
        ++d->log.opens;
        fds_[nextFd_] = d.get();
        return nextFd_++;
    }
    errno = ENOENT;
    return -1;
}

int FakeV4l2::close(int fd)
{
    std::lock_guard lock(mutex_);
    Device* d = deviceOf(fd);
    if (d == nullptr) {
        errno = EBADF;
        return -1;
    }
    fds_.erase(fd);
    --d->openCount;
    if (d->owner == fd) {
        // Closing releases the queue; memory still mapped stays valid
        // until it is unmapped.
        d->stopStreaming();
        d->owner = -1;
        if (!d->anyMapped())
            d->buffers.clear();
    }
    changed();
    return 0;
}

void* FakeV4l2::mmap(void*, std::size_t length, int, int, int fd, std::int64_t offset)
{
    std::lock_guard lock(mutex_);
    Device* d = deviceOf(fd);
    if (d == nullptr || d->unplugged) {
        errno = d ? ENODEV : EBADF;
        return MAP_FAILED;
    }
    const std::int64_t index = offset / kOffsetStep;
    if (offset % kOffsetStep != 0 || index < 0 || std::size_t(index) >= d->buffers.size()
        || length > d->buffers[std::size_t(index)].length) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    Device::Buffer& b = d->buffers[std::size_t(index)];
    b.mapped = true;
    return b.memory.get();
}

int FakeV4l2::munmap(void* addr, std::size_t)
{
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_)
        for (Device::Buffer& b : d->buffers)
            if (b.memory.get() == addr && b.mapped) {
                b.mapped = false;
                return 0;
            }
    errno = EINVAL;
    return -1;
}

namespace {

// This thread's waiter for FakeV4l2::poll: an eventfd that changed() rings,
// made once per thread so that a poll costs no more system calls than the
// system's own would.
class ThreadWaiter {
public:
    ThreadWaiter()
        : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    ~ThreadWaiter()
    {
        if (fd >= 0)
            ::close(fd);
    }
    const int fd;
};

} // namespace

int FakeV4l2::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    static thread_local ThreadWaiter waiter;
    if (waiter.fd < 0)
        return -1;
    // The caller's own fds, polled by the system, and behind them the
    // waiter.
    std::vector<pollfd> real;
    std::vector<nfds_t> realIndex;
    for (nfds_t i = 0; i < count; ++i) {
        fds[i].revents = 0;
        if (fds[i].fd >= 0 && fds[i].fd < kFirstFd) {
            real.push_back({ fds[i].fd, fds[i].events, 0 });
            realIndex.push_back(i);
        }
    }
    real.push_back({ waiter.fd, POLLIN, 0 });

    std::unique_lock lock(mutex_);
    for (nfds_t i = 0; i < count; ++i)
        if (Device* d = deviceOf(fds[i].fd))
            ++d->log.polls;
    waiters_.push_back(waiter.fd);
    // A negative timeout waits for as long as it takes.
    const Clock::time_point deadline
        = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto logEnd = [&](int FakeLog::*counter) {
        for (nfds_t i = 0; i < count; ++i)
            if (Device* d = deviceOf(fds[i].fd))
                ++(d->log.*counter);
    };
    bool callersPolled = false; // the caller's fds were polled since the devices last changed
    int callers = 0;
    int ready = 0;
    int result = 0;
    for (;;) {
        ready = 0;
        Clock::time_point wakeAt = deadline;
        const Clock::time_point now = Clock::now();
        for (nfds_t i = 0; i < count; ++i) {
            pollfd& p = fds[i];
            if (p.fd < kFirstFd)
                continue;
            p.revents = 0;
            Device* d = deviceOf(p.fd);
            if (d == nullptr)
                p.revents = POLLNVAL;
            else if (d->unplugged)
                p.revents = POLLERR | POLLHUP;
            // Like videobuf2: nothing to wait for on a queue that is not
            // streaming.
            else if (!d->streaming || d->owner != p.fd)
                p.revents = POLLERR;
            else if (!d->queue.empty() && !d->stalled()) {
                if (now >= d->nextFrame)
                    p.revents = short(p.events & POLLIN);
                else
                    wakeAt = std::min(wakeAt, d->nextFrame);
            }
            if (p.revents)
                ++ready;
        }
        if (ready > 0 && callersPolled)
            break;
        if (ready == 0 && callers > 0) {
            logEnd(&FakeLog::pollsWokenByCaller);
            break;
        }
        if (ready == 0 && now >= deadline) {
            logEnd(&FakeLog::pollTimeouts);
            break;
        }
        // The caller's fds, and unless a device is ready the wait for
        // whatever comes first; without the lock, so that other threads can
        // make their calls.
        const bool forever = ready == 0 && wakeAt == Clock::time_point::max();
        timespec wait {};
        if (!forever && ready == 0) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wakeAt - now).count();
            wait.tv_sec = time_t(ns / 1000000000);
            wait.tv_nsec = long(ns % 1000000000);
        }
        lock.unlock();
        const int n = ::ppoll(real.data(), real.size(), forever ? nullptr : &wait, nullptr);
        const int error = errno;
        if (n > 0 && real.back().revents) {
            std::uint64_t rings = 0;
            [[maybe_unused]] const ssize_t drained = ::read(waiter.fd, &rings, sizeof rings);
        }
        lock.lock();
        if (n < 0 && error != EINTR) {
            errno = error;
            result = -1;
            break;
        }
        callers = 0;
        for (std::size_t k = 0; k + 1 < real.size(); ++k) {
            fds[realIndex[k]].revents = n > 0 ? real[k].revents : 0;
            if (fds[realIndex[k]].revents)
                ++callers;
        }
        callersPolled = true;
    }
    std::erase(waiters_, waiter.fd);
    return result < 0 ? -1 : ready + callers;
}

int FakeV4l2::ioctl(int fd, unsigned long request, void* arg)
{
    std::unique_lock lock(mutex_);
    Device* d = deviceOf(fd);
    if (d == nullptr) {
        errno = EBADF;
        return -1;
    }
    ++d->log.calls[request];
    if (d->unplugged) {
        errno = ENODEV;
        return -1;
    }
    const auto fail = [](int error) {
        errno = error;
        return -1;
    };
    // Buffer requests made on an fd that does not own the queue are busy.
    const auto notOwner = [&] { return d->owner != -1 && d->owner != fd; };

    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto& c = *static_cast<v4l2_capability*>(arg);
        c = {};
        copyText(c.driver, sizeof c.driver, "fake");
        copyText(c.card, sizeof c.card, d->spec.card);
        copyText(c.bus_info, sizeof c.bus_info, "fake:" + d->spec.path);
        c.version = 0x050a00;
        c.capabilities = d->spec.capabilities | (d->spec.deviceCaps ? V4L2_CAP_DEVICE_CAPS : 0);
        c.device_caps = d->spec.deviceCaps;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto& f = *static_cast<v4l2_fmtdesc*>(arg);
        if (f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f.index >= d->spec.formats.size())
            return fail(EINVAL);
        const FakeFormat& x = d->spec.formats[f.index];
        f.pixelformat = x.fourcc;
        f.flags = (x.emulated ? V4L2_FMT_FLAG_EMULATED : 0)
            | (x.fourcc == V4L2_PIX_FMT_MJPEG || x.fourcc == V4L2_PIX_FMT_JPEG ? V4L2_FMT_FLAG_COMPRESSED : 0);
        copyText(f.description, sizeof f.description, std::string(reinterpret_cast<const char*>(&x.fourcc), 4));
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& e = *static_cast<v4l2_frmsizeenum*>(arg);
        const FakeFormat* f = d->format(e.pixel_format);
        if (f == nullptr)
            return fail(EINVAL);
        if (f->stepwise) {
            if (e.index != 0)
                return fail(EINVAL);
            e.type = f->stepwise->step_width == 1 && f->stepwise->step_height == 1 ? V4L2_FRMSIZE_TYPE_CONTINUOUS
                                                                                   : V4L2_FRMSIZE_TYPE_STEPWISE;
            e.stepwise = *f->stepwise;
            return 0;
        }
        if (e.index >= f->sizes.size())
            return fail(EINVAL);
        e.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        e.discrete = { std::uint32_t(f->sizes[e.index].size.width), std::uint32_t(f->sizes[e.index].size.height) };
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& e = *static_cast<v4l2_frmivalenum*>(arg);
        const FakeFormat* f = d->format(e.pixel_format);
        if (f == nullptr)
            return fail(EINVAL);
        const std::vector<FrameInterval> list = d->intervals(*f, { int(e.width), int(e.height) });
        if (e.index >= list.size())
            return fail(EINVAL);
        e.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        e.discrete = { list[e.index].numerator, list[e.index].denominator };
        return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto& f = *static_cast<v4l2_format*>(arg);
        if (f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (request == VIDIOC_G_FMT) {
            d->fillFormat(f.fmt.pix);
            return 0;
        }
        if (request == VIDIOC_S_FMT) {
            d->log.setFormats.push_back(f.fmt.pix);
            if (!d->buffers.empty())
                return fail(EBUSY);
        }
        const FakeFormat* x = d->format(f.fmt.pix.pixelformat);
        if (x == nullptr)
            x = &d->spec.formats.front();
        Device probe;
        probe.fourcc = x->fourcc;
        probe.size = d->nearest(*x, { int(f.fmt.pix.width), int(f.fmt.pix.height) });
        probe.fillFormat(f.fmt.pix);
        if (request == VIDIOC_S_FMT) {
            d->fourcc = probe.fourcc;
            d->size = probe.size;
            d->resetInterval();
        }
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto& p = *static_cast<v4l2_streamparm*>(arg);
        if (p.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (request == VIDIOC_S_PARM) {
            if (!d->spec.timePerFrame)
                return fail(ENOTTY);
            const v4l2_fract wanted = p.parm.capture.timeperframe;
            d->log.setIntervals.push_back(wanted);
            const FakeFormat* f = d->format(d->fourcc);
            const std::vector<FrameInterval> list = f ? d->intervals(*f, d->size) : std::vector<FrameInterval> {};
            v4l2_fract best = wanted;
            if (!list.empty()) {
                best = { list.front().numerator, list.front().denominator };
                for (const FrameInterval& i : list) {
                    const v4l2_fract c { i.numerator, i.denominator };
                    if (std::abs(seconds(c) - seconds(wanted)) < std::abs(seconds(best) - seconds(wanted)))
                        best = c;
                }
            }
            if (best.denominator != 0 && best.numerator != 0)
                d->interval = best;
        }
        p.parm.capture = {};
        p.parm.capture.capability = d->spec.timePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
        p.parm.capture.timeperframe = d->interval;
        return 0;
    }
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
        return control(*d, request, arg);
    case VIDIOC_REQBUFS: {
        auto& r = *static_cast<v4l2_requestbuffers*>(arg);
        if (r.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r.memory != V4L2_MEMORY_MMAP)
            return fail(EINVAL);
        if (notOwner() || d->anyMapped())
            return fail(EBUSY);
        d->stopStreaming();
        d->buffers.clear();
        d->owner = -1;
        if (r.count == 0)
            return 0;
        r.count = std::min(r.count, kMaxBuffers);
        const std::size_t length = imageSizeOf(d->fourcc, d->size);
        for (std::uint32_t i = 0; i < r.count; ++i) {
            Device::Buffer b;
            b.memory = std::make_unique<std::uint8_t[]>(length);
            b.length = length;
            d->buffers.push_back(std::move(b));
        }
        d->owner = fd;
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF: {
        auto& b = *static_cast<v4l2_buffer*>(arg);
        if (notOwner())
            return fail(EBUSY);
        if (b.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b.memory != V4L2_MEMORY_MMAP || b.index >= d->buffers.size())
            return fail(EINVAL);
        Device::Buffer& x = d->buffers[b.index];
        if (request == VIDIOC_QBUF) {
            if (x.queued)
                return fail(EINVAL);
            x.queued = true;
            d->queue.push_back(b.index);
            changed();
        }
        b.length = std::uint32_t(x.length);
        b.m.offset = std::uint32_t(b.index * kOffsetStep);
        b.flags = (x.mapped ? V4L2_BUF_FLAG_MAPPED : 0) | (x.queued ? V4L2_BUF_FLAG_QUEUED : 0);
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto& b = *static_cast<v4l2_buffer*>(arg);
        if (notOwner())
            return fail(EBUSY);
        if (b.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b.memory != V4L2_MEMORY_MMAP || !d->streaming)
            return fail(EINVAL);
        return dequeue(lock, *d, b);
    }
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: {
        if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (notOwner() || d->owner == -1)
            return fail(d->owner == -1 ? EINVAL : EBUSY);
        if (request == VIDIOC_STREAMON) {
            d->streaming = true;
            d->nextFrame = Clock::now() + std::chrono::milliseconds(d->spec.framePeriodMs);
        } else {
            d->stopStreaming();
        }
        changed();
        return 0;
    }
    default:
        return fail(ENOTTY);
    }
}

// Fills the oldest queued buffer with the next frame. The frame is made
// without the lock, so a slow source (an MJPEG encoder) does not hold up the
// test thread's calls; the buffer is the caller's until it queues it again.
int FakeV4l2::dequeue(std::unique_lock<std::mutex>& lock, Device& d, v4l2_buffer& b)
{
    if (d.queue.empty() || Clock::now() < d.nextFrame || d.stalled()) {
        ++d.log.dequeueAgain;
        errno = EAGAIN;
        return -1;
    }
    const std::uint32_t index = d.queue.front();
    d.queue.pop_front();
    Device::Buffer& buffer = d.buffers[index];
    buffer.queued = false;
    d.nextFrame = Clock::now() + std::chrono::milliseconds(d.spec.framePeriodMs);
    FakeFrameRequest request;
    request.fourcc = d.fourcc;
    request.size = d.size;
    request.stride = strideOf(d.fourcc, d.size.width);
    request.number = d.frames++;
    request.huffmanTables = d.spec.huffmanTables;
    b.index = index;
    b.length = std::uint32_t(buffer.length);
    b.sequence = std::uint32_t(request.number);
    b.field = V4L2_FIELD_NONE;
    b.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE;
    b.m.offset = std::uint32_t(index * kOffsetStep);
    if (!d.spec.stills.empty()) {
        const std::size_t still = std::size_t(request.number % d.spec.stills.size());
        const std::vector<std::uint8_t>& bytes = d.spec.stills[still];
        if (buffer.still != still) {
            std::memcpy(buffer.memory.get(), bytes.data(), std::min(bytes.size(), buffer.length));
            buffer.still = still;
        }
        b.bytesused = std::uint32_t(bytes.size());
        return 0;
    }
    buffer.still = SIZE_MAX;
    const FakeFrameSource source = d.spec.source ? d.spec.source : FakeFrameSource(fakeFrame);
    std::uint8_t* memory = buffer.memory.get();
    const std::size_t length = buffer.length;

    lock.unlock();
    const std::vector<std::uint8_t> bytes = source(request);
    std::memcpy(memory, bytes.data(), std::min(bytes.size(), length));
    lock.lock();

    b.bytesused = std::uint32_t(bytes.size());
    return 0;
}

int FakeV4l2::control(Device& d, unsigned long request, void* arg)
{
    return fakeControlRequest(d.spec.controls, d.spec.nextControl, d.log, request, arg);
}
