// Batches: finding the pairs in a folder by the names people give them, and
// building them on every core.
#pragma once

#include "pair_job.h"

#include <functional>
#include <string>
#include <vector>

struct BatchPair {
    std::string name; // what the output is called, without its extension
    PairSource source; // with full paths
};

// A file that looks like part of a pair but cannot be built: a frame without
// its partner, two frames in one role, an output name another pair took.
struct BatchProblem {
    std::vector<std::string> files;
    std::string error;
};

struct BatchPlan {
    std::vector<BatchPair> pairs; // sorted by name
    std::vector<BatchProblem> problems;
    int ignored = 0; // picture files that name no pair (the anaglyphs of an earlier run, say)
};

// Pairs the names of a folder's files (names only, no folders): NAME_L with
// NAME_R and NAME_l with NAME_r (one family, the letter's case aside),
// NAME_f1 with NAME_f2, each NAME.mpo alone and each NAME.jps alone, split
// as a side-by-side picture (cross-eyed unless sideBySide says otherwise);
// extensions .jpg, .jpeg, .bmp, .png, .mpo and .jps in any case. With sideBySide
// (--sbs) every other picture is split too, in that layout, where without it
// it names no pair. half: split pictures are stretched back to full width.
// folder is put before each name in the sources.
BatchPlan planBatch(const std::string& folder, const std::vector<std::string>& names,
    SideBySideInput sideBySide = SideBySideInput::None, bool half = false);

// How a batch shares the cores: `workers` pairs are built at once (jobs,
// or one per core when jobs is 0; never more than there are pairs, at least
// one), and each pair may use `threadsPerPair` threads: the cores divided
// among the workers, at least one.
struct BatchSplit {
    int workers = 1;
    int threadsPerPair = 1;
};
BatchSplit splitBatch(int cores, int pairs, int jobs);

// Builds every pair of plan into outputFolder, jobs at a time, and calls
// done for each outcome, problems included, one call at a time in the order
// they finish. A pair whose output would be one of the plan's frames fails
// and the others go on. Returns how many failed.
int runBatch(const BatchPlan& plan, const std::string& outputFolder, const ComposeOptions& options, int jobs,
    const std::function<void(const PairOutcome&)>& done);
