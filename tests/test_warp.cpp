// The correction's bicubic warp against the plain formula: Keys' cubic
// (a = -0.75) in doubles, the edge pixels repeated beyond the edges. Whole
// shifts must give the source back exactly, any map must stay within two
// levels of the formula, and the AVX2 kernel must give what the baseline
// gives, pixel for pixel.
#include "align/warp.h"
#include "align/warp_kernels.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

TBitmap noisy(int w, int h, unsigned seed)
{
    std::mt19937 random(seed);
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.scanLine(y)[x] = 0xFF000000u | (random() & 0xFFFFFF);
    return b;
}

double keys(double d)
{
    d = std::abs(d);
    return d < 1 ? (1.25 * d - 2.25) * d * d + 1 : d < 2 ? ((-0.75 * d + 3.75) * d - 6) * d + 3 : 0.0;
}

// The formula at (x, y) of src, channel c (0 blue, 1 green, 2 red).
double cubicAt(const TBitmap& src, double x, double y, int c)
{
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    double sum = 0;
    for (int j = -1; j <= 2; ++j)
        for (int i = -1; i <= 2; ++i) {
            const int px = std::clamp(x0 + i, 0, src.width() - 1), py = std::clamp(y0 + j, 0, src.height() - 1);
            sum += keys(x - (x0 + i)) * keys(y - (y0 + j)) * double((src.scanLine(py)[px] >> (8 * c)) & 0xFF);
        }
    return std::clamp(sum, 0.0, 255.0);
}

// The largest difference in levels between the warp and the formula.
int worstAgainstFormula(const TBitmap& src, const std::array<double, 9>& m, const TBitmap& out)
{
    int worst = 0;
    for (int v = 0; v < out.height(); ++v)
        for (int u = 0; u < out.width(); ++u) {
            const double w = m[6] * u + m[7] * v + m[8];
            const double x = (m[0] * u + m[1] * v + m[2]) / w, y = (m[3] * u + m[4] * v + m[5]) / w;
            for (int c = 0; c < 3; ++c) {
                const int got = int((out.scanLine(v)[u] >> (8 * c)) & 0xFF);
                worst = std::max(worst, std::abs(got - int(std::lround(cubicAt(src, x, y, c)))));
            }
        }
    return worst;
}

std::array<double, 9> turn(double degrees, double scale, double tx, double ty)
{
    const double a = degrees * M_PI / 180;
    return { scale * std::cos(a), -scale * std::sin(a), tx, scale * std::sin(a), scale * std::cos(a), ty, 0, 0, 1 };
}

} // namespace

class TestWarp : public QObject {
    Q_OBJECT
private slots:
    void wholeShiftsGiveTheSourceBack()
    {
        const TBitmap src = noisy(61, 47, 1);
        for (const auto& [dx, dy] : { std::pair { 0, 0 }, std::pair { 3, -2 }, std::pair { -5, 4 } }) {
            TBitmap out;
            out.allocateUninitialized(40, 30);
            warpBicubic(src, { 1, 0, double(10 + dx), 0, 1, double(8 + dy), 0, 0, 1 }, out, 2);
            for (int v = 0; v < 30; ++v)
                for (int u = 0; u < 40; ++u)
                    QCOMPARE(out.scanLine(v)[u], src.scanLine(8 + dy + v)[10 + dx + u]);
        }
    }

    void mapsStayWithinTwoLevelsOfTheFormula_data()
    {
        QTest::addColumn<QVariantList>("map");
        const auto row = [](const char* name, const std::array<double, 9>& m) {
            QVariantList l;
            for (double v : m)
                l << v;
            QTest::newRow(name) << l;
        };
        row("half a pixel across", { 1, 0, 0.5, 0, 1, 0, 0, 0, 1 });
        row("turned 3 degrees, 2 % larger", turn(3, 0.98, 6, -4));
        row("turned -5 degrees, 5 % smaller", turn(-5, 1.05, -3, 7));
        // Reaching past every edge: the edge pixels repeat.
        row("past the edges", turn(10, 1.3, -12, -9));
        row("a keystone", { 1.01, 0.02, -2, -0.015, 0.99, 3, 0.0004, -0.0002, 1 });
    }

    void mapsStayWithinTwoLevelsOfTheFormula()
    {
        QFETCH(QVariantList, map);
        std::array<double, 9> m {};
        for (int i = 0; i < 9; ++i)
            m[std::size_t(i)] = map[i].toDouble();
        const TBitmap src = noisy(83, 64, 2);
        for (int threads : { 1, 3 }) {
            TBitmap out;
            out.allocateUninitialized(77, 59);
            warpBicubic(src, m, out, threads);
            // Positions are taken to 1/128 of a pixel: on noise, whose
            // steps reach 255 levels a pixel, that alone moves a level.
            QVERIFY2(worstAgainstFormula(src, m, out) <= 2, qPrintable(QStringLiteral("%1 threads").arg(threads)));
        }
    }

    // A stream warps a row at a time from a window of source rows: each row
    // must read no source row beyond what reads() names, and give what the
    // whole warp gives. Rows outside the named ones are a row of zeros here,
    // so a tap that reached one would change the pixel.
    void rowsFromTheirWindowGiveTheWholeWarp_data() { mapsStayWithinTwoLevelsOfTheFormula_data(); }
    void rowsFromTheirWindowGiveTheWholeWarp()
    {
        QFETCH(QVariantList, map);
        std::array<double, 9> m {};
        for (int i = 0; i < 9; ++i)
            m[std::size_t(i)] = map[i].toDouble();
        const TBitmap src = noisy(83, 64, 5);
        TBitmap whole;
        whole.allocateUninitialized(77, 59);
        warpBicubic(src, m, whole, 1);
        const std::vector<std::uint32_t> zeros(std::size_t(src.width()), 0);
        RowWarper warper(m, src.width(), src.height(), whole.width());
        std::vector<std::uint32_t> row(std::size_t(whole.width()));
        int lastFirst = 0;
        for (int v = 0; v < whole.height(); ++v) {
            const WarpRows reads = warper.reads(v);
            QVERIFY(reads.first >= 0 && reads.first <= reads.last && reads.last < src.height());
            // The stream lets rows go as the first it reads moves down.
            QVERIFY2(reads.first >= lastFirst || m[4] < 0, qPrintable(QStringLiteral("row %1").arg(v)));
            lastFirst = reads.first;
            std::vector<const std::uint32_t*> window(std::size_t(src.height()), zeros.data());
            for (int y = reads.first; y <= reads.last; ++y)
                window[std::size_t(y)] = src.scanLine(y);
            warper.render(v, window.data(), row.data());
            QVERIFY2(std::equal(row.begin(), row.end(), whole.scanLine(v)), qPrintable(QStringLiteral("row %1").arg(v)));
        }
    }

    void theAvx2KernelGivesWhatTheBaselineGives()
    {
#if defined(__x86_64__) && defined(__GNUC__)
        if (!__builtin_cpu_supports("avx2"))
            QSKIP("this processor has no AVX2");
#endif
        const TBitmap src = noisy(50, 40, 3);
        std::vector<const std::uint32_t*> rows;
        for (int y = 0; y < src.height(); ++y)
            rows.push_back(src.scanLine(y));
        const warp::Source source { rows.data(), src.width(), src.height() };
        std::mt19937 random(4);
        // Taps inside, on and past every edge, odd counts included.
        std::vector<warp::Tap> taps;
        for (int i = 0; i < 999; ++i)
            taps.push_back({ int(random() % 60) - 5, int(random() % 50) - 5, int(random() % warp::kSteps),
                int(random() % warp::kSteps) });
        std::vector<std::uint32_t> baseline(taps.size()), avx2(taps.size());
        warp::cubicRow(source, taps.data(), int(taps.size()), baseline.data());
        warp::cubicRowAvx2(source, taps.data(), int(taps.size()), avx2.data());
        QVERIFY(baseline == avx2);
    }
};

QTEST_APPLESS_MAIN(TestWarp)

#include "test_warp.moc"
