#include "video_format.h"

namespace {

void put16(VideoFormat& f, std::size_t at, std::uint32_t v)
{
    f.bytes[at] = std::uint8_t(v);
    f.bytes[at + 1] = std::uint8_t(v >> 8);
}

void put32(VideoFormat& f, std::size_t at, std::uint32_t v)
{
    put16(f, at, v & 0xFFFF);
    put16(f, at + 2, v >> 16);
}

} // namespace

VideoFormat VideoFormat::ofFrame(std::int32_t width, std::int32_t height)
{
    VideoFormat f;
    put32(f, 0, 40); // biSize
    put32(f, 4, std::uint32_t(width));
    put32(f, 8, std::uint32_t(height));
    put16(f, 12, 1); // biPlanes
    put16(f, 14, 24); // biBitCount
    // biCompression 0 (uncompressed); biSizeImage: rows padded to 4 bytes.
    const std::uint64_t row = (std::uint64_t(std::uint32_t(width)) * 3 + 3) / 4 * 4;
    const std::uint64_t size = row * std::uint64_t(height < 0 ? -std::int64_t(height) : height);
    put32(f, 20, size > 0xFFFFFFFFu ? 0 : std::uint32_t(size));
    return f;
}
