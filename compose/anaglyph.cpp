#include "anaglyph.h"

#include <algorithm>
#include <cstdlib>

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
