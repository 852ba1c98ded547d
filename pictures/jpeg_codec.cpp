#include "jpeg_codec.h"

#include "picture_limits.h"

#include <algorithm>
#include <bit>
#include <climits>
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

struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    ScanRecord scans {};
    const std::uint8_t* data;
    std::size_t size;
    const JpegFrame* frame = nullptr; // set when the data is a camera's frame
    bool wholeImage = false; // the library keeps every coefficient of the picture
    TBitmap* picture;
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

bool allocatePicture(DecodeJob& job, int w, int h) noexcept
{
    try {
        // A camera's frames keep the bitmap of the frame before.
        if (job.picture->width() != w || job.picture->height() != h)
            job.picture->allocateUninitialized(w, h);
        return true;
    } catch (...) {
        job.refusal = std::current_exception();
        return false;
    }
}

// Greyscale, YCbCr and RGB files: the library writes B, G, R, 0xFF bytes,
// which are the bitmap's 0xFFRRGGBB words, straight into its rows.
static_assert(std::endian::native == std::endian::little,
    "readDirect and the encoder have libjpeg take 32-bit 0xFFRRGGBB pixels as B, G, R, 0xFF bytes, "
    "which is that order only on a little-endian host");
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
    cinfo->client_data = &job.scans;
    // No jpeg_save_markers: the picture needs none of the markers' contents
    // (the Adobe transform is read by the library), and saving markers makes a
    // file of thousands of them slow to read.
    jpeg_mem_src(cinfo, job.data, static_cast<unsigned long>(job.size));
    jpeg_read_header(cinfo, TRUE);
    if (!acceptSize(job, cinfo->image_width, cinfo->image_height) || !acceptFrame(job) || !acceptPlan(job)) {
        jpeg_destroy_decompress(cinfo);
        return Outcome::Refused;
    }
    const bool inks = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = inks ? JCS_CMYK : JCS_EXT_BGRA;
    // A multi-scan file is read to its end here, so a truncated one fails
    // before the picture's memory is taken.
    jpeg_start_decompress(cinfo);
    if (job.wholeImage && !everyComponentStarted(job)) {
        jpeg_destroy_decompress(cinfo);
        return Outcome::Damaged;
    }
    if (!allocatePicture(job, int(cinfo->output_width), int(cinfo->output_height))) {
        jpeg_destroy_decompress(cinfo);
        return Outcome::Refused;
    }
    if (inks)
        readInks(cinfo, *job.picture);
    else
        readDirect(cinfo, *job.picture);
    // A file must end properly; a frame is whole with its last row, whatever
    // the camera put after it.
    if (job.frame == nullptr)
        jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return Outcome::Done;
}

// ---------------------------------------------------------------- encoding

// The encoder writes into a malloc'ed block of ours that doubles whenever the
// library fills it. The block pointer lives in the job, outside the frame
// that setjmp marks, and is a plain pointer: the error jump skips no
// destructor and loses nothing, and encodeJpeg frees the block after
// runEncode returns, whether or not the encode finished.
struct MemoryDestination {
    jpeg_destination_mgr pub; // first, so the library's pointer to it is ours
    unsigned char* block; // nullptr until init_destination
    std::size_t capacity;
    std::size_t written; // set by term_destination
};

constexpr std::size_t kFirstBlock = std::size_t(64) << 10;

MemoryDestination& destinationOf(j_compress_ptr cinfo)
{
    return *reinterpret_cast<MemoryDestination*>(cinfo->dest);
}

void startBlock(j_compress_ptr cinfo)
{
    MemoryDestination& dest = destinationOf(cinfo);
    dest.block = static_cast<unsigned char*>(std::malloc(kFirstBlock));
    if (dest.block == nullptr)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    dest.capacity = kFirstBlock;
    dest.pub.next_output_byte = dest.block;
    dest.pub.free_in_buffer = dest.capacity;
}

// Called when the block is full: all of it is output, whatever
// next_output_byte and free_in_buffer say. If realloc fails the old block
// stays in `block` and is freed with it.
boolean growBlock(j_compress_ptr cinfo)
{
    MemoryDestination& dest = destinationOf(cinfo);
    if (dest.capacity > SIZE_MAX / 2)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    const std::size_t grown = dest.capacity * 2;
    auto* moved = static_cast<unsigned char*>(std::realloc(dest.block, grown));
    if (moved == nullptr)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    dest.block = moved;
    dest.pub.next_output_byte = moved + dest.capacity;
    dest.pub.free_in_buffer = grown - dest.capacity;
    dest.capacity = grown;
    return TRUE;
}

void finishBlock(j_compress_ptr cinfo)
{
    MemoryDestination& dest = destinationOf(cinfo);
    dest.written = dest.capacity - dest.pub.free_in_buffer;
}

struct EncodeJob {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    MemoryDestination output;
    const TBitmap* picture;
    JpegSettings settings;
};

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
    job.output.pub.init_destination = startBlock;
    job.output.pub.empty_output_buffer = growBlock;
    job.output.pub.term_destination = finishBlock;
    cinfo->dest = &job.output.pub;

    const TBitmap& picture = *job.picture;
    const int width = picture.width();
    cinfo->image_width = JDIMENSION(width);
    cinfo->image_height = JDIMENSION(picture.height());
    // The bitmap's 0xFFRRGGBB words lie in memory as blue, green, red and
    // a spare byte, which libjpeg-turbo reads as they are: no row is copied
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

    while (cinfo->next_scanline < cinfo->image_height) {
        // The library only reads its input rows.
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(picture.scanLine(int(cinfo->next_scanline))));
        jpeg_write_scanlines(cinfo, &row, 1);
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

namespace {

// Decodes into `picture`, or throws what the decode met.
void decodeInto(const std::uint8_t* data, std::size_t size, const JpegFrame* frame, TBitmap& picture)
{
    // libjpeg refuses an empty buffer with a message about its own buffers.
    if (data == nullptr || size == 0)
        throw EPictureError(kDamagedPicture);
    auto job = std::make_unique<DecodeJob>();
    job->data = data;
    job->size = size;
    job->frame = frame;
    job->picture = &picture;
    switch (runDecode(*job)) {
    case Outcome::Done:
        return;
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
    decodeInto(data, size, nullptr, picture);
    return picture;
}

void decodeJpegFrame(const std::uint8_t* data, std::size_t size, const JpegFrame& frame, TBitmap& out)
{
    decodeInto(data, size, &frame, out);
}

std::vector<std::uint8_t> encodeJpeg(const TBitmap& picture) { return encodeJpegWith(picture, JpegSettings {}); }

std::vector<std::uint8_t> encodeJpegWith(const TBitmap& picture, const JpegSettings& settings)
{
    if (picture.empty())
        return {};
    EncodeJob job {};
    job.picture = &picture;
    job.settings = settings;
    job.settings.quality = std::clamp(settings.quality, 1, 100);
    const Outcome outcome = runEncode(job);
    // Whatever happened, the output block (if one was made) is ours to free.
    const std::unique_ptr<unsigned char, void (*)(void*)> block(job.output.block, std::free);
    if (outcome != Outcome::Done)
        throw EOrvantaError("JPEG error #" + std::to_string(job.err.pub.msg_code));
    return std::vector<std::uint8_t>(block.get(), block.get() + job.output.written);
}
