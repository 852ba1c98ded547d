#include "anaglyph.h"

#include <algorithm>
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
        const long long x = (long long)c * s;
        if (x >= work.width())
            break; // this and later squares lie wholly outside the bitmap
        if (blockColor(in, int(x), y, p))
            fillSquare(work, int(x), y, s, p);
    }
}

TBitmap referenceAnaglyph(const TBitmap& frame1, const TBitmap& frame2, int dx, int dy, bool swap, Gains gains)
{
    TBitmap out;
    const int w = frame2.width() - std::abs(dx);
    const int h = frame2.height() - std::abs(dy);
    if (w <= 0 || h <= 0 || frame1.empty() || frame2.empty())
        return out;
    out.setSize(w, h);
    const int mx = std::max(dx, 0), my = std::max(dy, 0);
    const int nx = std::max(-dx, 0), ny = std::max(-dy, 0);
    const TBitmap& redSource = swap ? frame2 : frame1;
    const TBitmap& cyanSource = swap ? frame1 : frame2;
    for (int j = 0; j < h; ++j) {
        const std::uint32_t* red = redSource.scanLine(j + my) + mx;
        const std::uint32_t* cyan = cyanSource.scanLine(j + ny) + nx;
        std::uint32_t* o = out.scanLine(j);
        for (int i = 0; i < w; ++i)
            o[i] = composePixel(gains, int((red[i] >> 16) & 0xFF), int((cyan[i] >> 8) & 0xFF), int(cyan[i] & 0xFF));
    }
    return out;
}
