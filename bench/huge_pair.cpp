#include "huge_pair.h"

#include "pictures/jpeg_codec.h"
#include "pictures/picture_rows.h"
#include "support.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bench {

namespace {

constexpr double kTau = 6.283185307179586;

// A camera's own choice of quality.
constexpr int kHugeQuality = 95;

std::uint32_t mix(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

int clampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// The scene both frames show, wider than a frame by the shift between them.
// Each channel is a sum of a part that changes along the width and one that
// changes down the height, kept in tables so that a pixel costs a few
// additions and a hash, on top of which comes the grain: a few levels of
// brightness and a little colour, different at every point of the scene and
// the same wherever a frame shows that point.
class Scene {
public:
    Scene(int width, int height)
        : width_(width)
        , height_(height)
    {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            across_.push_back({ int(40 + 170 * u), int(25 * std::sin(kTau * 2.5 * u)),
                int(-60 * u + 15 * std::sin(kTau * 4 * u + 1.0)) });
        }
    }

    // Scene row y from column first on, count pixels as 0xFFRRGGBB.
    void fill(int y, int first, int count, std::uint32_t* out) const
    {
        const double v = double(y) / height_;
        const int downR = int(20 * std::sin(kTau * 3 * v));
        const int downG = int(60 + 140 * v);
        const int downB = int(200 - 60 * v + 10 * std::sin(kTau * 5 * v + 2.0));
        const std::uint32_t rowSeed = std::uint32_t(y) * std::uint32_t(width_);
        for (int i = 0; i < count; ++i) {
            const int x = first + i;
            const Across& a = across_[std::size_t(x)];
            const std::uint32_t h = mix(rowSeed + std::uint32_t(x));
            // Brightness grain from -6 to 6, most often near 0, and colour
            // grain from -1 to 1 on red and blue.
            const int grain = int(h & 7) + int(h >> 3 & 7) - 7;
            const int tintR = int(h >> 6 & 3) - 1;
            const int tintB = int(h >> 8 & 3) - 1;
            const int r = clampByte(a.r + downR + grain + tintR);
            const int g = clampByte(a.g + downG + grain);
            const int b = clampByte(a.b + downB + grain + tintB);
            out[i] = 0xFF000000U | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
        }
    }

private:
    struct Across {
        int r, g, b;
    };
    int width_;
    int height_;
    std::vector<Across> across_;
};

// One frame's rows: the scene from column first on, made as the encoder
// asks for them.
class FrameRows final : public RowSource {
public:
    FrameRows(const Scene& scene, int first, int width)
        : scene_(scene)
        , first_(first)
        , row_(std::size_t(width))
    {
    }
    const std::uint32_t* row(int y) override
    {
        scene_.fill(y, first_, int(row_.size()), row_.data());
        return row_.data();
    }

private:
    const Scene& scene_;
    int first_;
    std::vector<std::uint32_t> row_;
};

class FileBytes final : public ByteSink {
public:
    explicit FileBytes(const std::string& path)
        : path_(path)
        , file_(std::fopen(path.c_str(), "wb"))
    {
        if (file_ == nullptr)
            throw BenchFailure("cannot write " + path + ": " + std::strerror(errno));
    }
    ~FileBytes() override
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    void write(const std::uint8_t* data, std::size_t size) override
    {
        if (std::fwrite(data, 1, size, file_) != size)
            throw BenchFailure("cannot write " + path_ + ": " + std::strerror(errno));
        total_ += (long long)size;
    }
    // Closes the file, throwing unless all of it reached the disk's cache.
    long long close()
    {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed)
            throw BenchFailure("cannot write " + path_ + ": " + std::strerror(errno));
        return total_;
    }

private:
    std::string path_;
    std::FILE* file_;
    long long total_ = 0;
};

long long writeFrame(const std::string& path, const Scene& scene, int first)
{
    FileBytes file(path);
    FrameRows rows(scene, first, kHugeWidth);
    encodeJpegRows(kHugeWidth, kHugeHeight, JpegSettings { kHugeQuality, false }, rows, file);
    return file.close();
}

} // namespace

void writeHugePair(const std::string& leftPath, const std::string& rightPath, long long& leftBytes,
    long long& rightBytes)
{
    const Scene scene(kHugeWidth + kHugeShift, kHugeHeight);
    leftBytes = writeFrame(leftPath, scene, 0);
    rightBytes = writeFrame(rightPath, scene, kHugeShift);
}

} // namespace bench
