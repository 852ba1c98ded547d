#include "png_codec.h"

#include "picture_limits.h"

#include <png.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// libpng reports errors by calling the error function we give it, which must
// not return. A C++ exception cannot travel through libpng's C frames, so the
// error function longjmps back to the one function per operation that called
// setjmp (runDecode, and runEncodeStep for each step of an encode). Those
// functions hold only trivially destructible locals; everything with a
// destructor lives in the job, outside the frames the jump leaves, and the
// C++ calls made while libpng is active (the encoder's byte sink) keep their
// exceptions there. They
// clean up libpng's structures and return an outcome, and the C++ caller
// throws.

namespace {

enum class Outcome {
    Done,
    LibraryError, // the error function: libpng's message
    Damaged, // the data ends before libpng has read what it needs
    OutOfMemory, // libpng could not make its structures
    Refused, // a C++ check, allocation, sink or source failed; its exception is kept
};

struct ErrorState {
    std::jmp_buf escape;
    Outcome why = Outcome::Done;
    char message[200] = {};
};

[[noreturn]] void leave(png_structp png, Outcome why)
{
    auto* errors = static_cast<ErrorState*>(png_get_error_ptr(png));
    // The first reason stands: a read past the end calls png_error, which
    // comes back here as a library error.
    if (errors->why == Outcome::Done)
        errors->why = why;
    std::longjmp(errors->escape, 1);
}

void onError(png_structp png, png_const_charp message)
{
    auto* errors = static_cast<ErrorState*>(png_get_error_ptr(png));
    std::strncpy(errors->message, message ? message : "unknown error", sizeof errors->message - 1);
    leave(png, Outcome::LibraryError);
}

// Warnings leave a whole picture: an ancillary chunk with a bad CRC is
// dropped, as is one libpng had no memory for.
void onWarning(png_structp, png_const_charp) { }

// ---------------------------------------------------------------- memory

// Every allocation libpng makes for a decode goes through allocate, which
// keeps what libpng holds under `cap`: the memory rule's budget less the
// file, the picture and our row buffers. So no chunk (a huge zTXt or iCCP,
// thousands of small ones) can make libpng pass the rule, whatever its own
// limits say.
struct LibraryMemory {
    std::uint64_t live = 0;
    std::uint64_t cap = 0;
    bool overCap = false; // an allocation was refused for the rule
    bool failed = false; // malloc itself failed
};

// Each block starts with its size, so that release can count it back.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

png_voidp allocate(png_structp png, png_alloc_size_t size)
{
    auto* memory = static_cast<LibraryMemory*>(png_get_mem_ptr(png));
    const std::uint64_t needed = std::uint64_t(size) + kBlockHeader;
    if (memory->live > memory->cap || needed > memory->cap - memory->live) {
        memory->overCap = true;
        return nullptr;
    }
    void* block = std::malloc(std::size_t(needed));
    if (block == nullptr) {
        memory->failed = true;
        return nullptr;
    }
    std::memcpy(block, &needed, sizeof needed);
    memory->live += needed;
    return static_cast<unsigned char*>(block) + kBlockHeader;
}

void release(png_structp png, png_voidp pointer)
{
    if (pointer == nullptr)
        return;
    auto* memory = static_cast<LibraryMemory*>(png_get_mem_ptr(png));
    unsigned char* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
    std::uint64_t size = 0;
    std::memcpy(&size, block, sizeof size);
    memory->live -= size;
    std::free(block);
}

// ---------------------------------------------------------------- decoding

// What IHDR claims, read from its fixed place before libpng starts, so that
// the memory rule is known before libpng allocates anything for a chunk.
struct Header {
    long long width = 0;
    long long height = 0;
};

constexpr std::uint8_t kSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool readHeader(const std::uint8_t* data, std::size_t size, Header& header)
{
    // Signature, IHDR's length and name, then width and height.
    if (size < 8 + 8 + 13 || bigEndian32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return false;
    header.width = bigEndian32(data + 16);
    header.height = bigEndian32(data + 20);
    return true;
}

struct DecodeJob {
    ErrorState errors;
    LibraryMemory memory;
    png_structp png = nullptr;
    png_infop info = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    TBitmap* picture = nullptr;
    // The decoded rows before they become the picture's: one row, or every
    // row of an interlaced picture, whose passes each fill part of them.
    std::unique_ptr<std::uint8_t[]> rows;
    std::unique_ptr<png_bytep[]> rowPointers;
    std::exception_ptr refusal;
};

void readBytes(png_structp png, png_bytep out, std::size_t length)
{
    auto* job = static_cast<DecodeJob*>(png_get_io_ptr(png));
    if (length > job->size - job->position)
        leave(png, Outcome::Damaged);
    std::memcpy(out, job->data + job->position, length);
    job->position += length;
}

// Besides the rows: png_struct and png_info, zlib's inflate state with its
// 32 KB window, the read buffer for IDAT and a palette.
constexpr std::uint64_t kLibraryFixedBytes = 256u << 10;

// The picture's shape after the transforms, and what reading it takes.
struct RowLayout {
    int width;
    int height;
    int channels; // 3 or 4 (RGB, RGBA)
    int depth; // 8 or 16
    std::size_t rowBytes;
    bool interlaced;
};

// Checks the memory rule for the picture and our rows, keeps libpng to what
// is left, and allocates. Runs between libpng calls and catches its own
// exceptions, so nothing is thrown while libpng is active.
bool acceptPlan(DecodeJob& job, const RowLayout& layout) noexcept
{
    try {
        checkPictureSize(layout.width, layout.height);
        const std::uint64_t w = std::uint64_t(layout.width);
        const std::uint64_t h = std::uint64_t(layout.height);
        const std::uint64_t pictureBytes = w * h * sizeof(std::uint32_t);
        const std::uint64_t ourBytes
            = layout.interlaced ? h * layout.rowBytes + h * sizeof(png_bytep) : std::uint64_t(layout.rowBytes);
        // libpng's row being unfiltered and the one above it, with padding.
        const std::uint64_t libraryRows = 2 * (std::uint64_t(layout.rowBytes) + 64);
        checkPictureMemory(layout.width, layout.height, pictureBytes + ourBytes + libraryRows + kLibraryFixedBytes,
            job.size);
        job.memory.cap = openingBudget(job.size) - job.size - pictureBytes - ourBytes;
        if (job.memory.live > job.memory.cap)
            refuseForItsFile(layout.width, layout.height, job.size);
        if (layout.interlaced) {
            job.rows.reset(new std::uint8_t[std::size_t(h) * layout.rowBytes]);
            job.rowPointers.reset(new png_bytep[std::size_t(h)]);
            for (std::size_t y = 0; y < std::size_t(h); ++y)
                job.rowPointers[y] = job.rows.get() + y * layout.rowBytes;
        } else {
            job.rows.reset(new std::uint8_t[layout.rowBytes]);
        }
        job.picture->allocateUninitialized(layout.width, layout.height);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

// A channel over white, at 8 and 16 bits, rounded to the nearest.
inline std::uint32_t overWhite8(std::uint32_t c, std::uint32_t a) { return (c * a + 255 * (255 - a) + 127) / 255; }

inline std::uint32_t overWhite16(std::uint32_t c, std::uint32_t a)
{
    return std::uint32_t((std::uint64_t(c) * a + std::uint64_t(65535) * (65535 - a) + 32767) / 65535);
}

inline std::uint32_t to8(std::uint32_t v) { return (v * 255 + 32767) / 65535; }

inline std::uint32_t sample16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }

inline std::uint32_t pixelOf(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// One row of RGB or RGBA samples, 16-bit ones most significant byte first as
// PNG stores them, into the picture's 0xFFRRGGBB words.
void convertRow(const std::uint8_t* in, std::uint32_t* out, const RowLayout& layout)
{
    const int width = layout.width;
    if (layout.depth == 8 && layout.channels == 3) {
        for (int x = 0; x < width; ++x, in += 3)
            out[x] = pixelOf(in[0], in[1], in[2]);
    } else if (layout.depth == 8) {
        for (int x = 0; x < width; ++x, in += 4)
            out[x] = pixelOf(overWhite8(in[0], in[3]), overWhite8(in[1], in[3]), overWhite8(in[2], in[3]));
    } else if (layout.channels == 3) {
        for (int x = 0; x < width; ++x, in += 6)
            out[x] = pixelOf(to8(sample16(in)), to8(sample16(in + 2)), to8(sample16(in + 4)));
    } else {
        for (int x = 0; x < width; ++x, in += 8) {
            const std::uint32_t a = sample16(in + 6);
            out[x] = pixelOf(to8(overWhite16(sample16(in), a)), to8(overWhite16(sample16(in + 2), a)),
                to8(overWhite16(sample16(in + 4), a)));
        }
    }
}

Outcome runDecode(DecodeJob& job)
{
    if (setjmp(job.errors.escape)) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        return job.errors.why;
    }
    job.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &job.errors, onError, onWarning, &job.memory,
        allocate, release);
    if (job.png == nullptr)
        return Outcome::OutOfMemory;
    job.info = png_create_info_struct(job.png);
    if (job.info == nullptr) {
        png_destroy_read_struct(&job.png, nullptr, nullptr);
        return Outcome::OutOfMemory;
    }
    png_set_read_fn(job.png, &job, readBytes);
    // Second lines behind the checks of IHDR and allocate: libpng refuses a
    // side the picture could not have, and any one chunk larger than the
    // budget.
    png_set_user_limits(job.png, png_uint_32(kMaxPictureSide), png_uint_32(kMaxPictureSide));
    png_set_chunk_malloc_max(job.png, png_alloc_size_t(std::min<std::uint64_t>(job.memory.cap, PNG_SIZE_MAX)));
    // Every ancillary chunk but tRNS is skipped without being read into
    // memory or decompressed: the anaglyph needs none of them.
    png_set_keep_unknown_chunks(job.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(job.png, job.info);

    // Palette to RGB, grey of 1, 2 and 4 bits to 8, tRNS to an alpha
    // channel, grey to RGB: what is left is RGB or RGBA at 8 or 16 bits.
    png_set_expand(job.png);
    png_set_gray_to_rgb(job.png);
    const int passes = png_set_interlace_handling(job.png);
    png_read_update_info(job.png, job.info);
    RowLayout layout {};
    layout.width = int(std::min<png_uint_32>(png_get_image_width(job.png, job.info), png_uint_32(kMaxPictureSide + 1)));
    layout.height = int(std::min<png_uint_32>(png_get_image_height(job.png, job.info), png_uint_32(kMaxPictureSide + 1)));
    layout.channels = png_get_channels(job.png, job.info);
    layout.depth = png_get_bit_depth(job.png, job.info);
    layout.rowBytes = png_get_rowbytes(job.png, job.info);
    layout.interlaced = passes > 1;
    if ((layout.channels != 3 && layout.channels != 4) || (layout.depth != 8 && layout.depth != 16)
        || layout.rowBytes != std::size_t(layout.width) * std::size_t(layout.channels * layout.depth / 8)) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        return Outcome::Damaged;
    }
    if (!acceptPlan(job, layout)) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        return Outcome::Refused;
    }
    TBitmap& picture = *job.picture;
    if (layout.interlaced) {
        png_read_image(job.png, job.rowPointers.get());
        for (int y = 0; y < layout.height; ++y)
            convertRow(job.rowPointers[std::size_t(y)], picture.scanLine(y), layout);
    } else {
        for (int y = 0; y < layout.height; ++y) {
            png_read_row(job.png, job.rows.get(), nullptr);
            convertRow(job.rows.get(), picture.scanLine(y), layout);
        }
    }
    // The file must go on to its IEND, with the checksums of the data.
    png_read_end(job.png, nullptr);
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    return Outcome::Done;
}

// ---------------------------------------------------------------- encoding

// libpng hands its bytes to writeBytes, which passes them on to the byte
// sink; the rows are handed over one at a time. The sink is C++ and may
// throw while libpng is active: its exception is kept in the job, the step
// leaves through the error function's jump, and the encoder throws it again
// once libpng's structures are gone.
struct EncodeJob {
    ErrorState errors;
    png_structp png = nullptr;
    png_infop info = nullptr;
    int width = 0;
    int height = 0;
    const std::uint32_t* row = nullptr; // the row the next step writes
    ByteSink* out = nullptr;
    bool outOfMemory = false; // libpng could not make its structures
    std::exception_ptr refusal;
};

bool sinkTakes(EncodeJob& job, const std::uint8_t* data, std::size_t length) noexcept
{
    try {
        job.out->write(data, length);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

void writeBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* job = static_cast<EncodeJob*>(png_get_io_ptr(png));
    if (!sinkTakes(*job, data, length))
        leave(png, Outcome::Refused);
}

void flushNothing(png_structp) { }

static_assert(std::endian::native == std::endian::little,
    "startEncode hands libpng the rows' 0xFFRRGGBB words as B, G, R, filler bytes, which is that order only "
    "on a little-endian host");

// The steps of an encode, each run by runEncodeStep.
void startEncode(EncodeJob& job)
{
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job.errors, onError, onWarning);
    if (job.png != nullptr)
        job.info = png_create_info_struct(job.png);
    if (job.info == nullptr) {
        png_destroy_write_struct(&job.png, nullptr);
        job.outOfMemory = true;
        return;
    }
    png_set_write_fn(job.png, &job, writeBytes, flushNothing);
    png_set_IHDR(job.png, job.info, png_uint_32(job.width), png_uint_32(job.height), 8, PNG_COLOR_TYPE_RGB,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(job.png, job.info);
    // The rows go to libpng as they come, blue first with the spare byte
    // last, which it drops: no row is copied first.
    png_set_bgr(job.png);
    png_set_filler(job.png, 0, PNG_FILLER_AFTER);
}

void writeEncodedRow(EncodeJob& job) { png_write_row(job.png, reinterpret_cast<png_const_bytep>(job.row)); }

void finishEncode(EncodeJob& job)
{
    png_write_end(job.png, nullptr);
    png_destroy_write_struct(&job.png, &job.info);
}

// The one place an encode's steps run: a step libpng leaves by its error
// function comes back here, with libpng's structures gone.
Outcome runEncodeStep(EncodeJob& job, void (*step)(EncodeJob&))
{
    if (setjmp(job.errors.escape)) {
        png_destroy_write_struct(&job.png, &job.info);
        return job.errors.why;
    }
    step(job);
    return job.outOfMemory ? Outcome::OutOfMemory : Outcome::Done;
}

// encodePng's bytes from rows handed over one by one.
class PngRowEncoder final : public RowEncoder {
public:
    PngRowEncoder(int width, int height, ByteSink& out)
    {
        if (width < 1 || height < 1)
            throw std::invalid_argument("A PNG file needs at least one pixel, not " + pictureSizeText(width, height));
        job_.width = width;
        job_.height = height;
        job_.out = &out;
        run(startEncode);
    }
    ~PngRowEncoder() override
    {
        if (state_ == State::Encoding)
            png_destroy_write_struct(&job_.png, &job_.info);
    }
    PngRowEncoder(const PngRowEncoder&) = delete; // libpng holds the job's address
    PngRowEncoder& operator=(const PngRowEncoder&) = delete;

    void write(const std::uint32_t* row) override
    {
        if (state_ != State::Encoding || written_ >= job_.height)
            throw std::logic_error("a PNG row past the picture's last, or after an error");
        job_.row = row;
        run(writeEncodedRow);
        ++written_;
    }
    void finish() override
    {
        if (state_ != State::Encoding || written_ != job_.height)
            throw std::logic_error("a PNG picture finished before its last row, or after an error");
        run(finishEncode);
        state_ = State::Finished;
    }

private:
    enum class State { Encoding, Failed, Finished };

    void run(void (*step)(EncodeJob&))
    {
        const Outcome outcome = runEncodeStep(job_, step);
        if (outcome == Outcome::Done)
            return;
        state_ = State::Failed;
        if (outcome == Outcome::Refused)
            std::rethrow_exception(job_.refusal);
        if (outcome == Outcome::OutOfMemory)
            throw std::bad_alloc();
        throw EOrvantaError(std::string("PNG error: ") + job_.errors.message);
    }

    EncodeJob job_;
    State state_ = State::Encoding;
    int written_ = 0;
};

} // namespace

bool looksLikePng(const std::uint8_t* data, std::size_t size)
{
    return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

TBitmap decodePng(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr || !looksLikePng(data, size))
        throw EPictureError("Not a PNG picture");
    auto job = std::make_unique<DecodeJob>();
    job->data = data;
    job->size = size;
    // What IHDR claims is checked before libpng allocates anything, so a
    // file of a few hundred bytes that claims a huge picture is refused at
    // once; libpng then holds the budget less the picture. A file without a
    // readable IHDR is refused by libpng on its first chunk.
    Header header;
    std::uint64_t pictureBytes = 0;
    if (readHeader(data, size, header)) {
        checkPictureSize(header.width, header.height);
        pictureBytes = std::uint64_t(header.width) * std::uint64_t(header.height) * sizeof(std::uint32_t);
        checkPictureMemory(header.width, header.height, pictureBytes + kLibraryFixedBytes, size);
    }
    job->memory.cap = openingBudget(size) - size - pictureBytes;
    TBitmap picture;
    job->picture = &picture;
    const Outcome outcome = runDecode(*job);
    if (outcome == Outcome::Done)
        return picture;
    if (outcome == Outcome::Refused)
        std::rethrow_exception(job->refusal);
    // libpng's allocations are refused past the budget, and fail when memory
    // runs out, as anything else does.
    if (job->memory.overCap)
        refuseForItsFile(header.width, header.height, size);
    if (job->memory.failed || outcome == Outcome::OutOfMemory)
        throw std::bad_alloc();
    if (outcome == Outcome::LibraryError)
        throw EPictureError(std::string(kDamagedPicture) + " (" + job->errors.message + ")");
    throw EPictureError(kDamagedPicture);
}

std::vector<std::uint8_t> encodePng(const TBitmap& picture)
{
    std::vector<std::uint8_t> bytes;
    if (picture.empty())
        return bytes;
    BitmapRows rows(picture);
    ByteVectorSink out(bytes);
    encodePngRows(picture.width(), picture.height(), rows, out);
    return bytes;
}

std::unique_ptr<RowEncoder> pngRowEncoder(int width, int height, ByteSink& out)
{
    return std::make_unique<PngRowEncoder>(width, height, out);
}

void encodePngRows(int width, int height, RowSource& rows, ByteSink& out)
{
    PngRowEncoder encoder(width, height, out);
    encodeAll(encoder, height, rows);
}
