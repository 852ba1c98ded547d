// The in-memory picture shared by frames, the anaglyph and the builder's
// working bitmap.
#pragma once

#include "colors.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    // Each resizes on its own; callers set the width first, then the height.
    // The pixels a resize adds take the fill colour, which is white until
    // setFillColor; the old pixels stay at their positions.
    void setWidth(int w);
    void setHeight(int h);
    // Same result as setWidth(w) followed by setHeight(h), with one allocation.
    void setSize(int w, int h);
    // Gives the bitmap a new pixel store of w x h whose pixels are left
    // unset, for a decoder that writes every one of them. Until then the
    // memory is not touched, so a file that claims a large picture and then
    // ends early costs no time.
    void allocateUninitialized(int w, int h);

    // The colour at (x, y), or CLR_INVALID outside the bitmap (an empty
    // bitmap has no inside at all). Reads (this, the source of copyRect,
    // scanLine and bits of a const bitmap) write nothing, so any number of
    // threads may read one bitmap at once.
    TColor pixel(int x, int y) const;

    TColor fillColor() const { return fill_; }
    void setFillColor(TColor c);
    // Paints left <= x < right, top <= y < bottom, clipped to the bitmap.
    void fillRect(int left, int top, int right, int bottom);
    // Copies w x h pixels from (sx, sy) of src to (dx, dy) of this bitmap,
    // clipped to both bitmaps.
    void copyRect(int dx, int dy, const TBitmap& src, int sx, int sy, int w, int h);
    // Puts src's pixels onto this bitmap with its top-left corner at (0, 0).
    void draw(const TBitmap& src);
    // Keeps only the w x h pixels from (x, y), clipped to the bitmap, in the
    // same pixel store: the rows move to its front, so nothing is allocated
    // and no memory is touched for the first time. An empty rectangle
    // leaves the bitmap empty.
    void crop(int x, int y, int w, int h);
    // Takes over src's size and pixels; src is left empty.
    void takeOver(TBitmap&& src);

    // Raw access for hot loops: one row of width() pixels stored as
    // 0xFFRRGGBB words. Only valid on a bitmap that is not empty.
    std::uint32_t* scanLine(int y) { return pixels_.get() + std::size_t(y) * std::size_t(width_); }
    const std::uint32_t* scanLine(int y) const
    {
        return pixels_.get() + std::size_t(y) * std::size_t(width_);
    }
    const std::uint32_t* bits() const { return pixels_.get(); }

    // How many bitmaps exist right now; lets callers verify that temporary
    // bitmaps are released.
    static long liveCount();

private:
    void resize(int w, int h);

    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<std::uint32_t[]> pixels_;
    TColor fill_ = clWhite;
};
