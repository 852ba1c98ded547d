// A pair built as a stream of rows: each frame decoded row by row on a
// thread of its own, each anaglyph row composed as soon as both its source
// rows exist and handed to the encoder, so that a pair of any size passes in
// the memory of a few hundred rows plus its files' bytes. A corrected pair
// (--align) is estimated first on reduced copies, which a JPEG decoder
// makes by scaling as it decodes, and the right frame is then warped in the
// stream, through a window of the rows the correction's turn spans.
#pragma once

#include "options.h"
#include "pair.h"
#include "pictures/file_io.h"

#include <string>

// Whether streamPair may build the pair: everything but --align=shift
// (phase correlation compares whole frames) and a correction of the two
// halves of one picture.
bool pairStreams(const PairSource& source, const ComposeOptions& options);

// Builds the pair into file (null with AlignMode::PrintOnly, which only
// estimates), which the caller commits; sets outcome's offsets and
// correction; threads bounds the threads the estimate uses. Returns false,
// having read the files and nothing more, for a correction of frames that
// are not both JPEG pictures, whose reduced copies the decoder cannot make.
// Throws what went wrong, named as runPair's outcomes name it.
bool streamPair(const PairSource& source, const std::string& output, AtomicFileWriter* file, OutputFormat format,
    const ComposeOptions& options, int threads, PairOutcome& outcome);
