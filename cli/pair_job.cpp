#include "pair_job.h"

#include "pair_messages.h"
#include "stream_pair.h"

#include "align/align.h"
#include "align/correction.h"
#include "align/warp.h"
#include "pictures/bmp_codec.h"
#include "pictures/picture_files.h"
#include "pictures/png_codec.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

StereoFrames twoFiles(const std::string& left, const std::string& right, int threads)
{
    const auto loadLeft = [&] { return aboutFile(left, [&] { return loadPictureOrPngFile(left); }); };
    const auto loadRight = [&] { return aboutFile(right, [&] { return loadPictureOrPngFile(right); }); };
    // Two decoders at once: decoding is most of a pair's time before the
    // encoder, and one frame does not wait for the other.
    if (threads > 1)
        return decodeBothAtOnce(loadLeft, loadRight);
    StereoFrames frames;
    frames.left = loadLeft();
    frames.right = loadRight();
    return frames;
}

StereoFrames framesOf(const PairSource& source, int threads)
{
    switch (source.kind) {
    case PairSource::Kind::TwoFiles:
        return twoFiles(source.files[0], source.files[1], threads);
    case PairSource::Kind::MultiPicture: {
        const std::string& file = source.files[0];
        return aboutFile(file, [&] {
            const std::vector<std::uint8_t> bytes = readWholeFile(file);
            checkIsMultiPicture(bytes.data(), bytes.size());
            return decodeMultiPicturePair(bytes.data(), bytes.size(), threads);
        });
    }
    case PairSource::Kind::SideBySide: {
        const std::string& file = source.files[0];
        return aboutFile(file, [&] {
            const std::vector<std::uint8_t> bytes = readWholeFile(file);
            checkNotMultiPicture(bytes.data(), bytes.size());
            StereoFrames halves = splitSideBySide(decodePictureOrPng(bytes.data(), bytes.size()), source.layout);
            if (source.half) {
                halves.left = stretchAcross(halves.left, 2 * halves.left.width(), threads);
                halves.right = stretchAcross(halves.right, 2 * halves.right.width(), threads);
            }
            return halves;
        });
    }
    }
    throw std::logic_error("unknown pair source");
}

void appendJsonString(std::string& out, const std::string& s)
{
    out += '"';
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    out += '"';
}

} // namespace

int coreCount() { return int(std::max(1u, std::thread::hardware_concurrency())); }

PairSource sourceOfInputs(const ComposeOptions& options)
{
    PairSource source;
    source.files = options.inputs;
    if (options.sideBySide != SideBySideInput::None) {
        source.kind = PairSource::Kind::SideBySide;
        source.layout = options.sideBySide == SideBySideInput::Cross ? SideBySide::Cross : SideBySide::Parallel;
        source.half = options.half;
    } else if (options.inputs.size() == 1 && isJpsName(options.inputs.front())) {
        // Stereo viewers and cameras store .jps for cross-eyed viewing.
        source.kind = PairSource::Kind::SideBySide;
        source.layout = SideBySide::Cross;
        source.half = options.half;
    } else if (options.inputs.size() == 1) {
        source.kind = PairSource::Kind::MultiPicture;
    }
    return source;
}

namespace {

// The pair with both frames whole in memory: for what cannot stream
// (pairStreams).
void buildWhole(const PairSource& source, const std::string& output, AtomicFileWriter* file, OutputFormat format,
    const ComposeOptions& options, int threads, PairOutcome& outcome)
{
    ComposeSettings settings = options.compose;
    const bool printOnly = options.align == AlignMode::PrintOnly;
    TBitmap anaglyph;
    {
        StereoFrames frames = framesOf(source, threads);
        checkSameSize(source, frames.left.width(), frames.left.height(), frames.right.width(), frames.right.height());
        if (options.align == AlignMode::Shift) {
            const Alignment found = estimateAlignment(frames.left, frames.right);
            if (!found.confident)
                throw std::runtime_error(cannotAlign(source, "too little detail in common"));
            // Swapped, the right frame feeds red and the pairing runs
            // the other way.
            settings.dx = settings.swap ? -found.dx : found.dx;
            settings.dy = settings.swap ? -found.dy : found.dy;
            outcome.aligned = true;
        } else if (options.align == AlignMode::Correct || printOnly) {
            const StereoCorrection& found = outcome.correction.emplace(
                estimateCorrection(frames.left, frames.right, options.model, options.window, threads));
            settings = settingsAfterCorrection(source, found, options);
            if (!printOnly)
                frames = applyCorrection(std::move(frames), found, threads);
            outcome.aligned = true;
        }
        outcome.dx = settings.dx;
        outcome.dy = settings.dy;
        if (printOnly)
            return;
        checkOverlap(source, frames.left.width(), frames.left.height(), settings.dx, settings.dy);
        anaglyph = composeAnaglyph(frames.left, frames.right, settings, threads);
    } // the frames go before the encoder takes its memory
    aboutFile(output, [&] {
        file->write(format == OutputFormat::Bmp ? encodeBmp(anaglyph)
                : format == OutputFormat::Png   ? encodePng(anaglyph)
                                                : encodeJpegWith(anaglyph, options.jpeg));
    });
}

} // namespace

PairOutcome runPair(const PairSource& source, const std::string& output, OutputFormat format,
    const ComposeOptions& options, const RunInputs& runInputs, int threads)
{
    const auto start = std::chrono::steady_clock::now();
    PairOutcome outcome;
    outcome.inputs = source.files;
    const bool printOnly = options.align == AlignMode::PrintOnly;
    try {
        // Before anything is decoded: an output on an input is refused, and
        // an output that cannot be made is told without the time of
        // decoding, composing and encoding.
        std::optional<AtomicFileWriter> file;
        if (!printOnly) {
            if (const std::string* input = runInputs.hitBy(output))
                throw std::runtime_error(RunInputs::refusal(output, *input));
            aboutFile(output, [&] { file.emplace(output); });
        }
        AtomicFileWriter* writer = file ? &*file : nullptr;
        if (!pairStreams(source, options) || !streamPair(source, output, writer, format, options, threads, outcome))
            buildWhole(source, output, writer, format, options, threads, outcome);
        if (!printOnly) {
            aboutFile(output, [&] { file->commit(); });
            outcome.output = output;
        }
    } catch (const std::exception& e) {
        outcome.error = messageOf(e);
    }
    outcome.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

std::string jsonOf(const PairOutcome& outcome, const ComposeOptions& options)
{
    std::string out = "{\"inputs\":[";
    for (std::size_t i = 0; i < outcome.inputs.size(); ++i) {
        if (i)
            out += ',';
        appendJsonString(out, outcome.inputs[i]);
    }
    out += "],\"output\":";
    if (outcome.output.empty())
        out += "null";
    else
        appendJsonString(out, outcome.output);
    char buf[160];
    std::snprintf(buf, sizeof buf, ",\"dx\":%d,\"dy\":%d,\"aligned\":%s,\"method\":\"%s\",\"ms\":%.1f,\"error\":",
        outcome.dx, outcome.dy, outcome.aligned ? "true" : "false", anaglyphMethodName(options.compose.method),
        outcome.ms);
    out += buf;
    if (outcome.error.empty())
        out += "null";
    else
        appendJsonString(out, outcome.error);
    out += ",\"correction\":";
    if (!outcome.correction || !outcome.correction->confident) {
        out += "null";
    } else {
        const StereoCorrection& c = *outcome.correction;
        char more[512];
        std::snprintf(more, sizeof more,
            "{\"rotation_degrees\":%.3f,\"scale_percent\":%.3f,\"matches\":%d,"
            "\"vertical_before\":{\"median\":%.2f,\"p90\":%.2f},\"vertical_after\":{\"median\":%.2f,\"p90\":%.2f},"
            "\"parallax_near_percent\":%.2f,\"parallax_far_percent\":%.2f,\"parallax_warning\":%s,"
            "\"crop\":[%d,%d,%d,%d]}",
            c.rotationDegrees, c.scalePercent, c.matches, c.verticalBefore.median, c.verticalBefore.p90,
            c.verticalAfter.median, c.verticalAfter.p90, c.nearParallaxPercent, c.farParallaxPercent,
            parallaxBeyondComfort(c) ? "true" : "false", c.crop.x, c.crop.y, c.crop.width, c.crop.height);
        out += more;
    }
    out += '}';
    return out;
}

bool parallaxBeyondComfort(const StereoCorrection& correction)
{
    return correction.farParallaxPercent - correction.nearParallaxPercent > 100.0 / 30.0;
}

std::string reportOf(const PairOutcome& outcome)
{
    if (!outcome.correction || !outcome.correction->confident)
        return {};
    const StereoCorrection& c = *outcome.correction;
    std::string name;
    for (const std::string& input : outcome.inputs)
        name += (name.empty() ? "" : ", ") + input;
    // The names outside the buffer: a path may be longer than any buffer.
    char buf[640];
    int n = std::snprintf(buf, sizeof buf,
        ": roll %.2f degrees, size %+.2f %%, %d matches\n"
        "  vertical disparity (median, 90th percentile): %.2f px, %.2f px before; %.2f px, %.2f px after\n"
        "  horizontal parallax: %+.2f %% (nearest) to %+.2f %% (farthest) of the width\n",
        c.rotationDegrees, c.scalePercent, c.matches, c.verticalBefore.median, c.verticalBefore.p90,
        c.verticalAfter.median, c.verticalAfter.p90, c.nearParallaxPercent, c.farParallaxPercent);
    std::string out = name + std::string(buf, std::size_t(std::clamp(n, 0, int(sizeof buf) - 1)));
    if (parallaxBeyondComfort(c)) {
        n = std::snprintf(buf, sizeof buf,
            "  warning: the parallax range, %.2f %% of the width, is beyond 1/30 (3.33 %%), more than is comfortable to view\n",
            c.farParallaxPercent - c.nearParallaxPercent);
        out.append(buf, std::size_t(std::clamp(n, 0, int(sizeof buf) - 1)));
    }
    return out;
}
