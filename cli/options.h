// The command line of orvanta-compose, read into one settings struct.
#pragma once

#include "align/correction.h"
#include "compose/methods.h"
#include "pictures/jpeg_codec.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be run: exit status 2 with the message and a
// pointer to --help.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Off: the offsets as given. Correct: the correction of roll, size and
// vertical offset (and keystone with CorrectionModel::Perspective), warped.
// Shift: one translation by phase correlation, built with as offsets.
// PrintOnly: the window's offsets for a pair that a translation lines up.
enum class AlignMode { Off, Correct, Shift, PrintOnly };
enum class SideBySideInput { None, Parallel, Cross };
enum class OutputFormat { Jpeg, Bmp, Png };

struct ComposeOptions {
    bool help = false;
    bool version = false;

    std::vector<std::string> inputs; // LEFT RIGHT, or one MPO or side-by-side file
    std::string output; // a file, or with --batch a folder
    std::string batchFolder;

    ComposeSettings compose;
    bool offsetsGiven = false;
    AlignMode align = AlignMode::Off;
    CorrectionModel model = CorrectionModel::Similarity;
    StereoWindow window = StereoWindow::Near;
    SideBySideInput sideBySide = SideBySideInput::None; // --sbs; a .jps file is Cross unless it is given
    bool half = false; // each half of a side-by-side picture stretched back to the full width

    JpegSettings jpeg;
    OutputFormat batchFormat = OutputFormat::Jpeg; // what a batch writes
    int jobs = 0; // pairs at once in a batch; 0: one per core
    bool json = false;
};

// Reads argv. Throws UsageError for anything that cannot be run: unknown
// options, values out of range, missing or surplus inputs, options that
// exclude each other.
ComposeOptions parseComposeArguments(const std::vector<std::string>& args);

// s with its ASCII letters made lower case, for names of files and their
// extensions, which people write in either case.
std::string lowercaseAscii(std::string s);

// Whether a file's name says it is a side-by-side stereo JPEG (.jps, in any
// case), which is read as side-by-side without --sbs.
bool isJpsName(const std::string& path);

// The format an output file's name asks for: .jpg or .jpeg gives JPEG, .bmp
// gives BMP, .png gives PNG, in any case; anything else is a UsageError.
OutputFormat formatOfOutput(const std::string& path);

// The whole help text, which doubles as the manual.
const char* composeHelpText();
