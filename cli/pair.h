// One pair of frames: where they come from and what became of them, shared
// by the job that builds a pair and the two ways it builds one (whole
// frames, a stream of rows).
#pragma once

#include "align/correction.h"
#include "pictures/stereo_files.h"

#include <optional>
#include <string>
#include <vector>

// Where one pair's frames come from.
struct PairSource {
    enum class Kind { TwoFiles, MultiPicture, SideBySide };
    Kind kind = Kind::TwoFiles;
    std::vector<std::string> files; // two for TwoFiles, one otherwise
    SideBySide layout = SideBySide::Parallel;
    bool half = false; // SideBySide: each half squeezed to half width, stretched back
};

// What became of one pair. error is empty when the file was written; it
// starts with the name of the file it concerns.
struct PairOutcome {
    std::vector<std::string> inputs;
    std::string output; // the file written; empty when none was
    int dx = 0;
    int dy = 0;
    bool aligned = false; // the offsets or the correction were estimated
    // What the correction found, when it ran (--align, =perspective or
    // =print): also when it refused the pair or found it needs more than
    // the window's offsets.
    std::optional<StereoCorrection> correction;
    double ms = 0;
    std::string error;
};
