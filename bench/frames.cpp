#include "frames.h"

#include "compose/anaglyph.h"
#include "reference_anaglyph.h"

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
            const std::uint32_t* want = ref.scanLine(originOfBlockHolding(j, s));
            if (s > 1) {
                for (int x = 0; x < w; ++x)
                    expanded[std::size_t(x)] = want[originOfBlockHolding(x, s)];
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

TBitmap copyOf(const TBitmap& picture)
{
    TBitmap copy;
    copy.setSize(picture.width(), picture.height());
    copy.copyRect(0, 0, picture, 0, 0, picture.width(), picture.height());
    return copy;
}

std::vector<std::uint8_t> encodePpm(const TBitmap& picture)
{
    const int w = picture.width();
    const int h = picture.height();
    const std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<std::uint8_t> bytes(header.size() + std::size_t(w) * std::size_t(h) * 3);
    std::memcpy(bytes.data(), header.data(), header.size());
    std::uint8_t* out = bytes.data() + header.size();
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* row = picture.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = row[x];
            *out++ = std::uint8_t(p >> 16);
            *out++ = std::uint8_t(p >> 8);
            *out++ = std::uint8_t(p);
        }
    }
    return bytes;
}

std::string comparePictures(const TBitmap& got, const TBitmap& want, double maxLumaMean, double maxChannelMean)
{
    char msg[256];
    const int w = want.width();
    const int h = want.height();
    if (got.width() != w || got.height() != h) {
        std::snprintf(msg, sizeof msg, "the picture is %dx%d, not %dx%d", got.width(), got.height(), w, h);
        return msg;
    }
    if (w == 0 || h == 0)
        return {};
    const bool exact = maxLumaMean <= 0 && maxChannelMean <= 0;
    std::uint64_t sum[4] = {}; // red, green, blue, luma
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* a = got.scanLine(y);
        const std::uint32_t* b = want.scanLine(y);
        if (exact) {
            if (std::memcmp(a, b, std::size_t(w) * sizeof(std::uint32_t)) != 0) {
                int x = 0;
                while (a[x] == b[x])
                    ++x;
                std::snprintf(msg, sizeof msg, "pixel (%d, %d) is #%08X, it should be #%08X", x, y, unsigned(a[x]),
                    unsigned(b[x]));
                return msg;
            }
            continue;
        }
        for (int x = 0; x < w; ++x) {
            int luma = 0;
            for (int c = 0; c < 3; ++c) {
                const int shift = 16 - 8 * c;
                const int d = int((a[x] >> shift) & 0xFF) - int((b[x] >> shift) & 0xFF);
                sum[c] += std::uint64_t(d < 0 ? -d : d);
                static constexpr int kWeights[3] = { 77, 151, 28 }; // out of 256
                luma += kWeights[c] * d;
            }
            sum[3] += std::uint64_t(luma < 0 ? -luma : luma);
        }
    }
    if (exact)
        return {};
    const double pixels = double(w) * double(h);
    static const char* const names[3] = { "red", "green", "blue" };
    const double lumaMean = double(sum[3]) / 256.0 / pixels;
    if (lumaMean > maxLumaMean) {
        std::snprintf(msg, sizeof msg, "the luma differs by %.2f on average (at most %.2f expected)", lumaMean,
            maxLumaMean);
        return msg;
    }
    for (int c = 0; c < 3; ++c) {
        const double mean = double(sum[c]) / pixels;
        if (mean > maxChannelMean) {
            std::snprintf(msg, sizeof msg, "the %s channel differs by %.2f on average (at most %.2f expected)",
                names[c], mean, maxChannelMean);
            return msg;
        }
    }
    return {};
}
