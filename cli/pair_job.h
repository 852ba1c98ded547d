// One pair from its files to a written anaglyph: what a single run does and
// what each worker of a batch does.
#pragma once

#include "options.h"
#include "pictures/stereo_files.h"
#include "run_inputs.h"

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

// The source the inputs of a single run name: two files, one MPO file, or
// one side-by-side picture: with --sbs, or a .jps file, whose left half is
// the right eye's view unless --sbs says otherwise.
PairSource sourceOfInputs(const ComposeOptions& options);

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

// Reads the frames, lines them up when asked, composes and writes output in
// format. An output that is one of runInputs, every file the run reads, is
// refused before anything is read; so is an alignment that cannot tell
// the offsets. threads bounds the threads the pair may use (decoding the two
// frames at once, composing in bands). Never throws for a bad input: the
// outcome says what went wrong. With AlignMode::PrintOnly nothing is written,
// and a pair that needs more than a translation fails, saying what it needs.
PairOutcome runPair(const PairSource& source, const std::string& output, OutputFormat format,
    const ComposeOptions& options, const RunInputs& runInputs, int threads);

// The settings to build a corrected pair with: no offsets, or with
// AlignMode::PrintOnly the translation the correction found. Throws
// "cannot align ..." when the correction is not confident, and for
// PrintOnly when the pair needs more than a translation.
ComposeSettings settingsAfterCorrection(const PairSource& source, const StereoCorrection& found,
    const ComposeOptions& options);

// The cores this machine offers, at least 1.
int coreCount();

// The JSON object for one outcome, on one line without its line break.
std::string jsonOf(const PairOutcome& outcome, const ComposeOptions& options);

// What the correction found, for people: a few indented lines, each ending
// in a line break, headed by the pair's name; the last warns when the
// parallax range is beyond what is comfortable to view.
std::string reportOf(const PairOutcome& outcome);

// Whether the parallax range after the correction passes 1/30 of the width,
// a common limit of comfortable viewing.
bool parallaxBeyondComfort(const StereoCorrection& correction);
