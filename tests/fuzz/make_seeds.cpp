// Writes a small seed corpus for the picture fuzzer: pictures of each kind
// the loader reads, made by our own encoders, by libjpeg with its other
// settings (progressive, arithmetic, multi-scan, restarts, inks) or laid out
// byte by byte, multi-picture files, and the hostile files the loader must
// refuse cheaply.
#include "compose/bitmap.h"
#include "jpeg_files.h"
#include "mpo_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/png_codec.h"
#include "png_files.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v) { b.insert(b.end(), { std::uint8_t(v), std::uint8_t(v >> 8) }); }
void put32(Bytes& b, std::uint32_t v)
{
    b.insert(b.end(), { std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24) });
}

// A BMP with a 40-byte header: the caller gives the palette or masks and the
// pixel bytes as they go in the file.
Bytes bmp(int w, int h, int bits, int compression, const Bytes& between, const Bytes& pixels, int colours = 0)
{
    Bytes b { 'B', 'M' };
    const std::uint32_t offset = 54 + std::uint32_t(between.size());
    put32(b, offset + std::uint32_t(pixels.size()));
    put32(b, 0);
    put32(b, offset);
    put32(b, 40);
    put32(b, std::uint32_t(w));
    put32(b, std::uint32_t(h));
    put16(b, 1);
    put16(b, unsigned(bits));
    put32(b, std::uint32_t(compression));
    put32(b, std::uint32_t(pixels.size()));
    put32(b, 0);
    put32(b, 0);
    put32(b, std::uint32_t(colours));
    put32(b, 0);
    b.insert(b.end(), between.begin(), between.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

TBitmap picture(int w, int h)
{
    TBitmap p;
    p.setSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.scanLine(y)[x] = 0xFF000000u | std::uint32_t(x * 40) << 16 | std::uint32_t(y * 50) << 8 | std::uint32_t(x * y);
    return p;
}

bool write(const std::string& folder, const char* name, const Bytes& bytes)
{
    const std::string path = folder + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Bytes palette2 { 0, 0, 0, 0, 255, 255, 255, 0 };
    Bytes palette16;
    for (int i = 0; i < 16; ++i)
        palette16.insert(palette16.end(), { std::uint8_t(i * 16), std::uint8_t(255 - i * 16), std::uint8_t(i * 8), 0 });
    Bytes masks565;
    put32(masks565, 0xF800);
    put32(masks565, 0x07E0);
    put32(masks565, 0x001F);
    bool ok = true;
    ok &= write(folder, "baseline.jpg", encodeJpeg(picture(6, 5)));
    ok &= write(folder, "rgb24.bmp", encodeBmp(picture(5, 3)));
    ok &= write(folder, "mono1.bmp", bmp(3, 2, 1, 0, palette2, { 0xA0, 0, 0, 0, 0x40, 0, 0, 0 }));
    ok &= write(folder, "pal4.bmp", bmp(3, 2, 4, 0, palette16, { 0x12, 0x30, 0, 0, 0xFE, 0xD0, 0, 0 }, 16));
    ok &= write(folder, "rle4.bmp", bmp(4, 2, 4, 2, palette16, { 4, 0x12, 0, 0, 0, 4, 0x34, 0x56, 0, 1 }, 16));
    ok &= write(folder, "rle8.bmp", bmp(4, 2, 8, 1, palette16, { 4, 1, 0, 0, 2, 2, 0, 2, 1, 0, 0, 1 }, 16));
    ok &= write(folder, "bitfields16.bmp", bmp(2, 2, 16, 3, masks565, { 0x1F, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF }));
    ok &= write(folder, "topdown32.bmp", bmp(2, -2, 32, 0, {}, Bytes(16, 0x7F)));
    // RLE that skips over most of its picture with a delta, leaving it black.
    ok &= write(folder, "rle8-sparse.bmp", bmp(400, 300, 8, 1, palette16, { 4, 1, 0, 2, 200, 100, 0, 1 }, 16));

    using namespace jpegfiles;
    const auto progressive = [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); };
    const auto arithmetic = [](jpeg_compress_struct& c) { c.arith_code = TRUE; };
    const auto arithmeticProgressive = [](jpeg_compress_struct& c) {
        c.arith_code = TRUE;
        jpeg_simple_progression(&c);
    };
    const auto restarts = [](jpeg_compress_struct& c) { c.restart_interval = 2; };
    const auto fullChroma = [](jpeg_compress_struct& c) {
        for (int i = 0; i < c.num_components; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        jpeg_simple_progression(&c);
    };
    ok &= write(folder, "progressive.jpg", compressColour(24, 16, progressive));
    ok &= write(folder, "progressive-444.jpg", compressColour(16, 16, fullChroma));
    ok &= write(folder, "arithmetic.jpg", compressColour(24, 16, arithmetic));
    ok &= write(folder, "arithmetic-progressive.jpg", compressColour(24, 16, arithmeticProgressive));
    ok &= write(folder, "luma-first-progressive.jpg", compressColour(24, 16, withScans(lumaFirstProgression())));
    ok &= write(folder, "luma-first-arithmetic.jpg", compressColour(24, 16, withScans(lumaFirstProgression(), true)));
    ok &= write(folder, "component-per-scan.jpg", compressColour(24, 16, withScans(componentPerScan())));
    ok &= write(folder, "restarts.jpg", compressColour(32, 16, restarts));
    Bytes grey;
    for (int i = 0; i < 16 * 16; ++i)
        grey.push_back(std::uint8_t(i * 7));
    ok &= write(folder, "grey-progressive.jpg", compressRaw(16, 16, 1, JCS_GRAYSCALE, grey, progressive));
    Bytes inks;
    for (int i = 0; i < 8 * 8; ++i)
        inks.insert(inks.end(), { std::uint8_t(i * 3), std::uint8_t(200 - i), std::uint8_t(i * 5), std::uint8_t(i) });
    ok &= write(folder, "cmyk.jpg", compressRaw(8, 8, 4, JCS_CMYK, inks, [](jpeg_compress_struct& c) {
        jpeg_set_colorspace(&c, JCS_YCCK);
    }));
    // Multi-picture files as stereo cameras write them, in both byte orders,
    // and one whose second entry points a byte past its picture's SOI.
    const Bytes leftEye = encodeJpeg(picture(6, 5));
    const Bytes rightEye = encodeJpeg(picture(5, 4));
    ok &= write(folder, "stereo-little.mpo", mpofiles::withIndex({ leftEye, rightEye }, true));
    ok &= write(folder, "stereo-big.mpo", mpofiles::withIndex({ leftEye, rightEye }, false));
    Bytes offByOne = mpofiles::withIndex({ leftEye, rightEye }, true);
    const std::size_t rightEyeAt = offByOne.size() - rightEye.size();
    mpofiles::put(offByOne, mpofiles::entryAt(1) + 8, std::uint32_t(rightEyeAt - mpofiles::kHeaderAt + 1), 4, true);
    ok &= write(folder, "stereo-bad-offset.mpo", offByOne);
    // PNG of every colour type, odd bit depths, transparency, interlacing.
    const auto pngOf = [](int w, int h, int depth, int colourType, bool interlaced) {
        pngfiles::Image image;
        image.width = w;
        image.height = h;
        image.depth = depth;
        image.colourType = colourType;
        image.interlaced = interlaced;
        const int channels = pngfiles::channelsOf(colourType);
        const unsigned top = colourType == PNG_COLOR_TYPE_PALETTE ? 3 : (1u << depth) - 1;
        for (int i = 0; i < w * h * channels; ++i)
            image.samples.push_back(std::uint16_t((unsigned(i) * 2654435761u >> 7) % (top + 1)));
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
            image.palette = { { 0, 0, 0 }, { 255, 0, 0 }, { 0, 255, 128 }, { 40, 50, 60 } };
            image.paletteAlpha = { 255, 128, 0 };
        }
        return image;
    };
    ok &= write(folder, "rgb8.png", encodePng(picture(6, 5)));
    ok &= write(folder, "grey1.png", pngfiles::encode(pngOf(9, 3, 1, PNG_COLOR_TYPE_GRAY, false)));
    ok &= write(folder, "grey16-interlaced.png", pngfiles::encode(pngOf(7, 9, 16, PNG_COLOR_TYPE_GRAY, true)));
    ok &= write(folder, "grey-alpha8.png", pngfiles::encode(pngOf(5, 4, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false)));
    ok &= write(folder, "palette2-trns.png", pngfiles::encode(pngOf(11, 5, 2, PNG_COLOR_TYPE_PALETTE, false)));
    ok &= write(folder, "palette8-interlaced.png", pngfiles::encode(pngOf(9, 9, 8, PNG_COLOR_TYPE_PALETTE, true)));
    ok &= write(folder, "rgba16.png", pngfiles::encode(pngOf(4, 3, 16, PNG_COLOR_TYPE_RGB_ALPHA, false)));
    ok &= write(folder, "rgba8-interlaced.png", pngfiles::encode(pngOf(10, 10, 8, PNG_COLOR_TYPE_RGB_ALPHA, true)));
    pngfiles::Image keyed = pngOf(6, 4, 8, PNG_COLOR_TYPE_RGB, false);
    keyed.hasTransparentColour = true;
    keyed.transparentColour.red = keyed.samples[0];
    keyed.transparentColour.green = keyed.samples[1];
    keyed.transparentColour.blue = keyed.samples[2];
    ok &= write(folder, "rgb8-trns.png", pngfiles::encode(keyed));
    ok &= write(folder, "ztxt.png", pngfiles::withChunkBefore(encodePng(picture(3, 3)), "IDAT", pngfiles::zeroText(2000)));
    // Hostile: each must be refused before the picture's memory is taken.
    ok &= write(folder, "bomb-progressive-arithmetic.jpg", progressiveBomb());
    ok &= write(folder, "bomb-huffman-progressive.jpg", withFrameSize(compressColour(16, 16, progressive), 8000, 8000));
    ok &= write(folder, "bomb-arithmetic-baseline.jpg", withFrameSize(compressColour(16, 16, arithmetic), 16000, 16000));
    Bytes pngClaim = pngfiles::start(16000, 16000, 1, PNG_COLOR_TYPE_GRAY);
    const Bytes idat = pngfiles::chunk("IDAT", pngfiles::deflated(Bytes(1000, 0)));
    const Bytes iend = pngfiles::chunk("IEND", {});
    pngClaim.insert(pngClaim.end(), idat.begin(), idat.end());
    pngClaim.insert(pngClaim.end(), iend.begin(), iend.end());
    ok &= write(folder, "bomb-claim.png", pngClaim);
    if (!ok) {
        std::fprintf(stderr, "make-seeds: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
