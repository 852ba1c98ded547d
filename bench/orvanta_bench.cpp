// Times the anaglyph build as a person gets it, through the window's own
// handlers on the offscreen platform, against the closed-form composition of
// the same frames, and checks that the window's result is the right picture.
// Beside it: opening and saving picture files the way the window does, the
// whole job from two files to a saved anaglyph, and the command-line tools a
// person could use instead, run on the same files, when they are installed,
// beside our own command-line program and its peak memory.

#include "app/application.h"
#include "app/form.h"
#include "app/widgets.h"
#include "camera.h"
#include "cases.h"
#include "compose_cases.h"
#include "compose/pacing.h"
#include "frames.h"
#include "huge_pair.h"
#include "options.h"
#include "peers.h"
#include "pictures/picture_files.h"
#include "support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace bench;

namespace {

// Bad input files end the run with status 2.
class InputFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Result {
    bool ran = false;
    double medianMs = 0;
    int repetitions = 0;
    double peakMb = -1; // the most of any run, for the cases that measure it
};

std::string formatMs(const Result& r)
{
    if (!r.ran)
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f [%d]", r.medianMs, r.repetitions);
    return buf;
}

std::string formatRatio(const Result& num, const Result& den, double times)
{
    if (!num.ran || !den.ran || den.medianMs <= 0)
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2fx", times * num.medianMs / den.medianMs);
    return buf;
}

std::string formatMb(double mb)
{
    if (mb < 0)
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", mb);
    return buf;
}

// A row of the ratios: times x num's median over den's.
struct Ratio {
    Case num;
    Case den;
    double times = 1;
    const char* head = nullptr; // the row's name when not "num/den"
};

const Ratio kRatios[] = {
    // The first two rows keep the short names they always had.
    { Case::Build, Case::Reference, 1, "build/reference" },
    { Case::BuildLiteral, Case::Build, 1, "literal/build" },
    { Case::OpenJpeg, Case::Djpeg },
    { Case::SaveJpeg, Case::Cjpeg },
    { Case::OpenBmp, Case::OpenJpeg },
    { Case::SaveBmp, Case::SaveJpeg },
    { Case::WholeJob, Case::ImageMagick },
    { Case::WholeJob, Case::Ffmpeg },
    { Case::ComposePair, Case::ImageMagick },
    { Case::ComposePair, Case::Ffmpeg },
    // How near the program comes to the least this machine allows.
    { Case::ComposePair, Case::Floor },
    { Case::ComposeDubois, Case::ComposePair },
    { Case::ComposeBatch8Serial, Case::ComposeBatch8 },
    // What lining up a hand-held pair adds to building it.
    { Case::ComposeAlign, Case::ComposeHandheld },
    // Eight pairs one at a time against the batch of eight: what building
    // pairs side by side in one process gains over eight separate runs.
    { Case::ComposePair, Case::ComposeBatch8, 8, "(8 x compose-pair)/compose-batch8" },
};

using Results = Result[kCaseCount][kSizeCount];

// compose-align's budget at size s: compose-handheld's peak when this run
// measured it, else the pair held whole, as what the unaligned pair takes.
double alignBudgetAt(const Results& results, int s, const SizeSpec& size)
{
    const double unaligned = results[indexOf(Case::ComposeHandheld)][s].peakMb;
    return alignBudgetMb(
        unaligned >= 0 ? unaligned : wholeFramesBudgetMb(size.width, size.height), size.width, size.height);
}

// The size compose-huge runs at, whatever the run's other sizes; the
// repetitions of the largest nominal one.
SizeSpec hugeSize() { return { "200", kHugeWidth, kHugeHeight, kSizeCount - 1 }; }

// Whether any case that runs at the run's sizes was chosen.
bool runsSizedCases(const Options& o)
{
    for (int c = 0; c < kCaseCount; ++c)
        if (o.runsCase(c) && kCases[c].id != Case::ComposeHuge)
            return true;
    return false;
}

void printTable(const Results& results, const std::vector<SizeSpec>& sizes, const Options& o)
{
    auto row = [&](const std::string& head, auto cell) {
        std::printf("%-36s", head.c_str());
        for (int s = 0; s < int(sizes.size()); ++s)
            std::printf(" %20s", cell(s).c_str());
        std::printf("\n");
    };
    std::printf("Median wall-clock time in ms [repetitions]%s\n",
        o.runsCase(indexOf(Case::Floor)) ? "; floor: CPU time over min(2, cores)" : "");
    row("case", [&](int s) { return sizes[s].label + " MP"; });
    row("", [&](int s) { return std::to_string(sizes[s].width) + "x" + std::to_string(sizes[s].height); });
    for (int c = 0; c < kCaseCount; ++c)
        if (o.runsCase(c) && kCases[c].id != Case::ComposeHuge)
            row(kCases[c].name, [&](int s) { return formatMs(results[c][s]); });
    for (const Ratio& r : kRatios) {
        const int n = indexOf(r.num), d = indexOf(r.den);
        if (!o.runsCase(n) || !o.runsCase(d))
            continue;
        const std::string head = r.head ? r.head : std::string(kCases[n].name) + "/" + kCases[d].name;
        row(head, [&](int s) { return formatRatio(results[n][s], results[d][s], r.times); });
    }

    bool peaks = false;
    for (int c = 0; c < kCaseCount; ++c)
        for (int s = 0; s < int(sizes.size()); ++s)
            peaks = peaks || results[c][s].peakMb >= 0;
    if (!peaks)
        return;
    std::printf("\nPeak resident memory in MB (2^20 bytes), the most of any run\n");
    for (int c = 0; c < kCaseCount; ++c) {
        if (!o.runsCase(c) || kCases[c].id == Case::ComposeHuge)
            continue;
        bool measured = false;
        for (int s = 0; s < int(sizes.size()); ++s)
            measured = measured || results[c][s].peakMb >= 0;
        if (!measured)
            continue;
        row(kCases[c].name, [&](int s) { return formatMb(results[c][s].peakMb); });
        if (kCases[c].id == Case::ComposePair)
            row("budget (streamed rows)", [&](int s) {
                return results[c][s].ran ? formatMb(streamingBudgetMb(sizes[s].width, sizes[s].height)) : "-";
            });
        if (kCases[c].id == Case::ComposeAlign)
            row(o.runsCase(indexOf(Case::ComposeHandheld)) ? "budget (handheld + frame) x 1.10"
                                                            : "budget (pair budget + frame) x 1.10",
                [&](int s) { return results[c][s].ran ? formatMb(alignBudgetAt(results, s, sizes[s])) : "-"; });
    }
}

// The window's default pacing, also timing the longest stretch of block
// painting between two passes of the event loop: how long an event that comes
// in during a build may wait.
class MeasuredPacing : public SlicedPacing {
public:
    void start(EventPump pump) override
    {
        SlicedPacing::start(std::move(pump));
        last_ = Clock::now();
    }
    double longestMs = 0;

protected:
    void letEventsRun() override
    {
        longestMs = std::max(longestMs, millisecondsSince(last_));
        SlicedPacing::letEventsRun();
        last_ = Clock::now();
    }

private:
    Clock::time_point last_;
};

// Puts the pacing back to the window's default whichever way the case ends.
struct LiteralPacingScope {
    TForm1& form;
    MeasuredPacing*& measured;
    LiteralPacingScope(TForm1& f, MeasuredPacing*& m)
        : form(f)
        , measured(m)
    {
        form.setBuildPacing(std::make_unique<LiteralPacing>());
        measured = nullptr;
    }
    ~LiteralPacingScope()
    {
        auto pacing = std::make_unique<MeasuredPacing>();
        measured = pacing.get();
        form.setBuildPacing(std::move(pacing));
    }
};

// The sizes to measure: the nominal ones asked for, or the pair's own.
std::vector<SizeSpec> sizesToRun(const Options& o)
{
    std::vector<SizeSpec> sizes;
    if (o.left.empty()) {
        for (int s = 0; s < kSizeCount; ++s)
            if (o.sizeIndex < 0 || o.sizeIndex == s)
                sizes.push_back({ kSizes[s].label, kSizes[s].width, kSizes[s].height, s });
        return sizes;
    }
    int w[2] = {}, h[2] = {};
    const std::string* files[2] = { &o.left, &o.right };
    for (int i = 0; i < 2; ++i) {
        try {
            const TBitmap p = loadPictureFile(*files[i]);
            w[i] = p.width();
            h[i] = p.height();
        } catch (const std::exception& e) {
            throw InputFailure(*files[i] + ": " + e.what());
        }
    }
    if (w[0] != w[1] || h[0] != h[1])
        throw InputFailure("the pair differs in size: " + std::to_string(w[0]) + "x" + std::to_string(h[0]) + " and "
            + std::to_string(w[1]) + "x" + std::to_string(h[1]));
    const double mp = double(w[0]) * double(h[0]) / 1e6;
    char label[32];
    std::snprintf(label, sizeof label, "%.1f", mp);
    sizes.push_back({ label, w[0], h[0], mp < 3 ? 0 : mp < 18 ? 1 : 2 });
    return sizes;
}

// Times case c at b.size, its repetitions one after another, and checks the
// first run's result.
Result timeCase(Bench& b, int c, MeasuredPacing*& measured)
{
    TForm1& form = *b.form;
    const CaseSpec& spec = kCases[c];
    std::unique_ptr<LiteralPacingScope> literal;
    if (spec.id == Case::BuildLiteral)
        literal = std::make_unique<LiteralPacingScope>(form, measured);
    if (spec.id == Case::Build)
        measured->longestMs = 0;
    const int repetitions = spec.repetitions[b.size.column];
    std::vector<double> times;
    double peakMb = -1;
    for (int r = 0; r < repetitions; ++r) {
        double ms = 0;
        b.peakMb = -1;
        try {
            ms = runOnce(spec, b, r == 0);
        } catch (const BenchFailure&) {
            throw;
        } catch (const std::exception& e) {
            throw BenchFailure(std::string(spec.name) + ": " + e.what());
        }
        times.push_back(ms);
        peakMb = std::max(peakMb, b.peakMb);
        std::fprintf(stderr, "%s MP %s: run %d/%d %.3f ms\n", b.size.label.c_str(), spec.name, r + 1, repetitions, ms);
        if (!b.platform->firstMessage.isEmpty())
            throw BenchFailure(
                b.size.label + " MP " + spec.name + " showed a message: " + b.platform->firstMessage.toStdString());
        if (r == 0 && spec.step > 0) {
            const std::string diff = checkAnaglyph(
                form.Image3->picture(), form.Image2->picture(), form.Image1->picture(), spec.step);
            if (!diff.empty())
                throw BenchFailure(b.size.label + " MP " + spec.name + " differs from referenceAnaglyph: " + diff);
        }
    }
    return { true, medianOf(times), int(times.size()), peakMb };
}

void printJsonLine(const CaseSpec& spec, const SizeSpec& size, const Result& r, double budgetMb)
{
    std::printf("{\"case\":\"%s\",\"megapixels\":%s,\"median_ms\":%.3f", spec.name, size.label.c_str(), r.medianMs);
    if (r.peakMb >= 0)
        std::printf(",\"peak_mb\":%.1f", r.peakMb);
    if (budgetMb >= 0)
        std::printf(",\"budget_mb\":%.1f", budgetMb);
    std::printf("}\n");
}

void measure(Bench& b, Results& results, double (&longestWait)[kSizeCount], MeasuredPacing*& measured,
    const std::vector<SizeSpec>& sizes)
{
    TForm1& form = *b.form;
    for (int s = 0; s < int(sizes.size()) && runsSizedCases(b.options); ++s) {
        b.size = sizes[s];
        unsigned needs = 0;
        for (int c = 0; c < kCaseCount; ++c)
            if (b.options.runsCase(c) && kCases[c].id != Case::ComposeHuge && (!kCases[c].tool || !b.tools[c].empty()))
                needs |= needsOf(kCases[c].id);
        try {
            prepare(b, needs);
        } catch (const std::exception& e) {
            throw BenchFailure(b.size.label + " MP: preparing the pictures failed: " + e.what());
        }

        for (int c = 0; c < kCaseCount; ++c) {
            const CaseSpec& spec = kCases[c];
            if (!b.options.runsCase(c) || spec.id == Case::ComposeHuge)
                continue;
            if (spec.tool && b.tools[c].empty())
                continue;
            results[c][s] = timeCase(b, c, measured);
            if (spec.id == Case::Build)
                longestWait[s] = measured->longestMs;
            if (b.options.json) {
                double budgetMb = -1;
                if (spec.id == Case::ComposePair)
                    budgetMb = streamingBudgetMb(b.size.width, b.size.height);
                if (spec.id == Case::ComposeAlign)
                    budgetMb = alignBudgetAt(results, s, b.size);
                printJsonLine(spec, b.size, results[c][s], budgetMb);
            }
            std::fflush(stdout);
        }

        // Let this size's pictures go before the next size's are made.
        b.material = Material {};
        form.Image1->setPicture(TBitmap());
        form.Image2->setPicture(TBitmap());
        form.Image3->setPicture(TBitmap());
        form.LetEventsRun();
    }
}

// compose-huge, once, at its own size, after the others have let their
// pictures go.
Result measureHuge(Bench& b, MeasuredPacing*& measured)
{
    const int c = indexOf(Case::ComposeHuge);
    b.size = hugeSize();
    try {
        prepare(b, needsOf(Case::ComposeHuge));
    } catch (const std::exception& e) {
        throw BenchFailure(b.size.label + " MP: making the pair failed: " + e.what());
    }
    const Result result = timeCase(b, c, measured);
    if (b.options.json) {
        printJsonLine(kCases[c], b.size, result, streamingBudgetMb(b.size.width, b.size.height));
        std::fflush(stdout);
    }
    b.material = Material {};
    return result;
}

void printHuge(const Result& r)
{
    const SizeSpec size = hugeSize();
    std::printf("\ncompose-huge at %dx%d (%.1f MP)\n", size.width, size.height,
        double(size.width) * double(size.height) / 1e6);
    std::printf("  %-34s %20s\n", "median wall-clock ms [repetitions]", formatMs(r).c_str());
    std::printf("  %-34s %20s\n", "peak resident memory, MB", formatMb(r.peakMb).c_str());
    const std::string budget = formatMb(streamingBudgetMb(size.width, size.height));
    std::printf("  %-34s %20s\n", "budget (streamed rows), MB", budget.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    Bench bench;
    Options& options = bench.options;
    const std::string error = parseArguments(argc, argv, options);
    if (!error.empty()) {
        std::fprintf(stderr, "orvanta-bench: %s\n\n", error.c_str());
        printUsage(stderr);
        return 2;
    }
    if (options.help) {
        printUsage(stdout);
        return 0;
    }

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Our arguments are ours alone; Qt gets none to interpret.
    int qtArgc = 1;
    char* qtArgv[] = { argv[0], nullptr };
    OrvantaApplication app(qtArgc, qtArgv);
    BenchPlatform platform;
    app.reportErrorsThrough(&platform);
    TForm1 form(platform);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 10000)) {
        std::fprintf(stderr, "orvanta-bench: the window was not exposed\n");
        return 1;
    }
    if (options.emptyWindow) {
        form.LetEventsRun();
        return 0;
    }

    std::vector<SizeSpec> sizes;
    try {
        sizes = sizesToRun(options);
    } catch (const InputFailure& e) {
        std::fprintf(stderr, "orvanta-bench: %s\n", e.what());
        return 2;
    }

    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "orvanta-bench: cannot make a temporary folder: %s\n",
            qPrintable(folder.errorString()));
        return 1;
    }
    bench.folder = QFile::encodeName(folder.path()).toStdString() + "/";
    bench.form = &form;
    bench.platform = &platform;

    std::vector<std::string> notes;
    for (int c = 0; c < kCaseCount; ++c) {
        if (!kCases[c].tool || !options.runsCase(c) || !options.runsPictureCases())
            continue;
        bench.tools[c] = findOnPath(kCases[c].tool);
        if (bench.tools[c].empty()) {
            notes.push_back(std::string(kCases[c].name) + " skipped: " + kCases[c].tool
                + " is not installed (apt-get install " + kCases[c].package + ")");
            std::fprintf(stderr, "orvanta-bench: %s\n", notes.back().c_str());
        }
    }

    MeasuredPacing* measured = nullptr;
    {
        auto pacing = std::make_unique<MeasuredPacing>();
        measured = pacing.get();
        form.setBuildPacing(std::move(pacing));
    }
    double longestWait[kSizeCount] = {};
    Results results;
    const bool pictureCases = options.runsPictureCases();
    const bool cameraCases = options.runsCameraCases();
    Result huge;
    try {
        if (pictureCases)
            measure(bench, results, longestWait, measured, sizes);
        if (pictureCases && options.runsCase(indexOf(Case::ComposeHuge)))
            huge = measureHuge(bench, measured);
    } catch (const BenchFailure& e) {
        std::fprintf(stderr, "orvanta-bench: %s\n", e.what());
        return 1;
    }

    if (!options.json && pictureCases) {
        if (runsSizedCases(options))
            printTable(results, sizes, options);
        const int build = indexOf(Case::Build);
        if (options.runsCase(build)) {
            std::printf("\nLongest block painting between two passes of the event loop during build:");
            for (int s = 0; s < int(sizes.size()); ++s)
                if (results[build][s].ran)
                    std::printf("  %s MP %.3f ms", sizes[s].label.c_str(), longestWait[s]);
            std::printf("\n");
        }
        if (huge.ran)
            printHuge(huge);
        if (!notes.empty()) {
            std::printf("\n");
            for (const std::string& note : notes)
                std::printf("%s\n", note.c_str());
        }
    }
    try {
        if (cameraCases)
            runCameraCases(bench, options.cameraCaseIndex);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvanta-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
