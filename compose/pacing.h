// How often a build lets pending events run. The builder paints runs of
// blocks; after each run it asks its pacing whether events must run now. The
// values a block reads (gains, offsets, frames) can only change while events
// run, so the builder refreshes them after every run and a run of blocks
// paints exactly what the same blocks would paint one at a time.
#pragma once

#include <chrono>
#include <functional>

// Lets every pending event run, as the event loop would; the window's own
// event pump.
using EventPump = std::function<void()>;

class BuildPacing {
public:
    virtual ~BuildPacing() = default;
    // Called once when the block loop starts, with the pump that lets events
    // run.
    virtual void start(EventPump pump) { pump_ = std::move(pump); }
    // How many blocks the next run may hold (at least 1).
    virtual int runLength() = 0;
    // Called after each run with the number of blocks it painted or skipped.
    virtual void afterRun(int blocks) = 0;

protected:
    // Lets every pending event run through the pump given at the start.
    virtual void letEventsRun()
    {
        if (pump_)
            pump_();
    }

private:
    EventPump pump_;
};

// Events run after every single block.
class LiteralPacing : public BuildPacing {
public:
    int runLength() override { return 1; }
    void afterRun(int) override { letEventsRun(); }
};

// Events run after at most about a quarter of a millisecond of build work, so
// input, repaints and timer ticks wait no longer than that, while a build of
// many small blocks does not pay for an idle pass of the event loop after
// each one.
class SlicedPacing : public BuildPacing {
public:
    using Clock = std::chrono::steady_clock;
    explicit SlicedPacing(std::chrono::microseconds slice = std::chrono::microseconds(250))
        : slice_(slice)
    {
    }
    void start(EventPump pump) override;
    int runLength() override { return runLength_; }
    void afterRun(int blocks) override;

private:
    std::chrono::microseconds slice_;
    Clock::time_point sliceStart_;
    long long blocksInSlice_ = 0;
    int runLength_ = 64;
};
