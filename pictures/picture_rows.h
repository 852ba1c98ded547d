// Pictures as a flow of rows, for decoders and encoders that never hold a
// whole picture: a decoder hands its rows to a RowSink as it makes them, an
// encoder takes its rows from a RowSource as it needs them and its bytes go
// to a ByteSink. Rows are 0xFFRRGGBB words, as TBitmap's scanlines.
//
// The codecs call these from inside the libraries' C code, so they never let
// an exception pass: whatever a sink or source throws is kept, the codec is
// torn down, and the same exception is thrown to the codec's caller.
#pragma once

#include "compose/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Where a decoder puts the rows it makes, top to bottom.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Once, before any row: the size of the rows that will come (after any
    // scaling the decoder was asked for), already checked against the
    // picture limits and the memory rule.
    virtual void begin(int width, int height) = 0;
    // Room for the rows from first on: sets rows[0 .. n - 1] to where rows
    // first .. first + n - 1 go (width words each) and returns n, from 1 to
    // count. May wait until room is free.
    virtual int room(int first, int count, std::uint32_t** rows) = 0;
    // Rows first .. first + count - 1 are written: count is at most the
    // room given last, and may be less (a JPEG decoder stops at the end of
    // its group of rows); the next room asked for then starts at the first
    // row not written.
    virtual void written(int first, int count) = 0;
};

// Where an encoder takes the picture's rows from, top to bottom.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Row y, width words, valid until the next call. Called for y = 0, 1,
    // ... in order, each once. May wait until the row exists.
    virtual const std::uint32_t* row(int y) = 0;
};

// An encoder that is handed the picture's rows, top to bottom, as they come:
// any thread may hand over the next row, one at a time. Whatever it or its
// byte sink throws ends the encode: no row or finish is taken after it.
class RowEncoder {
public:
    virtual ~RowEncoder() = default;
    // The next row, width words, read before the call returns.
    virtual void write(const std::uint32_t* row) = 0;
    // After the last row: writes what ends the file.
    virtual void finish() = 0;
};

// Every row of rows, then the end.
inline void encodeAll(RowEncoder& encoder, int height, RowSource& rows)
{
    for (int y = 0; y < height; ++y)
        encoder.write(rows.row(y));
    encoder.finish();
}

// Where a decoder reads a file's bytes from, in order.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The file's size as it was opened, which the memory rule is counted from.
    virtual std::uint64_t size() const = 0;
    // Up to capacity of the next bytes into buffer: how many, 0 at the end.
    virtual std::size_t nextBytes(std::uint8_t* buffer, std::size_t capacity) = 0;
};

// Where an encoder's bytes go, in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const std::uint8_t* data, std::size_t size) = 0;
};

// Where the bytes of a file whose size is known beforehand go, each piece at
// its own place (a BMP file's rows lie bottom-up).
class PlacedByteSink {
public:
    virtual ~PlacedByteSink() = default;
    // Called once, before any write: the file's whole size.
    virtual void reserveBytes(std::uint64_t size) = 0;
    virtual void writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
};

// A decoder's rows straight into a bitmap's scanlines, for a whole picture.
// A bitmap of the right size is kept as it is: a camera's frames reuse the
// bitmap of the frame before.
class BitmapRowSink final : public RowSink {
public:
    explicit BitmapRowSink(TBitmap& picture) : picture_(picture) { }
    void begin(int width, int height) override
    {
        if (picture_.width() != width || picture_.height() != height)
            picture_.allocateUninitialized(width, height);
    }
    int room(int first, int count, std::uint32_t** rows) override
    {
        for (int i = 0; i < count; ++i)
            rows[i] = picture_.scanLine(first + i);
        return count;
    }
    void written(int, int) override { }

private:
    TBitmap& picture_;
};

// A whole picture's rows, for the encoders that take a bitmap.
class BitmapRows final : public RowSource {
public:
    explicit BitmapRows(const TBitmap& picture) : picture_(picture) { }
    const std::uint32_t* row(int y) override { return picture_.scanLine(y); }

private:
    const TBitmap& picture_;
};

// Bytes gathered in memory, for the encoders that give a file's bytes.
class ByteVectorSink final : public ByteSink {
public:
    explicit ByteVectorSink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) { }
    void write(const std::uint8_t* data, std::size_t size) override { bytes_.insert(bytes_.end(), data, data + size); }

private:
    std::vector<std::uint8_t>& bytes_;
};
