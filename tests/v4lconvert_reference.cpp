#include "v4lconvert_reference.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include <cerrno>
#include <cstring>

namespace {

// Without a device, libv4lconvert asks only what the device is.
int detachedIoctl(void*, int, unsigned long request, void* arg)
{
    if (request == VIDIOC_QUERYCAP) {
        auto* caps = static_cast<v4l2_capability*>(arg);
        *caps = {};
        std::strcpy(reinterpret_cast<char*>(caps->driver), "none");
        caps->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

libv4l_dev_ops detachedOps()
{
    libv4l_dev_ops ops {};
    ops.ioctl = detachedIoctl;
    return ops;
}

} // namespace

V4lconvertReference::V4lconvertReference()
{
    // libv4lconvert keeps the pointer to its device operations.
    static libv4l_dev_ops ops = detachedOps();
    converter_ = v4lconvert_create_with_dev_ops(-1, nullptr, &ops);
}

V4lconvertReference::~V4lconvertReference()
{
    if (converter_)
        v4lconvert_destroy(converter_);
}

bool V4lconvertReference::toRgb24(std::uint32_t fourcc, FrameSize size, std::size_t stride,
    const std::vector<std::uint8_t>& frame, std::vector<std::uint8_t>& rgb)
{
    if (!converter_)
        return false;
    v4l2_format from {};
    from.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    from.fmt.pix.width = std::uint32_t(size.width);
    from.fmt.pix.height = std::uint32_t(size.height);
    from.fmt.pix.pixelformat = fourcc;
    from.fmt.pix.field = V4L2_FIELD_NONE;
    from.fmt.pix.bytesperline = std::uint32_t(stride);
    from.fmt.pix.sizeimage = std::uint32_t(frame.size());
    v4l2_format to = from;
    to.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    to.fmt.pix.bytesperline = std::uint32_t(size.width) * 3;
    to.fmt.pix.sizeimage = to.fmt.pix.bytesperline * std::uint32_t(size.height);
    rgb.resize(to.fmt.pix.sizeimage);
    const int written = v4lconvert_convert(converter_, &from, &to, const_cast<std::uint8_t*>(frame.data()),
        int(frame.size()), rgb.data(), int(rgb.size()));
    return written == int(rgb.size());
}

std::string V4lconvertReference::error() const
{
    return converter_ ? v4lconvert_get_error_message(converter_) : "libv4lconvert could not be set up";
}
