// Windows bitmap files: a careful reader and a plain 24-bit writer.
//
// The reader trusts nothing in a file. Every header field is checked, and
// the palette, the masks and (for uncompressed files) every pixel row are
// proven to lie inside the file before the picture is allocated, so a small
// file that claims a huge picture is refused at once.
//
// Decisions a reader has to make, and the ones made here:
// - Pixels that RLE data never sets (skipped by a delta, by an end-of-line
//   or by an early end-of-bitmap) are black, whatever the palette holds.
//   They are filled only when the decoder passes them on the way to the next
//   pixel it writes, or at the end-of-bitmap marker, so damaged RLE data that
//   runs out early fails before it has touched most of the picture.
// - RLE data must end with the end-of-bitmap marker; data that just stops
//   is treated as truncated.
// - bfSize, biSizeImage, the resolution, biClrImportant and the colour space
//   fields of V4/V5 headers are not used: they are often wrong in files that
//   are otherwise fine, and nothing here depends on them. The pixel rows are
//   measured from the width, height and bit count instead.
// - OS/2 2.x headers may be cut short after any of their fields, so they
//   come in every length from 16 to 64 bytes that ends on a field boundary,
//   and all of them are read: their first 40 bytes mean the same as a
//   BITMAPINFOHEADER, and the fields a short one leaves out are taken as 0
//   (no compression, a full palette). The lengths 40, 52 and 56 are read as
//   the Windows headers of those lengths. Only uncompressed, RLE8 and RLE4
//   data is accepted under an OS/2 2.x header, since its compression values
//   3 and 4 mean Huffman and RLE24, which are not supported.
// - The memory rule of picture_limits.h holds: an uncompressed file is at
//   least an eighth of a byte per pixel, but RLE data can leave a whole
//   picture black in a few bytes, so a small RLE file may not claim a picture
//   larger than its size justifies.
// - An OS/2 1.x palette may be shorter than 2^bpp entries: it holds as many
//   3-byte entries as fit between the header and the pixel data (at most
//   2^bpp). A pixel whose index lies past the palette is an error anyway.
// - BI_ALPHABITFIELDS (16 and 32 bits) is read like BI_BITFIELDS; the alpha
//   mask is checked like the others but alpha is dropped, as pictures here
//   are opaque.
#include "bmp_codec.h"

#include "picture_limits.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kFileHeaderSize = 14;

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kJpeg = 4;
constexpr std::uint32_t kPng = 5;
constexpr std::uint32_t kAlphaBitFields = 6;

constexpr std::uint32_t kCoreHeader = 12;
constexpr std::uint32_t kInfoHeader = 40;
constexpr std::uint32_t kV2Header = 52;
constexpr std::uint32_t kV3Header = 56;
constexpr std::uint32_t kOs2v2Header = 64;
constexpr std::uint32_t kShortestOs2v2Header = 16;
constexpr std::uint32_t kV4Header = 108;
constexpr std::uint32_t kV5Header = 124;

constexpr std::uint32_t kOpaque = 0xFF000000u;

[[noreturn]] void damaged(const std::string& detail)
{
    throw EPictureError(std::string(kDamagedPicture) + ": " + detail);
}

[[noreturn]] void badHeader(const std::string& detail)
{
    throw EPictureError("The BMP file cannot be opened: " + detail);
}

std::uint16_t readU16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

std::uint32_t readU32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
        | (std::uint32_t(p[3]) << 24);
}

std::int32_t readI32(const std::uint8_t* p) { return std::int32_t(readU32(p)); }

void writeU16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void writeU32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// One colour channel of a bit-field pixel, scaled exactly to 0..255.
class TChannel {
public:
    void setMask(std::uint32_t mask)
    {
        mask_ = mask;
        shift_ = mask ? std::countr_zero(mask) : 0;
        bits_ = std::popcount(mask);
        max_ = bits_ ? (std::uint64_t(1) << bits_) - 1 : 0;
        lut_.clear();
        // Up to 16 bits a table is cheaper than a division per pixel.
        if (bits_ > 0 && bits_ <= 16) {
            lut_.resize(std::size_t(max_) + 1);
            for (std::uint64_t v = 0; v <= max_; ++v)
                lut_[std::size_t(v)] = std::uint8_t(scaled(v));
        }
    }

    std::uint32_t value(std::uint32_t px) const
    {
        const std::uint32_t v = (px & mask_) >> shift_;
        return lut_.empty() ? scaled(v) : lut_[v];
    }

private:
    std::uint32_t scaled(std::uint64_t v) const { return std::uint32_t((v * 255 + max_ / 2) / max_); }

    std::uint32_t mask_ = 0;
    int shift_ = 0;
    int bits_ = 0;
    std::uint64_t max_ = 0;
    std::vector<std::uint8_t> lut_;
};

void checkMask(std::uint32_t mask, const char* name, int bpp)
{
    if (mask == 0)
        badHeader(std::string("its ") + name + " bit-field mask is zero");
    const std::uint64_t shifted = std::uint64_t(mask) >> std::countr_zero(mask);
    if ((shifted & (shifted + 1)) != 0)
        badHeader(std::string("its ") + name + " bit-field mask is not one run of bits");
    if (bpp == 16 && (mask >> 16) != 0)
        badHeader(std::string("its ") + name + " bit-field mask lies outside the 16-bit pixel");
}

struct THeader {
    std::uint32_t offBits = 0;
    std::uint32_t infoSize = 0;
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = kRgb;
    std::array<std::uint32_t, 4> masks {}; // red, green, blue, alpha
    std::size_t maskBytes = 0; // masks stored after a 40-byte header
    std::array<std::uint32_t, 256> palette {};
    std::size_t paletteSize = 0;
};

// OS/2 2.x header lengths: every field boundary from 16 to 64 bytes, the
// 2-byte fields between 40 and 48 included.
bool isOs2v2Length(std::uint32_t length)
{
    if (length < kShortestOs2v2Header || length > kOs2v2Header)
        return false;
    return length % 4 == 0 || (length > 40 && length < 48 && length % 2 == 0);
}

bool isWindowsLength(std::uint32_t length)
{
    return length == kInfoHeader || length == kV2Header || length == kV3Header || length == kV4Header
        || length == kV5Header;
}

// The info header fields that are checked but not kept in THeader.
struct TInfoFields {
    bool os2v2 = false;
    long long width = 0, height = 0; // height as stored: negative for top-down rows
    unsigned planes = 0;
    std::uint32_t clrUsed = 0;
};

// The file header and the info header: their lengths, then the fields of
// whichever kind of info header the file has, with the sides and planes
// checked. Leaves f.height positive and the row order in h.topDown.
TInfoFields readInfoHeader(const std::uint8_t* data, std::size_t size, THeader& h)
{
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        throw EPictureError(kNotAPicture);
    if (size < kFileHeaderSize + 4)
        damaged("the BMP file ends inside its file header");

    TInfoFields f;
    h.offBits = readU32(data + 10);
    h.infoSize = readU32(data + 14);
    f.os2v2 = isOs2v2Length(h.infoSize) && !isWindowsLength(h.infoSize);
    if (h.infoSize != kCoreHeader && !f.os2v2 && !isWindowsLength(h.infoSize))
        badHeader("its info header has an unknown size of " + std::to_string(h.infoSize) + " bytes");
    if (size < kFileHeaderSize + h.infoSize)
        damaged("the BMP file ends inside its info header");

    // A short OS/2 2.x header reads as its full 40 bytes with the missing
    // fields zero.
    std::array<std::uint8_t, kInfoHeader> padded {};
    const std::uint8_t* info = data + kFileHeaderSize;
    if (h.infoSize < kInfoHeader && h.infoSize != kCoreHeader) {
        std::copy(info, info + h.infoSize, padded.begin());
        info = padded.data();
    }
    if (h.infoSize == kCoreHeader) {
        // OS/2 1.x: unsigned 16-bit sides, always bottom-up, never compressed.
        f.width = readU16(info + 4);
        f.height = readU16(info + 6);
        f.planes = readU16(info + 8);
        h.bpp = readU16(info + 10);
    } else {
        f.width = readI32(info + 4);
        f.height = readI32(info + 8);
        f.planes = readU16(info + 12);
        h.bpp = readU16(info + 14);
        h.compression = readU32(info + 16);
        f.clrUsed = readU32(info + 32);
    }

    if (f.width <= 0)
        badHeader("its width is " + std::to_string(f.width) + "; it must be positive");
    if (f.height == 0)
        badHeader("its height is 0");
    if (f.height == std::numeric_limits<std::int32_t>::min())
        badHeader("its height is out of range");
    h.topDown = f.height < 0;
    f.height = f.height < 0 ? -f.height : f.height;
    if (f.planes != 1)
        badHeader("it has " + std::to_string(f.planes) + " planes; a BMP has exactly 1");
    return f;
}

// The compression, the bit count and whether the two go together.
void checkEncoding(const THeader& h, bool os2v2)
{
    if (os2v2 && h.compression > kRle4) {
        if (h.compression == 3)
            badHeader("Huffman-compressed OS/2 bitmaps are not supported");
        if (h.compression == 4)
            badHeader("RLE24-compressed OS/2 bitmaps are not supported");
        badHeader("its compression " + std::to_string(h.compression) + " is unknown for an OS/2 bitmap");
    }
    if (h.compression == kJpeg || h.compression == kPng)
        badHeader(h.compression == kJpeg ? "a JPEG stored inside a BMP file is not supported"
                                         : "a PNG stored inside a BMP file is not supported");

    const int bpp = h.bpp;
    if (h.infoSize == kCoreHeader) {
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
            badHeader("an OS/2 1.x bitmap with " + std::to_string(bpp) + " bits per pixel is not valid");
    } else if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        badHeader(std::to_string(bpp) + " bits per pixel is not a valid BMP bit count");
    }

    switch (h.compression) {
    case kRgb:
        break;
    case kRle8:
    case kRle4:
        if (bpp != (h.compression == kRle8 ? 8 : 4))
            badHeader((h.compression == kRle8 ? std::string("RLE8 needs 8") : std::string("RLE4 needs 4"))
                + " bits per pixel, the file has " + std::to_string(bpp));
        if (h.topDown)
            badHeader("RLE-compressed pixels cannot be stored top-down");
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (bpp != 16 && bpp != 32)
            badHeader("bit-field masks need 16 or 32 bits per pixel, the file has " + std::to_string(bpp));
        break;
    default:
        badHeader("its compression " + std::to_string(h.compression) + " is unknown");
    }
}

// The colour masks of 16- and 32-bit pixels: stored ones (after a 40-byte
// header, or inside a longer one) are read and checked, the others are the
// defaults for the bit count.
void readMasks(const std::uint8_t* data, std::size_t size, THeader& h)
{
    const int bpp = h.bpp;
    if (h.compression != kBitFields && h.compression != kAlphaBitFields) {
        if (bpp == 16)
            h.masks = { 0x7C00u, 0x03E0u, 0x001Fu, 0 };
        else if (bpp == 32)
            h.masks = { 0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0 };
        return;
    }
    // Just after the first 40 bytes of the info header, either way.
    const std::size_t maskPos = kFileHeaderSize + kInfoHeader;
    if (h.infoSize == kInfoHeader) {
        h.maskBytes = h.compression == kAlphaBitFields ? 16 : 12;
        if (size < maskPos + h.maskBytes)
            damaged("the BMP file ends inside its bit-field masks");
    }
    const std::size_t maskCount = h.maskBytes ? h.maskBytes / 4 : (h.infoSize == kV2Header ? 3 : 4);
    for (std::size_t i = 0; i < maskCount; ++i)
        h.masks[i] = readU32(data + maskPos + 4 * i);
    checkMask(h.masks[0], "red", bpp);
    checkMask(h.masks[1], "green", bpp);
    checkMask(h.masks[2], "blue", bpp);
    if (h.masks[3] != 0)
        checkMask(h.masks[3], "alpha", bpp);
    if ((h.masks[0] & h.masks[1]) || (h.masks[0] & h.masks[2]) || (h.masks[1] & h.masks[2])
        || ((h.masks[0] | h.masks[1] | h.masks[2]) & h.masks[3]))
        badHeader("its bit-field masks overlap");
}

// The palette of a picture of 8 bits per pixel or fewer, which starts where
// the headers and masks end and must end inside the file, before the pixels.
void readPalette(const std::uint8_t* data, std::size_t size, std::uint64_t headersEnd, std::uint32_t clrUsed,
    THeader& h)
{
    const std::size_t maxEntries = std::size_t(1) << h.bpp;
    const std::size_t entryBytes = h.infoSize == kCoreHeader ? 3 : 4;
    std::size_t entries = 0;
    if (h.infoSize == kCoreHeader) {
        entries = std::min<std::size_t>(maxEntries, (h.offBits - headersEnd) / entryBytes);
        if (entries == 0)
            badHeader("it has no room for its palette");
    } else {
        if (clrUsed > maxEntries)
            badHeader("its palette has " + std::to_string(clrUsed) + " colours; "
                + std::to_string(h.bpp) + " bits per pixel allow at most " + std::to_string(maxEntries));
        entries = clrUsed == 0 ? maxEntries : clrUsed;
    }
    const std::uint64_t paletteEnd = headersEnd + std::uint64_t(entries) * entryBytes;
    if (paletteEnd > size)
        damaged("the BMP file ends inside its palette");
    if (paletteEnd > h.offBits)
        badHeader("its pixel data offset " + std::to_string(h.offBits) + " lies inside its palette");
    const std::uint8_t* p = data + headersEnd;
    for (std::size_t i = 0; i < entries; ++i, p += entryBytes)
        h.palette[i] = kOpaque | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
    h.paletteSize = entries;
}

// The pixels start inside the file and, uncompressed, every row fits in it;
// then the memory rule.
void checkPixelData(std::size_t size, const THeader& h)
{
    if (h.offBits >= size)
        damaged("the BMP pixel data would start past the end of the file");
    if (h.compression != kRle8 && h.compression != kRle4) {
        const std::uint64_t stride = ((std::uint64_t(h.width) * std::uint64_t(h.bpp) + 31) / 32) * 4;
        if (stride * std::uint64_t(h.height) > size - h.offBits)
            damaged("the BMP header promises more pixels than the file holds");
    }
    // The pixel store, and at most 1 MB of colour tables.
    checkPictureMemory(h.width, h.height, std::uint64_t(h.width) * std::uint64_t(h.height) * 4 + (1u << 20), size);
}

// Reads and checks everything up to the pixel data; allocates nothing. The
// checks run in this order, so a file with several faults is always refused
// for the same one.
THeader readHeader(const std::uint8_t* data, std::size_t size)
{
    THeader h;
    const TInfoFields f = readInfoHeader(data, size, h);
    checkEncoding(h, f.os2v2);
    checkPictureSize(f.width, f.height);
    h.width = int(f.width);
    h.height = int(f.height);
    readMasks(data, size, h);

    // The pixels start after the headers, the masks and the palette.
    const std::uint64_t headersEnd = kFileHeaderSize + std::uint64_t(h.infoSize) + h.maskBytes;
    if (h.offBits < headersEnd)
        badHeader("its pixel data offset " + std::to_string(h.offBits) + " lies inside its headers");
    if (h.bpp <= 8)
        readPalette(data, size, headersEnd, f.clrUsed, h);
    checkPixelData(size, h);
    return h;
}

[[noreturn]] void badIndex(unsigned index, std::size_t paletteSize)
{
    damaged("a BMP pixel uses colour " + std::to_string(index) + " of a palette of "
        + std::to_string(paletteSize));
}

// What the row decoders need besides the row: the palette, or the tables
// that turn 16- and 32-bit pixels into colours.
struct TRowTables {
    const THeader& h;
    std::vector<std::uint32_t> lut16;
    TChannel red, green, blue;
};

using TRowDecoder = void (*)(const std::uint8_t* src, std::uint32_t* dst, int width, const TRowTables& t);

template <int Bpp>
void decodeIndexedRow(const std::uint8_t* src, std::uint32_t* dst, int width, const TRowTables& t)
{
    constexpr unsigned perByte = 8 / Bpp;
    constexpr unsigned indexMask = (1u << Bpp) - 1;
    const std::uint32_t* pal = t.h.palette.data();
    const unsigned count = unsigned(t.h.paletteSize);
    for (int x = 0; x < width; ++x) {
        const unsigned slot = unsigned(x) % perByte;
        const unsigned index = (src[unsigned(x) / perByte] >> (8 - Bpp - slot * Bpp)) & indexMask;
        if (index >= count)
            badIndex(index, count);
        dst[x] = pal[index];
    }
}

void decode16Row(const std::uint8_t* s, std::uint32_t* d, int w, const TRowTables& t)
{
    const std::uint32_t* lut = t.lut16.data();
    for (int x = 0; x < w; ++x, s += 2)
        d[x] = lut[std::uint32_t(s[0]) | (std::uint32_t(s[1]) << 8)];
}

// 24-bit pixels, and 32-bit ones with the plain 8-8-8 masks: B, G, R bytes.
template <int Bytes>
void decodeBgrRow(const std::uint8_t* s, std::uint32_t* d, int w, const TRowTables&)
{
    for (int x = 0; x < w; ++x, s += Bytes)
        d[x] = kOpaque | (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[1]) << 8) | s[0];
}

void decodeMasked32Row(const std::uint8_t* s, std::uint32_t* d, int w, const TRowTables& t)
{
    for (int x = 0; x < w; ++x, s += 4) {
        const std::uint32_t px = readU32(s);
        d[x] = kOpaque | (t.red.value(px) << 16) | (t.green.value(px) << 8) | t.blue.value(px);
    }
}

void decodeUncompressed(const std::uint8_t* data, const THeader& h, TBitmap& picture)
{
    const int w = h.width;
    const std::size_t stride = ((std::size_t(w) * std::size_t(h.bpp) + 31) / 32) * 4;
    const std::uint8_t* pixels = data + h.offBits;

    // 16-bit pixels go through one table of all 65536 values; 32-bit pixels
    // through one table per channel unless they are plain 8-8-8.
    TRowTables t { h, {}, {}, {}, {} };
    bool plain32 = false;
    if (h.bpp == 16 || h.bpp == 32) {
        t.red.setMask(h.masks[0]);
        t.green.setMask(h.masks[1]);
        t.blue.setMask(h.masks[2]);
        plain32 = h.bpp == 32 && h.masks[0] == 0x00FF0000u && h.masks[1] == 0x0000FF00u
            && h.masks[2] == 0x000000FFu;
        if (h.bpp == 16) {
            t.lut16.resize(65536);
            for (std::uint32_t v = 0; v < 65536; ++v)
                t.lut16[v] = kOpaque | (t.red.value(v) << 16) | (t.green.value(v) << 8) | t.blue.value(v);
        }
    }

    // Chosen once per picture; readHeader has allowed only these bit counts.
    const TRowDecoder decodeRow = h.bpp == 16 ? decode16Row
        : h.bpp == 24 ? decodeBgrRow<3>
        : h.bpp == 32 ? (plain32 ? decodeBgrRow<4> : decodeMasked32Row)
        : h.bpp == 1 ? decodeIndexedRow<1>
        : h.bpp == 4 ? decodeIndexedRow<4>
        : decodeIndexedRow<8>;
    for (int row = 0; row < h.height; ++row)
        decodeRow(pixels + std::size_t(row) * stride, picture.scanLine(h.topDown ? row : h.height - 1 - row), w, t);
}

// RLE8 and RLE4. Rows are counted in file order (bottom-up); `filledRow` and
// `filledX` mark how far the picture is defined, so skipped pixels are made
// black only when the decoder moves past them to write, or at the end.
class TRleDecoder {
public:
    TRleDecoder(const std::uint8_t* data, std::size_t size, const THeader& h, TBitmap& picture)
        : p_(data + h.offBits)
        , end_(data + size)
        , h_(h)
        , picture_(picture)
        , fourBit_(h.compression == kRle4)
    {
    }

    void run()
    {
        for (;;) {
            need(2, "the RLE data ends before its end-of-bitmap marker");
            const unsigned count = p_[0];
            const unsigned value = p_[1];
            p_ += 2;
            if (count > 0) {
                std::uint32_t* d = startWrite(count, "an RLE run goes past the end of its row");
                if (fourBit_) {
                    const std::uint32_t first = colour(value >> 4);
                    const std::uint32_t second = colour(value & 0xF);
                    for (unsigned i = 0; i < count; ++i)
                        d[i] = (i & 1) ? second : first;
                } else {
                    std::fill(d, d + count, colour(value));
                }
                x_ += count;
                continue;
            }
            switch (value) {
            case 0: // end of line
                if (row_ >= h_.height)
                    damaged("an RLE end-of-line moves past the top of the picture");
                ++row_;
                x_ = 0;
                break;
            case 1: // end of bitmap
                fillUpTo(h_.height, 0);
                return;
            case 2: { // delta
                need(2, "the RLE data ends inside a delta");
                const unsigned dx = p_[0];
                const unsigned dy = p_[1];
                p_ += 2;
                if (x_ + dx > unsigned(h_.width))
                    damaged("an RLE delta moves past the end of its row");
                if (row_ + int(dy) >= h_.height)
                    damaged("an RLE delta moves past the top of the picture");
                x_ += dx;
                row_ += int(dy);
                break;
            }
            default: { // literal pixels, padded to a 16-bit boundary
                const unsigned bytes = fourBit_ ? (value + 1) / 2 : value;
                need(bytes + (bytes & 1), "the RLE data ends inside a run of literal pixels");
                std::uint32_t* d = startWrite(value, "RLE literal pixels go past the end of their row");
                for (unsigned i = 0; i < value; ++i) {
                    const unsigned index = fourBit_ ? ((p_[i / 2] >> ((i & 1) ? 0 : 4)) & 0xF) : p_[i];
                    d[i] = colour(index);
                }
                p_ += bytes + (bytes & 1);
                x_ += value;
                break;
            }
            }
        }
    }

private:
    void need(std::size_t n, const char* what) const
    {
        if (std::size_t(end_ - p_) < n)
            damaged(what);
    }

    std::uint32_t colour(unsigned index) const
    {
        if (index >= h_.paletteSize)
            badIndex(index, h_.paletteSize);
        return h_.palette[index];
    }

    std::uint32_t* line(int fileRow) { return picture_.scanLine(h_.height - 1 - fileRow); }

    // Checks that `count` pixels fit at the cursor, makes everything before
    // the cursor defined and returns where they go.
    std::uint32_t* startWrite(unsigned count, const char* overflow)
    {
        if (row_ >= h_.height)
            damaged("RLE pixels lie past the top of the picture");
        if (x_ + count > unsigned(h_.width))
            damaged(overflow);
        fillUpTo(row_, x_);
        filledX_ = x_ + count;
        return line(row_) + x_;
    }

    // Paints black from the filled mark up to (row, x) in file order.
    void fillUpTo(int row, unsigned x)
    {
        const std::uint32_t black = kOpaque;
        const unsigned w = unsigned(h_.width);
        while (filledRow_ < row) {
            std::uint32_t* d = line(filledRow_);
            std::fill(d + filledX_, d + w, black);
            ++filledRow_;
            filledX_ = 0;
        }
        if (filledRow_ < h_.height && filledX_ < x) {
            std::uint32_t* d = line(filledRow_);
            std::fill(d + filledX_, d + x, black);
            filledX_ = x;
        }
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    const THeader& h_;
    TBitmap& picture_;
    bool fourBit_;
    int row_ = 0;
    unsigned x_ = 0;
    int filledRow_ = 0;
    unsigned filledX_ = 0;
};

} // namespace

bool looksLikeBmp(const std::uint8_t* data, std::size_t size)
{
    return data && size >= 2 && data[0] == 'B' && data[1] == 'M';
}

TBitmap decodeBmp(const std::uint8_t* data, std::size_t size)
{
    if (!data)
        size = 0;
    const THeader h = readHeader(data, size);
    // A failed allocation leaves as std::bad_alloc, which the window reports
    // as "Out of system resources" like any other.
    TBitmap picture;
    picture.allocateUninitialized(h.width, h.height);
    if (h.compression == kRle8 || h.compression == kRle4)
        TRleDecoder(data, size, h, picture).run();
    else
        decodeUncompressed(data, h, picture);
    return picture;
}

namespace {

// Where everything lies in the file the writer makes: the two headers, then
// the rows bottom-up, each three bytes a pixel padded with zeros to a
// multiple of 4 bytes.
struct WrittenLayout {
    std::size_t width;
    std::size_t height;
    std::size_t stride; // a row with its padding
    std::uint64_t imageSize;
    std::uint64_t fileSize;

    static constexpr std::size_t kHeaders = kFileHeaderSize + kInfoHeader;

    // Where the picture's row y (counted from the top) starts.
    std::uint64_t rowOffset(std::size_t y) const { return kHeaders + std::uint64_t(height - 1 - y) * stride; }
};

WrittenLayout writtenLayout(int width, int height)
{
    if (width < 1 || height < 1)
        throw std::invalid_argument("A BMP file needs at least one pixel, not " + pictureSizeText(width, height));
    WrittenLayout l {};
    l.width = std::size_t(width);
    l.height = std::size_t(height);
    l.stride = (l.width * 3 + 3) & ~std::size_t(3);
    l.imageSize = std::uint64_t(l.stride) * l.height;
    l.fileSize = WrittenLayout::kHeaders + l.imageSize;
    // Its sizes are 32-bit fields.
    if (l.fileSize > std::numeric_limits<std::uint32_t>::max())
        throw EOrvantaError("The picture is too large for a BMP file");
    return l;
}

void writeHeaders(std::uint8_t* o, const WrittenLayout& l)
{
    o[0] = 'B';
    o[1] = 'M';
    writeU32(o + 2, std::uint32_t(l.fileSize));
    writeU32(o + 6, 0);
    writeU32(o + 10, std::uint32_t(WrittenLayout::kHeaders));
    std::uint8_t* info = o + kFileHeaderSize;
    writeU32(info + 0, kInfoHeader);
    writeU32(info + 4, std::uint32_t(l.width));
    writeU32(info + 8, std::uint32_t(l.height));
    writeU16(info + 12, 1);
    writeU16(info + 14, 24);
    writeU32(info + 16, kRgb);
    writeU32(info + 20, std::uint32_t(l.imageSize));
    writeU32(info + 24, 0);
    writeU32(info + 28, 0);
    writeU32(info + 32, 0);
    writeU32(info + 36, 0);
}

// One row as stored: B, G, R for each pixel, then the padding.
void storeRow(const std::uint32_t* s, std::uint8_t* d, const WrittenLayout& l)
{
    for (std::size_t x = 0; x < l.width; ++x, d += 3) {
        const std::uint32_t px = s[x];
        d[0] = std::uint8_t(px);
        d[1] = std::uint8_t(px >> 8);
        d[2] = std::uint8_t(px >> 16);
    }
    std::memset(d, 0, l.stride - l.width * 3);
}

// Rows are written a batch at a time: the rows of a batch, coming top to
// bottom, lie next to each other in the file in the opposite order, so a
// batch is one piece of the file. A batch is about this size, or one row of
// a wider picture.
constexpr std::size_t kBatchBytes = std::size_t(256) << 10;

class VectorPlacedSink final : public PlacedByteSink {
public:
    explicit VectorPlacedSink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) { }
    void reserveBytes(std::uint64_t size) override { bytes_.resize(std::size_t(size)); }
    void writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            throw std::out_of_range("A BMP piece outside its file");
        std::memcpy(bytes_.data() + offset, data, size);
    }

private:
    std::vector<std::uint8_t>& bytes_;
};


} // namespace

std::uint64_t bmpFileSize(int width, int height) { return writtenLayout(width, height).fileSize; }

namespace {

// encodeBmp's bytes from rows handed over one by one: the headers at once,
// then each batch of rows into its place when its last row has come.
class BmpRowEncoder final : public RowEncoder {
public:
    BmpRowEncoder(int width, int height, PlacedByteSink& out)
        : layout_(writtenLayout(width, height)), out_(out),
          batchRows_(std::clamp<std::size_t>(kBatchBytes / layout_.stride, 1, layout_.height)),
          batch_(batchRows_ * layout_.stride)
    {
        out_.reserveBytes(layout_.fileSize);
        std::uint8_t headers[WrittenLayout::kHeaders];
        writeHeaders(headers, layout_);
        out_.writeAt(0, headers, sizeof headers);
    }

    void write(const std::uint32_t* row) override
    {
        if (failed_ || next_ >= layout_.height)
            throw std::logic_error("a BMP row past the picture's last, or after an error");
        // Row first + i of a batch of count goes i rows before the end of
        // the piece, whose start is where the batch's last row lies.
        const std::size_t first = next_ - next_ % batchRows_;
        const std::size_t count = std::min(batchRows_, layout_.height - first);
        storeRow(row, batch_.data() + (count - 1 - (next_ - first)) * layout_.stride, layout_);
        ++next_;
        if (next_ == first + count) {
            failed_ = true; // unless the piece is written
            out_.writeAt(layout_.rowOffset(first + count - 1), batch_.data(), count * layout_.stride);
            failed_ = false;
        }
    }
    void finish() override
    {
        if (failed_ || next_ != layout_.height)
            throw std::logic_error("a BMP picture finished before its last row, or after an error");
    }

private:
    const WrittenLayout layout_;
    PlacedByteSink& out_;
    const std::size_t batchRows_;
    std::vector<std::uint8_t> batch_;
    std::size_t next_ = 0;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<RowEncoder> bmpRowEncoder(int width, int height, PlacedByteSink& out)
{
    return std::make_unique<BmpRowEncoder>(width, height, out);
}

void encodeBmpRows(int width, int height, RowSource& rows, PlacedByteSink& out)
{
    BmpRowEncoder encoder(width, height, out);
    encodeAll(encoder, height, rows);
}

std::vector<std::uint8_t> encodeBmp(const TBitmap& picture)
{
    std::vector<std::uint8_t> bytes;
    if (picture.empty())
        return bytes;
    BitmapRows rows(picture);
    VectorPlacedSink out(bytes);
    encodeBmpRows(picture.width(), picture.height(), rows, out);
    return bytes;
}
