#include "jpeg_codec.h"

#include "picture_limits.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

// jpeglib.h first: it brings the configuration that decides which messages
// jerror.h lists.
#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports errors by calling error_exit, which must not return. A C++
// exception cannot travel through the library's C frames, so error_exit
// longjmps back to the one function per operation that called setjmp
// (runDecode, and runEncodeStep for each step of an encode). Those functions, and everything they call while
// libjpeg is active, hold only trivially destructible objects; they clean up
// the libjpeg object and return an outcome, and the C++ caller throws. The
// row sinks, row sources and byte sinks they call are C++ and may throw:
// each call is wrapped so that its exception is kept in the job and the
// operation leaves the same way, to have the exception thrown again once
// the library is gone.

namespace {

enum class Outcome {
    Done,
    LibraryError, // error_exit: the library's message number and text
    Damaged, // the data ends early or is corrupt: the picture is not whole
    TooManyScans,
    Refused, // a C++ check, a sink or a source threw; its exception is kept
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

// What the scans seen so far have brought: which components have had the
// scan that starts their coefficients (their DC values, or all of them in a
// sequential file). Kept beside the decompressor through client_data.
struct ScanRecord {
    bool started[MAX_COMPONENTS];
};

// Called before every piece of input the library takes in and every batch of
// rows it puts out, so it sees every scan before its data.
void watchScans(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    const auto d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > scanLimit(d))
        leave(cinfo, Outcome::TooManyScans);
    auto* record = static_cast<ScanRecord*>(cinfo->client_data);
    if (d->Ss == 0 && d->Ah == 0)
        for (int i = 0; i < d->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
            const int index = d->cur_comp_info[i]->component_index;
            if (index >= 0 && index < MAX_COMPONENTS)
                record->started[index] = true;
        }
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

// A file read piece by piece into a buffer of ours, for a decode that must
// not hold the whole file: the library asks for the next piece when it has
// used the last.
constexpr std::size_t kInputBuffer = std::size_t(64) << 10;

struct StreamSource {
    jpeg_source_mgr pub; // first, so the library's pointer to it is ours
    ByteSource* in;
    std::exception_ptr* failure; // where a throwing source's exception is kept
    JOCTET buffer[kInputBuffer];
};

struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    ScanRecord scans {};
    const std::uint8_t* data; // the file in memory, or
    ByteSource* input = nullptr; // the file read piece by piece
    std::size_t size;
    const JpegFrame* frame = nullptr; // set when the data is a camera's frame
    int scale = 1; // the rows come out 1 / scale of the picture's size
    bool sizeOnly = false; // only the headers are read, for the picture's size
    bool wholeImage = false; // the library keeps every coefficient of the picture
    RowSink* sink;
    std::exception_ptr refusal;
    char message[JMSG_LENGTH_MAX];
};

// ---------------------------------------------------- checks before decoding
//
// Everything below reads the frame and first scan headers that
// jpeg_read_header has taken in, before jpeg_start_decompress allocates
// anything for the picture. For a progressive file, or one whose components
// come in separate scans, that start allocates the whole picture's
// coefficients (two bytes each) and then reads every scan, so a file of a
// few hundred bytes that claims a huge picture, or whose first scan header
// is broken, must be refused here.

// Huffman coding spends at least one bit on every code, so a block costs at
// least a bit in a progressive file's first DC scan and at least two (its DC
// code and an end-of-block or AC code) in a sequential scan. Arithmetic
// coding gives no such floor: there only the memory rule applies.
std::uint64_t fewestHuffmanBytes(const jpeg_decompress_struct& c)
{
    std::uint64_t blocks = 0;
    for (int ci = 0; ci < c.num_components; ++ci)
        blocks += std::uint64_t(c.comp_info[ci].width_in_blocks) * c.comp_info[ci].height_in_blocks;
    const std::uint64_t bitsPerBlock = c.progressive_mode ? 1 : 2;
    return (blocks * bitsPerBlock + 7) / 8;
}

std::uint64_t roundedUp(std::uint64_t n, std::uint64_t step) { return (n + step - 1) / step * step; }

// The coefficient store of a multi-scan file: every block of every component,
// padded to whole MCUs, plus a row pointer per block row.
std::uint64_t coefficientBytes(const jpeg_decompress_struct& c)
{
    std::uint64_t bytes = 0;
    for (int ci = 0; ci < c.num_components; ++ci) {
        const jpeg_component_info& comp = c.comp_info[ci];
        const std::uint64_t perRow = roundedUp(comp.width_in_blocks, std::uint64_t(comp.h_samp_factor));
        const std::uint64_t rows = roundedUp(comp.height_in_blocks, std::uint64_t(comp.v_samp_factor));
        bytes += perRow * rows * sizeof(JBLOCK) + rows * sizeof(JBLOCKROW);
    }
    return bytes;
}

// A bound on the library's working memory, which grows with the width only:
// its tables and pools, the sample rows of one MCU row of every component
// with the rows around it that smooth upsampling needs (ten row groups), the
// upsampled rows, and the rows readInks converts from.
std::uint64_t workingBytes(const jpeg_decompress_struct& c)
{
    std::uint64_t rowGroup = 0;
    for (int ci = 0; ci < c.num_components; ++ci) {
        const jpeg_component_info& comp = c.comp_info[ci];
        rowGroup += std::uint64_t(comp.width_in_blocks) * DCTSIZE * std::uint64_t(comp.v_samp_factor);
    }
    const std::uint64_t width = c.image_width;
    const std::uint64_t tallest = std::uint64_t(std::max(c.max_v_samp_factor, 1));
    return (2ull << 20) + 16 * rowGroup + 16 * width * tallest * std::uint64_t(c.num_components);
}

bool usesQuantTable(int table) { return table >= 0 && table < NUM_QUANT_TBLS; }

// Header fields that are wrong before any scan data is read: two components
// with one id, and tables numbered past what the format has or not defined
// when the first scan needs them.
void checkHeaders(const jpeg_decompress_struct& c)
{
    for (int i = 0; i < c.num_components; ++i) {
        for (int j = i + 1; j < c.num_components; ++j)
            if (c.comp_info[i].component_id == c.comp_info[j].component_id)
                throw EPictureError(kDamagedPicture);
        if (!usesQuantTable(c.comp_info[i].quant_tbl_no))
            throw EPictureError(kDamagedPicture);
    }
    const int entropyTables = c.arith_code ? NUM_ARITH_TBLS : NUM_HUFF_TBLS;
    for (int i = 0; i < c.comps_in_scan; ++i) {
        const jpeg_component_info* comp = c.cur_comp_info[i];
        // Tables of later components may still come before their scans.
        if (c.quant_tbl_ptrs[comp->quant_tbl_no] == nullptr)
            throw EPictureError(kDamagedPicture);
        if (c.Ss == 0 && c.Ah == 0 && (comp->dc_tbl_no < 0 || comp->dc_tbl_no >= entropyTables))
            throw EPictureError(kDamagedPicture);
        if (c.Se > 0 && (comp->ac_tbl_no < 0 || comp->ac_tbl_no >= entropyTables))
            throw EPictureError(kDamagedPicture);
    }
}

// Checks the headers and the memory rule; returns what the library may
// allocate for itself, the rule's budget less the file and the picture.
std::uint64_t planDecode(DecodeJob& job)
{
    const jpeg_decompress_struct& c = job.cinfo;
    checkHeaders(c);
    if (!c.arith_code && job.size < fewestHuffmanBytes(c))
        throw EPictureError(kDamagedPicture);
    job.wholeImage = c.progressive_mode || c.comps_in_scan < c.num_components;
    const std::uint64_t pictureBytes = std::uint64_t(c.image_width) * c.image_height * sizeof(std::uint32_t);
    const std::uint64_t libraryBytes = (job.wholeImage ? coefficientBytes(c) : 0) + workingBytes(c);
    checkPictureMemory(c.image_width, c.image_height, pictureBytes + libraryBytes, job.size);
    return openingBudget(job.size) - job.size - pictureBytes;
}

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

// A camera's frame is the stream's size and one interleaved baseline scan;
// anything else would make the library keep the whole frame's coefficients
// and pass over them once per scan, every frame.
bool acceptFrame(DecodeJob& job) noexcept
{
    if (job.frame == nullptr)
        return true;
    const jpeg_decompress_struct& c = job.cinfo;
    try {
        if (c.image_width != JDIMENSION(job.frame->width) || c.image_height != JDIMENSION(job.frame->height))
            throw EPictureError("The frame is " + pictureSizeText(c.image_width, c.image_height) + ", not the stream's "
                + pictureSizeText(job.frame->width, job.frame->height));
        if (c.progressive_mode || c.comps_in_scan != c.num_components)
            throw EPictureError("The frame is not one interleaved sequential scan");
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

bool acceptHeaders(DecodeJob& job) noexcept
{
    try {
        checkHeaders(job.cinfo);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

bool acceptPlan(DecodeJob& job) noexcept
{
    try {
        // Past this the library's whole-image buffers fail to be made ("no
        // backing store") instead of taking more than the rule allows.
        job.cinfo.mem->max_memory_to_use = long(std::min<std::uint64_t>(planDecode(job), LONG_MAX));
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

// A multi-scan file is read to its end by jpeg_start_decompress; it is whole
// only if every component had the scan that starts it. (A file cut short
// inside a scan is caught by the library's warnings.)
bool everyComponentStarted(const DecodeJob& job)
{
    for (int ci = 0; ci < job.cinfo.num_components; ++ci)
        if (!job.scans.started[ci])
            return false;
    return true;
}

// The sink's calls. The library is active around them, so whatever they
// throw is kept in the job and the decode leaves through the error manager,
// which destroys the decompressor; the caller throws it again.
bool sinkBegins(DecodeJob& job, int w, int h) noexcept
{
    try {
        job.sink->begin(w, h);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

bool sinkRoom(DecodeJob& job, int first, int count, std::uint32_t** rows, int& given) noexcept
{
    try {
        given = job.sink->room(first, count, rows);
        if (given < 1 || given > count)
            throw std::logic_error("RowSink::room gave " + std::to_string(given) + " rows for " + std::to_string(count));
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

bool sinkWritten(DecodeJob& job, int first, int count) noexcept
{
    try {
        job.sink->written(first, count);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

// Room for up to `count` rows from `first` on, or out through the error
// manager.
int roomFor(DecodeJob& job, int first, int count, std::uint32_t** rows)
{
    int given = 0;
    if (!sinkRoom(job, first, count, rows, given))
        leave(reinterpret_cast<j_common_ptr>(&job.cinfo), Outcome::Refused);
    return given;
}

void rowsWritten(DecodeJob& job, int first, int count)
{
    if (count > 0 && !sinkWritten(job, first, count))
        leave(reinterpret_cast<j_common_ptr>(&job.cinfo), Outcome::Refused);
}

// Greyscale, YCbCr and RGB files: the library writes B, G, R, 0xFF bytes,
// which are the sink's 0xFFRRGGBB words, straight into the sink's rows, a
// few rows a call.
static_assert(std::endian::native == std::endian::little,
    "readDirect and the encoder have libjpeg take 32-bit 0xFFRRGGBB pixels as B, G, R, 0xFF bytes, "
    "which is that order only on a little-endian host");
void readDirect(DecodeJob& job)
{
    j_decompress_ptr cinfo = &job.cinfo;
    constexpr int kBatch = 8;
    std::uint32_t* room[kBatch];
    JSAMPROW rows[kBatch];
    const int height = int(cinfo->output_height);
    while (int(cinfo->output_scanline) < height) {
        const int first = int(cinfo->output_scanline);
        const int given = roomFor(job, first, std::min(kBatch, height - first), room);
        for (int i = 0; i < given; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(room[i]);
        // The library may stop at the end of a row group with fewer rows
        // than it was given room for; the rest are asked for again.
        jpeg_read_scanlines(cinfo, rows, JDIMENSION(given));
        rowsWritten(job, first, int(cinfo->output_scanline) - first);
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
void readInks(DecodeJob& job)
{
    j_decompress_ptr cinfo = &job.cinfo;
    const JDIMENSION rowsPerCall = cinfo->rec_outbuf_height > 0 ? JDIMENSION(cinfo->rec_outbuf_height) : 1;
    JSAMPARRAY inks = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        cinfo->output_width * 4, rowsPerCall);
    const std::uint32_t flip = cinfo->saw_Adobe_marker ? 0 : 0xFF;
    const int width = int(cinfo->output_width);
    constexpr int kBatch = 8;
    std::uint32_t* rows[kBatch];
    while (cinfo->output_scanline < cinfo->output_height) {
        const int first = int(cinfo->output_scanline);
        const int got = int(jpeg_read_scanlines(cinfo, inks, rowsPerCall));
        for (int done = 0; done < got;) {
            const int given = roomFor(job, first + done, std::min(kBatch, got - done), rows);
            for (int i = 0; i < given; ++i) {
                const JSAMPLE* in = inks[done + i];
                std::uint32_t* out = rows[i];
                for (int x = 0; x < width; ++x, in += 4) {
                    const std::uint32_t k = in[3] ^ flip;
                    out[x] = 0xFF000000u | (scaled(in[0] ^ flip, k) << 16) | (scaled(in[1] ^ flip, k) << 8)
                        | scaled(in[2] ^ flip, k);
                }
            }
            rowsWritten(job, first + done, given);
            done += given;
        }
    }
}

// The one decode: every check, then the rows into the job's sink. Only
// trivially destructible objects live here and in what it calls while the
// library is active; every way out of the library comes back to the setjmp.
void noSourceWork(j_decompress_ptr) { }

boolean fillFromSource(j_decompress_ptr cinfo)
{
    auto& src = *reinterpret_cast<StreamSource*>(cinfo->src);
    std::size_t n = 0;
    try {
        n = src.in->nextBytes(src.buffer, kInputBuffer);
    } catch (...) {
        *src.failure = std::current_exception();
        leave(reinterpret_cast<j_common_ptr>(cinfo), Outcome::Refused);
    }
    if (n == 0) {
        // As the library's own sources do where the data ends: a warning,
        // which says the picture is not whole, and an end marker.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src.buffer[0] = 0xFF;
        src.buffer[1] = JPEG_EOI;
        n = 2;
    }
    src.pub.next_input_byte = src.buffer;
    src.pub.bytes_in_buffer = n;
    return TRUE;
}

void skipInSource(j_decompress_ptr cinfo, long count)
{
    auto& src = *reinterpret_cast<StreamSource*>(cinfo->src);
    if (count <= 0)
        return;
    while (count > long(src.pub.bytes_in_buffer)) {
        count -= long(src.pub.bytes_in_buffer);
        fillFromSource(cinfo);
    }
    src.pub.next_input_byte += count;
    src.pub.bytes_in_buffer -= std::size_t(count);
}

void useStreamSource(DecodeJob& job, StreamSource& src)
{
    src.pub.init_source = noSourceWork;
    src.pub.fill_input_buffer = fillFromSource;
    src.pub.skip_input_data = skipInSource;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = noSourceWork;
    src.pub.bytes_in_buffer = 0;
    src.pub.next_input_byte = nullptr;
    src.in = job.input;
    src.failure = &job.refusal;
    job.cinfo.src = &src.pub;
}

Outcome runDecode(DecodeJob& job, StreamSource* stream)
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
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(cinfo);
    job.progress.progress_monitor = watchScans;
    cinfo->progress = &job.progress;
    cinfo->client_data = &job.scans;
    // No jpeg_save_markers: the picture needs none of the markers' contents
    // (the Adobe transform is read by the library), and saving markers makes a
    // file of thousands of them slow to read.
    if (stream != nullptr)
        useStreamSource(job, *stream);
    else
        jpeg_mem_src(cinfo, job.data, static_cast<unsigned long>(job.size));
    jpeg_read_header(cinfo, TRUE);
    if (job.sizeOnly) {
        if (!acceptSize(job, cinfo->image_width, cinfo->image_height) || !acceptHeaders(job))
            leave(common, Outcome::Refused);
        jpeg_destroy_decompress(cinfo);
        return Outcome::Done;
    }
    if (!acceptSize(job, cinfo->image_width, cinfo->image_height) || !acceptFrame(job) || !acceptPlan(job))
        leave(common, Outcome::Refused);
    const bool inks = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = inks ? JCS_CMYK : JCS_EXT_BGRA;
    // The library scales by its inverse DCT, far cheaper than decoding
    // every pixel and averaging them afterwards.
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(job.scale);
    // A multi-scan file is read to its end here, so a truncated one fails
    // before the sink takes any memory for rows.
    jpeg_start_decompress(cinfo);
    if (job.wholeImage && !everyComponentStarted(job))
        leave(common, Outcome::Damaged);
    if (!sinkBegins(job, int(cinfo->output_width), int(cinfo->output_height)))
        leave(common, Outcome::Refused);
    if (inks)
        readInks(job);
    else
        readDirect(job);
    // A file must end properly; a frame is whole with its last row, whatever
    // the camera put after it.
    if (job.frame == nullptr)
        jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return Outcome::Done;
}

// ---------------------------------------------------------------- encoding

// The library fills a fixed buffer of ours, which goes to the byte sink
// whenever it is full and once more at the end. The buffer and the sink's
// pointer live in the job, outside the frame that setjmp marks: the error
// jump skips no destructor and loses nothing.
constexpr std::size_t kOutputBuffer = std::size_t(64) << 10;

struct StreamDestination {
    jpeg_destination_mgr pub; // first, so the library's pointer to it is ours
    ByteSink* out;
    std::exception_ptr* failure; // where a throwing sink's exception is kept
    unsigned char buffer[kOutputBuffer];
};

StreamDestination& destinationOf(j_compress_ptr cinfo)
{
    return *reinterpret_cast<StreamDestination*>(cinfo->dest);
}

void startBuffer(j_compress_ptr cinfo)
{
    StreamDestination& dest = destinationOf(cinfo);
    dest.pub.next_output_byte = dest.buffer;
    dest.pub.free_in_buffer = sizeof dest.buffer;
}

bool sinkTakes(StreamDestination& dest, std::size_t size) noexcept
{
    try {
        if (size > 0)
            dest.out->write(dest.buffer, size);
        return true;
    } catch (...) {
        *dest.failure = std::current_exception();
        return false;
    }
}

// Called when the buffer is full: all of it is output, whatever
// next_output_byte and free_in_buffer say.
boolean flushBuffer(j_compress_ptr cinfo)
{
    StreamDestination& dest = destinationOf(cinfo);
    if (!sinkTakes(dest, sizeof dest.buffer))
        leave(reinterpret_cast<j_common_ptr>(cinfo), Outcome::Refused);
    startBuffer(cinfo);
    return TRUE;
}

void flushRest(j_compress_ptr cinfo)
{
    StreamDestination& dest = destinationOf(cinfo);
    if (!sinkTakes(dest, sizeof dest.buffer - dest.pub.free_in_buffer))
        leave(reinterpret_cast<j_common_ptr>(cinfo), Outcome::Refused);
}

struct EncodeJob {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    StreamDestination output;
    int width;
    int height;
    JpegSettings settings;
    const std::uint32_t* row; // the row the next step writes
    std::exception_ptr failure;
};

// The steps of an encode, each run by runEncodeStep. As runDecode, they hold
// only trivially destructible objects.
void startEncode(EncodeJob& job)
{
    j_compress_ptr cinfo = &job.cinfo;
    jpeg_create_compress(cinfo);
    job.output.pub.init_destination = startBuffer;
    job.output.pub.empty_output_buffer = flushBuffer;
    job.output.pub.term_destination = flushRest;
    job.output.failure = &job.failure;
    cinfo->dest = &job.output.pub;

    cinfo->image_width = JDIMENSION(job.width);
    cinfo->image_height = JDIMENSION(job.height);
    // The rows' 0xFFRRGGBB words lie in memory as blue, green, red and a
    // spare byte, which libjpeg-turbo reads as they are: no row is copied
    // into RGB triples first, and the colour conversion is the same.
    cinfo->input_components = 4;
    cinfo->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job.settings.quality, TRUE);
    cinfo->dct_method = JDCT_FLOAT;
    if (job.settings.fullChroma) {
        // The defaults halve the colour in both directions; every component
        // at 1 x 1 keeps it at full resolution.
        for (int c = 0; c < cinfo->num_components; ++c)
            cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(cinfo, TRUE);
}

void writeEncodedRow(EncodeJob& job)
{
    // The library only reads its input rows, and copies what it keeps of
    // them before the call returns.
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(job.row));
    jpeg_write_scanlines(&job.cinfo, &row, 1);
}

void finishEncode(EncodeJob& job)
{
    jpeg_finish_compress(&job.cinfo);
    jpeg_destroy_compress(&job.cinfo);
}

// The one place an encode's steps run: a step the library leaves by its
// error function comes back here, with the library torn down.
Outcome runEncodeStep(EncodeJob& job, void (*step)(EncodeJob&))
{
    if (setjmp(job.err.escape)) {
        jpeg_destroy_compress(&job.cinfo);
        return job.err.why;
    }
    step(job);
    return Outcome::Done;
}

// encodeJpegWith's bytes from rows handed over one by one.
class JpegRowEncoder final : public RowEncoder {
public:
    JpegRowEncoder(int width, int height, const JpegSettings& settings, ByteSink& out)
        : job_(std::make_unique<EncodeJob>()) // the output buffer is too large for a thread's stack
    {
        if (width < 1 || height < 1)
            throw std::invalid_argument("A JPEG file needs at least one pixel, not " + pictureSizeText(width, height));
        job_->cinfo.err = &job_->err.pub;
        installErrorManager(job_->err, false);
        job_->output.out = &out;
        job_->width = width;
        job_->height = height;
        job_->settings = settings;
        job_->settings.quality = std::clamp(settings.quality, 1, 100);
        run(startEncode);
    }
    ~JpegRowEncoder() override
    {
        if (state_ == State::Encoding)
            jpeg_destroy_compress(&job_->cinfo);
    }

    void write(const std::uint32_t* row) override
    {
        if (state_ != State::Encoding || int(job_->cinfo.next_scanline) >= job_->height)
            throw std::logic_error("a JPEG row past the picture's last, or after an error");
        job_->row = row;
        run(writeEncodedRow);
    }
    void finish() override
    {
        if (state_ != State::Encoding || int(job_->cinfo.next_scanline) != job_->height)
            throw std::logic_error("a JPEG picture finished before its last row, or after an error");
        run(finishEncode);
        state_ = State::Finished;
    }

private:
    enum class State { Encoding, Failed, Finished };

    void run(void (*step)(EncodeJob&))
    {
        const Outcome outcome = runEncodeStep(*job_, step);
        if (outcome == Outcome::Done)
            return;
        state_ = State::Failed;
        if (outcome == Outcome::Refused)
            std::rethrow_exception(job_->failure);
        throw EOrvantaError("JPEG error #" + std::to_string(job_->err.pub.msg_code));
    }

    std::unique_ptr<EncodeJob> job_;
    State state_ = State::Encoding;
};

} // namespace

bool looksLikeJpeg(const std::uint8_t* data, std::size_t size)
{
    return size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

namespace {

// Decodes into `sink` (or with none, reads the headers only) and returns
// the picture's size, or throws what the decode met.
JpegSize decodeInto(const std::uint8_t* data, ByteSource* input, std::size_t size, const JpegFrame* frame, int scale,
    RowSink* sink)
{
    // libjpeg refuses an empty buffer with a message about its own buffers.
    if ((data == nullptr && input == nullptr) || size == 0)
        throw EPictureError(kDamagedPicture);
    auto job = std::make_unique<DecodeJob>();
    // The buffer of a file read piece by piece, too large for a thread's
    // stack, lives beside the job.
    std::unique_ptr<StreamSource> stream;
    if (input != nullptr)
        stream = std::make_unique<StreamSource>();
    job->data = data;
    job->input = input;
    job->size = size;
    job->frame = frame;
    job->scale = scale;
    job->sink = sink;
    job->sizeOnly = sink == nullptr;
    switch (runDecode(*job, stream.get())) {
    case Outcome::Done:
        return { int(job->cinfo.image_width), int(job->cinfo.image_height) };
    case Outcome::LibraryError:
        // The library's own allocations failing is running out of memory,
        // reported like any other.
        if (job->err.pub.msg_code == JERR_OUT_OF_MEMORY)
            throw std::bad_alloc();
        // The whole-image buffers would pass the memory rule's budget.
        if (job->err.pub.msg_code == JERR_NO_BACKING_STORE)
            refuseForItsFile(job->cinfo.image_width, job->cinfo.image_height, size);
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

} // namespace

TBitmap decodeJpeg(const std::uint8_t* data, std::size_t size)
{
    TBitmap picture;
    BitmapRowSink sink(picture);
    decodeInto(data, nullptr, size, nullptr, 1, &sink);
    return picture;
}

void decodeJpegFrame(const std::uint8_t* data, std::size_t size, const JpegFrame& frame, TBitmap& out)
{
    BitmapRowSink sink(out);
    decodeInto(data, nullptr, size, &frame, 1, &sink);
}

namespace {

void checkScale(int scaleDenominator)
{
    if (scaleDenominator != 1 && scaleDenominator != 2 && scaleDenominator != 4 && scaleDenominator != 8)
        throw std::invalid_argument("A JPEG picture scales down by 1, 2, 4 or 8, not "
            + std::to_string(scaleDenominator));
}

// A source's size, which the memory rule counts from, as the memory path's.
std::size_t sizeOf(const ByteSource& in)
{
    return std::size_t(std::min<std::uint64_t>(in.size(), std::numeric_limits<std::size_t>::max()));
}

} // namespace

void decodeJpegRows(const std::uint8_t* data, std::size_t size, RowSink& sink, int scaleDenominator)
{
    checkScale(scaleDenominator);
    decodeInto(data, nullptr, size, nullptr, scaleDenominator, &sink);
}

void decodeJpegRows(ByteSource& in, RowSink& sink, int scaleDenominator)
{
    checkScale(scaleDenominator);
    decodeInto(nullptr, &in, sizeOf(in), nullptr, scaleDenominator, &sink);
}

JpegSize jpegPictureSize(const std::uint8_t* data, std::size_t size)
{
    return decodeInto(data, nullptr, size, nullptr, 1, nullptr);
}

JpegSize jpegPictureSize(ByteSource& in) { return decodeInto(nullptr, &in, sizeOf(in), nullptr, 1, nullptr); }

std::vector<std::uint8_t> encodeJpeg(const TBitmap& picture) { return encodeJpegWith(picture, JpegSettings {}); }

std::vector<std::uint8_t> encodeJpegWith(const TBitmap& picture, const JpegSettings& settings)
{
    std::vector<std::uint8_t> bytes;
    if (picture.empty())
        return bytes;
    BitmapRows rows(picture);
    ByteVectorSink out(bytes);
    encodeJpegRows(picture.width(), picture.height(), settings, rows, out);
    return bytes;
}

std::unique_ptr<RowEncoder> jpegRowEncoder(int width, int height, const JpegSettings& settings, ByteSink& out)
{
    return std::make_unique<JpegRowEncoder>(width, height, settings, out);
}

void encodeJpegRows(int width, int height, const JpegSettings& settings, RowSource& rows, ByteSink& out)
{
    JpegRowEncoder encoder(width, height, settings, out);
    encodeAll(encoder, height, rows);
}
