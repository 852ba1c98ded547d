// What the benchmark can measure, and the command line that picks from it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

namespace bench {

struct NominalSize {
    const char* label; // the nominal megapixels, as printed
    double megapixels;
    int width;
    int height;
};

inline constexpr NominalSize kSizes[] = {
    { "0.3", 0.3, 640, 480 },
    { "12", 12.0, 4000, 3000 },
    { "24", 24.0, 6000, 4000 },
};
inline constexpr int kSizeCount = int(std::size(kSizes));

// A size the run measures: a nominal one, or the size of the user's pair.
struct SizeSpec {
    std::string label;
    int width;
    int height;
    int column; // the column of the repetition counts that applies
};

enum class Case {
    Reference,
    Build,
    Preview4,
    BuildLiteral,
    OpenJpeg,
    OpenBmp,
    SaveJpeg,
    SaveBmp,
    WholeJob,
    Djpeg,
    Cjpeg,
    ImageMagick,
    Ffmpeg,
    Floor,
    ComposePair,
    ComposeDubois,
    ComposeBatch8,
    ComposeBatch8Serial,
    ComposeHandheld,
    ComposeAlign,
    ComposeHuge,
};

struct CaseSpec {
    Case id;
    const char* name;
    int step; // block step of the window's build, checked after the first run; 0 for none
    int repetitions[kSizeCount];
    const char* tool; // the program a peer case runs, looked up on PATH; nullptr for our own code
    const char* package; // where the tool comes from on Debian
};

// Rows in the order they run and print. The fast cases get enough runs for a
// steady median on a busy machine; paced per block, the literal build costs
// over a second per megapixel, so it gets fewer, and so do the cases that
// take seconds at 24 MP: the whole job and the other programs. The compose
// cases run our own command-line program, about a second a pair at 24 MP and
// eight pairs a batch, so they get the fewest. compose-handheld runs before
// compose-align: its peak is part of compose-align's budget. floor, the
// least time a pair can take here (two bare decodes and an encode, well
// under a second at 24 MP), gets the fast cases' counts. compose-huge runs
// once, at its own 200 megapixels whatever the run's sizes, with the counts
// of the largest nominal size.
inline constexpr CaseSpec kCases[] = {
    { Case::Reference, "reference", 0, { 15, 7, 5 }, nullptr, nullptr },
    { Case::Build, "build", 1, { 15, 7, 5 }, nullptr, nullptr },
    { Case::Preview4, "preview4", 4, { 15, 7, 5 }, nullptr, nullptr },
    { Case::BuildLiteral, "build-literal", 1, { 3, 3, 1 }, nullptr, nullptr },
    { Case::OpenJpeg, "open-jpeg", 0, { 15, 7, 5 }, nullptr, nullptr },
    { Case::OpenBmp, "open-bmp", 0, { 15, 7, 5 }, nullptr, nullptr },
    { Case::SaveJpeg, "save-jpeg", 0, { 15, 7, 5 }, nullptr, nullptr },
    { Case::SaveBmp, "save-bmp", 0, { 15, 7, 5 }, nullptr, nullptr },
    { Case::WholeJob, "whole-job", 1, { 7, 5, 5 }, nullptr, nullptr },
    { Case::Djpeg, "djpeg", 0, { 7, 3, 3 }, "djpeg", "libjpeg-turbo-progs" },
    { Case::Cjpeg, "cjpeg", 0, { 7, 3, 3 }, "cjpeg", "libjpeg-turbo-progs" },
    { Case::ImageMagick, "imagemagick", 0, { 7, 3, 3 }, "composite", "imagemagick" },
    { Case::Ffmpeg, "ffmpeg", 0, { 7, 3, 3 }, "ffmpeg", "ffmpeg" },
    { Case::Floor, "floor", 0, { 15, 7, 5 }, nullptr, nullptr },
    { Case::ComposePair, "compose-pair", 0, { 5, 3, 3 }, nullptr, nullptr },
    { Case::ComposeDubois, "compose-dubois", 0, { 5, 3, 3 }, nullptr, nullptr },
    { Case::ComposeBatch8, "compose-batch8", 0, { 5, 3, 3 }, nullptr, nullptr },
    { Case::ComposeBatch8Serial, "compose-batch8-serial", 0, { 5, 3, 3 }, nullptr, nullptr },
    { Case::ComposeHandheld, "compose-handheld", 0, { 5, 3, 3 }, nullptr, nullptr },
    { Case::ComposeAlign, "compose-align", 0, { 5, 3, 3 }, nullptr, nullptr },
    { Case::ComposeHuge, "compose-huge", 0, { 3, 3, 3 }, nullptr, nullptr },
};
inline constexpr int kCaseCount = int(std::size(kCases));
static_assert(kCaseCount <= 32, "Options::cases has a bit per case");

// The webcam page's cases, at their own frame sizes and formats.
enum class CameraCase { Tick, Grab, Convert, V4lconvert, Idle };
struct CameraCaseSpec {
    CameraCase id;
    const char* name;
};
inline constexpr CameraCaseSpec kCameraCases[] = {
    { CameraCase::Tick, "camera-tick" },
    { CameraCase::Grab, "camera-grab" },
    { CameraCase::Convert, "camera-convert" },
    { CameraCase::V4lconvert, "v4lconvert" },
    { CameraCase::Idle, "camera-idle" },
};
inline constexpr int kCameraCaseCount = int(std::size(kCameraCases));

// The block step the preview4 case sets before it presses Preview.
inline constexpr int kPreviewStep = 4;

// The row of kCases that runs id.
int indexOf(Case id);

// What the command line asks for.
struct Options {
    bool json = false;
    bool help = false;
    bool emptyWindow = false;
    // Bit c chooses kCases[c]; none chosen runs them all. --case may be given
    // for several picture cases, so that ratio rows between them are printed
    // without running everything else.
    std::uint32_t cases = 0;
    int cameraCaseIndex = -1; // -1: all; a camera case alone runs no picture case
    int sizeIndex = -1; // -1: all
    std::string left;
    std::string right;

    bool runsCase(int c) const { return cases == 0 || (cases >> c & 1u); }
    // Whether any picture case is measured, and any camera case.
    bool runsPictureCases() const { return cases != 0 || cameraCaseIndex < 0; }
    bool runsCameraCases() const { return cameraCaseIndex >= 0 || cases == 0; }
};

void printUsage(std::FILE* out);

// Fills o from the arguments; returns an error message, empty on success.
std::string parseArguments(int argc, char** argv, Options& o);

} // namespace bench
