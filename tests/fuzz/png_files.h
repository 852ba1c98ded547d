// PNG files for the tests and the fuzzer's seeds: files of any colour type,
// bit depth and interlacing written by libpng itself from sample values, and
// chunks laid out byte by byte for the damaged and hostile ones.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace pngfiles {

using Bytes = std::vector<std::uint8_t>;

inline int channelsOf(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default: // grey, palette
        return 1;
    }
}

// A picture as PNG stores it: one value per sample (a palette index for a
// palette picture), row after row, at the file's bit depth.
struct Image {
    int width = 1;
    int height = 1;
    int depth = 8;
    int colourType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<std::uint16_t> samples;
    std::vector<png_color> palette;
    std::vector<std::uint8_t> paletteAlpha; // tRNS of a palette picture
    bool hasTransparentColour = false; // tRNS of a grey or RGB picture
    png_color_16 transparentColour {};
};

namespace detail {

[[noreturn]] inline void fixtureError(png_structp, png_const_charp message)
{
    // A fixture libpng will not write is a mistake in the test itself.
    std::fprintf(stderr, "pngfiles: libpng refused a fixture: %s\n", message);
    std::abort();
}

inline void append(png_structp png, png_bytep data, std::size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

inline void noFlush(png_structp) { }

// One row packed as PNG stores it: samples of less than 8 bits filled in from
// the most significant bit, 16-bit ones most significant byte first.
inline Bytes packedRow(const Image& image, int y)
{
    const int perRow = image.width * channelsOf(image.colourType);
    const std::uint16_t* in = image.samples.data() + std::size_t(y) * std::size_t(perRow);
    Bytes row;
    if (image.depth == 16) {
        for (int i = 0; i < perRow; ++i)
            row.insert(row.end(), { std::uint8_t(in[i] >> 8), std::uint8_t(in[i]) });
    } else if (image.depth == 8) {
        row.assign(in, in + perRow);
    } else {
        row.assign(std::size_t((perRow * image.depth + 7) / 8), 0);
        for (int i = 0; i < perRow; ++i) {
            const int bit = i * image.depth;
            row[std::size_t(bit / 8)] |= std::uint8_t(in[i] << (8 - image.depth - bit % 8));
        }
    }
    return row;
}

} // namespace detail

// The file libpng writes for the image.
inline Bytes encode(const Image& image)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, detail::fixtureError, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, detail::append, detail::noFlush);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.depth, image.colourType,
        image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), int(image.palette.size()));
    if (!image.paletteAlpha.empty())
        png_set_tRNS(png, info, image.paletteAlpha.data(), int(image.paletteAlpha.size()), nullptr);
    if (image.hasTransparentColour)
        png_set_tRNS(png, info, nullptr, 0, &image.transparentColour);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    std::vector<Bytes> rows;
    for (int y = 0; y < image.height; ++y)
        rows.push_back(detail::packedRow(image, y));
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < image.height; ++y)
            png_write_row(png, rows[std::size_t(y)].data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

inline void put32(Bytes& b, std::uint32_t v)
{
    b.insert(b.end(), { std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v) });
}

// A chunk with its length and checksum.
inline Bytes chunk(const char* type, const Bytes& data)
{
    Bytes b;
    put32(b, std::uint32_t(data.size()));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, data.data(), uInt(data.size()));
    put32(b, std::uint32_t(crc));
    return b;
}

// The signature and an IHDR chunk, which every file starts with.
inline Bytes start(std::uint32_t width, std::uint32_t height, int depth, int colourType, bool interlaced = false)
{
    Bytes b { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    Bytes ihdr;
    put32(ihdr, width);
    put32(ihdr, height);
    ihdr.insert(ihdr.end(), { std::uint8_t(depth), std::uint8_t(colourType), 0, 0, std::uint8_t(interlaced) });
    const Bytes c = chunk("IHDR", ihdr);
    b.insert(b.end(), c.begin(), c.end());
    return b;
}

// Bytes compressed by zlib at its best, as IDAT and zTXt carry them.
inline Bytes deflated(const Bytes& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), 9) != Z_OK)
        std::abort();
    out.resize(size);
    return out;
}

// file with a chunk put in before its first chunk of type `before`.
inline Bytes withChunkBefore(const Bytes& file, const char* before, const Bytes& extra)
{
    std::size_t pos = 8;
    while (pos + 8 <= file.size()) {
        if (std::memcmp(file.data() + pos + 4, before, 4) == 0) {
            Bytes out(file.begin(), file.begin() + long(pos));
            out.insert(out.end(), extra.begin(), extra.end());
            out.insert(out.end(), file.begin() + long(pos), file.end());
            return out;
        }
        const std::uint32_t length = std::uint32_t(file[pos]) << 24 | std::uint32_t(file[pos + 1]) << 16
            | std::uint32_t(file[pos + 2]) << 8 | file[pos + 3];
        pos += 12 + length;
    }
    return file;
}

// A zTXt chunk whose text inflates to `size` zero bytes.
inline Bytes zeroText(std::size_t size)
{
    Bytes data { 'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0 };
    const Bytes packed = deflated(Bytes(size, 0));
    data.insert(data.end(), packed.begin(), packed.end());
    return chunk("zTXt", data);
}

} // namespace pngfiles
