#include "bare_jpeg.h"

#include "support.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>

#include <jpeglib.h>

namespace bench {

namespace {

// libjpeg's default on an error is to end the process; ours jumps back to
// the call with the library's message. Nothing between the setjmp and the
// library has a destructor to skip: the jobs below are plain structures
// whose memory belongs to their owners, and the library's own is freed by
// jpeg_destroy.
struct Escape {
    jpeg_error_mgr pub; // first, so the library's pointer to it is ours
    std::jmp_buf to;
    char message[JMSG_LENGTH_MAX];
};

void escape(j_common_ptr cinfo)
{
    Escape* e = reinterpret_cast<Escape*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->to, 1);
}

void installEscape(Escape& e)
{
    jpeg_std_error(&e.pub);
    e.pub.error_exit = escape;
    e.message[0] = '\0';
}

// Bytes counted and let go: the encode without the cost of keeping its file.
constexpr std::size_t kDiscardBuffer = std::size_t(64) << 10;

struct Discard {
    jpeg_destination_mgr pub; // first, so the library's pointer to it is ours
    JOCTET buffer[kDiscardBuffer];
    std::size_t total;
};

Discard& discardOf(j_compress_ptr cinfo) { return *reinterpret_cast<Discard*>(cinfo->dest); }

void startDiscard(j_compress_ptr cinfo)
{
    Discard& d = discardOf(cinfo);
    d.pub.next_output_byte = d.buffer;
    d.pub.free_in_buffer = kDiscardBuffer;
}

boolean emptyDiscard(j_compress_ptr cinfo)
{
    Discard& d = discardOf(cinfo);
    d.total += kDiscardBuffer; // the whole buffer, whatever free_in_buffer says
    startDiscard(cinfo);
    return TRUE;
}

void endDiscard(j_compress_ptr cinfo)
{
    Discard& d = discardOf(cinfo);
    d.total += kDiscardBuffer - d.pub.free_in_buffer;
}

// More rows than a decoder hands over at one call at 4:2:0 (two): the
// buffer stays a few rows whatever the picture size.
constexpr int kBufferRows = 8;

struct PairJob {
    Escape escape;
    jpeg_decompress_struct decoder;
    jpeg_compress_struct encoder;
    Discard output;
    const std::vector<std::uint8_t>* left;
    const std::vector<std::uint8_t>* right;
    int width;
    int height;
    bool sameSize;
};

void startDecode(j_decompress_ptr d, const std::vector<std::uint8_t>& file)
{
    jpeg_mem_src(d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(d, TRUE);
    d->out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(d);
}

bool runPair(PairJob& job)
{
    j_decompress_ptr d = &job.decoder;
    j_compress_ptr c = &job.encoder;
    d->err = &job.escape.pub;
    c->err = &job.escape.pub;
    installEscape(job.escape);
    if (setjmp(job.escape.to)) {
        jpeg_destroy_decompress(d);
        jpeg_destroy_compress(c);
        return false;
    }
    jpeg_create_decompress(d);
    jpeg_create_compress(c);

    // The left picture, each batch of rows encoded as soon as it is decoded.
    startDecode(d, *job.left);
    job.width = int(d->output_width);
    job.height = int(d->output_height);
    const JSAMPARRAY rows = (*d->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(d), JPOOL_PERMANENT, JDIMENSION(job.width) * 4, kBufferRows);

    job.output.pub.init_destination = startDiscard;
    job.output.pub.empty_output_buffer = emptyDiscard;
    job.output.pub.term_destination = endDiscard;
    c->dest = &job.output.pub;
    c->image_width = d->output_width;
    c->image_height = d->output_height;
    c->input_components = 4;
    c->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, 100, TRUE);
    c->dct_method = JDCT_FLOAT;
    jpeg_start_compress(c, TRUE);

    while (d->output_scanline < d->output_height) {
        const JDIMENSION got = jpeg_read_scanlines(d, rows, kBufferRows);
        for (JDIMENSION done = 0; done < got;)
            done += jpeg_write_scanlines(c, rows + done, got - done);
    }
    jpeg_finish_compress(c);
    jpeg_finish_decompress(d);

    // The right picture into the same rows, then nowhere.
    startDecode(d, *job.right);
    job.sameSize = int(d->output_width) == job.width && int(d->output_height) == job.height;
    if (job.sameSize) {
        while (d->output_scanline < d->output_height)
            jpeg_read_scanlines(d, rows, kBufferRows);
        jpeg_finish_decompress(d);
    }

    jpeg_destroy_compress(c);
    jpeg_destroy_decompress(d);
    return true;
}

double threadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct HeaderJob {
    Escape escape;
    jpeg_decompress_struct decoder;
    std::FILE* file;
};

bool readHeader(HeaderJob& job)
{
    j_decompress_ptr d = &job.decoder;
    d->err = &job.escape.pub;
    installEscape(job.escape);
    if (setjmp(job.escape.to)) {
        jpeg_destroy_decompress(d);
        return false;
    }
    jpeg_create_decompress(d);
    jpeg_stdio_src(d, job.file);
    jpeg_read_header(d, TRUE);
    // Destroyed by the caller once it has the figures.
    return true;
}

} // namespace

BareJpegWork bareJpegPairWork(const std::vector<std::uint8_t>& left, const std::vector<std::uint8_t>& right)
{
    // Zeroed, so that destroying a structure the library never set up is
    // harmless.
    auto job = std::make_unique<PairJob>();
    job->left = &left;
    job->right = &right;
    const double t0 = threadCpuMs();
    const bool done = runPair(*job);
    const double cpuMs = threadCpuMs() - t0;
    if (!done)
        throw BenchFailure(std::string("libjpeg: ") + job->escape.message);
    if (!job->sameSize)
        throw BenchFailure("the pair's files differ in size");
    return { cpuMs, job->width, job->height, job->output.total };
}

int bareJpegCores() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 2u)); }

double floorMs(const BareJpegWork& work) { return work.cpuMs / bareJpegCores(); }

JpegHeaderSize readJpegHeaderSize(const std::string& path)
{
    auto job = std::make_unique<HeaderJob>();
    job->file = std::fopen(path.c_str(), "rb");
    if (job->file == nullptr)
        throw BenchFailure("cannot open " + path);
    const bool read = readHeader(*job);
    std::fclose(job->file);
    if (!read)
        throw BenchFailure(path + " has no readable JPEG header: " + job->escape.message);
    const JpegHeaderSize size { int(job->decoder.image_width), int(job->decoder.image_height) };
    jpeg_destroy_decompress(&job->decoder);
    return size;
}

} // namespace bench
