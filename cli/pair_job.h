// One pair from its files to a written anaglyph: what a single run does and
// what each worker of a batch does.
#pragma once

#include "options.h"
#include "pair.h"
#include "run_inputs.h"

#include <string>

// The source the inputs of a single run name: two files, one MPO file, or
// one side-by-side picture: with --sbs, or a .jps file, whose left half is
// the right eye's view unless --sbs says otherwise.
PairSource sourceOfInputs(const ComposeOptions& options);

// Reads the frames, lines them up when asked, composes and writes output in
// format. An output that is one of runInputs, every file the run reads, is
// refused before anything is read; so is an alignment that cannot tell
// the offsets. threads bounds the threads the pair may use (decoding the two
// frames at once, composing in bands). Never throws for a bad input: the
// outcome says what went wrong. With AlignMode::PrintOnly nothing is written,
// and a pair that needs more than a translation fails, saying what it needs.
PairOutcome runPair(const PairSource& source, const std::string& output, OutputFormat format,
    const ComposeOptions& options, const RunInputs& runInputs, int threads);

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
