// JPEG files for the tests and the fuzzer's seeds: files written by libjpeg
// itself with any of its settings, a walk over a file's markers, and the
// hostile files made from them by patching a few header bytes.
#pragma once

#include "compose/bitmap.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

namespace jpegfiles {

using Bytes = std::vector<std::uint8_t>;

// One marker of a file: its code, where its 0xFF starts and the bytes after
// its length field (nothing for markers without one).
struct Segment {
    int marker;
    std::size_t offset;
    Bytes body;
};

// Splits a file into its markers, stepping over the entropy-coded data after
// each SOS (restart markers met there are listed too). Stops at the first
// thing that is not a marker or at a segment running past the end.
inline std::vector<Segment> markersOf(const Bytes& file)
{
    std::vector<Segment> found;
    std::size_t pos = 0;
    const std::size_t n = file.size();
    while (pos + 1 < n && file[pos] == 0xFF) {
        const int marker = file[pos + 1];
        const bool standalone = marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7);
        if (standalone) {
            found.push_back({ marker, pos, {} });
            pos += 2;
        } else {
            if (pos + 4 > n)
                break;
            const std::size_t length = std::size_t(file[pos + 2]) << 8 | file[pos + 3];
            if (length < 2 || pos + 2 + length > n)
                break;
            found.push_back({ marker, pos, Bytes(file.begin() + long(pos) + 4, file.begin() + long(pos + 2 + length)) });
            pos += 2 + length;
        }
        if (marker == 0xDA || (marker >= 0xD0 && marker <= 0xD7)) {
            // Entropy-coded data: 0xFF 0x00 is a stuffed 0xFF byte.
            while (pos + 1 < n && !(file[pos] == 0xFF && file[pos + 1] != 0x00))
                pos += file[pos] == 0xFF ? 2 : 1;
        }
    }
    return found;
}

// Compresses samples (rows of w * components bytes) with libjpeg itself at
// quality 100, after `setup` has changed what it wants. The library's default
// error handling ends the program on a mistake in a fixture.
inline Bytes compressRaw(int w, int h, int components, J_COLOR_SPACE in, const Bytes& samples,
    const std::function<void(jpeg_compress_struct&)>& setup = {})
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = in;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    if (setup)
        setup(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(samples.data() + std::size_t(cinfo.next_scanline) * std::size_t(w * components));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes file(out, out + size);
    std::free(out);
    jpeg_destroy_compress(&cinfo);
    return file;
}

inline Bytes compressPicture(const TBitmap& picture, const std::function<void(jpeg_compress_struct&)>& setup)
{
    Bytes rgb;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint32_t p = picture.scanLine(y)[x];
            rgb.insert(rgb.end(), { std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p) });
        }
    return compressRaw(picture.width(), picture.height(), 3, JCS_RGB, rgb, setup);
}

// A colour picture of w x h with a little of everything in it.
inline Bytes compressColour(int w, int h, const std::function<void(jpeg_compress_struct&)>& setup)
{
    Bytes rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            rgb.insert(rgb.end(), { std::uint8_t(x * 13 + y), std::uint8_t(x * y + 40), std::uint8_t(200 - y * 7) });
    return compressRaw(w, h, 3, JCS_RGB, rgb, setup);
}

// A scan script entry.
inline jpeg_scan_info scan(std::initializer_list<int> components, int ss, int se, int ah, int al)
{
    jpeg_scan_info s {};
    s.comps_in_scan = int(components.size());
    int i = 0;
    for (int c : components)
        s.component_index[i++] = c;
    s.Ss = ss;
    s.Se = se;
    s.Ah = ah;
    s.Al = al;
    return s;
}

// Settings that write the scans of `script`; the script must outlive the
// compression, so it is held by the returned function.
inline std::function<void(jpeg_compress_struct&)> withScans(std::vector<jpeg_scan_info> script, bool arithmetic = false)
{
    return [script = std::move(script), arithmetic](jpeg_compress_struct& c) mutable {
        c.scan_info = script.data();
        c.num_scans = int(script.size());
        c.arith_code = arithmetic ? TRUE : FALSE;
    };
}

// A progressive colour script whose first scan starts Y alone, so a file cut
// after it lacks the start of Cb and Cr.
inline std::vector<jpeg_scan_info> lumaFirstProgression()
{
    return { scan({ 0 }, 0, 0, 0, 0), scan({ 1, 2 }, 0, 0, 0, 0), scan({ 0 }, 1, 63, 0, 0), scan({ 1 }, 1, 63, 0, 0),
        scan({ 2 }, 1, 63, 0, 0) };
}

// Sequential, each component in a scan of its own.
inline std::vector<jpeg_scan_info> componentPerScan()
{
    return { scan({ 0 }, 0, 63, 0, 0), scan({ 1 }, 0, 63, 0, 0), scan({ 2 }, 0, 63, 0, 0) };
}

// Where the frame header's body starts (its precision byte), or 0.
inline std::size_t frameHeaderAt(const Bytes& file)
{
    for (const Segment& s : markersOf(file))
        if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 && s.marker != 0xCC)
            return s.offset + 4;
    return 0;
}

// The file claiming another picture size; everything else as it was.
inline Bytes withFrameSize(Bytes file, int w, int h)
{
    const std::size_t at = frameHeaderAt(file);
    file[at + 1] = std::uint8_t(h >> 8);
    file[at + 2] = std::uint8_t(h);
    file[at + 3] = std::uint8_t(w >> 8);
    file[at + 4] = std::uint8_t(w);
    return file;
}

// Every component of the frame given the first one's id; the scans name the
// ids the file had, or with `inScans` that one id too.
inline Bytes withOneComponentId(Bytes file, bool inScans = false)
{
    const std::size_t at = frameHeaderAt(file);
    const int components = file[at + 5];
    const std::uint8_t id = file[at + 6];
    for (int c = 1; c < components; ++c)
        file[at + 6 + 3 * std::size_t(c)] = id;
    if (inScans)
        for (const Segment& s : markersOf(file))
            if (s.marker == 0xDA)
                for (int c = 0; c < file[s.offset + 4]; ++c)
                    file[s.offset + 5 + 2 * std::size_t(c)] = id;
    return file;
}

// Every component of the frame pointed at quantisation table `table`.
inline Bytes withQuantTable(Bytes file, int table)
{
    const std::size_t at = frameHeaderAt(file);
    const int components = file[at + 5];
    for (int c = 0; c < components; ++c)
        file[at + 8 + 3 * std::size_t(c)] = std::uint8_t(table);
    return file;
}

// The file up to the end of its first `scans` scans' data, closed with EOI,
// as a program that saves what it got so far might leave it.
inline Bytes keepScans(const Bytes& file, int scans)
{
    const std::vector<Segment> segments = markersOf(file);
    int seen = 0;
    for (const Segment& s : segments) {
        if (s.marker == 0xDA && seen++ == scans) {
            Bytes cut(file.begin(), file.begin() + long(s.offset));
            cut.insert(cut.end(), { 0xFF, 0xD9 });
            return cut;
        }
    }
    return file;
}

// A few hundred bytes claiming 3617 x 64508 pixels: a progressive,
// arithmetic-coded colour file cut after its first scan. Opening it as it
// claims would take about 2 GB (the pixels and every coefficient).
inline Bytes progressiveBomb()
{
    Bytes small = compressColour(16, 16, [](jpeg_compress_struct& c) {
        jpeg_simple_progression(&c);
        c.arith_code = TRUE;
    });
    return keepScans(withFrameSize(small, 3617, 64508), 1);
}

} // namespace jpegfiles
