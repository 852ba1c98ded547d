#include "bitmap.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

namespace {
std::atomic<long> gLive { 0 };
}

TBitmap::TBitmap() { ++gLive; }
TBitmap::~TBitmap() { --gLive; }

TBitmap::TBitmap(TBitmap&& other) noexcept
    : width_(std::exchange(other.width_, 0))
    , height_(std::exchange(other.height_, 0))
    , pixels_(std::move(other.pixels_))
    , fill_(other.fill_)
{
    ++gLive;
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept
{
    if (this != &other) {
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        pixels_ = std::move(other.pixels_);
        fill_ = other.fill_;
    }
    return *this;
}

long TBitmap::liveCount() { return gLive.load(); }

void TBitmap::setWidth(int w) { resize(w, height_); }
void TBitmap::setHeight(int h) { resize(width_, h); }
void TBitmap::setSize(int w, int h) { resize(w, h); }

void TBitmap::resize(int w, int h)
{
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == width_ && h == height_)
        return;
    if (w == 0 || h == 0) {
        pixels_.reset();
        width_ = w;
        height_ = h;
        return;
    }
    // Allocate before touching anything, so a failed allocation leaves the
    // bitmap as it was.
    std::unique_ptr<std::uint32_t[]> store(new std::uint32_t[std::size_t(w) * std::size_t(h)]);
    const std::uint32_t background = pixelFromColor(fill_);
    const int keepW = pixels_ ? std::min(w, width_) : 0;
    const int keepH = pixels_ ? std::min(h, height_) : 0;
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = store.get() + std::size_t(y) * std::size_t(w);
        int from = 0;
        if (y < keepH) {
            std::memcpy(row, scanLine(y), std::size_t(keepW) * sizeof(std::uint32_t));
            from = keepW;
        }
        std::fill(row + from, row + w, background);
    }
    pixels_ = std::move(store);
    width_ = w;
    height_ = h;
}

void TBitmap::allocateUninitialized(int w, int h)
{
    w = std::max(w, 0);
    h = std::max(h, 0);
    std::unique_ptr<std::uint32_t[]> store;
    if (w > 0 && h > 0)
        store.reset(new std::uint32_t[std::size_t(w) * std::size_t(h)]);
    pixels_ = std::move(store);
    width_ = w;
    height_ = h;
}

TColor TBitmap::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || !pixels_)
        return CLR_INVALID;
    return colorFromPixel(scanLine(y)[x]);
}

void TBitmap::setFillColor(TColor c)
{
    fill_ = c;
}

void TBitmap::fillRect(int left, int top, int right, int bottom)
{
    if (!pixels_)
        return;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width_);
    bottom = std::min(bottom, height_);
    if (right <= left || bottom <= top)
        return;
    const std::uint32_t p = pixelFromColor(fill_);
    for (int y = top; y < bottom; ++y)
        std::fill(scanLine(y) + left, scanLine(y) + right, p);
}

void TBitmap::copyRect(int dx, int dy, const TBitmap& src, int sx, int sy, int w, int h)
{
    if (!pixels_ || !src.pixels_)
        return;
    // Clip against the source, then against this bitmap, moving both corners
    // together so that the pixel correspondence stays the same.
    auto clip = [](int& a, int& b, int& n, int limitA, int limitB) {
        if (a < 0) { n += a; b -= a; a = 0; }
        if (b < 0) { n += b; a -= b; b = 0; }
        n = std::min({ n, limitA - a, limitB - b });
    };
    clip(sx, dx, w, src.width_, width_);
    clip(sy, dy, h, src.height_, height_);
    if (w <= 0 || h <= 0)
        return;
    for (int j = 0; j < h; ++j)
        std::memmove(scanLine(dy + j) + dx, src.scanLine(sy + j) + sx, std::size_t(w) * sizeof(std::uint32_t));
}

void TBitmap::draw(const TBitmap& src) { copyRect(0, 0, src, 0, 0, src.width_, src.height_); }

void TBitmap::crop(int x, int y, int w, int h)
{
    const int x0 = std::clamp(x, 0, width_), y0 = std::clamp(y, 0, height_);
    const int x1 = std::clamp(x + std::max(w, 0), x0, width_), y1 = std::clamp(y + std::max(h, 0), y0, height_);
    if (x1 == x0 || y1 == y0) {
        pixels_.reset();
        width_ = height_ = 0;
        return;
    }
    // Row j lands at j * (x1 - x0), never past where it was read from,
    // and rows are moved in order: nothing is overwritten before it is read.
    const std::size_t keep = std::size_t(x1 - x0);
    for (int j = 0; j < y1 - y0; ++j)
        std::memmove(pixels_.get() + std::size_t(j) * keep, scanLine(y0 + j) + x0, keep * sizeof(std::uint32_t));
    width_ = x1 - x0;
    height_ = y1 - y0;
}

void TBitmap::takeOver(TBitmap&& src)
{
    width_ = std::exchange(src.width_, 0);
    height_ = std::exchange(src.height_, 0);
    pixels_ = std::move(src.pixels_);
}
