// Times the anaglyph build as a person gets it, through the window's own
// handlers on the offscreen platform, against the closed-form composition of
// the same frames, and checks that the window's result is the right picture.

#include "app/application.h"
#include "app/dialogs.h"
#include "app/form.h"
#include "app/widgets.h"
#include "compose/anaglyph.h"
#include "compose/pacing.h"
#include "compose/spinedit.h"
#include "frames.h"

#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct SizeSpec {
    const char* label; // the nominal megapixels, as printed
    double megapixels;
    int width;
    int height;
};

constexpr SizeSpec kSizes[] = {
    { "0.3", 0.3, 640, 480 },
    { "12", 12.0, 4000, 3000 },
    { "24", 24.0, 6000, 4000 },
};
constexpr int kSizeCount = int(std::size(kSizes));

enum class Case { Reference, Build, Preview4, BuildLiteral };

struct CaseSpec {
    Case id;
    const char* name;
    int step; // block step of the window's build; 0 for none
    int repetitions[kSizeCount];
};

// Rows in the order they run and print. The fast cases get enough runs for a
// steady median on a busy machine; paced per block, the literal build costs
// over a second per megapixel, so it gets fewer.
constexpr CaseSpec kCases[] = {
    { Case::Reference, "reference", 0, { 15, 7, 5 } },
    { Case::Build, "build", 1, { 15, 7, 5 } },
    { Case::Preview4, "preview4", 4, { 15, 7, 5 } },
    { Case::BuildLiteral, "build-literal", 1, { 3, 3, 1 } },
};
constexpr int kCaseCount = int(std::size(kCases));
constexpr int kPreviewStep = 4;

void printUsage(std::FILE* out)
{
    std::fprintf(out,
        "usage: orvanta-bench [--json] [--case NAME] [--megapixels N]\n"
        "\n"
        "Times the anaglyph build in the program's window on the offscreen platform\n"
        "(unless QT_QPA_PLATFORM says otherwise) on generated frame pairs, and prints\n"
        "the median wall-clock time per case and size.\n"
        "\n"
        "cases:\n"
        "  reference      referenceAnaglyph on the two frames, no window involved\n"
        "  build          the Build button with the window's default pacing\n"
        "  preview4       the Preview button with block step 4\n"
        "  build-literal  the Build button with events let run after every block\n"
        "\n"
        "options:\n"
        "  --case NAME       run only this case (alone it runs at every size)\n"
        "  --megapixels N    run only at this size: 0.3 (640x480), 12 (4000x3000)\n"
        "                    or 24 (6000x4000)\n"
        "  --json            one JSON object per case and size instead of the table:\n"
        "                    {\"case\":\"build\",\"megapixels\":24,\"median_ms\":123.456}\n"
        "  --help            show this text\n"
        "\n"
        "Repetitions per case at 0.3/12/24 MP: reference, build and preview4 15/7/5,\n"
        "build-literal 3/3/1 (15-20 s a run at 24 MP). A run restricted by --case\n"
        "and --megapixels uses the same counts, so the peak memory of a repeated\n"
        "build (the previous anaglyph still shown while the next one is built) can\n"
        "be measured from outside, e.g.\n"
        "  /usr/bin/time -v orvanta-bench --case build --megapixels 24\n"
        "\n"
        "Each window build is compared once per case and size with referenceAnaglyph;\n"
        "a difference ends the program with status 1. Bad arguments give status 2.\n");
}

struct Options {
    bool json = false;
    bool help = false;
    int caseIndex = -1; // -1: all
    int sizeIndex = -1; // -1: all
};

// Fills o from the arguments; returns an error message, empty on success.
std::string parseArguments(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--case") {
            std::string name;
            if (!value(name))
                return "--case needs a case name";
            o.caseIndex = -1;
            for (int c = 0; c < kCaseCount; ++c)
                if (name == kCases[c].name)
                    o.caseIndex = c;
            if (o.caseIndex < 0)
                return "unknown case: " + name;
        } else if (arg == "--megapixels") {
            std::string text;
            if (!value(text))
                return "--megapixels needs a number";
            char* end = nullptr;
            const double mp = std::strtod(text.c_str(), &end);
            o.sizeIndex = -1;
            if (end != text.c_str() && *end == '\0')
                for (int s = 0; s < kSizeCount; ++s)
                    if (std::fabs(mp - kSizes[s].megapixels) < 1e-9)
                        o.sizeIndex = s;
            if (o.sizeIndex < 0)
                return "unsupported size: " + text + " (use 0.3, 12 or 24)";
        } else {
            return "unknown argument: " + arg;
        }
    }
    return {};
}

// A build that shows a message box has not built anything; record the box
// instead of waiting for someone to close it.
class FailingBoxes : public MessageBoxes {
public:
    void show(QWidget*, const QString& title, const QString& text, BoxIcon) override
    {
        if (first.isEmpty())
            first = title + QStringLiteral(": ") + text;
    }
    QString first;
};

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double millisecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// One timed run of a case on the frames already in the window.
double runOnce(Case c, TForm1& form)
{
    switch (c) {
    case Case::Reference: {
        const auto t0 = Clock::now();
        const TBitmap out = referenceAnaglyph(form.Image2->picture(), form.Image1->picture(), 0, 0, false, Gains {});
        const double ms = millisecondsSince(t0);
        if (out.width() != form.Image2->picture().width() || out.height() != form.Image2->picture().height()) {
            std::fprintf(stderr, "orvanta-bench: referenceAnaglyph returned a %dx%d picture\n", out.width(),
                out.height());
            std::exit(1);
        }
        return ms;
    }
    case Case::Build:
    case Case::BuildLiteral: {
        const auto t0 = Clock::now();
        form.Button3Click(form.Button3);
        return millisecondsSince(t0);
    }
    case Case::Preview4: {
        form.SpinEdit3->setValue(kPreviewStep);
        const auto t0 = Clock::now();
        form.Button5Click(form.Button5);
        return millisecondsSince(t0);
    }
    }
    return 0;
}

struct Result {
    bool ran = false;
    double medianMs = 0;
    int repetitions = 0;
};

std::string formatMs(const Result& r)
{
    if (!r.ran)
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f [%d]", r.medianMs, r.repetitions);
    return buf;
}

std::string formatRatio(const Result& num, const Result& den)
{
    if (!num.ran || !den.ran || den.medianMs <= 0)
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2fx", num.medianMs / den.medianMs);
    return buf;
}

void printTable(const Result (&results)[kCaseCount][kSizeCount], const Options& o)
{
    std::vector<int> sizes;
    for (int s = 0; s < kSizeCount; ++s)
        if (o.sizeIndex < 0 || o.sizeIndex == s)
            sizes.push_back(s);
    auto row = [&](const std::string& head, auto cell) {
        std::printf("%-16s", head.c_str());
        for (int s : sizes)
            std::printf(" %20s", cell(s).c_str());
        std::printf("\n");
    };
    std::printf("Median wall-clock time in ms [repetitions]\n");
    row("case", [](int s) { return std::string(kSizes[s].label) + " MP"; });
    row("", [](int s) { return std::to_string(kSizes[s].width) + "x" + std::to_string(kSizes[s].height); });
    for (int c = 0; c < kCaseCount; ++c)
        if (o.caseIndex < 0 || o.caseIndex == c)
            row(kCases[c].name, [&](int s) { return formatMs(results[c][s]); });
    auto index = [](Case id) {
        return int(std::find_if(std::begin(kCases), std::end(kCases), [id](const CaseSpec& c) { return c.id == id; })
            - std::begin(kCases));
    };
    const int ref = index(Case::Reference), build = index(Case::Build), literal = index(Case::BuildLiteral);
    if (o.caseIndex < 0) {
        row("build/reference", [&](int s) { return formatRatio(results[build][s], results[ref][s]); });
        row("literal/build", [&](int s) { return formatRatio(results[literal][s], results[build][s]); });
    }
}

// The window's default pacing, also timing the longest stretch of block
// painting between two passes of the event loop: how long an event that comes
// in during a build may wait.
class MeasuredPacing : public SlicedPacing {
public:
    void start() override
    {
        SlicedPacing::start();
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

} // namespace

int main(int argc, char** argv)
{
    Options options;
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
    FailingBoxes boxes;
    app.setMessageBoxes(&boxes);

    TForm1 form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 10000)) {
        std::fprintf(stderr, "orvanta-bench: the window was not exposed\n");
        return 1;
    }

    MeasuredPacing* measured = nullptr;
    {
        auto pacing = std::make_unique<MeasuredPacing>();
        measured = pacing.get();
        form.setBuildPacing(std::move(pacing));
    }
    double longestWait[kSizeCount] = {};

    Result results[kCaseCount][kSizeCount];
    int status = 0;
    for (int s = 0; s < kSizeCount && status == 0; ++s) {
        if (options.sizeIndex >= 0 && options.sizeIndex != s)
            continue;
        const SizeSpec& size = kSizes[s];
        form.Image2->setPicture(makeFrame(size.width, size.height, 2)); // frame 1
        form.Image1->setPicture(makeFrame(size.width, size.height, 3)); // frame 2
        form.LetEventsRun();

        for (int c = 0; c < kCaseCount && status == 0; ++c) {
            if (options.caseIndex >= 0 && options.caseIndex != c)
                continue;
            const CaseSpec& spec = kCases[c];
            std::unique_ptr<LiteralPacingScope> literal;
            if (spec.id == Case::BuildLiteral)
                literal = std::make_unique<LiteralPacingScope>(form, measured);
            if (spec.id == Case::Build)
                measured->longestMs = 0;
            std::vector<double> times;
            for (int r = 0; r < spec.repetitions[s]; ++r) {
                const double ms = runOnce(spec.id, form);
                times.push_back(ms);
                std::fprintf(stderr, "%s MP %s: run %d/%d %.3f ms\n", size.label, spec.name, r + 1,
                    spec.repetitions[s], ms);
                if (!boxes.first.isEmpty()) {
                    std::fprintf(stderr, "orvanta-bench: %s MP %s showed a message: %s\n", size.label, spec.name,
                        qPrintable(boxes.first));
                    status = 1;
                    break;
                }
                if (r == 0 && spec.step > 0) {
                    const std::string diff = checkAnaglyph(
                        form.Image3->picture(), form.Image2->picture(), form.Image1->picture(), spec.step);
                    if (!diff.empty()) {
                        std::fprintf(stderr, "orvanta-bench: %s MP %s differs from referenceAnaglyph: %s\n",
                            size.label, spec.name, diff.c_str());
                        status = 1;
                        break;
                    }
                }
            }
            if (status != 0)
                break;
            results[c][s] = { true, medianOf(times), int(times.size()) };
            if (spec.id == Case::Build)
                longestWait[s] = measured->longestMs;
            if (options.json)
                std::printf("{\"case\":\"%s\",\"megapixels\":%s,\"median_ms\":%.3f}\n", spec.name, size.label,
                    results[c][s].medianMs);
            std::fflush(stdout);
        }

        // Let this size's pictures go before the next size's are made.
        form.Image1->setPicture(TBitmap());
        form.Image2->setPicture(TBitmap());
        form.Image3->setPicture(TBitmap());
        form.LetEventsRun();
    }

    if (status == 0 && !options.json) {
        printTable(results, options);
        std::printf("\nLongest block painting between two passes of the event loop during build:");
        for (int s = 0; s < kSizeCount; ++s)
            if (results[int(Case::Build)][s].ran)
                std::printf("  %s MP %.3f ms", kSizes[s].label, longestWait[s]);
        std::printf("\n");
    }
    app.setMessageBoxes(nullptr);
    return status;
}
