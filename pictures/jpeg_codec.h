// JPEG files through libjpeg (the release 6b interface).
#pragma once

#include "compose/bitmap.h"
#include "picture_rows.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the bytes start like a JPEG file (an SOI marker).
bool looksLikeJpeg(const std::uint8_t* data, std::size_t size);

// Decodes a whole JPEG file held in memory: baseline, progressive and
// greyscale files, and Adobe CMYK/YCCK files converted to RGB, at the size
// stored in the file. Throws EPictureError with a clear message when the file
// is damaged, truncated, of a kind libjpeg cannot decode or too large
// (checkPictureSize, before any large allocation).
TBitmap decodeJpeg(const std::uint8_t* data, std::size_t size);

// One frame of a camera's motion-JPEG stream: the size the stream was set up
// with. Cameras leave out the Huffman tables when they are the standard ones;
// libjpeg-turbo installs those in the first two table slots when the data
// leaves them empty, as it does for any file.
struct JpegFrame {
    int width = 0;
    int height = 0;
};

// Decodes a frame into `out` with the checks, memory rule and errors of
// decodeJpeg, giving `out` a new pixel store only when its size differs. A
// frame whose header states another size than `frame`'s, or that is not one
// interleaved sequential scan, is refused (EPictureError) before `out` is
// touched. Decoding ends with the last row: what follows it (the end marker,
// which some cameras leave out, or padding) is not read. When the data turns
// out damaged, `out` may hold part of the frame.
void decodeJpegFrame(const std::uint8_t* data, std::size_t size, const JpegFrame& frame, TBitmap& out);

// Encodes a picture as a baseline JFIF file: the library's defaults, quality
// 100 with baseline forced, the floating-point DCT, RGB input. An empty
// picture gives no bytes at all. Throws EOrvantaError("JPEG error #N") with
// the library's message number on a library error.
std::vector<std::uint8_t> encodeJpeg(const TBitmap& picture);

// What a JPEG file may be asked to trade: the quality (1..100, held to that
// range) and whether colour keeps full resolution (4:4:4) instead of the
// defaults' half resolution both ways (4:2:0). The defaults are the window's.
struct JpegSettings {
    int quality = 100;
    bool fullChroma = false;
};
std::vector<std::uint8_t> encodeJpegWith(const TBitmap& picture, const JpegSettings& settings);

// decodeJpeg's rows handed to sink as they are made, with its checks, memory
// rule (counted as if the whole picture were held, so that both accept the
// same files) and errors. scaleDenominator 2, 4 or 8 has libjpeg scale the
// picture down by its DCT as it decodes: ceil(w / d) x ceil(h / d) rows,
// each pixel close to the mean of the d x d block it stands for. When the
// data turns out damaged halfway, the rows before were handed over already.
void decodeJpegRows(const std::uint8_t* data, std::size_t size, RowSink& sink, int scaleDenominator = 1);

// The same from a file read piece by piece, which is never held whole; the
// memory rule counts from in.size(). A read error is thrown as it is.
void decodeJpegRows(ByteSource& in, RowSink& sink, int scaleDenominator = 1);

// encodeJpegWith's bytes, from rows taken one by one and written to out as
// the library fills its buffer. width and height at least 1.
void encodeJpegRows(int width, int height, const JpegSettings& settings, RowSource& rows, ByteSink& out);
// The same encoder, handed its rows one by one.
std::unique_ptr<RowEncoder> jpegRowEncoder(int width, int height, const JpegSettings& settings, ByteSink& out);

// The size a JPEG file's frame header states, read without decoding any
// scan; throws decodeJpeg's errors for a file whose headers are damaged or
// whose size is beyond checkPictureSize.
struct JpegSize {
    int width = 0;
    int height = 0;
};
JpegSize jpegPictureSize(const std::uint8_t* data, std::size_t size);
JpegSize jpegPictureSize(ByteSource& in);
