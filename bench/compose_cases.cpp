#include "compose_cases.h"

#include "bare_jpeg.h"
#include "peers.h"
#include "support.h"

#include <cstdio>
#include <sched.h>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kBatchPairs = 8;

// What compose-align's crop must keep of each side. Lining up the hand-held
// pair (1.5 degrees of roll, 2 % nearer, 1 % lower) costs a 3:2 frame about
// 7 % of its height: the turned frame's corners, its smaller size and the
// drop. A crop below 90 % takes more than the correction needs.
constexpr double kAlignedCropFraction = 0.90;

std::string pairName(int i)
{
    std::string name = "p";
    name += std::to_string(i);
    return name;
}

// The lowest-numbered core this process may run on.
int firstAllowedCore()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &set))
                return c;
    return 0;
}

// Runs orvanta-compose, keeping its peak for the table; on one core (the
// first the run may use) when oneCore is set.
double runCompose(Bench& b, const std::vector<std::string>& args, bool oneCore = false)
{
    std::string program = ORVANTA_COMPOSE;
    std::vector<std::string> all = args;
    if (oneCore) {
        program = findOnPath("taskset");
        if (program.empty())
            throw BenchFailure("taskset, which runs a program on one core, is not installed (util-linux)");
        all.insert(all.begin(), { "-c", std::to_string(firstAllowedCore()), ORVANTA_COMPOSE });
    }
    const MeasuredRun run = runMeasured(program, all, b.folder + "tool.log", b.folder + "launch.txt");
    b.peakMb = run.peakMb;
    return run.ms;
}

// A batch must have written one anaglyph per pair and nothing else, each a
// picture of the frames' size.
void checkBatchOutput(const std::string& folder, const SizeSpec& size, const char* who)
{
    std::error_code failure;
    int files = 0;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure))
        ++files;
    if (failure)
        throw BenchFailure(std::string(who) + ": cannot list " + folder + ": " + failure.message());
    if (files != kBatchPairs)
        throw BenchFailure(std::string(who) + " wrote " + std::to_string(files) + " files, expected "
            + std::to_string(kBatchPairs));
    for (int i = 1; i <= kBatchPairs; ++i)
        checkJpegFile(folder + pairName(i) + ".jpg", size, who);
}

} // namespace

std::string makeComposeBatch(const std::string& folder, const std::string& leftJpeg, const std::string& rightJpeg)
{
    const std::string batch = folder + "batch/";
    fs::remove_all(batch);
    fs::create_directories(batch);
    // The user's pair may be named relative to the current folder, which the
    // links would otherwise be read against their own.
    const fs::path left = fs::absolute(leftJpeg);
    const fs::path right = fs::absolute(rightJpeg);
    for (int i = 1; i <= kBatchPairs; ++i) {
        fs::create_symlink(left, batch + pairName(i) + "_L.jpg");
        fs::create_symlink(right, batch + pairName(i) + "_R.jpg");
    }
    return batch;
}

double runComposeCase(const CaseSpec& spec, Bench& b, bool first)
{
    const Material& m = b.material;
    switch (spec.id) {
    case Case::ComposePair:
    case Case::ComposeDubois: {
        const std::string out = b.folder + spec.name + ".jpg";
        if (first)
            std::remove(out.c_str());
        std::vector<std::string> args { m.leftJpeg, m.rightJpeg, "-o", out };
        if (spec.id == Case::ComposeDubois)
            args.insert(args.end(), { "--method", "dubois" });
        const double ms = runCompose(b, args);
        if (first)
            checkJpegFile(out, b.size, spec.name);
        return ms;
    }
    case Case::ComposeHandheld:
    case Case::ComposeAlign: {
        const std::string out = b.folder + spec.name + ".jpg";
        if (first)
            std::remove(out.c_str());
        std::vector<std::string> args { m.handheldLeftJpeg, m.handheldRightJpeg, "-o", out };
        if (spec.id == Case::ComposeAlign)
            args.push_back("--align");
        const double ms = runCompose(b, args);
        // The generated pair's roll cannot be lined up without losing
        // some of each side; a user's pair may need no crop at all.
        if (first && spec.id == Case::ComposeAlign)
            checkCroppedJpegFile(out, b.size, kAlignedCropFraction, b.options.left.empty(), spec.name);
        else if (first)
            checkJpegFile(out, b.size, spec.name);
        return ms;
    }
    case Case::ComposeHuge: {
        const std::string out = b.folder + spec.name + ".jpg";
        if (first)
            std::remove(out.c_str());
        const double ms = runCompose(b, { m.hugeLeftJpeg, m.hugeRightJpeg, "-o", out });
        // Decoding 200 megapixels to look at them would cost more than the
        // run; the size the file states is what can go wrong cheaply.
        if (first) {
            const JpegHeaderSize got = readJpegHeaderSize(out);
            if (got.width != b.size.width || got.height != b.size.height)
                throw BenchFailure(std::string(spec.name) + " wrote a " + std::to_string(got.width) + "x"
                    + std::to_string(got.height) + " picture, expected " + std::to_string(b.size.width) + "x"
                    + std::to_string(b.size.height));
        }
        return ms;
    }
    case Case::ComposeBatch8:
    case Case::ComposeBatch8Serial: {
        const std::string out = b.folder + spec.name + "/";
        // A fresh folder for the run that is checked, so that files from
        // another size cannot be counted; the program makes it.
        if (first)
            fs::remove_all(out);
        std::vector<std::string> args { "--batch", m.batchFolder, "-o", out };
        const bool serial = spec.id == Case::ComposeBatch8Serial;
        if (serial)
            args.insert(args.end(), { "-j", "1" });
        // The serial batch is the same work on one core: a pair alone
        // streams on several threads, which a second core would run at once.
        const double ms = runCompose(b, args, serial);
        if (first)
            checkBatchOutput(out, b.size, spec.name);
        return ms;
    }
    default:
        break;
    }
    throw BenchFailure(std::string(spec.name) + " is not a compose case");
}

double streamingBudgetMb(int width, int height)
{
    return double(width) * double(height) <= 24e6 ? 64 : 128;
}

double wholeFramesBudgetMb(int width, int height)
{
    const double frameBytes = double(width) * double(height) * 4;
    return 3 * frameBytes * 1.10 / double(1 << 20);
}

double alignBudgetMb(double unalignedMb, int width, int height)
{
    const double frameMb = double(width) * double(height) * 4 / double(1 << 20);
    return (unalignedMb + frameMb) * 1.10;
}

} // namespace bench
