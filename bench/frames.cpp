#include "frames.h"

#include "compose/anaglyph.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

TBitmap makeFrame(int w, int h, std::uint32_t seed)
{
    TBitmap b;
    b.setSize(w, h);
    if (b.empty())
        return b;
    const bool reversed = (seed & 1) != 0;
    // 16.16 fixed-point steps so that each gradient spans 0..255 across the
    // picture without a division per pixel.
    const std::uint32_t stepX = (255u << 16) / std::uint32_t(std::max(w - 1, 1));
    const std::uint32_t stepY = (255u << 16) / std::uint32_t(std::max(h - 1, 1));
    std::uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    if (state == 0)
        state = 1;
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        const std::uint32_t gy = (std::uint32_t(y) * stepY) >> 16;
        std::uint32_t fx = reversed ? 255u << 16 : 0;
        for (int x = 0; x < w; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const std::uint32_t gx = fx >> 16;
            fx = reversed ? fx - stepX : fx + stepX;
            const std::uint32_t r = (gx + (state & 0x3F)) & 0xFF;
            const std::uint32_t g = (gy ^ ((state >> 8) & 0x3F)) & 0xFF;
            const std::uint32_t bl = (((gx + gy) >> 1) + ((state >> 16) & 0x1F)) & 0xFF;
            row[x] = 0xFF000000u | (r << 16) | (g << 8) | bl;
        }
    }
    return b;
}

std::string checkAnaglyph(const TBitmap& anaglyph, const TBitmap& frame1, const TBitmap& frame2, int s)
{
    char msg[256];
    const int w = frame1.width();
    const int h = frame1.height();
    if (frame2.width() != w || frame2.height() != h || anaglyph.width() != w || anaglyph.height() != h) {
        std::snprintf(msg, sizeof msg, "anaglyph is %dx%d, frames are %dx%d and %dx%d", anaglyph.width(),
            anaglyph.height(), w, h, frame2.width(), frame2.height());
        return msg;
    }
    if (w == 0 || h == 0)
        return {};
    s = std::max(s, 1);
    // Bands start on block rows, so each block's top-left corner lies in the
    // band that holds the block.
    const int band = std::max(64 / s, 1) * s;
    TBitmap part1, part2;
    std::vector<std::uint32_t> expanded(std::size_t(w), 0);
    for (int y0 = 0; y0 < h; y0 += band) {
        const int rows = std::min(band, h - y0);
        part1.setSize(w, rows);
        part2.setSize(w, rows);
        part1.copyRect(0, 0, frame1, 0, y0, w, rows);
        part2.copyRect(0, 0, frame2, 0, y0, w, rows);
        const TBitmap ref = referenceAnaglyph(part1, part2, 0, 0, false, Gains {});
        if (ref.width() != w || ref.height() != rows)
            return "referenceAnaglyph returned a picture of the wrong size";
        for (int j = 0; j < rows; ++j) {
            const std::uint32_t* want = ref.scanLine(j / s * s);
            if (s > 1) {
                for (int x = 0; x < w; ++x)
                    expanded[std::size_t(x)] = want[x - x % s];
                want = expanded.data();
            }
            const std::uint32_t* got = anaglyph.scanLine(y0 + j);
            if (std::memcmp(got, want, std::size_t(w) * sizeof(std::uint32_t)) != 0) {
                int x = 0;
                while (got[x] == want[x])
                    ++x;
                std::snprintf(msg, sizeof msg, "pixel (%d, %d) is #%08X, the reference has #%08X", x, y0 + j,
                    unsigned(got[x]), unsigned(want[x]));
                return msg;
            }
        }
    }
    return {};
}
