// The content of the fake devices: the builders of their descriptions, their
// controls' answers and the frames they deliver.
#include "fake_v4l2.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <jpeglib.h>

namespace {

void copyText(std::uint8_t* to, std::size_t capacity, const std::string& text)
{
    std::memset(to, 0, capacity);
    std::memcpy(to, text.data(), std::min(text.size(), capacity - 1));
}

int fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

FakeFormat fakeFormat(
    std::uint32_t fourcc, std::vector<FrameSize> sizes, std::vector<FrameInterval> intervals, bool emulated)
{
    FakeFormat f;
    f.fourcc = fourcc;
    f.emulated = emulated;
    for (FrameSize s : sizes)
        f.sizes.push_back({ s, intervals });
    return f;
}

FakeDevice fakeCamera(std::string path, std::string card, std::vector<FakeFormat> formats)
{
    FakeDevice d;
    d.path = std::move(path);
    d.card = std::move(card);
    d.formats = std::move(formats);
    return d;
}

std::shared_ptr<const TBitmap> waitForFrame(Camera& camera, FrameSize size, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::shared_ptr<const TBitmap> frame = camera.fetchFrame();
        if (frame && frame->width() == size.width && frame->height() == size.height)
            return frame;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return nullptr;
}

int fakeControlRequest(
    std::vector<FakeControl>& controls, bool nextControl, FakeLog& log, unsigned long request, void* arg)
{
    const auto find = [&](std::uint32_t id) -> FakeControl* {
        for (FakeControl& c : controls)
            if (c.id == id)
                return &c;
        return nullptr;
    };
    switch (request) {
    case VIDIOC_QUERYCTRL: {
        auto& q = *static_cast<v4l2_queryctrl*>(arg);
        const FakeControl* c = nullptr;
        if (q.id & V4L2_CTRL_FLAG_NEXT_CTRL) {
            if (!nextControl)
                return fail(EINVAL);
            const std::uint32_t after = q.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
            for (const FakeControl& x : controls)
                if (x.id > after && (c == nullptr || x.id < c->id))
                    c = &x;
        } else {
            c = find(q.id);
        }
        if (c == nullptr)
            return fail(EINVAL);
        q = {};
        q.id = c->id;
        q.type = c->type;
        copyText(q.name, sizeof q.name, c->name);
        q.minimum = c->minimum;
        q.maximum = c->maximum;
        q.step = c->step;
        q.default_value = c->defaultValue;
        q.flags = c->flags;
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto& m = *static_cast<v4l2_querymenu*>(arg);
        const FakeControl* c = find(m.id);
        if (c == nullptr || (c->type != V4L2_CTRL_TYPE_MENU && c->type != V4L2_CTRL_TYPE_INTEGER_MENU)
            || std::int64_t(m.index) < c->minimum || std::int64_t(m.index) > c->maximum)
            return fail(EINVAL);
        const std::size_t at = m.index - std::uint32_t(c->minimum);
        if (c->type == V4L2_CTRL_TYPE_INTEGER_MENU) {
            if (at >= c->integerMenu.size())
                return fail(EINVAL);
            m.value = c->integerMenu[at];
            return 0;
        }
        if (at >= c->menu.size() || c->menu[at].empty())
            return fail(EINVAL);
        copyText(m.name, sizeof m.name, c->menu[at]);
        return 0;
    }
    case VIDIOC_G_CTRL: {
        auto& v = *static_cast<v4l2_control*>(arg);
        const FakeControl* c = find(v.id);
        if (c == nullptr)
            return fail(EINVAL);
        if (c->type == V4L2_CTRL_TYPE_BUTTON || (c->flags & V4L2_CTRL_FLAG_WRITE_ONLY))
            return fail(EACCES);
        v.value = c->value;
        return 0;
    }
    case VIDIOC_S_CTRL: {
        auto& v = *static_cast<v4l2_control*>(arg);
        log.setControls.push_back(v);
        FakeControl* c = find(v.id);
        if (c == nullptr)
            return fail(EINVAL);
        if (c->flags & V4L2_CTRL_FLAG_READ_ONLY)
            return fail(EACCES);
        if (c->type == V4L2_CTRL_TYPE_MENU || c->type == V4L2_CTRL_TYPE_INTEGER_MENU) {
            v4l2_querymenu probe {};
            probe.id = v.id;
            probe.index = std::uint32_t(v.value);
            if (v.value < c->minimum || v.value > c->maximum
                || fakeControlRequest(controls, nextControl, log, VIDIOC_QUERYMENU, &probe) != 0)
                return fail(EINVAL);
        } else if (c->type != V4L2_CTRL_TYPE_BUTTON) {
            v.value = std::clamp(v.value, c->minimum, c->maximum);
        }
        c->value = v.value;
        return 0;
    }
    default:
        return fail(ENOTTY);
    }
}

// ---------------------------------------------------------------- frames

TBitmap fakePicture(FrameSize size, std::uint64_t number)
{
    TBitmap picture;
    picture.allocateUninitialized(size.width, size.height);
    const int shift = int(number % 64) * 4;
    const int wide = std::max(size.width - 1, 1);
    const int tall = std::max(size.height - 1, 1);
    for (int y = 0; y < size.height; ++y) {
        std::uint32_t* row = picture.scanLine(y);
        // The green ramp rolls down a step every frame: the pattern repeats
        // only after 256 frames.
        const std::uint32_t green = std::uint32_t(y * 255 / tall + int(number % 256)) & 0xFF;
        for (int x = 0; x < size.width; ++x) {
            const std::uint32_t red = std::uint32_t(x * 255 / wide);
            const std::uint32_t blue = ((x + y + shift) / 16) % 2 ? 224 : 32;
            row[x] = 0xFF000000u | red << 16 | green << 8 | blue;
        }
    }
    return picture;
}

namespace {

// BT.601 limited range, the way a camera's encoder makes YUYV.
std::uint8_t limited(double v) { return std::uint8_t(std::clamp(v + 0.5, 0.0, 255.0)); }

std::vector<std::uint8_t> yuyvOf(const TBitmap& picture, std::size_t stride)
{
    const int w = picture.width();
    const int h = picture.height();
    std::vector<std::uint8_t> bytes(stride * std::size_t(h));
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* in = picture.scanLine(y);
        std::uint8_t* out = bytes.data() + stride * std::size_t(y);
        for (int x = 0; x < w; x += 2) {
            double u = 0;
            double v = 0;
            for (int i = 0; i < 2; ++i) {
                const std::uint32_t p = in[std::min(x + i, w - 1)];
                const double r = (p >> 16) & 0xFF;
                const double g = (p >> 8) & 0xFF;
                const double b = p & 0xFF;
                out[2 * (x + i)] = limited(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
                u += 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
                v += 128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255;
            }
            out[2 * x + 1] = limited(u / 2);
            out[2 * x + 3] = limited(v / 2);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> rgb24Of(const TBitmap& picture, std::size_t stride)
{
    std::vector<std::uint8_t> bytes(stride * std::size_t(picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint32_t* in = picture.scanLine(y);
        std::uint8_t* out = bytes.data() + stride * std::size_t(y);
        for (int x = 0; x < picture.width(); ++x) {
            out[3 * x] = std::uint8_t(in[x] >> 16);
            out[3 * x + 1] = std::uint8_t(in[x] >> 8);
            out[3 * x + 2] = std::uint8_t(in[x]);
        }
    }
    return bytes;
}

struct EncodeErrors {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
};

void escapeEncode(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<EncodeErrors*>(cinfo->err)->escape, 1); }

// The one function with setjmp; `out` is malloc'ed by the library and
// freed by the caller, also after an error.
bool runEncode(const TBitmap& picture, int quality, unsigned char** out, unsigned long* outSize)
{
    jpeg_compress_struct cinfo;
    EncodeErrors err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = escapeEncode;
    if (setjmp(err.escape)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = JDIMENSION(picture.width());
    cinfo.image_height = JDIMENSION(picture.height());
    cinfo.input_components = 4;
    cinfo.in_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // 4:2:2, as UVC cameras encode.
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // The library only reads its input rows.
        JSAMPROW row
            = reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(picture.scanLine(int(cinfo.next_scanline))));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// The JPEG without its DHT segments.
std::vector<std::uint8_t> withoutHuffmanTables(const std::uint8_t* p, std::size_t n)
{
    std::vector<std::uint8_t> out(p, p + 2);
    std::size_t i = 2;
    while (i + 4 <= n && p[i] == 0xFF && p[i + 1] != 0xDA) {
        const std::size_t length = 2 + (std::size_t(p[i + 2]) << 8 | p[i + 3]);
        if (p[i + 1] != 0xC4)
            out.insert(out.end(), p + i, p + std::min(n, i + length));
        i += length;
    }
    if (i < n)
        out.insert(out.end(), p + i, p + n);
    return out;
}

} // namespace

std::vector<std::uint8_t> encodeMjpeg(const TBitmap& picture, int quality, bool huffmanTables)
{
    unsigned char* block = nullptr;
    unsigned long size = 0;
    const bool done = runEncode(picture, quality, &block, &size);
    const std::unique_ptr<unsigned char, void (*)(void*)> owned(block, std::free);
    if (!done || block == nullptr)
        throw std::runtime_error("the fake camera's JPEG encoder failed");
    return huffmanTables ? std::vector<std::uint8_t>(block, block + size) : withoutHuffmanTables(block, size);
}

std::vector<std::uint8_t> fakeFrame(const FakeFrameRequest& request)
{
    const TBitmap picture = fakePicture(request.size, request.number);
    switch (request.fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return yuyvOf(picture, std::max(request.stride, (std::size_t(request.size.width) + 1) / 2 * 4));
    case V4L2_PIX_FMT_RGB24:
        return rgb24Of(picture, std::max(request.stride, std::size_t(request.size.width) * 3));
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return encodeMjpeg(picture, 85, request.huffmanTables);
    default:
        // A format the fake has no picture for: grey bytes.
        return std::vector<std::uint8_t>(std::size_t(request.size.width) * std::size_t(request.size.height) * 2, 0x80);
    }
}
