#include "stereo_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>

namespace {

// The scene: a tiled wall far behind the screen, a checkered floor, three
// spheres, a tilted card and a turned box in front of the wall, seen by two
// parallel cameras a small step apart. Parallel cameras shift every point
// only horizontally, by a disparity that depends on its depth alone; the
// sensors are offset so that depth kConvergence lies on the screen.

struct Vec {
    double x = 0, y = 0, z = 0;
};
Vec operator+(Vec a, Vec b) { return { a.x + b.x, a.y + b.y, a.z + b.z }; }
Vec operator-(Vec a, Vec b) { return { a.x - b.x, a.y - b.y, a.z - b.z }; }
Vec operator*(Vec a, double s) { return { a.x * s, a.y * s, a.z * s }; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec normalized(Vec a) { return a * (1.0 / std::sqrt(dot(a, a))); }
Vec mix(Vec a, Vec b, double t) { return a * (1 - t) + b * t; }

constexpr int kWidth = kStereoSceneWidth;
constexpr int kHeight = kStereoSceneHeight;
constexpr double kFocal = 800; // pixels
// Focal length times baseline over depth is the disparity in pixels: with
// these the wall lies 6 pixels behind the screen and the nearest sphere
// about 15 pixels in front of it.
constexpr double kBaseline = 0.15;
constexpr double kConvergence = 10;
constexpr double kWallZ = 20;
constexpr double kFloorY = -2.2;

// A point of a surface: its colour before lighting and its normal.
struct Surface {
    double t = 0;
    Vec normal;
    Vec colour;
    double shine = 0; // strength of the highlight
};

std::uint32_t hash(int a, int b)
{
    std::uint32_t h = std::uint32_t(a) * 73856093u ^ std::uint32_t(b) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

Vec hsv(double h, double s, double v)
{
    h = std::fmod(h, 1.0) * 6;
    const int i = int(h);
    const double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i % 6) {
    case 0: return { v, t, p };
    case 1: return { q, v, p };
    case 2: return { p, v, t };
    case 3: return { p, q, v };
    case 4: return { t, p, v };
    default: return { v, p, q };
    }
}

// Square tiles of many colours with dark joints; each tile carries a grid of
// small light dots, fine enough to give the eyes something to match.
Vec wallTexture(double x, double y)
{
    constexpr double tile = 0.9;
    const double u = x / tile + 40, v = y / tile + 40;
    const int i = int(std::floor(u)), j = int(std::floor(v));
    const double fu = u - i, fv = v - j;
    if (fu < 0.05 || fv < 0.05)
        return { 0.22, 0.2, 0.25 };
    const std::uint32_t h = hash(i, j);
    Vec c = hsv((h % 360) / 360.0, 0.55 + (h >> 9) % 30 / 100.0, 0.7 + (h >> 17) % 25 / 100.0);
    const double du = fu * 9 - std::floor(fu * 9) - 0.5, dv = fv * 9 - std::floor(fv * 9) - 0.5;
    if (du * du + dv * dv < 0.06)
        c = mix(c, { 1, 1, 1 }, 0.45);
    return c;
}

Vec floorTexture(double x, double z)
{
    const int i = int(std::floor(x * 1.2 + 100)), j = int(std::floor(z * 1.2));
    const bool light = ((i + j) & 1) != 0;
    Vec c = light ? Vec { 0.86, 0.82, 0.7 } : Vec { 0.2, 0.36, 0.42 };
    // A thin line across each square, so that even a single square has a
    // detail to fuse.
    const double fx = x * 1.2 - std::floor(x * 1.2);
    if (std::fabs(fx - 0.5) < 0.03)
        c = mix(c, { 0.9, 0.45, 0.1 }, 0.6);
    return c;
}

struct Sphere {
    Vec centre;
    double radius;
    Vec a, b; // the two colours of its checks
    int bands; // checks around the equator
};

struct Card {
    Vec centre;
    double halfWidth, halfHeight, yaw; // yaw turns it about the vertical axis
};

struct Box {
    Vec centre;
    Vec half;
    double yaw;
};

const Sphere kSpheres[] = {
    { { -2.1, 0.45, 7.0 }, 1.05, { 1.0, 0.55, 0.05 }, { 0.98, 0.95, 0.85 }, 12 },
    { { 1.55, 1.05, 4.6 }, 0.5, { 0.15, 0.35, 0.95 }, { 1.0, 0.88, 0.1 }, 10 },
    { { 2.2, 2.45, 13.0 }, 0.8, { 0.1, 0.7, 0.25 }, { 0.95, 0.95, 0.95 }, 14 },
};
const Card kCard { { -0.1, 1.55, 6.2 }, 0.85, 0.6, 0.5 };
const Box kBox { { 0.55, kFloorY + 0.7, 10.5 }, { 0.7, 0.7, 0.7 }, 0.6 };

// Rings of the colour circle on the card, a white border around them.
Vec cardTexture(double s, double t)
{
    if (std::fabs(s) > 0.92 || std::fabs(t) > 0.9)
        return { 0.97, 0.97, 0.95 };
    const double r = std::sqrt(s * s + t * t * 2);
    const double angle = std::atan2(t, s) / (2 * std::numbers::pi) + 0.5;
    const int ring = int(r * 7);
    Vec c = hsv(angle + ring * 0.08, 0.8, 0.95);
    if ((ring & 1) != 0)
        c = c * 0.6;
    return c;
}

// Each face its own colour with a white grid on it.
Vec boxTexture(int face, double s, double t)
{
    static const Vec faces[] = { { 0.85, 0.2, 0.7 }, { 0.55, 0.8, 0.15 }, { 0.5, 0.3, 0.85 } };
    const double gs = s * 4 - std::floor(s * 4), gt = t * 4 - std::floor(t * 4);
    if (gs < 0.08 || gt < 0.08)
        return { 0.95, 0.95, 0.95 };
    return faces[face % 3];
}

Vec turned(Vec v, double yaw)
{
    const double c = std::cos(yaw), s = std::sin(yaw);
    return { c * v.x + s * v.z, v.y, -s * v.x + c * v.z };
}

std::optional<Surface> hitSphere(const Sphere& sp, Vec o, Vec d)
{
    const Vec oc = o - sp.centre;
    const double b = dot(oc, d), c = dot(oc, oc) - sp.radius * sp.radius;
    const double disc = b * b - c;
    if (disc < 0)
        return std::nullopt;
    const double t = -b - std::sqrt(disc);
    if (t <= 1e-6)
        return std::nullopt;
    const Vec n = normalized(o + d * t - sp.centre);
    // Checks in longitude and latitude, turned a little so that the poles
    // do not face the camera.
    const Vec m = turned(n, 0.7);
    const double lon = std::atan2(m.z, m.x) / (2 * std::numbers::pi) + 0.5;
    const double lat = std::asin(std::clamp(m.y, -1.0, 1.0)) / std::numbers::pi + 0.5;
    const bool first = ((int(lon * sp.bands) + int(lat * sp.bands / 2)) & 1) != 0;
    return Surface { t, n, first ? sp.a : sp.b, 0.5 };
}

std::optional<Surface> hitCard(const Card& card, Vec o, Vec d)
{
    const Vec n = turned({ 0, 0, -1 }, card.yaw);
    const double dn = dot(d, n);
    if (std::fabs(dn) < 1e-9)
        return std::nullopt;
    const double t = dot(card.centre - o, n) / dn;
    if (t <= 1e-6)
        return std::nullopt;
    const Vec local = turned(o + d * t - card.centre, -card.yaw);
    const double s = local.x / card.halfWidth, tt = local.y / card.halfHeight;
    if (std::fabs(s) > 1 || std::fabs(tt) > 1)
        return std::nullopt;
    return Surface { t, dn < 0 ? n : n * -1, cardTexture(s, tt), 0.1 };
}

std::optional<Surface> hitBox(const Box& box, Vec o, Vec d)
{
    // In the box's own axes it is an axis-aligned slab test.
    const Vec lo = turned(o - box.centre, -box.yaw), ld = turned(d, -box.yaw);
    const double lov[3] = { lo.x, lo.y, lo.z }, ldv[3] = { ld.x, ld.y, ld.z };
    const double half[3] = { box.half.x, box.half.y, box.half.z };
    double tNear = -1e30, tFar = 1e30;
    int axis = 0;
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(ldv[k]) < 1e-12) {
            if (std::fabs(lov[k]) > half[k])
                return std::nullopt;
            continue;
        }
        double t1 = (-half[k] - lov[k]) / ldv[k], t2 = (half[k] - lov[k]) / ldv[k];
        if (t1 > t2)
            std::swap(t1, t2);
        if (t1 > tNear) {
            tNear = t1;
            axis = k;
        }
        tFar = std::min(tFar, t2);
    }
    if (tNear > tFar || tNear <= 1e-6)
        return std::nullopt;
    const Vec p = lo + ld * tNear;
    const double pv[3] = { p.x, p.y, p.z };
    Vec n;
    (axis == 0 ? n.x : axis == 1 ? n.y : n.z) = pv[axis] > 0 ? 1 : -1;
    const int s = (axis + 1) % 3, t = (axis + 2) % 3;
    const Vec colour = boxTexture(axis, (pv[s] / half[s] + 1) / 2, (pv[t] / half[t] + 1) / 2);
    return Surface { tNear, turned(n, box.yaw), colour, 0.2 };
}

std::optional<Surface> nearest(Vec o, Vec d)
{
    std::optional<Surface> best;
    auto keep = [&](std::optional<Surface> s) {
        if (s && (!best || s->t < best->t))
            best = s;
    };
    for (const Sphere& sp : kSpheres)
        keep(hitSphere(sp, o, d));
    keep(hitCard(kCard, o, d));
    keep(hitBox(kBox, o, d));
    if (d.z > 1e-9) {
        const double t = (kWallZ - o.z) / d.z;
        const Vec p = o + d * t;
        if (p.y >= kFloorY)
            keep(Surface { t, { 0, 0, -1 }, wallTexture(p.x, p.y), 0 });
    }
    if (d.y < -1e-9) {
        const double t = (kFloorY - o.y) / d.y;
        const Vec p = o + d * t;
        if (p.z <= kWallZ)
            keep(Surface { t, { 0, 1, 0 }, floorTexture(p.x, p.z), 0 });
    }
    return best;
}

// Light from above, a little from the left and from behind the viewer.
const Vec kLight = normalized({ -0.35, 0.8, -0.5 });

Vec shade(Vec o, Vec d)
{
    const std::optional<Surface> s = nearest(o, d);
    if (!s)
        return { 0, 0, 0 };
    const Vec p = o + d * s->t;
    const double facing = std::max(dot(s->normal, kLight), 0.0);
    const bool lit = facing > 0 && !nearest(p + s->normal * 1e-4, kLight);
    const double diffuse = lit ? facing : 0;
    Vec c = s->colour * (0.45 + 0.6 * diffuse);
    if (lit && s->shine > 0) {
        const Vec r = s->normal * (2 * dot(s->normal, kLight)) - kLight;
        const double highlight = std::pow(std::max(-dot(r, d), 0.0), 40) * s->shine;
        c = c + Vec { highlight, highlight, highlight };
    }
    return c;
}

// One eye's view, eye -1 the left and +1 the right, with 2 x 2 samples a
// pixel.
TBitmap renderEye(int eye)
{
    const double ox = eye * kBaseline / 2;
    // The sensor offset that puts depth kConvergence on the screen.
    const double shift = kFocal * ox / kConvergence;
    TBitmap picture;
    picture.setSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::uint32_t* row = picture.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            Vec sum;
            for (int sy = 0; sy < 2; ++sy)
                for (int sx = 0; sx < 2; ++sx) {
                    const double ix = x + 0.25 + 0.5 * sx - kWidth / 2.0;
                    const double iy = kHeight / 2.0 - (y + 0.25 + 0.5 * sy);
                    const Vec d = normalized({ (ix - shift) / kFocal, iy / kFocal, 1 });
                    sum = sum + shade({ ox, 0, 0 }, d);
                }
            auto channel = [](double v) { return std::uint32_t(std::clamp(v / 4, 0.0, 1.0) * 255 + 0.5); };
            row[x] = 0xFF000000u | channel(sum.x) << 16 | channel(sum.y) << 8 | channel(sum.z);
        }
    }
    return picture;
}

} // namespace

TBitmap renderStereoEye(int eye) { return renderEye(eye); }

double stereoSceneDisparity(int x, int y)
{
    const double ox = -kBaseline / 2;
    const double shift = kFocal * ox / kConvergence;
    const double ix = x + 0.5 - kWidth / 2.0;
    const double iy = kHeight / 2.0 - (y + 0.5);
    const Vec d = normalized({ (ix - shift) / kFocal, iy / kFocal, 1 });
    const std::optional<Surface> s = nearest({ ox, 0, 0 }, d);
    if (!s)
        return std::numeric_limits<double>::quiet_NaN();
    // Left column minus right column of a point at depth z, with the
    // sensors offset to put kConvergence on the screen.
    const double z = d.z * s->t;
    return kFocal * kBaseline * (1 / z - 1 / kConvergence);
}
