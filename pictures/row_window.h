// The rows of one picture passing from a producer (a decoder, a warp) on one
// thread to a reader on another, through a ring of a fixed number of rows:
// the producer waits while the ring is full, the reader while the row it
// wants is not made yet. So a picture of any height passes in the memory of
// a few rows.
#pragma once

#include "picture_rows.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>

// Thrown to a producer whose reader gave up (cancel): it only ends the
// producer's thread and is never reported.
class RowsCancelled : public std::runtime_error {
public:
    RowsCancelled() : std::runtime_error("cancelled") { }
};

class RowWindow final : public RowSink {
public:
    // capacity: the most rows held at once, at least 1. A producer that
    // found the ring full goes on once `resume` rows are free, not one:
    // woken for every row the reader lets go, it and the reader would take
    // turns a row at a time, each turn a switch between threads. So a
    // reader may need at most capacity - resume + 1 rows at the same time.
    explicit RowWindow(int capacity, int resume = 1);

    // The producer's side (RowSink). room waits until the rows fit and
    // throws RowsCancelled once the reader has cancelled.
    void begin(int width, int height) override;
    int room(int first, int count, std::uint32_t** rows) override;
    void written(int first, int count) override;
    // room without the wait: 0 while the ring is full (by room's rule of
    // `resume` rows free); throws RowsCancelled once the reader has cancelled.
    int tryRoom(int first, int count, std::uint32_t** rows);
    // The producer failed: the reader's waits throw its exception.
    void fail(std::exception_ptr failure);

    // The reader's side. Each waits as long as needed and throws the
    // producer's failure. width and height wait for begin.
    int width();
    int height();
    // Row y (0 <= y < height), which must not have been released: valid
    // until it is.
    const std::uint32_t* row(int y);
    // Rows above `below` are no longer needed and their room may be reused.
    void release(int below);
    // How many rows from the first are made by now, without waiting.
    int made();
    // The reader gives up: the producer's waits throw RowsCancelled.
    void cancel();


private:
    void waitForSize(std::unique_lock<std::mutex>& lock);
    std::uint32_t* slot(int y) const;
    // Whether rows from first on fit by room's rule; the lock is held.
    bool fits(int first) const;
    int give(int first, int count, std::uint32_t** rows) const;

    int capacity_; // held to the picture's height by begin
    int resume_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<std::uint32_t[]> store_;
    int width_ = -1;
    int height_ = -1;
    int made_ = 0; // rows 0 .. made_ - 1 exist
    int released_ = 0; // rows below it may be written over
    bool cancelled_ = false;
    std::exception_ptr failure_;
};
