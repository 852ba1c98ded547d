// orvanta-compose: the window's anaglyph from the command line, for single
// pairs, stereo-camera files, aligned pairs and whole folders. See --help.
#include "batch.h"
#include "options.h"
#include "pair_job.h"
#include "pictures/picture_files.h"
#include "pictures/temporary_files.h"
#include "version.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kProgram = "orvanta-compose";

// The bar on standard error, drawn over itself, only when a person watches
// it: redirected to a file or a pipe, standard error carries errors alone.
class ProgressBar {
public:
    explicit ProgressBar(int total) : total_(total), shown_(total > 0 && ::isatty(2)) { }
    void advance(const std::string& name)
    {
        ++done_;
        if (!shown_)
            return;
        constexpr int width = 30;
        const int filled = total_ ? done_ * width / total_ : width;
        std::fprintf(stderr, "\r\033[K[%s%s] %d/%d %s", std::string(std::size_t(filled), '#').c_str(),
            std::string(std::size_t(width - filled), ' ').c_str(), done_, total_, name.c_str());
        std::fflush(stderr);
    }
    // Takes the bar off its line before anything else is written there.
    void clear()
    {
        if (shown_)
            std::fprintf(stderr, "\r\033[K");
    }

private:
    int total_;
    int done_ = 0;
    bool shown_;
};

void reportError(const std::string& message) { std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str()); }

int runSingle(const ComposeOptions& options)
{
    const PairSource source = sourceOfInputs(options);
    const OutputFormat format = options.output.empty() ? OutputFormat::Jpeg : formatOfOutput(options.output);
    const PairOutcome outcome = runPair(source, options.output, format, options, RunInputs(source.files), coreCount());
    if (options.json)
        std::printf("%s\n", jsonOf(outcome, options).c_str());
    std::fflush(stdout);
    // What the correction found goes to standard error, beside the
    // anaglyph, never into the "dx dy" that --align=print prints.
    if (!options.json)
        std::fputs(reportOf(outcome).c_str(), stderr);
    if (!outcome.error.empty()) {
        reportError(outcome.error);
        return 1;
    }
    if (options.align == AlignMode::PrintOnly && !options.json)
        std::printf("%d %d\n", outcome.dx, outcome.dy);
    else if (options.align == AlignMode::Shift && !options.json)
        std::printf("aligned: dx %d dy %d\n", outcome.dx, outcome.dy);
    return 0;
}

int runFolder(const ComposeOptions& options)
{
    std::vector<std::string> names;
    std::error_code failure;
    for (std::filesystem::directory_iterator it(options.batchFolder, failure), end; !failure && it != end;
         it.increment(failure)) {
        std::error_code kind;
        if (it->is_regular_file(kind))
            names.push_back(it->path().filename().string());
    }
    if (failure) {
        reportError(options.batchFolder + ": " + failure.message());
        return 1;
    }
    std::filesystem::create_directories(options.output, failure);
    if (failure) {
        reportError(options.output + ": " + failure.message());
        return 1;
    }
    // A folder that takes no files is told now, not once for every pair
    // after each has been decoded.
    if (::access(options.output.c_str(), W_OK | X_OK) != 0) {
        reportError("Cannot write into folder \"" + options.output + "\". " + systemErrorText(errno));
        return 1;
    }
    const BatchPlan plan = planBatch(options.batchFolder, names, options.sideBySide, options.half);
    ProgressBar bar(int(plan.pairs.size() + plan.problems.size()));
    const int failed = runBatch(plan, options.output, options, options.jobs, [&](const PairOutcome& outcome) {
        bar.clear();
        if (options.json)
            std::printf("%s\n", jsonOf(outcome, options).c_str());
        else if (options.align == AlignMode::Shift && outcome.error.empty())
            std::printf("%s: dx %d dy %d\n", outcome.output.c_str(), outcome.dx, outcome.dy);
        std::fflush(stdout);
        if (!options.json)
            std::fputs(reportOf(outcome).c_str(), stderr);
        if (!outcome.error.empty())
            reportError(outcome.error);
        bar.advance(outcome.inputs.empty() ? std::string() : outcome.inputs.front());
    });
    bar.clear();
    const int total = int(plan.pairs.size() + plan.problems.size());
    std::FILE* summaryOut = options.json ? stderr : stdout;
    std::fprintf(summaryOut, "%s: %d pair%s: %d written, %d failed", kProgram, total, total == 1 ? "" : "s",
        total - failed, failed);
    if (plan.ignored)
        std::fprintf(summaryOut, "; %d picture file%s named as no pair", plan.ignored, plan.ignored == 1 ? "" : "s");
    std::fprintf(summaryOut, "\n");
    if (total == 0) {
        reportError(options.batchFolder + ": no pairs found");
        return 1;
    }
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Ctrl+C, kill or a closed terminal in the middle of a pair or a batch
    // leaves no temporary file in the output folder.
    removeTemporaryFilesOnSignals();
    ComposeOptions options;
    try {
        options = parseComposeArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        reportError(e.what());
        std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
        return 2;
    }
    if (options.help) {
        std::fputs(composeHelpText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgram, ORVANTA_VERSION);
        return 0;
    }
    try {
        return options.batchFolder.empty() ? runSingle(options) : runFolder(options);
    } catch (const std::exception& e) {
        reportError(e.what());
        return 1;
    }
}
