#include "methods.h"

#include "errors.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace {

inline int redOf(std::uint32_t p) { return int((p >> 16) & 0xFF); }
inline int greenOf(std::uint32_t p) { return int((p >> 8) & 0xFF); }
inline int blueOf(std::uint32_t p) { return int(p & 0xFF); }

inline std::uint32_t packed(unsigned r, unsigned g, unsigned b) { return 0xFF000000u | (r << 16) | (g << 8) | b; }

// Rec. 601 luma, rounded.
inline unsigned greyOf(std::uint32_t p)
{
    return (299u * unsigned(redOf(p)) + 587u * unsigned(greenOf(p)) + 114u * unsigned(blueOf(p)) + 500u) / 1000u;
}

// One output pixel from the red source's pixel L and the cyan source's R,
// gains applied. Each is a small value type that the row loops inline.
struct ColourPixel {
    unsigned gr, gg, gb;
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        // The very arithmetic of referenceAnaglyph and the window's blocks.
        return packed(unsigned(scaleChannel(int(gr), redOf(L))), unsigned(scaleChannel(int(gg), greenOf(R))),
            unsigned(scaleChannel(int(gb), blueOf(R))));
    }
};

struct HalfColourPixel {
    unsigned gr, gg, gb;
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        return packed(unsigned(scaleChannel(int(gr), int(greyOf(L)))), unsigned(scaleChannel(int(gg), greenOf(R))),
            unsigned(scaleChannel(int(gb), blueOf(R))));
    }
};

struct GreyPixel {
    unsigned gr, gg, gb;
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        const int r = int(greyOf(R));
        return packed(unsigned(scaleChannel(int(gr), int(greyOf(L)))), unsigned(scaleChannel(int(gg), r)),
            unsigned(scaleChannel(int(gb), r)));
    }
};

// Dubois: out_lin = ML * L_lin + MR * R_lin, rows the output's r, g, b and
// columns the input's.
constexpr double kDuboisLeft[3][3] = {
    { 0.456, 0.500, 0.176 },
    { -0.040, -0.038, -0.016 },
    { -0.015, -0.021, -0.005 },
};
constexpr double kDuboisRight[3][3] = {
    { -0.043, -0.088, -0.002 },
    { 0.378, 0.734, -0.018 },
    { -0.072, -0.113, 1.226 },
};

// Linear light in [0, 1] is encoded through a table of kEncodeSteps + 1
// entries, entry i holding the sRGB byte of i / kEncodeSteps. A value is
// looked up at round(v * kEncodeSteps), at most half a step off; the steepest
// slope of the encoding, 12.92 * 255 bytes per unit near black, turns that
// into at most 0.1 of a byte, so the byte differs from the exact formula's by
// at most 1. 16 K entries of one byte stay in the first-level cache.
constexpr int kEncodeSteps = 16384;

using Vec4 = float __attribute__((vector_size(16)));

struct DuboisTables {
    // term[k][v]: what input channel k (0..2 the red source's r, g, b; 3..5
    // the cyan source's) of byte value v adds to the output's linear r, g, b
    // (lane 3 unused): the matrix column times the byte decoded to linear.
    Vec4 term[6][256];
    std::uint8_t encode[kEncodeSteps + 1];
};

double srgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double linearToSrgb(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

std::unique_ptr<DuboisTables> makeDuboisTables()
{
    auto t = std::make_unique<DuboisTables>();
    float decode[256];
    for (int v = 0; v < 256; ++v)
        decode[v] = float(srgbToLinear(v / 255.0));
    for (int k = 0; k < 6; ++k) {
        const auto& m = k < 3 ? kDuboisLeft : kDuboisRight;
        const int column = k % 3;
        for (int v = 0; v < 256; ++v)
            t->term[k][v] = Vec4 { float(m[0][column]) * decode[v], float(m[1][column]) * decode[v],
                float(m[2][column]) * decode[v], 0.0f };
    }
    for (int i = 0; i <= kEncodeSteps; ++i)
        t->encode[i] = std::uint8_t(std::lround(255.0 * linearToSrgb(double(i) / kEncodeSteps)));
    return t;
}

// Built once, on first use; a function-local static is initialised once even
// when several threads ask at the same time.
const DuboisTables& duboisTables()
{
    static const std::unique_ptr<DuboisTables> tables = makeDuboisTables();
    return *tables;
}

// The Dubois pixel, with each channel's gain folded into its own copy of the
// encoding table: encoded[c][i] = scaleChannel(gain c, encode[i]).
struct DuboisPixel {
    const DuboisTables* t;
    const std::uint8_t* encoded; // 3 tables of kEncodeSteps + 1

    static int indexOf(float v)
    {
        const float f = std::min(std::max(v * float(kEncodeSteps) + 0.5f, 0.0f), float(kEncodeSteps));
        return int(f);
    }

    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        const Vec4 s = t->term[0][redOf(L)] + t->term[1][greenOf(L)] + t->term[2][blueOf(L)]
            + t->term[3][redOf(R)] + t->term[4][greenOf(R)] + t->term[5][blueOf(R)];
        constexpr int n = kEncodeSteps + 1;
        return packed(encoded[indexOf(s[0])], encoded[n + indexOf(s[1])], encoded[2 * n + indexOf(s[2])]);
    }
};

std::vector<std::uint8_t> gainedEncodeTables(const DuboisTables& t, const Gains& g)
{
    constexpr int n = kEncodeSteps + 1;
    std::vector<std::uint8_t> out(std::size_t(3) * n);
    const int gains[3] = { g.r, g.g, g.b };
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < n; ++i)
            out[std::size_t(c) * n + i] = std::uint8_t(scaleChannel(gains[c], t.encode[i]));
    return out;
}

// Runs work(begin, end) over bands that split 0..count: threads - 1 of them
// on threads of their own and the first on the caller's. A thread that cannot
// be started leaves its band, and those after it, to the caller.
template <class Work> void forBands(int count, int threads, const Work& work)
{
    threads = std::clamp(threads, 1, std::max(count, 1));
    const auto bandStart = [&](int k) { return int((long long)count * k / threads); };
    if (threads == 1) {
        work(0, count);
        return;
    }
    int started = 1;
    {
        std::vector<std::jthread> pool; // joined on every way out
        pool.reserve(std::size_t(threads - 1));
        try {
            for (; started < threads; ++started) {
                const int begin = bandStart(started), end = bandStart(started + 1);
                pool.emplace_back([&work, begin, end] { work(begin, end); });
            }
        } catch (const std::system_error&) {
        }
        work(bandStart(0), bandStart(1));
        for (int k = started; k < threads; ++k)
            work(bandStart(k), bandStart(k + 1));
    }
}

// Block step 1: output row j reads the red source's row keep.y + j from
// keep.x on and the cyan source's row keep.y + j - dy from keep.x - dx on.
template <class Pixel>
void composePixels(const TBitmap& red, const TBitmap& cyan, const Overlap& keep, int dx, int dy, const Pixel& px,
    int threads, TBitmap& out)
{
    forBands(keep.height, threads, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const std::uint32_t* L = red.scanLine(keep.y + j) + keep.x;
            const std::uint32_t* R = cyan.scanLine(keep.y + j - dy) + (keep.x - dx);
            std::uint32_t* o = out.scanLine(j);
            for (int i = 0; i < keep.width; ++i)
                o[i] = px(L[i], R[i]);
        }
    });
}

// Block step s > 1, written straight into the overlap: the working pixel
// (x, y) = (keep.x + i, keep.y + j) lies in the square of origin (x0, y0),
// each coordinate rounded down to a multiple of s, painted in the colour of
// the pixels there when its shifted point (x0 - dx, y0 - dy) lies inside
// the W x H frame and white otherwise. One row of each row of squares is
// worked out and copied to the rest of its rows.
template <class Pixel>
void composeBlocks(const TBitmap& red, const TBitmap& cyan, const Overlap& keep, int dx, int dy, int s,
    const Pixel& px, int threads, TBitmap& out)
{
    const int W = red.width(), H = red.height();
    const std::uint32_t white = pixelFromColor(clWhite);
    const int firstRow = keep.y / s;
    const int lastRow = (keep.y + keep.height - 1) / s;
    forBands(lastRow - firstRow + 1, threads, [&](int b0, int b1) {
        for (int b = b0; b < b1; ++b) {
            const long long y0 = (long long)(firstRow + b) * s;
            const int jFirst = int(std::max<long long>(y0, keep.y) - keep.y);
            const int jEnd = int(std::min<long long>(y0 + s, (long long)keep.y + keep.height) - keep.y);
            std::uint32_t* o = out.scanLine(jFirst);
            const long long sy = y0 - dy;
            if (sy < 0 || sy >= H) {
                std::fill(o, o + keep.width, white);
            } else {
                const std::uint32_t* L = red.scanLine(int(y0));
                const std::uint32_t* R = cyan.scanLine(int(sy));
                for (long long x0 = originOfBlockHolding(keep.x, s); x0 < (long long)keep.x + keep.width; x0 += s) {
                    const int iFirst = int(std::max<long long>(x0, keep.x) - keep.x);
                    const int iEnd = int(std::min<long long>(x0 + s, (long long)keep.x + keep.width) - keep.x);
                    const long long sx = x0 - dx;
                    const std::uint32_t p = sx < 0 || sx >= W ? white : px(L[x0], R[sx]);
                    std::fill(o + iFirst, o + iEnd, p);
                }
            }
            for (int j = jFirst + 1; j < jEnd; ++j)
                std::memcpy(out.scanLine(j), o, std::size_t(keep.width) * sizeof(std::uint32_t));
        }
    });
}

template <class Pixel>
void composeWith(const TBitmap& red, const TBitmap& cyan, const Overlap& keep, const ComposeSettings& st,
    const Pixel& px, int threads, TBitmap& out)
{
    if (st.block <= 1)
        composePixels(red, cyan, keep, st.dx, st.dy, px, threads, out);
    else
        composeBlocks(red, cyan, keep, st.dx, st.dy, st.block, px, threads, out);
}

// The colour method's preview, the window's way: a white working bitmap of
// the frames' size painted by paintBlockRun, one row of blocks at a time,
// then cropped to the overlap.
TBitmap colourPreview(const TBitmap& frame1, const TBitmap& frame2, const ComposeSettings& st, const Overlap& keep,
    int threads)
{
    const int W = frame1.width(), H = frame1.height(), s = st.block;
    const BlockInputs in { &frame1, &frame2, W, H, st.dx, st.dy, st.swap, st.gains };
    TBitmap work;
    work.setSize(W, H);
    const int lastColumn = blocksAlong(W, s) - 1;
    forBands(blocksAlong(H, s), threads, [&](int r0, int r1) {
        // Each run paints rows y .. y + s - 1 only, so bands of block rows
        // never touch each other's pixels.
        for (int r = r0; r < r1; ++r)
            paintBlockRun(in, s, int(blockOrigin(r, s)), 0, lastColumn, work);
    });
    return cropToOverlap(std::move(work), keep);
}

} // namespace

bool parseAnaglyphMethod(std::string_view name, AnaglyphMethod& out)
{
    static constexpr struct {
        std::string_view name;
        AnaglyphMethod method;
    } names[] = {
        { "colour", AnaglyphMethod::Colour },
        { "color", AnaglyphMethod::Colour },
        { "half-colour", AnaglyphMethod::HalfColour },
        { "half-color", AnaglyphMethod::HalfColour },
        { "grey", AnaglyphMethod::Grey },
        { "gray", AnaglyphMethod::Grey },
        { "dubois", AnaglyphMethod::Dubois },
    };
    // People write the names as they write words: "Dubois", "GREY".
    const auto sameLetters = [](std::string_view a, std::string_view b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
            return lower(x) == lower(y);
        });
    };
    for (const auto& n : names)
        if (sameLetters(n.name, name)) {
            out = n.method;
            return true;
        }
    return false;
}

const char* anaglyphMethodName(AnaglyphMethod method)
{
    switch (method) {
    case AnaglyphMethod::Colour:
        return "colour";
    case AnaglyphMethod::HalfColour:
        return "half-colour";
    case AnaglyphMethod::Grey:
        return "grey";
    case AnaglyphMethod::Dubois:
        return "dubois";
    }
    return "colour";
}

TBitmap composeAnaglyph(const TBitmap& frame1, const TBitmap& frame2, const ComposeSettings& settings, int threads)
{
    if (frame1.width() != frame2.width() || frame1.height() != frame2.height())
        throw EOrvantaError("Frames have not equal size! Anaglyph cannot be builded!");
    TBitmap out;
    if (frame1.empty())
        return out;
    const Overlap keep = overlapOf(frame1.width(), frame1.height(), settings.dx, settings.dy);
    if (keep.empty()) {
        out.setSize(keep.width, keep.height);
        return out;
    }
    ComposeSettings st = settings;
    st.block = std::max(st.block, 1);
    threads = std::max(threads, 1);

    if (st.method == AnaglyphMethod::Colour && st.block > 1)
        return colourPreview(frame1, frame2, st, keep, threads);

    const TBitmap& red = st.swap ? frame2 : frame1;
    const TBitmap& cyan = st.swap ? frame1 : frame2;
    const unsigned gr = unsigned(st.gains.r), gg = unsigned(st.gains.g), gb = unsigned(st.gains.b);
    // Every pixel of the overlap is written below.
    out.allocateUninitialized(keep.width, keep.height);
    switch (st.method) {
    case AnaglyphMethod::Colour:
        composeWith(red, cyan, keep, st, ColourPixel { gr, gg, gb }, threads, out);
        break;
    case AnaglyphMethod::HalfColour:
        composeWith(red, cyan, keep, st, HalfColourPixel { gr, gg, gb }, threads, out);
        break;
    case AnaglyphMethod::Grey:
        composeWith(red, cyan, keep, st, GreyPixel { gr, gg, gb }, threads, out);
        break;
    case AnaglyphMethod::Dubois: {
        const DuboisTables& t = duboisTables();
        const std::vector<std::uint8_t> encoded = gainedEncodeTables(t, st.gains);
        composeWith(red, cyan, keep, st, DuboisPixel { &t, encoded.data() }, threads, out);
        break;
    }
    }
    return out;
}
