// The composition end of a streamed pair: the anaglyph's rows composed from
// the two frames' row windows, and handed to the encoder either by a thread
// of its own (Composer as a RowSource) or, when each frame's rows come from
// a thread of their own, by whichever of those two threads is ahead
// (SharedEncoding).
#pragma once

#include "compose/engine.h"
#include "pictures/picture_rows.h"
#include "pictures/row_window.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

// One frame as the composition reads it: the rows of a window from
// rowOffset on and columns from columnOffset on.
struct View {
    RowWindow* window = nullptr;
    int rowOffset = 0;
    int columnOffset = 0;
    const std::uint32_t* row(int y) const { return window->row(y + rowOffset) + columnOffset; }
};

// Composes the anaglyph's rows from the two views as they are asked for,
// letting each window reuse the rows no later anaglyph row reads.
class Composer final : public RowSource {
public:
    Composer(const CompositionPlan& plan, View left, View right, bool swap);

    // Waits for the rows it reads and throws a frame's failure.
    const std::uint32_t* row(int j) override;
    // How many anaglyph rows from `from` on (up to `limit`) can be made now,
    // their source rows made already.
    int rowsReady(int from, int limit) const;
    // Whether what ended the encoder came from the frames, not the output.
    bool framesFailed() const { return framesFailed_; }

private:
    void release(int next);

    const CompositionPlan& plan_;
    View red_, cyan_;
    std::unique_ptr<std::uint32_t[]> out_;
    bool framesFailed_ = false;
};

// Two producers of rows on two threads (the two frames' decoders, or the
// left frame's decoder and the right frame's warp) that also compose and
// encode, so that a pair keeps two cores busy with two threads, not three:
// a third thread for the encoder made the three take turns on two cores,
// and a core sat idle whenever the producer ahead found its ring full while
// the encoder waited for the one behind. Here the producer ahead encodes
// the rows that are ready (a turn of up to kTurn rows), which holds it back
// and lets the other catch up; a producer whose ring is full encodes
// whatever is ready instead of waiting.
//
// Each producer writes through sink(k) into its window. The caller's thread
// starts the encoding once the composition is planned (encode), and there
// waits; when a producer ends (done or failed) before every row is encoded,
// the caller encodes the rest itself as the rows come, through the
// Composer's waiting reads, which also bring a frame's failure.
class SharedEncoding {
public:
    SharedEncoding(RowWindow& first, RowWindow& second);
    ~SharedEncoding();
    SharedEncoding(const SharedEncoding&) = delete;
    SharedEncoding& operator=(const SharedEncoding&) = delete;

    // Where producer 0 or 1 writes its rows: the window's room, never a
    // wait for it while there are rows to encode.
    RowSink& sink(int k);
    // From a producer's thread once it is over, however it ended.
    void producerEnded();
    // Ends the producers' waits: their sinks throw RowsCancelled.
    void cancel();

    // Encodes the composer's rows 0 .. height - 1 into encoder, with the
    // producers' help; returns when all are written (finish is the
    // caller's), or throws what the encoder or a frame threw.
    void encode(Composer& composer, RowEncoder& encoder, int height);

private:
    class Sink;
    friend class Sink;
    // A producer's chance to encode: ahead (and with at least kBatch rows
    // ready), or blocked (with any ready). Returns whether it encoded.
    bool takeTurn(std::unique_lock<std::mutex>& lock, int k, bool blocked);

    RowWindow* windows_[2];
    std::unique_ptr<Sink> sinks_[2];
    std::mutex mutex_;
    std::condition_variable changed_; // what the producers wait for
    std::condition_variable callerWakes_; // the caller's own, so that each row made does not wake it
    Composer* composer_ = nullptr;
    RowEncoder* encoder_ = nullptr;
    int height_ = 0;
    int encoded_ = 0;
    int ended_ = 0; // producers that are over
    bool busy_ = false; // a producer is encoding
    bool caller_ = false; // the caller encodes the rest
    bool cancelled_ = false;
    std::exception_ptr failure_; // the encoder's, in a producer's turn
};
