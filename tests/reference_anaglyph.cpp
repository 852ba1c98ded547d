#include "reference_anaglyph.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

TBitmap referenceAnaglyph(const TBitmap& frame1, const TBitmap& frame2, int dx, int dy, bool swap, Gains gains)
{
    TBitmap out;
    if (frame1.empty() || frame2.empty())
        return out;
    // Frame 2 sits dx, dy further on than frame 1; only where both lie is
    // kept. In long long: an offset may be any int.
    const long long W = frame2.width(), H = frame2.height();
    const long long width = std::max(W - std::llabs(dx), 0LL);
    const long long height = std::max(H - std::llabs(dy), 0LL);
    out.setSize(int(width), int(height));
    if (out.empty())
        return out;
    const int left = dx > 0 ? dx : 0;
    const int top = dy > 0 ? dy : 0;
    const TBitmap& redFrame = swap ? frame2 : frame1;
    const TBitmap& cyanFrame = swap ? frame1 : frame2;
    for (int j = 0; j < out.height(); ++j) {
        const int y = top + j; // in the red frame
        const std::uint32_t* redRow = redFrame.scanLine(y);
        const std::uint32_t* cyanRow = cyanFrame.scanLine(y - dy);
        std::uint32_t* outRow = out.scanLine(j);
        for (int i = 0; i < out.width(); ++i) {
            const int x = left + i;
            const std::uint32_t a = redRow[x];
            const std::uint32_t c = cyanRow[x - dx];
            const int r = gains.r * int((a >> 16) & 0xFF) / 255;
            const int g = gains.g * int((c >> 8) & 0xFF) / 255;
            const int b = gains.b * int(c & 0xFF) / 255;
            outRow[i] = 0xFF000000u | std::uint32_t(r << 16) | std::uint32_t(g << 8) | std::uint32_t(b);
        }
    }
    return out;
}
