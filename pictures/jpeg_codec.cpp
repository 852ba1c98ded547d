#include "jpeg_codec.h"

#include "picture_limits.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>

// jpeglib.h first: it brings the configuration that decides which messages
// jerror.h lists.
#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports errors by calling error_exit, which must not return. A C++
// exception cannot travel through the library's C frames, so error_exit
// longjmps back to the one function per operation that called setjmp
// (runDecode, runEncode). Those functions, and everything they call while
// libjpeg is active, hold only trivially destructible objects; they clean up
// the libjpeg object and return an outcome, and the C++ caller throws.

namespace {

enum class Outcome {
    Done,
    LibraryError, // error_exit: the library's message number and text
    Damaged, // the data ends early or is corrupt: the picture is not whole
    TooManyScans,
    Refused, // a C++ check or allocation failed; its exception is kept
};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
    Outcome why;
};

[[noreturn]] void leave(j_common_ptr cinfo, Outcome why)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    err->why = why;
    std::longjmp(err->escape, 1);
}

void leaveOnError(j_common_ptr cinfo) { leave(cinfo, Outcome::LibraryError); }

void stayQuiet(j_common_ptr) { }

void ignoreMessage(j_common_ptr, int) { }

// Warnings (level -1) that mean pixels are missing or made up: the data ended
// early, an entropy-coded segment was cut short or skipped, or entropy-coded
// data could not be decoded. Every other warning still leaves a whole picture
// and is ignored: bytes of garbage between segments (JWRN_EXTRANEOUS_DATA), an
// unknown JFIF revision or Adobe transform, unusual scan parameters in a
// sequential file, and a progression that refines coefficients out of order
// (every scan was still read to its end).
bool picturePartMissing(int code)
{
    switch (code) {
    case JWRN_JPEG_EOF: // the file ends before its EOI marker
    case JWRN_HIT_MARKER: // a scan's data ends before its last block
    case JWRN_MUST_RESYNC: // data was skipped to find a restart marker
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
        return true;
    default:
        return false;
    }
}

void judgeMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && picturePartMissing(cinfo->err->msg_code))
        leave(cinfo, Outcome::Damaged);
}

// No real file has anywhere near this many scans (a fully split progression
// of a colour picture has a few dozen); each scan passes over the whole
// picture, so a file made of thousands of tiny scans could keep the decoder
// busy for a long time. The limit shrinks for large pictures, where each scan
// costs more, down to a floor that real files stay well below; it holds for
// sequential files with repeated scans too.
constexpr long long kMaxScans = 500;
constexpr long long kMinScanLimit = 64;

long long scanLimit(j_decompress_ptr cinfo)
{
    const long long pixels = std::max<long long>((long long)cinfo->image_width * cinfo->image_height, 1);
    return std::clamp(kMaxScans * (1LL << 20) / pixels, kMinScanLimit, kMaxScans);
}

void watchScans(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    const auto d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > scanLimit(d))
        leave(cinfo, Outcome::TooManyScans);
}

void installErrorManager(ErrorManager& err, bool decoding)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = leaveOnError;
    err.pub.output_message = stayQuiet;
    err.pub.emit_message = decoding ? judgeMessage : ignoreMessage;
    err.why = Outcome::Done;
}

// ---------------------------------------------------------------- decoding

struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    const std::uint8_t* data;
    std::size_t size;
    TBitmap picture;
    std::exception_ptr refusal;
    char message[JMSG_LENGTH_MAX];
};

// The C++ steps of a decode. They run between libjpeg calls and catch their
// own exceptions, so nothing is thrown while libjpeg is active.
bool acceptSize(DecodeJob& job, long long w, long long h) noexcept
{
    try {
        checkPictureSize(w, h);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

bool allocatePicture(DecodeJob& job, int w, int h) noexcept
{
    try {
        job.picture.allocateUninitialized(w, h);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

// Greyscale, YCbCr and RGB files: the library writes B, G, R, 0xFF bytes,
// which are the bitmap's 0xFFRRGGBB words, straight into its rows.
void readDirect(j_decompress_ptr cinfo, TBitmap& picture)
{
    constexpr JDIMENSION kBatch = 8;
    JSAMPROW rows[kBatch];
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION first = cinfo->output_scanline;
        JDIMENSION count = cinfo->output_height - first;
        if (count > kBatch)
            count = kBatch;
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(picture.scanLine(int(first + i)));
        jpeg_read_scanlines(cinfo, rows, count);
    }
}

// round(a * b / 255) for a, b in 0..255.
inline std::uint32_t scaled(std::uint32_t a, std::uint32_t b)
{
    const std::uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

// CMYK and YCCK files, which the library hands over as CMYK. A channel is
// its ink's absence scaled by the black ink's absence: R = (255 - C) *
// (255 - K) / 255, and likewise G from M and B from Y. Files with an Adobe
// marker store every ink inverted (255 is no ink), as Adobe's programs write
// them, so there R = C * K / 255.
void readInks(j_decompress_ptr cinfo, TBitmap& picture)
{
    const JDIMENSION rowsPerCall = cinfo->rec_outbuf_height > 0 ? JDIMENSION(cinfo->rec_outbuf_height) : 1;
    JSAMPARRAY inks = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        cinfo->output_width * 4, rowsPerCall);
    const std::uint32_t flip = cinfo->saw_Adobe_marker ? 0 : 0xFF;
    const int width = int(cinfo->output_width);
    while (cinfo->output_scanline < cinfo->output_height) {
        const int first = int(cinfo->output_scanline);
        const JDIMENSION got = jpeg_read_scanlines(cinfo, inks, rowsPerCall);
        for (JDIMENSION i = 0; i < got; ++i) {
            const JSAMPLE* in = inks[i];
            std::uint32_t* out = picture.scanLine(first + int(i));
            for (int x = 0; x < width; ++x, in += 4) {
                const std::uint32_t k = in[3] ^ flip;
                out[x] = 0xFF000000u | (scaled(in[0] ^ flip, k) << 16) | (scaled(in[1] ^ flip, k) << 8)
                    | scaled(in[2] ^ flip, k);
            }
        }
    }
}

Outcome runDecode(DecodeJob& job)
{
    j_decompress_ptr cinfo = &job.cinfo;
    cinfo->err = &job.err.pub;
    installErrorManager(job.err, true);
    if (setjmp(job.err.escape)) {
        if (job.err.why == Outcome::LibraryError)
            (*cinfo->err->format_message)(reinterpret_cast<j_common_ptr>(cinfo), job.message);
        jpeg_destroy_decompress(cinfo);
        return job.err.why;
    }
    jpeg_create_decompress(cinfo);
    job.progress.progress_monitor = watchScans;
    cinfo->progress = &job.progress;
    // No jpeg_save_markers: the picture needs none of the markers' contents
    // (the Adobe transform is read by the library), and saving markers makes a
    // file of thousands of them slow to read.
    jpeg_mem_src(cinfo, job.data, static_cast<unsigned long>(job.size));
    jpeg_read_header(cinfo, TRUE);
    if (!acceptSize(job, cinfo->image_width, cinfo->image_height)) {
        jpeg_destroy_decompress(cinfo);
        return Outcome::Refused;
    }
    const bool inks = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = inks ? JCS_CMYK : JCS_EXT_BGRA;
    // A progressive file is read to its end here, so a truncated one fails
    // before the picture's memory is taken.
    jpeg_start_decompress(cinfo);
    if (!allocatePicture(job, int(cinfo->output_width), int(cinfo->output_height))) {
        jpeg_destroy_decompress(cinfo);
        return Outcome::Refused;
    }
    if (inks)
        readInks(cinfo, job.picture);
    else
        readDirect(cinfo, job.picture);
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return Outcome::Done;
}

// ---------------------------------------------------------------- encoding

struct EncodeJob {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    const TBitmap* picture;
    unsigned char* out; // set by jpeg_mem_dest and, when finished, by the library
    unsigned long outSize;
    // The malloc'ed block the library is filling now. When the library grows
    // its output it frees the old block without updating `out` until the end,
    // so after an error only this pointer names the block to free.
    unsigned char* block;
    boolean (*libraryGrow)(j_compress_ptr);
};

boolean growOutput(j_compress_ptr cinfo)
{
    auto* job = static_cast<EncodeJob*>(cinfo->client_data);
    // The block is full when the library asks for room; it copies those bytes
    // to the start of the new block and continues after them.
    const std::size_t written = std::size_t(cinfo->dest->next_output_byte - job->block);
    const boolean grown = job->libraryGrow(cinfo);
    job->block = cinfo->dest->next_output_byte - written;
    return grown;
}

Outcome runEncode(EncodeJob& job)
{
    j_compress_ptr cinfo = &job.cinfo;
    cinfo->err = &job.err.pub;
    installErrorManager(job.err, false);
    if (setjmp(job.err.escape)) {
        jpeg_destroy_compress(cinfo);
        return job.err.why;
    }
    jpeg_create_compress(cinfo);
    cinfo->client_data = &job;
    jpeg_mem_dest(cinfo, &job.out, &job.outSize);
    job.block = job.out;
    job.libraryGrow = cinfo->dest->empty_output_buffer;
    cinfo->dest->empty_output_buffer = growOutput;

    const TBitmap& picture = *job.picture;
    const int width = picture.width();
    cinfo->image_width = JDIMENSION(width);
    cinfo->image_height = JDIMENSION(picture.height());
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, 100, TRUE);
    cinfo->dct_method = JDCT_FLOAT;
    jpeg_start_compress(cinfo, TRUE);

    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        JDIMENSION(width) * 3, 1);
    while (cinfo->next_scanline < cinfo->image_height) {
        const std::uint32_t* in = picture.scanLine(int(cinfo->next_scanline));
        JSAMPLE* out = row[0];
        for (int x = 0; x < width; ++x, out += 3) {
            const std::uint32_t p = in[x];
            out[0] = JSAMPLE(p >> 16);
            out[1] = JSAMPLE(p >> 8);
            out[2] = JSAMPLE(p);
        }
        jpeg_write_scanlines(cinfo, row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return Outcome::Done;
}

} // namespace

bool looksLikeJpeg(const std::uint8_t* data, std::size_t size)
{
    return size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

TBitmap decodeJpeg(const std::uint8_t* data, std::size_t size)
{
    // libjpeg refuses an empty buffer with a message about its own buffers.
    if (size == 0)
        throw EPictureError(kDamagedPicture);
    auto job = std::make_unique<DecodeJob>();
    job->data = data;
    job->size = size;
    switch (runDecode(*job)) {
    case Outcome::Done:
        return std::move(job->picture);
    case Outcome::LibraryError:
        // The library's own allocations failing is running out of memory,
        // reported like any other.
        if (job->err.pub.msg_code == JERR_OUT_OF_MEMORY)
            throw std::bad_alloc();
        throw EPictureError(job->message);
    case Outcome::Damaged:
        throw EPictureError(kDamagedPicture);
    case Outcome::TooManyScans:
        throw EPictureError("The JPEG file has too many scans (more than " + std::to_string(scanLimit(&job->cinfo)) + ")");
    case Outcome::Refused:
        std::rethrow_exception(job->refusal);
    }
    throw EPictureError(kDamagedPicture);
}

std::vector<std::uint8_t> encodeJpeg(const TBitmap& picture)
{
    if (picture.empty())
        return {};
    EncodeJob job {};
    job.picture = &picture;
    const Outcome outcome = runEncode(job);
    // Whatever happened, the block the library allocated is ours to free.
    const std::unique_ptr<unsigned char, void (*)(void*)> block(
        outcome == Outcome::Done ? job.out : job.block, std::free);
    if (outcome != Outcome::Done)
        throw EOrvantaError("JPEG error #" + std::to_string(job.err.pub.msg_code));
    return std::vector<std::uint8_t>(block.get(), block.get() + job.outSize);
}
