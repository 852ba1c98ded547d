// Small generated pictures for the tests.
#pragma once

#include "compose/bitmap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

// Every pixel differs from its neighbours in each channel, so a pixel taken
// from the wrong place shows.
inline TBitmap patterned(int w, int h, int seed)
{
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x)
            row[x] = pixelFromColor(RGB(x * 7 + y * 3 + seed, x * 5 + y * 11 + seed * 3, x * 13 + y + seed * 7));
    }
    return b;
}

inline TBitmap uniform(int w, int h, TColor c)
{
    TBitmap b;
    b.setSize(w, h);
    b.setFillColor(c);
    b.fillRect(0, 0, w, h);
    return b;
}

inline bool samePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.width() != b.width() || a.height() != b.height())
        return false;
    if (a.empty())
        return true;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.scanLine(y), b.scanLine(y), std::size_t(a.width()) * 4) != 0)
            return false;
    return true;
}

// A file in a test's folder, as the local path the core takes.
inline std::string path(const QTemporaryDir& dir, const char* name)
{
    return QFile::encodeName(dir.filePath(QString::fromUtf8(name))).toStdString();
}

// The message of the error f throws, or "<no error>".
inline QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("<no error>");
}

// The files in a folder, hidden ones included, by name.
inline QStringList entries(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Writes bytes as a whole file, for fixtures handed to the loader.
inline void writeFile(const QString& name, const std::vector<std::uint8_t>& bytes)
{
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())), qint64(bytes.size()));
}

// Sensor noise: near-Gaussian (the sum of four uniform draws) with the
// given standard deviation, from a generator whose sequence is fixed.
inline void addNoise(TBitmap& b, double sigma, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const double scale = sigma * std::sqrt(3.0) / double(rng.max());
    auto noise = [&] { return (double(rng()) + double(rng()) + double(rng()) + double(rng()) - 2.0 * rng.max()) * scale; };
    for (int y = 0; y < b.height(); ++y) {
        std::uint32_t* row = b.scanLine(y);
        for (int x = 0; x < b.width(); ++x) {
            const std::uint32_t p = row[x];
            auto ch = [&](int shift) { return std::clamp(int(std::lround(((p >> shift) & 0xFF) + noise())), 0, 255); };
            row[x] = pixelFromColor(RGB(ch(16), ch(8), ch(0)));
        }
    }
}
