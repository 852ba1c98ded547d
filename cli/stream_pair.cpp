#include "stream_pair.h"

#include "pair_messages.h"
#include "stream_compose.h"

#include "align/correction.h"
#include "align/warp.h"
#include "compose/engine.h"
#include "compose/parallel.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "pictures/picture_limits.h"
#include "pictures/png_codec.h"
#include "pictures/row_window.h"
#include "pictures/stereo_files.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Rows a decoder may run ahead of the composition. Two decoders and the
// encoder share the cores, and a thread that waits leaves its core idle
// until it is woken: with a few dozen rows of slack they took turns waiting
// (a 24-megapixel pair kept one core busy, not two); 256 rows, a scheduler's
// time slice of decoding, keep both busy for 6 MB a frame at 24 megapixels.
constexpr int kAheadRows = 256;
// A decoder that found its window full goes on once this many rows are free.
constexpr int kResume = kAheadRows / 8;

// One picture of the pair's files, named for messages by its file: a file
// read piece by piece as it is decoded, or a picture within bytes held in
// memory (one of an MPO file's two).
struct Picture {
    std::string file;
    std::unique_ptr<PictureFileReader> reader;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    bool isJpeg() const
    {
        if (!reader)
            return looksLikeJpeg(data, size);
        const std::vector<std::uint8_t> start = aboutFile(file, [&] { return reader->head(2); });
        return looksLikeJpeg(start.data(), start.size());
    }
    // A JPEG picture's size from its headers.
    JpegSize jpegSize() const
    {
        return aboutFile(file, [&] {
            if (!reader)
                return jpegPictureSize(data, size);
            reader->rewind();
            return jpegPictureSize(*reader);
        });
    }
    // A JPEG picture's rows from the first, scaled down by 1, 2, 4 or 8.
    void decodeJpeg(RowSink& sink, int scale) const
    {
        if (!reader) {
            decodeJpegRows(data, size, sink, scale);
            return;
        }
        reader->rewind();
        decodeJpegRows(*reader, sink, scale);
    }
    // Any picture whole.
    TBitmap decodeWhole() const
    {
        if (!reader)
            return decodePictureOrPng(data, size);
        reader->rewind();
        const std::vector<std::uint8_t> bytes = reader->readRest();
        return decodePictureOrPng(bytes.data(), bytes.size());
    }
};

Picture fileToStream(const std::string& file)
{
    Picture p;
    p.file = file;
    p.reader = aboutFile(file, [&] { return std::make_unique<PictureFileReader>(file); });
    return p;
}

// The pair's pictures. Two files and a side-by-side picture are read piece
// by piece as they are decoded; an MPO file is read whole first, as its
// index lies in its first picture and points anywhere in the file.
struct Inputs {
    std::vector<std::uint8_t> multiPicture;
    Picture left, right; // two files or an MPO file's two pictures
    Picture sideBySide; // or one side-by-side picture
};

Inputs readInputs(const PairSource& source)
{
    Inputs in;
    const std::string& first = source.files[0];
    switch (source.kind) {
    case PairSource::Kind::TwoFiles:
        in.left = fileToStream(first);
        in.right = fileToStream(source.files[1]);
        break;
    case PairSource::Kind::MultiPicture:
        in.multiPicture = aboutFile(first, [&] { return readWholeFile(first); });
        aboutFile(first, [&] {
            const std::uint8_t* data = in.multiPicture.data();
            const std::size_t size = in.multiPicture.size();
            checkIsMultiPicture(data, size);
            const StereoRanges ranges = stereoPictureRanges(data, size);
            const PictureRange& left = ranges.left;
            const PictureRange& right = ranges.right;
            // Held to the rule of the whole-frame path, which decodes them one
            // after the other: the same files are accepted either way.
            const JpegSize leftSize = jpegPictureSize(data + left.offset, left.size);
            checkSecondPicture(size, leftSize.width, leftSize.height, right);
            in.left.data = data + left.offset;
            in.left.size = left.size;
            in.right.data = data + right.offset;
            in.right.size = right.size;
        });
        in.left.file = in.right.file = first;
        break;
    case PairSource::Kind::SideBySide:
        in.sideBySide = fileToStream(first);
        aboutFile(first, [&] {
            // The index lies among the markers before the first scan.
            const std::vector<std::uint8_t> start = in.sideBySide.reader->head(std::size_t(1) << 20);
            checkNotMultiPicture(start.data(), start.size());
        });
        break;
    }
    return in;
}

// Decodes picture into sink on the calling thread: a JPEG picture row by
// row, any other whole and then handed over row by row. Never throws: a
// failure goes to the readers of the windows it feeds, named after the
// file, and a reader that gave up ends it quietly.
void produce(const Picture& picture, RowSink& sink, std::initializer_list<RowWindow*> feeds) noexcept
{
    try {
        aboutFile(picture.file, [&] {
            try {
                if (picture.isJpeg()) {
                    picture.decodeJpeg(sink, 1);
                    return;
                }
                const TBitmap whole = picture.decodeWhole();
                sink.begin(whole.width(), whole.height());
                for (int y = 0; y < whole.height();) {
                    std::uint32_t* rows[8];
                    const int n = sink.room(y, std::min(8, whole.height() - y), rows);
                    for (int i = 0; i < n; ++i)
                        std::memcpy(rows[i], whole.scanLine(y + i), std::size_t(whole.width()) * 4);
                    sink.written(y, n);
                    y += n;
                }
            } catch (const RowsCancelled&) {
            }
        });
    } catch (...) {
        for (RowWindow* w : feeds)
            w->fail(std::current_exception());
    }
}

void produce(const Picture& picture, RowWindow& window) noexcept { produce(picture, window, { &window }); }

// A side-by-side picture's rows split as they come: the left half into one
// window, the right half into the other (an odd width leaves the middle
// column out), so that each view is read, and let go, on its own.
class Halves final : public RowSink {
public:
    Halves(RowWindow& left, RowWindow& right) : left_(left), right_(right) { }

    void begin(int width, int height) override
    {
        if (width < 2)
            throw EPictureError("A side-by-side picture must be at least 2 pixels wide (this one is "
                + pictureSizeText(width, height) + ")");
        width_ = width;
        half_ = width / 2;
        rows_ = std::make_unique<std::uint32_t[]>(std::size_t(width) * kBatch);
        left_.begin(half_, height);
        right_.begin(half_, height);
    }
    int room(int, int count, std::uint32_t** rows) override
    {
        const int n = std::min(count, kBatch);
        for (int i = 0; i < n; ++i)
            rows[i] = rows_.get() + std::size_t(i) * std::size_t(width_);
        return n;
    }
    void written(int first, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const std::uint32_t* row = rows_.get() + std::size_t(i) * std::size_t(width_);
            copyInto(left_, first + i, row);
            copyInto(right_, first + i, row + (width_ - half_));
        }
    }

private:
    static constexpr int kBatch = 8;
    void copyInto(RowWindow& window, int y, const std::uint32_t* from)
    {
        std::uint32_t* to = nullptr;
        window.room(y, 1, &to);
        std::memcpy(to, from, std::size_t(half_) * sizeof(std::uint32_t));
        window.written(y, 1);
    }

    RowWindow& left_;
    RowWindow& right_;
    int width_ = 0;
    int half_ = 0;
    std::unique_ptr<std::uint32_t[]> rows_;
};

// The threads of one stream: each producer's thread is joined on every way
// out, after its windows are cancelled so that none waits for a reader that
// has gone.
class Producers {
public:
    ~Producers()
    {
        for (RowWindow* w : windows_)
            w->cancel();
        if (shared_ != nullptr)
            shared_->cancel();
        for (std::thread& t : threads_)
            t.join();
    }
    void watch(RowWindow& window) { windows_.push_back(&window); }
    template <class F> void start(F&& f) { threads_.emplace_back(std::forward<F>(f)); }
    // A producer of shared's rows, which is told when the producer is over
    // and cancelled with the windows.
    template <class F> void startFor(SharedEncoding& shared, F&& f)
    {
        shared_ = &shared;
        threads_.emplace_back([to = &shared, f = std::forward<F>(f)] {
            f();
            to->producerEnded();
        });
    }

private:
    std::vector<RowWindow*> windows_;
    SharedEncoding* shared_ = nullptr;
    std::vector<std::thread> threads_;
};

std::unique_ptr<RowEncoder> encoderFor(FileByteSink& sink, OutputFormat format, const JpegSettings& jpeg, int width,
    int height)
{
    switch (format) {
    case OutputFormat::Jpeg:
        return jpegRowEncoder(width, height, jpeg, sink);
    case OutputFormat::Bmp:
        return bmpRowEncoder(width, height, sink);
    case OutputFormat::Png:
        return pngRowEncoder(width, height, sink);
    }
    throw std::logic_error("an output format without an encoder");
}

// Composes and encodes the two views, frames of width x height: the rows
// handed to the encoder by this thread, or with shared, by the decoders'
// threads as well.
void composeStream(const std::string& output, AtomicFileWriter& file, OutputFormat format,
    const ComposeOptions& options, const ComposeSettings& settings, int width, int height, View left, View right,
    SharedEncoding* shared = nullptr)
{
    const CompositionPlan plan = planStream(width, height, settings);
    Composer composer(plan, left, right, settings.swap);
    // Errors of the frames reach the encoder through the composer's rows and
    // keep their files' names; the encoder's own are about the output.
    try {
        FileByteSink sink(file);
        const BackgroundWriteback writeback(file);
        const std::unique_ptr<RowEncoder> encoder
            = encoderFor(sink, format, options.jpeg, plan.keep.width, plan.keep.height);
        if (shared != nullptr) {
            shared->encode(composer, *encoder, plan.keep.height);
            encoder->finish();
        } else {
            encodeAll(*encoder, plan.keep.height, composer);
        }
    } catch (...) {
        if (composer.framesFailed())
            throw;
        const std::exception_ptr failure = std::current_exception();
        aboutFile(output, [&] { std::rethrow_exception(failure); });
    }
}

// ------------------------------------------------------------ warps

// Warped rows are made this many at a time.
constexpr int kWarpBatch = 32;

// Which source rows a warp's output rows read, decided before any is made:
// a source row is free once no later output row reads it, and the source's
// window must hold the widest span a batch of output rows reads at once.
struct WarpPlan {
    std::array<double, 9> map;
    int sourceWidth = 0, sourceHeight = 0, width = 0, height = 0;
    int firstRead = 0; // rows above it are never read
    std::vector<int> freeBelow; // after output row v, rows above freeBelow[v] are not read again
    int span = 1;
};

WarpPlan planWarp(const std::array<double, 9>& map, int sourceWidth, int sourceHeight, int width, int height)
{
    WarpPlan plan { map, sourceWidth, sourceHeight, width, height, sourceHeight, std::vector<int>(std::size_t(height)), 1 };
    const RowWarper warper(map, sourceWidth, sourceHeight, width);
    std::vector<WarpRows> reads(std::size_t(height), WarpRows {});
    for (int v = 0; v < height; ++v)
        reads[std::size_t(v)] = warper.reads(v);
    int lowest = sourceHeight;
    for (int v = height - 1; v >= 0; --v) {
        plan.freeBelow[std::size_t(v)] = lowest;
        lowest = std::min(lowest, reads[std::size_t(v)].first);
        const int batchEnd = std::min(v + kWarpBatch, height) - 1;
        plan.span = std::max(plan.span, reads[std::size_t(batchEnd)].last - lowest + 1);
    }
    plan.firstRead = lowest;
    return plan;
}

// A warp in the stream: the source's rows from `source`, the output rows
// through `into` (a shared encoding's sink) into `target`, which takes a
// failure.
void warpStream(const WarpPlan& plan, RowWindow& source, RowWindow& target, RowSink& into) noexcept
{
    try {
        source.release(plan.firstRead);
        into.begin(plan.width, plan.height);
        RowWarper warper(plan.map, plan.sourceWidth, plan.sourceHeight, plan.width);
        std::vector<const std::uint32_t*> rows(std::size_t(plan.sourceHeight), nullptr);
        int fetched = -1;
        for (int v = 0; v < plan.height;) {
            std::uint32_t* made[kWarpBatch];
            const int n = into.room(v, std::min(kWarpBatch, plan.height - v), made);
            const int last = warper.reads(v + n - 1).last;
            for (int y = std::max(warper.reads(v).first, fetched + 1); y <= last; ++y)
                rows[std::size_t(y)] = source.row(y);
            fetched = std::max(fetched, last);
            for (int i = 0; i < n; ++i)
                warper.render(v + i, rows.data(), made[i]);
            into.written(v, n);
            source.release(plan.freeBelow[std::size_t(v + n - 1)]);
            v += n;
        }
    } catch (const RowsCancelled&) {
    } catch (...) {
        target.fail(std::current_exception());
    }
}

// ------------------------------------------------------------ as they are

void streamAsTheyAre(const PairSource& source, const Inputs& in, const std::string& output, AtomicFileWriter& file,
    OutputFormat format, const ComposeOptions& options, PairOutcome& outcome)
{
    const ComposeSettings& settings = options.compose;
    outcome.dx = settings.dx;
    outcome.dy = settings.dy;
    if (source.kind == PairSource::Kind::SideBySide) {
        // One decoder feeds both views, each half into a window of its own,
        // row for row: the view read |dy| rows later must hold them meanwhile.
        const int lag = int(std::min<long long>(std::abs((long long)settings.dy), 1 << 16));
        RowWindow first(kAheadRows + lag, kResume), second(kAheadRows + lag, kResume);
        RowWindow stretchedFirst(kAheadRows, kResume), stretchedSecond(kAheadRows, kResume);
        Halves halves(first, second);
        // Declared before the producers, whose threads read them until they
        // are joined.
        WarpPlan stretch;
        std::optional<SharedEncoding> stretched;
        Producers producers;
        for (RowWindow* w : { &first, &second, &stretchedFirst, &stretchedSecond })
            producers.watch(*w);
        producers.start([&] { produce(in.sideBySide, halves, { &first, &second }); });
        const int half = first.width(), height = first.height();
        View a { &first }, b { &second };
        if (source.half) {
            // Halves squeezed to half width get their shape back, each
            // stretched across as its rows come, by two threads that also
            // compose and encode between them.
            stretch = planWarp(stretchMap(half, 2 * half), half, height, 2 * half, height);
            // The sinks by address: the threads outlive this block.
            SharedEncoding& shared = stretched.emplace(stretchedFirst, stretchedSecond);
            producers.startFor(
                shared, [&, into = &shared.sink(0)] { warpStream(stretch, first, stretchedFirst, *into); });
            producers.startFor(
                shared, [&, into = &shared.sink(1)] { warpStream(stretch, second, stretchedSecond, *into); });
            a = { &stretchedFirst };
            b = { &stretchedSecond };
        }
        const int width = source.half ? 2 * half : half;
        const bool parallel = source.layout == SideBySide::Parallel;
        checkOverlap(source, width, height, settings.dx, settings.dy);
        composeStream(output, file, format, options, settings, width, height, parallel ? a : b, parallel ? b : a,
            stretched ? &*stretched : nullptr);
        return;
    }
    // Two decoders, each on a thread of its own, that compose and encode
    // between them.
    RowWindow leftRows(kAheadRows, kResume), rightRows(kAheadRows, kResume);
    SharedEncoding shared(leftRows, rightRows);
    Producers producers;
    producers.watch(leftRows);
    producers.watch(rightRows);
    producers.startFor(shared, [&] { produce(in.left, shared.sink(0), { &leftRows }); });
    producers.startFor(shared, [&] { produce(in.right, shared.sink(1), { &rightRows }); });
    checkSameSize(source, leftRows.width(), leftRows.height(), rightRows.width(), rightRows.height());
    checkOverlap(source, leftRows.width(), leftRows.height(), settings.dx, settings.dy);
    composeStream(output, file, format, options, settings, leftRows.width(), leftRows.height(), { &leftRows },
        { &rightRows }, &shared);
}

// ------------------------------------------------------------ corrected

// The scale, 1/2, 1/4 or 1/8 (the largest that divides the estimate's
// reduction of frames of width x height), at which a frame's copy for the
// estimate is decoded.
int copyFactorFor(int width, int height)
{
    const int f = correctionReduction(width, height);
    int scale = 8;
    while (f % scale != 0)
        scale /= 2;
    return scale;
}

// A frame's copy for the estimate, scaled down by the decoder as it decodes.
TBitmap reducedCopy(const Picture& picture, int scale)
{
    TBitmap out;
    BitmapRowSink rows(out);
    aboutFile(picture.file, [&] { picture.decodeJpeg(rows, scale); });
    return out;
}

void streamCorrected(const PairSource& source, const Inputs& in, const std::string& output, AtomicFileWriter* file,
    OutputFormat format, const ComposeOptions& options, int threads, PairOutcome& outcome)
{
    const JpegSize leftSize = in.left.jpegSize();
    const JpegSize rightSize = in.right.jpegSize();
    checkSameSize(source, leftSize.width, leftSize.height, rightSize.width, rightSize.height);
    const int w = leftSize.width, h = leftSize.height;

    // Reduced copies, both at once when two threads may work: a fraction of
    // a full decode each.
    StereoFrames reduced;
    const int scale = copyFactorFor(w, h);
    const auto reduceLeft = [&] { reduced.left = reducedCopy(in.left, scale); };
    const auto reduceRight = [&] { reduced.right = reducedCopy(in.right, scale); };
    if (threads > 1) {
        bothAtOnce(reduceLeft, reduceRight);
    } else {
        reduceLeft();
        reduceRight();
    }
    const StereoCorrection& found = outcome.correction.emplace(
        estimateCorrectionFromCopies(reduced.left, reduced.right, scale, w, h, options.model, options.window, threads));
    reduced = StereoFrames();
    ComposeSettings settings = settingsAfterCorrection(source, found, options);
    outcome.aligned = true;
    outcome.dx = settings.dx;
    outcome.dy = settings.dy;
    if (file == nullptr)
        return;

    const CropRect& crop = found.crop;
    const WarpPlan warp = planWarp(correctionWarpMap(found), w, h, crop.width, crop.height);
    RowWindow leftRows(kAheadRows, kResume), rightRows(warp.span + kAheadRows, kResume),
        warpedRows(kAheadRows, kResume);
    // The left frame's decoder and the warp compose and encode between them;
    // the right frame's decoder feeds the warp.
    SharedEncoding shared(leftRows, warpedRows);
    Producers producers;
    producers.watch(leftRows);
    producers.watch(rightRows);
    producers.watch(warpedRows);
    producers.startFor(shared, [&] { produce(in.left, shared.sink(0), { &leftRows }); });
    producers.start([&] { produce(in.right, rightRows); });
    // The right frame's failure reaches the reader through the warp.
    producers.startFor(shared, [&] { warpStream(warp, rightRows, warpedRows, shared.sink(1)); });
    settings.dx = settings.dy = 0;
    composeStream(output, *file, format, options, settings, crop.width, crop.height, { &leftRows, crop.y, crop.x },
        { &warpedRows }, &shared);
}

} // namespace

bool pairStreams(const PairSource& source, const ComposeOptions& options)
{
    if (options.align == AlignMode::Shift)
        return false;
    return options.align == AlignMode::Off || source.kind != PairSource::Kind::SideBySide;
}

bool streamPair(const PairSource& source, const std::string& output, AtomicFileWriter* file, OutputFormat format,
    const ComposeOptions& options, int threads, PairOutcome& outcome)
{
    const Inputs in = readInputs(source);
    if (options.align == AlignMode::Off) {
        streamAsTheyAre(source, in, output, *file, format, options, outcome);
        return true;
    }
    // The reduced copies come from the JPEG decoder's scaling.
    if (!in.left.isJpeg() || !in.right.isJpeg())
        return false;
    streamCorrected(source, in, output, file, format, options, threads, outcome);
    return true;
}
