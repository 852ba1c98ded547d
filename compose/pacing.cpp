#include "pacing.h"

#include <algorithm>

void SlicedPacing::start(EventPump pump)
{
    BuildPacing::start(std::move(pump));
    sliceStart_ = Clock::now();
    blocksInSlice_ = 0;
    runLength_ = 64;
}

void SlicedPacing::afterRun(int blocks)
{
    blocksInSlice_ += blocks;
    const auto spent = Clock::now() - sliceStart_;
    const double spentNs = double(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count());
    const double perBlock = std::max(spentNs / double(std::max<long long>(blocksInSlice_, 1)), 1.0);
    double budgetNs = double(std::chrono::duration_cast<std::chrono::nanoseconds>(slice_).count());
    if (spent < slice_) {
        // Size the next run to what is left of the slice at the rate seen so far.
        budgetNs -= spentNs;
    } else {
        letEventsRun();
        sliceStart_ = Clock::now();
        blocksInSlice_ = 0;
    }
    runLength_ = int(std::clamp(budgetNs / perBlock, 1.0, double(1 << 20)));
}
