#include "anaglyph.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

// A read that follows the bitmap rules: outside (or empty) gives CLR_INVALID.
inline TColor readPixel(const TBitmap& b, int x, int y)
{
    if (x < 0 || y < 0 || x >= b.width() || y >= b.height() || b.empty())
        return CLR_INVALID;
    return colorFromPixel(b.scanLine(y)[x]);
}

inline std::uint32_t composePixel(const Gains& g, int r, int gr, int bl)
{
    return 0xFF000000u | (std::uint32_t(scaleChannel(g.r, r)) << 16)
        | (std::uint32_t(scaleChannel(g.g, gr)) << 8) | std::uint32_t(scaleChannel(g.b, bl));
}

// One block by the general rules. Returns false when the bounds test skips it.
inline bool blockColor(const BlockInputs& in, int x, int y, std::uint32_t& out)
{
    const long long sx = (long long)x - in.dx;
    const long long sy = (long long)y - in.dy;
    const bool inside = !(sx >= in.W1 || sy >= in.H1 || sx < 0 || sy < 0);
    if (!inside)
        return false;
    const TBitmap& redSource = in.swap ? *in.frame2 : *in.frame1;
    const TBitmap& cyanSource = in.swap ? *in.frame1 : *in.frame2;
    const TColor red = readPixel(redSource, x, y);
    const TColor cyan = readPixel(cyanSource, int(sx), int(sy));
    out = composePixel(in.gains, GetRValue(red), GetGValue(cyan), GetBValue(cyan));
    return true;
}

void fillSquare(TBitmap& work, int x, int y, int s, std::uint32_t p)
{
    const int right = int(std::min<long long>((long long)x + s, work.width()));
    const int bottom = int(std::min<long long>((long long)y + s, work.height()));
    for (int yy = y; yy < bottom; ++yy) {
        std::uint32_t* row = work.scanLine(yy);
        std::fill(row + x, row + right, p);
    }
}

// Block step 1: every block is one pixel. The stretch of the row where both
// reads fall inside their bitmaps runs on raw rows; whatever lies around it
// (reads past a frame that was replaced by a smaller one, say) goes through
// the general rule.
void paintPixelRun(const BlockInputs& in, int y, int xFirst, int xLast, TBitmap& work)
{
    xLast = std::min(xLast, work.width() - 1);
    if (y >= work.height() || xFirst > xLast)
        return;
    const long long sy = (long long)y - in.dy;
    if (sy < 0 || sy >= in.H1)
        return;
    // The bounds test passes for dx <= x < dx + W1.
    const int lo = int(std::max<long long>(xFirst, in.dx));
    const int hi = int(std::min<long long>(xLast, (long long)in.dx + in.W1 - 1));
    if (lo > hi)
        return;

    const TBitmap& redSource = in.swap ? *in.frame2 : *in.frame1;
    const TBitmap& cyanSource = in.swap ? *in.frame1 : *in.frame2;
    int fastLo = lo;
    int fastHi = -1;
    if (y < redSource.height() && sy < cyanSource.height() && !redSource.empty() && !cyanSource.empty()) {
        fastLo = int(std::max<long long>({ (long long)lo, 0LL, (long long)in.dx }));
        fastHi = int(std::min<long long>({ (long long)hi, (long long)redSource.width() - 1,
            (long long)cyanSource.width() + in.dx - 1 }));
    }
    std::uint32_t* out = work.scanLine(y);
    auto general = [&](int from, int to) {
        std::uint32_t p;
        for (int x = from; x <= to; ++x)
            if (blockColor(in, x, y, p))
                out[x] = p;
    };
    if (fastLo > fastHi) {
        general(lo, hi);
        return;
    }
    general(lo, fastLo - 1);
    const std::uint32_t* red = redSource.scanLine(y);
    const std::uint32_t* cyan = cyanSource.scanLine(int(sy)) - in.dx;
    const unsigned gr = unsigned(in.gains.r), gg = unsigned(in.gains.g), gb = unsigned(in.gains.b);
    for (int x = fastLo; x <= fastHi; ++x) {
        const std::uint32_t a = red[x];
        const std::uint32_t c = cyan[x];
        out[x] = 0xFF000000u | (((gr * ((a >> 16) & 0xFF)) / 255u) << 16) | (((gg * ((c >> 8) & 0xFF)) / 255u) << 8)
            | ((gb * (c & 0xFF)) / 255u);
    }
    general(fastHi + 1, hi);
}

} // namespace

Overlap overlapOf(int W, int H, int dx, int dy)
{
    // In long long: an offset may be any int, the most negative included.
    Overlap o;
    o.x = std::max(dx, 0);
    o.y = std::max(dy, 0);
    o.width = clampToInt(std::max<long long>((long long)W - std::llabs(dx), 0));
    o.height = clampToInt(std::max<long long>((long long)H - std::llabs(dy), 0));
    return o;
}

TBitmap cropToOverlap(TBitmap&& work, const Overlap& keep)
{
    TBitmap out;
    if (keep.x == 0 && keep.y == 0 && keep.width == work.width() && keep.height == work.height()) {
        out.takeOver(std::move(work));
        return out;
    }
    out.setSize(keep.width, keep.height);
    out.copyRect(0, 0, work, keep.x, keep.y, keep.width, keep.height);
    work.setSize(0, 0);
    return out;
}

int gaugeMaximum(int W, int H) { return clampToInt((long long)W * H); }

int gaugePosition(int W, long long x, int y) { return clampToInt((long long)W * y + x); }

void paintBlockRun(const BlockInputs& in, int s, int y, int cFirst, int cLast, TBitmap& work)
{
    if (work.empty() || cFirst > cLast)
        return;
    if (s == 1) {
        paintPixelRun(in, y, cFirst, cLast, work);
        return;
    }
    if (y >= work.height())
        return;
    std::uint32_t p;
    for (int c = cFirst; c <= cLast; ++c) {
        const long long x = blockOrigin(c, s);
        if (x >= work.width())
            break; // this and later squares lie wholly outside the bitmap
        if (blockColor(in, int(x), y, p))
            fillSquare(work, int(x), y, s, p);
    }
}

TBitmap referenceAnaglyph(const TBitmap& frame1, const TBitmap& frame2, int dx, int dy, bool swap, Gains gains)
{
    TBitmap out;
    if (frame1.empty() || frame2.empty())
        return out;
    const Overlap keep = overlapOf(frame2.width(), frame2.height(), dx, dy);
    out.setSize(keep.width, keep.height);
    if (out.empty())
        return out;
    const TBitmap& redSource = swap ? frame2 : frame1;
    const TBitmap& cyanSource = swap ? frame1 : frame2;
    // Pixel (i, j) is working pixel (keep.x + i, keep.y + j): red is read
    // there, cyan there shifted back by the offsets, which stays inside
    // because the overlap is not empty.
    for (int j = 0; j < keep.height; ++j) {
        const std::uint32_t* red = redSource.scanLine(keep.y + j) + keep.x;
        const std::uint32_t* cyan = cyanSource.scanLine(keep.y + j - dy) + (keep.x - dx);
        std::uint32_t* o = out.scanLine(j);
        for (int i = 0; i < keep.width; ++i)
            o[i] = composePixel(gains, int((red[i] >> 16) & 0xFF), int((cyan[i] >> 8) & 0xFF), int(cyan[i] & 0xFF));
    }
    return out;
}
