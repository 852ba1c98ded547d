// A capture channel's video-format buffer: the first 44 bytes of the
// channel's current video format, a bitmap header (40 bytes) and room for one
// colour-table entry. The window reads the frame width at offset 4 and the
// height at offset 8, each a signed 32-bit little-endian number.
#pragma once

#include <array>
#include <cstdint>

struct VideoFormat {
    static constexpr std::size_t kSize = 44;
    std::array<std::uint8_t, kSize> bytes {};

    std::int32_t biWidth() const { return field(4); }
    std::int32_t biHeight() const { return field(8); }

    // The header of an uncompressed 24-bit frame of that size: what a back
    // end writes for the frames it delivers.
    static VideoFormat ofFrame(std::int32_t width, std::int32_t height);

private:
    std::int32_t field(std::size_t at) const
    {
        const std::uint32_t v = std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8
            | std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
        return std::int32_t(v);
    }
};
