#include "handheld.h"

#include "compose/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <thread>
#include <vector>

namespace {

// The scene's pixels as floats, with its edge pixels repeated twice all
// round, so that the sixteen taps of a bicubic sample never need a bounds
// check once the sample's position is held inside the picture.
constexpr int kPad = 2;

// How far the enlarged scene reaches beyond the frame on every side, as a
// factor: enough for the pose the benchmark uses (1.5 degrees of roll on a
// 3:2 frame reaches 4 % past its height).
constexpr double kMargin = 1.06;

struct PaddedScene {
    int width = 0;
    int height = 0;
    std::size_t stride = 0; // floats a row
    std::vector<float> rgb;
};

PaddedScene padScene(const TBitmap& scene)
{
    PaddedScene p;
    p.width = scene.width();
    p.height = scene.height();
    p.stride = std::size_t(p.width + 2 * kPad) * 3;
    p.rgb.resize(p.stride * std::size_t(p.height + 2 * kPad));
    float* out = p.rgb.data();
    for (int y = -kPad; y < p.height + kPad; ++y) {
        const std::uint32_t* row = scene.scanLine(std::clamp(y, 0, p.height - 1));
        for (int x = -kPad; x < p.width + kPad; ++x) {
            const std::uint32_t c = row[std::clamp(x, 0, p.width - 1)];
            *out++ = float((c >> 16) & 0xFF);
            *out++ = float((c >> 8) & 0xFF);
            *out++ = float(c & 0xFF);
        }
    }
    return p;
}

// Catmull-Rom weights of the four taps around a sample t of the way from
// the second tap to the third.
inline void cubicWeights(float t, float (&w)[4])
{
    const float t2 = t * t;
    const float t3 = t2 * t;
    w[0] = 0.5f * (-t3 + 2 * t2 - t);
    w[1] = 0.5f * (3 * t3 - 5 * t2 + 2);
    w[2] = 0.5f * (-3 * t3 + 4 * t2 + t);
    w[3] = 0.5f * (t3 - t2);
}

inline std::uint32_t toByte(float v)
{
    return std::uint32_t(std::clamp(std::lround(v), 0L, 255L));
}

// A start for each row's noise of its own, so that rows can be made on any
// thread and still give the same picture.
std::uint32_t rowState(std::uint32_t seed, int y)
{
    std::uint32_t s = seed * 0x9E3779B1u ^ (std::uint32_t(y) + 0x7F4A7C15u) * 0x85EBCA77u;
    s ^= s >> 15;
    s *= 0xC2B2AE3Du;
    s ^= s >> 13;
    return s ? s : 1;
}

} // namespace

TBitmap makeHandheldFrame(const TBitmap& scene, int w, int h, const HandheldPose& pose, std::uint32_t seed)
{
    TBitmap frame;
    if (w <= 0 || h <= 0 || scene.empty())
        return frame;
    frame.allocateUninitialized(w, h);
    const PaddedScene p = padScene(scene);

    // Frame pixels per scene pixel: the scene covers the frame, proportions
    // kept, with the margin to spare.
    const double k = std::max(double(w) / p.width, double(h) / p.height) * kMargin;
    // The camera at pose sees the frame point q where the first camera sees
    // c + R(-roll) (q - c - t) / scale, c the frame's middle and t the
    // scene's move; the scene point under that is its middle plus the
    // offset from c over k.
    const double roll = pose.rollDegrees * std::numbers::pi / 180;
    const double cosA = std::cos(roll) / (pose.scale * k);
    const double sinA = std::sin(roll) / (pose.scale * k);
    const double tx = -pose.shiftFraction * w;
    const double ty = -pose.dropFraction * h;
    const double cx = w / 2.0 + tx;
    const double cy = h / 2.0 + ty;
    const double sceneX = p.width / 2.0 - 0.5; // the scene's middle, in pixel indices
    const double sceneY = p.height / 2.0 - 0.5;
    const float maxU = float(p.width - 1);
    const float maxV = float(p.height - 1);

    auto render = [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint32_t* out = frame.scanLine(y);
            std::uint32_t state = rowState(seed, y);
            const double dx = 0.5 - cx;
            const double dy = y + 0.5 - cy;
            double u = sceneX + cosA * dx + sinA * dy;
            double v = sceneY - sinA * dx + cosA * dy;
            for (int x = 0; x < w; ++x, u += cosA, v -= sinA) {
                const float fu = std::clamp(float(u), 0.0f, maxU);
                const float fv = std::clamp(float(v), 0.0f, maxV);
                const int ix = int(fu);
                const int iy = int(fv);
                float wx[4], wy[4];
                cubicWeights(fu - float(ix), wx);
                cubicWeights(fv - float(iy), wy);
                const float* tap = p.rgb.data() + std::size_t(iy - 1 + kPad) * p.stride + std::size_t(ix - 1 + kPad) * 3;
                float r = 0, g = 0, b = 0;
                for (int j = 0; j < 4; ++j, tap += p.stride) {
                    r += wy[j] * (wx[0] * tap[0] + wx[1] * tap[3] + wx[2] * tap[6] + wx[3] * tap[9]);
                    g += wy[j] * (wx[0] * tap[1] + wx[1] * tap[4] + wx[2] * tap[7] + wx[3] * tap[10]);
                    b += wy[j] * (wx[0] * tap[2] + wx[1] * tap[5] + wx[2] * tap[8] + wx[3] * tap[11]);
                }
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                // -7..7 per channel, most often near 0: the sum of two
                // 3-bit numbers.
                auto noise = [state](int shift) {
                    return float(int((state >> shift) & 7) + int((state >> (shift + 3)) & 7) - 7);
                };
                out[x] = 0xFF000000u | toByte(r + noise(0)) << 16 | toByte(g + noise(6)) << 8 | toByte(b + noise(12));
            }
        }
    };
    // A 24-megapixel frame is a few hundred million multiplications: every
    // core takes a band of rows.
    forBands(h, std::clamp(int(std::thread::hardware_concurrency()), 1, 16), render);
    return frame;
}
