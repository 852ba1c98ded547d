#include "v4l2_query.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

namespace {

// No enumeration of a real device comes near this; it only stops a device
// that never says "no more" from keeping us in a loop.
constexpr std::uint32_t kMaxEntries = 1024;

// An enumeration ends at the first index the device refuses; a refusal that
// means the device is gone is reported instead.
bool endOfList(int error)
{
    if (deviceGone(error))
        throw DeviceFailure { error };
    return true;
}

std::string fixedText(const std::uint8_t* text, std::size_t capacity)
{
    const char* s = reinterpret_cast<const char*>(text);
    return std::string(s, strnlen(s, capacity));
}

// ------------------------------------------------------- sizes and rates

bool shorter(FrameInterval a, FrameInterval b)
{
    return std::uint64_t(a.numerator) * b.denominator < std::uint64_t(b.numerator) * a.denominator;
}

bool sameRate(FrameInterval a, FrameInterval b) { return !shorter(a, b) && !shorter(b, a); }

FrameInterval intervalOf(const v4l2_fract& f) { return { f.numerator, f.denominator }; }

// The rates of a stepwise or continuous interval range: its ends and the
// common rates between them.
std::vector<FrameInterval> intervalsWithin(FrameInterval fastest, FrameInterval slowest)
{
    std::vector<FrameInterval> list { fastest };
    static constexpr FrameInterval kCommon[]
        = { { 1, 60 }, { 1, 30 }, { 1, 25 }, { 1, 20 }, { 1, 15 }, { 1, 10 }, { 1, 5 }, { 1, 1 } };
    for (FrameInterval i : kCommon)
        if (shorter(fastest, i) && shorter(i, slowest))
            list.push_back(i);
    if (!sameRate(fastest, slowest))
        list.push_back(slowest);
    return list;
}

std::vector<FrameInterval> offeredIntervals(V4l2Io& io, int fd, std::uint32_t fourcc, FrameSize size)
{
    std::vector<FrameInterval> list;
    for (std::uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmivalenum e {};
        e.index = index;
        e.pixel_format = fourcc;
        e.width = std::uint32_t(size.width);
        e.height = std::uint32_t(size.height);
        if (deviceCall(io, fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) != 0 && endOfList(errno))
            break;
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (e.discrete.numerator != 0 && e.discrete.denominator != 0)
                list.push_back(intervalOf(e.discrete));
            continue;
        }
        const FrameInterval fastest = intervalOf(e.stepwise.min);
        const FrameInterval slowest = intervalOf(e.stepwise.max);
        if (fastest.denominator != 0 && slowest.denominator != 0 && fastest.numerator != 0)
            list = intervalsWithin(fastest, slowest);
        break;
    }
    return list;
}

// Sizes a stepwise or continuous range offers: the common ones that fall on
// its steps, and its largest.
std::vector<FrameSize> sizesWithin(const v4l2_frmsize_stepwise& r)
{
    static constexpr FrameSize kCommon[] = { { 160, 120 }, { 176, 144 }, { 320, 240 }, { 352, 288 }, { 640, 360 },
        { 640, 480 }, { 800, 600 }, { 1024, 768 }, { 1280, 720 }, { 1280, 960 }, { 1600, 1200 }, { 1920, 1080 },
        { 2560, 1440 }, { 3840, 2160 } };
    const auto fits = [](std::uint32_t v, std::uint32_t lo, std::uint32_t hi, std::uint32_t step) {
        return v >= lo && v <= hi && (step == 0 || (v - lo) % step == 0);
    };
    std::vector<FrameSize> list;
    for (FrameSize s : kCommon)
        if (fits(std::uint32_t(s.width), r.min_width, r.max_width, r.step_width)
            && fits(std::uint32_t(s.height), r.min_height, r.max_height, r.step_height))
            list.push_back(s);
    const FrameSize largest { int(r.max_width), int(r.max_height) };
    if (largest.width > 0 && largest.height > 0 && std::find(list.begin(), list.end(), largest) == list.end())
        list.push_back(largest);
    return list;
}

long long area(FrameSize s) { return (long long)s.width * s.height; }

// ------------------------------------------------------------- controls

bool supportedType(std::uint32_t type)
{
    switch (type) {
    case V4L2_CTRL_TYPE_INTEGER:
    case V4L2_CTRL_TYPE_BOOLEAN:
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
    case V4L2_CTRL_TYPE_BUTTON:
        return true;
    default:
        return false;
    }
}

CameraControl::Kind kindOf(std::uint32_t type)
{
    switch (type) {
    case V4L2_CTRL_TYPE_BOOLEAN:
        return CameraControl::Kind::Boolean;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return CameraControl::Kind::Menu;
    case V4L2_CTRL_TYPE_BUTTON:
        return CameraControl::Kind::Button;
    default:
        return CameraControl::Kind::Integer;
    }
}

// The items of a menu control; indices the device skips (menus may have
// gaps) are left out.
std::vector<std::pair<std::int32_t, std::string>> menuItems(V4l2Io& io, int fd, const v4l2_queryctrl& q)
{
    std::vector<std::pair<std::int32_t, std::string>> items;
    if (q.minimum < 0 || q.maximum < q.minimum)
        return items;
    const std::int64_t last = std::min<std::int64_t>(q.maximum, std::int64_t(q.minimum) + kMaxEntries);
    for (std::int64_t index = q.minimum; index <= last; ++index) {
        v4l2_querymenu m {};
        m.id = q.id;
        m.index = std::uint32_t(index);
        if (deviceCall(io, fd, VIDIOC_QUERYMENU, &m) != 0) {
            if (deviceGone(errno))
                throw DeviceFailure { errno };
            continue;
        }
        items.emplace_back(std::int32_t(index),
            q.type == V4L2_CTRL_TYPE_INTEGER_MENU ? std::to_string((long long)m.value)
                                                  : fixedText(m.name, sizeof m.name));
    }
    return items;
}

// One control as the user sees it, or false for one to leave out.
bool describe(V4l2Io& io, int fd, const v4l2_queryctrl& q, CameraControl& c)
{
    if ((q.flags & V4L2_CTRL_FLAG_DISABLED) || !supportedType(q.type))
        return false;
    c.id = q.id;
    c.name = fixedText(q.name, sizeof q.name);
    c.kind = kindOf(q.type);
    c.minimum = q.minimum;
    c.maximum = q.maximum;
    c.step = q.step;
    c.defaultValue = q.default_value;
    c.value = q.default_value;
    c.inactive = (q.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
    if (c.kind == CameraControl::Kind::Menu)
        c.menu = menuItems(io, fd, q);
    if (c.kind != CameraControl::Kind::Button && !(q.flags & V4L2_CTRL_FLAG_WRITE_ONLY)) {
        v4l2_control value {};
        value.id = q.id;
        if (deviceCall(io, fd, VIDIOC_G_CTRL, &value) == 0)
            c.value = value.value;
        else if (deviceGone(errno))
            throw DeviceFailure { errno };
    }
    return true;
}

// Asks for one control by its id; false when the device has none of it.
bool queryControl(V4l2Io& io, int fd, std::uint32_t id, v4l2_queryctrl& q)
{
    q = {};
    q.id = id;
    if (deviceCall(io, fd, VIDIOC_QUERYCTRL, &q) == 0)
        return true;
    if (deviceGone(errno))
        throw DeviceFailure { errno };
    return false;
}

} // namespace

int deviceCall(V4l2Io& io, int fd, unsigned long request, void* arg)
{
    int r;
    do
        r = io.ioctl(fd, request, arg);
    while (r == -1 && errno == EINTR);
    return r;
}

void mustCall(V4l2Io& io, int fd, unsigned long request, void* arg)
{
    if (deviceCall(io, fd, request, arg) != 0)
        throw DeviceFailure { errno };
}

std::string errorText(int error)
{
    char buffer[256];
    // The GNU strerror_r, which may return its own static text.
    return strerror_r(error, buffer, sizeof buffer);
}

bool deviceGone(int error) { return error == ENODEV || error == EIO || error == ENXIO || error == EBADF; }

std::uint32_t nodeCapabilities(const v4l2_capability& cap)
{
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool isStreamingCapture(const v4l2_capability& cap)
{
    const std::uint32_t caps = nodeCapabilities(cap);
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::string cardName(const v4l2_capability& cap) { return fixedText(cap.card, sizeof cap.card); }

std::vector<OfferedFormat> offeredFormats(V4l2Io& io, int fd)
{
    std::vector<OfferedFormat> list;
    for (std::uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_fmtdesc d {};
        d.index = index;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (deviceCall(io, fd, VIDIOC_ENUM_FMT, &d) != 0 && endOfList(errno))
            break;
        list.push_back({ d.pixelformat, (d.flags & V4L2_FMT_FLAG_EMULATED) != 0 });
    }
    return list;
}

std::uint32_t choosePixelFormat(const std::vector<OfferedFormat>& formats)
{
    const auto native = [&](std::uint32_t fourcc) {
        return std::any_of(
            formats.begin(), formats.end(), [&](const OfferedFormat& f) { return f.fourcc == fourcc && !f.emulated; });
    };
    for (std::uint32_t fourcc : { V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_JPEG })
        if (native(fourcc))
            return fourcc;
    const bool rgb = std::any_of(
        formats.begin(), formats.end(), [](const OfferedFormat& f) { return f.fourcc == V4L2_PIX_FMT_RGB24; });
    return rgb ? V4L2_PIX_FMT_RGB24 : 0;
}

std::vector<CameraMode> offeredModes(V4l2Io& io, int fd, std::uint32_t fourcc)
{
    std::vector<FrameSize> sizes;
    for (std::uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmsizeenum e {};
        e.index = index;
        e.pixel_format = fourcc;
        if (deviceCall(io, fd, VIDIOC_ENUM_FRAMESIZES, &e) != 0 && endOfList(errno))
            break;
        if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            const FrameSize s { int(e.discrete.width), int(e.discrete.height) };
            if (s.width > 0 && s.height > 0 && std::find(sizes.begin(), sizes.end(), s) == sizes.end())
                sizes.push_back(s);
            continue;
        }
        sizes = sizesWithin(e.stepwise);
        break;
    }
    std::vector<CameraMode> modes;
    for (FrameSize s : sizes)
        modes.push_back({ s, offeredIntervals(io, fd, fourcc, s) });
    return modes;
}

FrameSize defaultSize(const std::vector<CameraMode>& modes, FrameSize current)
{
    if (modes.empty())
        return current;
    for (const CameraMode& m : modes)
        if (m.size == current)
            return current;
    const FrameSize* largestFitting = nullptr;
    const FrameSize* smallest = nullptr;
    for (const CameraMode& m : modes) {
        if (m.size.width <= 1280 && m.size.height <= 720 && (!largestFitting || area(m.size) > area(*largestFitting)))
            largestFitting = &m.size;
        if (!smallest || area(m.size) < area(*smallest))
            smallest = &m.size;
    }
    return largestFitting ? *largestFitting : *smallest;
}

std::vector<CameraControl> deviceControls(V4l2Io& io, int fd)
{
    std::vector<CameraControl> list;
    const auto take = [&](const v4l2_queryctrl& q) {
        CameraControl c;
        if (describe(io, fd, q, c))
            list.push_back(std::move(c));
    };
    v4l2_queryctrl q {};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    if (deviceCall(io, fd, VIDIOC_QUERYCTRL, &q) == 0) {
        for (std::uint32_t n = 0; n < kMaxEntries; ++n) {
            take(q);
            const std::uint32_t previous = q.id;
            if (!queryControl(io, fd, previous | V4L2_CTRL_FLAG_NEXT_CTRL, q) || q.id <= previous)
                break;
        }
        return list;
    }
    if (errno != EINVAL) {
        if (deviceGone(errno))
            throw DeviceFailure { errno };
        return list; // the device has no controls at all
    }
    // A driver that does not know the "next control" flag: ask for each id of
    // the user and camera classes, then the driver's private ones in turn.
    const std::tuple<std::uint32_t, std::uint32_t> ranges[]
        = { { V4L2_CID_BASE, V4L2_CID_LASTP1 }, { V4L2_CID_CAMERA_CLASS_BASE + 1, V4L2_CID_CAMERA_CLASS_BASE + 64 } };
    for (auto [first, end] : ranges)
        for (std::uint32_t id = first; id < end; ++id)
            if (queryControl(io, fd, id, q))
                take(q);
    for (std::uint32_t id = V4L2_CID_PRIVATE_BASE; id < V4L2_CID_PRIVATE_BASE + kMaxEntries; ++id) {
        if (!queryControl(io, fd, id, q))
            break;
        take(q);
    }
    return list;
}
