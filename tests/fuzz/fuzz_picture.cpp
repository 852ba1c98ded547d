// libFuzzer entry: any bytes through the loader that opens frames (the
// window's JPEG and BMP, and orvanta-compose's PNG besides), through the
// JPEG decoder as orvanta-compose streams a file (read a few bytes at a
// time, its rows scaled down, none kept), and through the multi-picture
// reader when they carry its index. A clear
// error is fine; a crash, a hang, a sanitizer report or a runaway allocation
// is not.
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "pictures/stereo_files.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace {

// The bytes in pieces of a size that varies with the input, so that the
// library's skips over segments cross the pieces' edges.
class Pieces final : public ByteSource {
public:
    Pieces(const std::uint8_t* data, std::size_t size) : data_(data), size_(size), piece_(1 + size % 61) { }
    std::uint64_t size() const override { return size_; }
    std::size_t nextBytes(std::uint8_t* buffer, std::size_t capacity) override
    {
        const std::size_t n = std::min({ capacity, piece_, size_ - at_ });
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t piece_;
    std::size_t at_ = 0;
};

// Room for a few rows, written over and over.
class Discard final : public RowSink {
public:
    void begin(int width, int) override { rows_.assign(std::size_t(width) * 8, 0); width_ = std::size_t(width); }
    int room(int, int count, std::uint32_t** rows) override
    {
        const int n = std::min(count, 8);
        for (int i = 0; i < n; ++i)
            rows[i] = rows_.data() + std::size_t(i) * width_;
        return n;
    }
    void written(int, int) override { }

private:
    std::vector<std::uint32_t> rows_;
    std::size_t width_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const TBitmap picture = decodePictureOrPng(data, size);
        // Touch the picture so a decoder that left rows unset shows under
        // MemorySanitizer-like checks and its size is used.
        volatile std::uint32_t sink = 0;
        if (!picture.empty())
            sink = picture.scanLine(picture.height() - 1)[picture.width() - 1];
        (void)sink;
    } catch (const std::bad_alloc&) {
    } catch (const std::exception&) {
    }
    if (looksLikeJpeg(data, size)) {
        try {
            Pieces in(data, size);
            Discard rows;
            decodeJpegRows(in, rows, 1 << (size % 4));
        } catch (const std::bad_alloc&) {
        } catch (const std::exception&) {
        }
    }
    // A JPEG file with a multi-picture index: its index and the pair it
    // lists, as orvanta-compose opens it. The picture above is released by
    // now, so the pair alone is held to the memory rule.
    if (hasMultiPictureIndex(data, size)) {
        try {
            const StereoFrames pair = decodeMultiPicturePair(data, size);
            volatile std::uint32_t sink = pair.left.scanLine(pair.left.height() - 1)[pair.left.width() - 1]
                ^ pair.right.scanLine(pair.right.height() - 1)[pair.right.width() - 1];
            (void)sink;
        } catch (const std::bad_alloc&) {
        } catch (const std::exception&) {
        }
    }
    return 0;
}
