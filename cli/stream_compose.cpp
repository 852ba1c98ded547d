#include "stream_compose.h"

#include <algorithm>

Composer::Composer(const CompositionPlan& plan, View left, View right, bool swap)
    : plan_(plan), red_(swap ? right : left), cyan_(swap ? left : right),
      out_(std::make_unique<std::uint32_t[]>(std::size_t(plan.keep.width)))
{
    // The rows above the first that the picture reads (an offset of a
    // hundred rows, a crop) are never needed: the decoders must not wait
    // for them to be read.
    release(0);
}

const std::uint32_t* Composer::row(int j)
{
    const SourceRows rows = sourceRowsOf(plan_, j);
    try {
        const std::uint32_t* cyan = rows.cyan < 0 ? nullptr : cyan_.row(rows.cyan);
        renderRow(plan_, red_.row(rows.red), cyan, out_.get());
    } catch (...) {
        framesFailed_ = true;
        throw;
    }
    release(j + 1);
    return out_.get();
}

int Composer::rowsReady(int from, int limit) const
{
    const int red = red_.window->made() - red_.rowOffset;
    const int cyan = cyan_.window->made() - cyan_.rowOffset;
    int j = from;
    for (; j < limit; ++j) {
        const SourceRows rows = sourceRowsOf(plan_, j);
        if (rows.red >= red || rows.cyan >= cyan)
            break;
    }
    return j - from;
}

// Rows below what anaglyph row next reads are free.
void Composer::release(int next)
{
    if (next >= plan_.keep.height) {
        red_.window->release(red_.window->height());
        cyan_.window->release(cyan_.window->height());
        return;
    }
    const SourceRows rows = sourceRowsOf(plan_, next);
    red_.window->release(rows.red + red_.rowOffset);
    // A white row reads no cyan row: it needs none below the red one's
    // partner, the rows it would have read.
    const int cyanBelow = (rows.cyan < 0 ? std::max(rows.red - plan_.dy, 0) : rows.cyan) + cyan_.rowOffset;
    cyan_.window->release(std::min(cyanBelow, cyan_.window->height()));
}

// ------------------------------------------------------------ shared

namespace {

// A producer ahead encodes once this many rows are ready, so that turns are
// not a row each; at most kTurn rows a turn, so that it comes back to its
// own decoding while the other is still busy.
constexpr int kBatch = 16;
constexpr int kTurn = 64;

} // namespace

class SharedEncoding::Sink final : public RowSink {
public:
    Sink(SharedEncoding& shared, int k) : shared_(shared), k_(k) { }

    void begin(int width, int height) override { shared_.windows_[k_]->begin(width, height); }
    int room(int first, int count, std::uint32_t** rows) override
    {
        RowWindow& window = *shared_.windows_[k_];
        // The room is looked at under the shared lock: whoever frees rows
        // says so under it, so no word of it is missed between the look
        // and the wait.
        std::unique_lock lock(shared_.mutex_);
        for (;;) {
            if (shared_.cancelled_)
                throw RowsCancelled();
            if (const int n = window.tryRoom(first, count, rows))
                return n;
            if (shared_.takeTurn(lock, k_, true))
                continue;
            // Woken by any change: rows encoded (room), rows made by the
            // other producer (rows to encode), the caller taking over.
            shared_.changed_.wait(lock);
        }
    }
    void written(int first, int count) override
    {
        shared_.windows_[k_]->written(first, count);
        std::unique_lock lock(shared_.mutex_);
        shared_.changed_.notify_all();
        shared_.takeTurn(lock, k_, false);
    }

private:
    SharedEncoding& shared_;
    const int k_;
};

SharedEncoding::SharedEncoding(RowWindow& first, RowWindow& second)
    : windows_ { &first, &second },
      sinks_ { std::make_unique<Sink>(*this, 0), std::make_unique<Sink>(*this, 1) }
{
}

SharedEncoding::~SharedEncoding() = default;

RowSink& SharedEncoding::sink(int k) { return *sinks_[k]; }

bool SharedEncoding::takeTurn(std::unique_lock<std::mutex>& lock, int k, bool blocked)
{
    if (encoder_ == nullptr || busy_ || caller_ || cancelled_ || failure_ || encoded_ >= height_)
        return false;
    if (!blocked && windows_[k]->made() < windows_[1 - k]->made())
        return false;
    const int from = encoded_;
    const int ready = composer_->rowsReady(from, std::min(from + kTurn, height_));
    if (ready == 0 || (!blocked && ready < kBatch && from + ready < height_))
        return false;
    busy_ = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
        for (int j = from; j < from + ready; ++j)
            encoder_->write(composer_->row(j));
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (failure)
        failure_ = failure;
    else
        encoded_ = from + ready;
    changed_.notify_all();
    if (failure_ || encoded_ >= height_ || ended_ > 0)
        callerWakes_.notify_one();
    return true;
}

void SharedEncoding::producerEnded()
{
    std::lock_guard lock(mutex_);
    ++ended_;
    changed_.notify_all();
    callerWakes_.notify_one();
}

void SharedEncoding::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void SharedEncoding::encode(Composer& composer, RowEncoder& encoder, int height)
{
    std::unique_lock lock(mutex_);
    composer_ = &composer;
    encoder_ = &encoder;
    height_ = height;
    changed_.notify_all();
    callerWakes_.wait(lock, [&] { return (encoded_ >= height_ || failure_ || ended_ > 0) && !busy_; });
    if (failure_)
        std::rethrow_exception(failure_);
    // A producer is done, or gave up: the rest is the caller's, each row as
    // it comes (or the frame's failure), with the other producer's help
    // declined.
    caller_ = true;
    for (int j = encoded_; j < height_; ++j) {
        lock.unlock();
        encoder.write(composer.row(j));
        lock.lock();
        encoded_ = j + 1;
        changed_.notify_all();
    }
}
