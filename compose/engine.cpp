#include "engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// The kernels: one output pixel from the red source's pixel L and the cyan
// source's R, gains applied. Each is a small value type that the loops below
// inline.
struct ColourKernel {
    int gr, gg, gb;
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        return packed(unsigned(scaleChannel(gr, redOf(L))), unsigned(scaleChannel(gg, greenOf(R))),
            unsigned(scaleChannel(gb, blueOf(R))));
    }
};

// ColourKernel with every gain 255, which keeps each channel as it is (255
// v / 255 = v): the red byte of one word beside the green and blue of the
// other, a mask and an or that the loops turn into vector instructions.
// The default composition, so worth its own loop.
struct PlainColourKernel {
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        return 0xFF000000u | (L & 0x00FF0000u) | (R & 0x0000FFFFu);
    }
};

struct HalfColourKernel {
    int gr, gg, gb;
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        return packed(unsigned(scaleChannel(gr, int(greyOf(L)))), unsigned(scaleChannel(gg, greenOf(R))),
            unsigned(scaleChannel(gb, blueOf(R))));
    }
};

struct GreyKernel {
    int gr, gg, gb;
    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        const int r = int(greyOf(R));
        return packed(unsigned(scaleChannel(gr, int(greyOf(L)))), unsigned(scaleChannel(gg, r)),
            unsigned(scaleChannel(gb, r)));
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
constexpr int kEncodeEntries = kEncodeSteps + 1;

using Vec4 = float __attribute__((vector_size(16)));

struct DuboisTables {
    // term[k][v]: what input channel k (0..2 the red source's r, g, b; 3..5
    // the cyan source's) of byte value v adds to the output's linear r, g, b
    // (lane 3 unused): the matrix column times the byte decoded to linear.
    Vec4 term[6][256];
    std::uint8_t encode[kEncodeEntries];
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

// encoded[c][i] = scaleChannel(gain c, encode[i]), three tables one after
// the other.
std::shared_ptr<const std::uint8_t[]> gainedEncoding(const Gains& g)
{
    const DuboisTables& t = duboisTables();
    auto out = std::make_shared<std::uint8_t[]>(std::size_t(3) * kEncodeEntries);
    const int gains[3] = { g.r, g.g, g.b };
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < kEncodeEntries; ++i)
            out[std::size_t(c) * kEncodeEntries + i] = std::uint8_t(scaleChannel(gains[c], t.encode[i]));
    return out;
}

struct DuboisKernel {
    const DuboisTables* t;
    const std::uint8_t* encoded; // gainedEncoding's three tables

    static int indexOf(float v)
    {
        const float f = std::min(std::max(v * float(kEncodeSteps) + 0.5f, 0.0f), float(kEncodeSteps));
        return int(f);
    }

    std::uint32_t operator()(std::uint32_t L, std::uint32_t R) const
    {
        const Vec4 s = t->term[0][redOf(L)] + t->term[1][greenOf(L)] + t->term[2][blueOf(L)]
            + t->term[3][redOf(R)] + t->term[4][greenOf(R)] + t->term[5][blueOf(R)];
        return packed(encoded[indexOf(s[0])], encoded[kEncodeEntries + indexOf(s[1])],
            encoded[2 * kEncodeEntries + indexOf(s[2])]);
    }
};

// Calls work with the plan's kernel, so that each loop below is instantiated
// once per method and the method is chosen once per call, not per pixel.
template <class Work> void withKernel(const CompositionPlan& plan, const Work& work)
{
    const Gains& g = plan.gains;
    switch (plan.method) {
    case AnaglyphMethod::Colour:
        if (g.r == 255 && g.g == 255 && g.b == 255)
            work(PlainColourKernel {});
        else
            work(ColourKernel { g.r, g.g, g.b });
        return;
    case AnaglyphMethod::HalfColour:
        work(HalfColourKernel { g.r, g.g, g.b });
        return;
    case AnaglyphMethod::Grey:
        work(GreyKernel { g.r, g.g, g.b });
        return;
    case AnaglyphMethod::Dubois:
        work(DuboisKernel { &duboisTables(), plan.gainedEncoding.get() });
        return;
    }
}

template <class Kernel>
inline void composeSpan(const Kernel& k, const std::uint32_t* L, const std::uint32_t* R, std::uint32_t* out, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = k(L[i], R[i]);
}

// A read by the working bitmap's rules: outside (or empty) every channel is
// 255, what the window's pixel reads give there.
inline std::uint32_t readWord(const TBitmap& b, long long x, long long y)
{
    if (x < 0 || y < 0 || x >= b.width() || y >= b.height() || b.empty())
        return 0xFFFFFFFFu;
    return b.scanLine(int(y))[x];
}

inline bool shiftedInside(const CompositionPlan& p, long long x, long long y)
{
    const long long sx = x - p.dx, sy = y - p.dy;
    return sx >= 0 && sy >= 0 && sx < p.boundWidth && sy < p.boundHeight;
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
// readWord.
template <class Kernel>
void pixelRun(const CompositionPlan& p, const Kernel& k, int y, int xFirst, int xLast, TBitmap& work)
{
    xLast = std::min(xLast, work.width() - 1);
    if (y >= work.height() || xFirst > xLast)
        return;
    const long long sy = (long long)y - p.dy;
    if (sy < 0 || sy >= p.boundHeight)
        return;
    // The shifted point lies inside for dx <= x < dx + boundWidth.
    const int lo = int(std::max<long long>(xFirst, p.dx));
    const int hi = int(std::min<long long>(xLast, (long long)p.dx + p.boundWidth - 1));
    if (lo > hi)
        return;

    const TBitmap& red = *p.red;
    const TBitmap& cyan = *p.cyan;
    int fastLo = lo;
    int fastHi = -1;
    if (y < red.height() && sy < cyan.height() && !red.empty() && !cyan.empty()) {
        fastLo = int(std::max<long long>({ (long long)lo, 0LL, (long long)p.dx }));
        fastHi = int(std::min<long long>(
            { (long long)hi, (long long)red.width() - 1, (long long)cyan.width() + p.dx - 1 }));
    }
    std::uint32_t* out = work.scanLine(y);
    const auto general = [&](int from, int to) {
        for (int x = from; x <= to; ++x)
            out[x] = k(readWord(red, x, y), readWord(cyan, (long long)x - p.dx, sy));
    };
    if (fastLo > fastHi) {
        general(lo, hi);
        return;
    }
    general(lo, fastLo - 1);
    composeSpan(k, red.scanLine(y) + fastLo, cyan.scanLine(int(sy)) + (fastLo - p.dx), out + fastLo,
        fastHi - fastLo + 1);
    general(fastHi + 1, hi);
}

template <class Kernel>
void blockRun(const CompositionPlan& p, const Kernel& k, int y, int cFirst, int cLast, TBitmap& work)
{
    if (y >= work.height())
        return;
    const int s = p.step;
    for (int c = cFirst; c <= cLast; ++c) {
        const long long x = blockOrigin(c, s);
        if (x >= work.width())
            break; // this and later squares lie wholly outside the bitmap
        if (shiftedInside(p, x, y))
            fillSquare(work, int(x), y, s, k(readWord(*p.red, x, y), readWord(*p.cyan, x - p.dx, (long long)y - p.dy)));
    }
}

// Step 1 into the kept picture: output row j reads the red source's row
// keep.y + j from keep.x on and the cyan source's row keep.y + j - dy from
// keep.x - dx on.
template <class Kernel>
inline void pixelRow(const CompositionPlan& p, const Kernel& k, const std::uint32_t* red, const std::uint32_t* cyan,
    std::uint32_t* out)
{
    composeSpan(k, red + p.keep.x, cyan + (p.keep.x - p.dx), out, p.keep.width);
}

template <class Kernel> void pixelBands(const CompositionPlan& p, const Kernel& k, int j0, int j1, TBitmap& out)
{
    const Overlap& keep = p.keep;
    for (int j = j0; j < j1; ++j)
        pixelRow(p, k, p.red->scanLine(keep.y + j), p.cyan->scanLine(keep.y + j - p.dy), out.scanLine(j));
}

// Step s > 1 into the kept picture: the working pixel (x, y) = (keep.x + i,
// keep.y + j) lies in the square of origin (x0, y0), each coordinate rounded
// down to a multiple of s, painted in the colour of the pixels there when its
// shifted point lies inside the frame and white otherwise. Band b is the
// b-th row of squares that meets the overlap; one row of it is worked out
// and copied to the rest.
// One kept row of the squares of origin row y0: L is the red source's row
// y0, R the cyan source's row y0 - dy, or null when that row lies outside
// the frame and the squares are white.
template <class Kernel>
void blockRow(const CompositionPlan& p, const Kernel& k, const std::uint32_t* L, const std::uint32_t* R,
    std::uint32_t* o)
{
    const Overlap& keep = p.keep;
    const int s = p.step;
    const std::uint32_t white = pixelFromColor(clWhite);
    if (R == nullptr) {
        std::fill(o, o + keep.width, white);
        return;
    }
    for (long long x0 = originOfBlockHolding(keep.x, s); x0 < (long long)keep.x + keep.width; x0 += s) {
        const int iFirst = int(std::max<long long>(x0, keep.x) - keep.x);
        const int iEnd = int(std::min<long long>(x0 + s, (long long)keep.x + keep.width) - keep.x);
        const long long sx = x0 - p.dx;
        const std::uint32_t c = sx < 0 || sx >= p.boundWidth ? white : k(L[x0], R[sx]);
        std::fill(o + iFirst, o + iEnd, c);
    }
}

template <class Kernel> void blockBands(const CompositionPlan& p, const Kernel& k, int b0, int b1, TBitmap& out)
{
    const Overlap& keep = p.keep;
    const int s = p.step;
    const int firstRow = keep.y / s;
    for (int b = b0; b < b1; ++b) {
        const long long y0 = (long long)(firstRow + b) * s;
        const int jFirst = int(std::max<long long>(y0, keep.y) - keep.y);
        const int jEnd = int(std::min<long long>(y0 + s, (long long)keep.y + keep.height) - keep.y);
        const SourceRows rows = sourceRowsOf(p, jFirst);
        std::uint32_t* o = out.scanLine(jFirst);
        blockRow(p, k, p.red->scanLine(rows.red), rows.cyan < 0 ? nullptr : p.cyan->scanLine(rows.cyan), o);
        for (int j = jFirst + 1; j < jEnd; ++j)
            std::memcpy(out.scanLine(j), o, std::size_t(keep.width) * sizeof(std::uint32_t));
    }
}

} // namespace

CompositionPlan planBuild(const BlockInputs& in, int W, int H, int step, AnaglyphMethod method)
{
    CompositionPlan p;
    p.method = method;
    p.step = std::max(step, 1);
    p.width = W;
    p.height = H;
    p.blockRows = blocksAlong(H, p.step);
    p.blockColumns = blocksAlong(W, p.step);
    p.keep = overlapOf(W, H, in.dx, in.dy);
    updateSources(p, in);
    return p;
}

CompositionPlan planComposition(const TBitmap& frame1, const TBitmap& frame2, const ComposeSettings& st)
{
    const int W = frame1.width(), H = frame1.height();
    return planBuild(BlockInputs { &frame1, &frame2, W, H, st.dx, st.dy, st.swap, st.gains }, W, H, st.block,
        st.method);
}

void updateSources(CompositionPlan& p, const BlockInputs& in)
{
    p.red = in.swap ? in.frame2 : in.frame1;
    p.cyan = in.swap ? in.frame1 : in.frame2;
    p.boundWidth = in.W1;
    p.boundHeight = in.H1;
    p.dx = in.dx;
    p.dy = in.dy;
    const bool gainsChanged = p.gains.r != in.gains.r || p.gains.g != in.gains.g || p.gains.b != in.gains.b;
    p.gains = in.gains;
    if (p.method == AnaglyphMethod::Dubois && (gainsChanged || !p.gainedEncoding))
        p.gainedEncoding = gainedEncoding(p.gains);
}

void renderBlockRun(const CompositionPlan& plan, int y, int cFirst, int cLast, TBitmap& work)
{
    if (work.empty() || cFirst > cLast)
        return;
    withKernel(plan, [&](const auto& k) {
        if (plan.step == 1)
            pixelRun(plan, k, y, cFirst, cLast, work);
        else
            blockRun(plan, k, y, cFirst, cLast, work);
    });
}

int renderBandCount(const CompositionPlan& plan)
{
    const Overlap& keep = plan.keep;
    if (keep.empty())
        return 0;
    if (plan.step == 1)
        return keep.height;
    return (keep.y + keep.height - 1) / plan.step - keep.y / plan.step + 1;
}

void renderBands(const CompositionPlan& plan, int first, int end, TBitmap& out)
{
    if (first >= end)
        return;
    withKernel(plan, [&](const auto& k) {
        if (plan.step == 1)
            pixelBands(plan, k, first, end, out);
        else
            blockBands(plan, k, first, end, out);
    });
}

SourceRows sourceRowsOf(const CompositionPlan& plan, int j)
{
    const long long y = (long long)plan.keep.y + j;
    // The squares' origin row: rounded down to a multiple of the step.
    const long long y0 = plan.step == 1 ? y : originOfBlockHolding(int(y), plan.step);
    const long long sy = y0 - plan.dy;
    return { int(y0), sy < 0 || sy >= plan.boundHeight ? -1 : int(sy) };
}

void renderRow(const CompositionPlan& plan, const std::uint32_t* red, const std::uint32_t* cyan, std::uint32_t* out)
{
    withKernel(plan, [&](const auto& k) {
        if (plan.step == 1)
            pixelRow(plan, k, red, cyan, out);
        else
            blockRow(plan, k, red, cyan, out);
    });
}

CompositionPlan planStream(int width, int height, const ComposeSettings& st)
{
    return planBuild(BlockInputs { nullptr, nullptr, width, height, st.dx, st.dy, st.swap, st.gains }, width, height,
        st.block, st.method);
}
