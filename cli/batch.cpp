#include "batch.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace {

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The families of names, in the order their pairs claim an output name.
enum Family { MultiPictureFile = 0, LeftRight = 1, FrameNumbers = 2, SideBySideFile = 3 };

struct Candidate {
    std::string files[2]; // left, right; an MPO file is its own left
};

std::string joined(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace

BatchPlan planBatch(const std::string& folder, const std::vector<std::string>& names, SideBySideInput sideBySide,
    bool half)
{
    BatchPlan plan;
    // (name, family) -> the files found for it.
    std::map<std::pair<std::string, int>, Candidate> found;
    auto claim = [&](const std::string& stem, Family family, int role, const std::string& file) {
        Candidate& c = found[{ stem, int(family) }];
        if (!c.files[role].empty()) {
            plan.problems.push_back({ { joined(folder, c.files[role]), joined(folder, file) },
                "two " + std::string(role == 0 ? "left" : "right") + " frames for " + stem });
            return;
        }
        c.files[role] = file;
    };
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& file : sorted) {
        const std::size_t dot = file.rfind('.');
        if (dot == std::string::npos || dot == 0)
            continue;
        const std::string extension = lowercaseAscii(file.substr(dot + 1));
        const std::string stem = file.substr(0, dot);
        if (extension == "mpo") {
            claim(stem, MultiPictureFile, 0, file);
            continue;
        }
        if (extension == "jps") {
            claim(stem, SideBySideFile, 0, file);
            continue;
        }
        if (extension != "jpg" && extension != "jpeg" && extension != "bmp" && extension != "png")
            continue;
        const std::string folded = lowercaseAscii(stem);
        if (endsWith(folded, "_l"))
            claim(stem.substr(0, stem.size() - 2), LeftRight, 0, file);
        else if (endsWith(folded, "_r"))
            claim(stem.substr(0, stem.size() - 2), LeftRight, 1, file);
        else if (endsWith(folded, "_f1"))
            claim(stem.substr(0, stem.size() - 3), FrameNumbers, 0, file);
        else if (endsWith(folded, "_f2"))
            claim(stem.substr(0, stem.size() - 3), FrameNumbers, 1, file);
        else if (sideBySide != SideBySideInput::None)
            claim(stem, SideBySideFile, 0, file);
        else
            ++plan.ignored;
    }

    std::map<std::string, std::string> outputTakenBy;
    for (const auto& [key, c] : found) {
        const auto& [stem, family] = key;
        const bool single = family == MultiPictureFile || family == SideBySideFile;
        if (!single && (c.files[0].empty() || c.files[1].empty())) {
            const bool leftMissing = c.files[0].empty();
            const char* partner = family == LeftRight ? (leftMissing ? "_L" : "_R") : (leftMissing ? "_f1" : "_f2");
            plan.problems.push_back({ { joined(folder, leftMissing ? c.files[1] : c.files[0]) },
                std::string("no ") + (leftMissing ? "left" : "right") + " frame (" + stem + partner + ") beside it" });
            continue;
        }
        BatchPair pair;
        pair.name = stem;
        pair.source.kind = family == MultiPictureFile ? PairSource::Kind::MultiPicture
            : family == SideBySideFile                ? PairSource::Kind::SideBySide
                                                      : PairSource::Kind::TwoFiles;
        pair.source.files.push_back(joined(folder, c.files[0]));
        if (!single)
            pair.source.files.push_back(joined(folder, c.files[1]));
        if (family == SideBySideFile) {
            // A .jps file is for cross-eyed viewing unless --sbs says otherwise.
            const bool cross = sideBySide == SideBySideInput::Cross
                || (sideBySide == SideBySideInput::None && isJpsName(c.files[0]));
            pair.source.layout = cross ? SideBySide::Cross : SideBySide::Parallel;
            pair.source.half = half;
        }
        const auto taken = outputTakenBy.find(stem);
        if (taken != outputTakenBy.end()) {
            plan.problems.push_back({ pair.source.files, "the output name " + stem + " is taken by " + taken->second });
            continue;
        }
        outputTakenBy[stem] = pair.source.files[0];
        plan.pairs.push_back(std::move(pair));
    }
    return plan;
}

BatchSplit splitBatch(int cores, int pairs, int jobs)
{
    cores = std::max(1, cores);
    BatchSplit split;
    split.workers = std::max(1, std::min(jobs > 0 ? jobs : cores, pairs));
    // Pairs side by side use the cores better than threads within a pair,
    // whose encoder runs alone; so a pair gets only the cores that no other
    // worker takes: those left when there are fewer pairs than cores, or
    // when -j asks for fewer workers than cores.
    split.threadsPerPair = std::max(1, cores / split.workers);
    return split;
}

int runBatch(const BatchPlan& plan, const std::string& outputFolder, const ComposeOptions& options, int jobs,
    const std::function<void(const PairOutcome&)>& done)
{
    std::mutex reporting;
    int failed = 0;
    auto report = [&](const PairOutcome& outcome) {
        const std::lock_guard<std::mutex> lock(reporting);
        if (!outcome.error.empty())
            ++failed;
        done(outcome);
    };
    for (const BatchProblem& problem : plan.problems) {
        PairOutcome outcome;
        outcome.inputs = problem.files;
        outcome.error = problem.files.front() + ": " + problem.error;
        report(outcome);
    }

    const int pairs = int(plan.pairs.size());
    const BatchSplit split = splitBatch(coreCount(), pairs, jobs);
    const int workers = split.workers;
    const int threadsPerPair = split.threadsPerPair;
    const char* extension = options.batchFormat == OutputFormat::Bmp ? ".bmp"
        : options.batchFormat == OutputFormat::Png                  ? ".png"
                                                                    : ".jpg";
    // Every file the batch takes for a frame, those of bad pairs included:
    // an output folder that is the input folder must not turn one pair's
    // anaglyph into another pair's lost frame.
    std::vector<std::string> inputs;
    for (const BatchPair& pair : plan.pairs)
        inputs.insert(inputs.end(), pair.source.files.begin(), pair.source.files.end());
    for (const BatchProblem& problem : plan.problems)
        inputs.insert(inputs.end(), problem.files.begin(), problem.files.end());
    const RunInputs runInputs(inputs);
    std::atomic<int> next { 0 };
    auto work = [&] {
        for (int i = next++; i < pairs; i = next++) {
            const BatchPair& pair = plan.pairs[std::size_t(i)];
            report(runPair(pair.source, joined(outputFolder, pair.name + extension), options.batchFormat, options,
                runInputs, threadsPerPair));
        }
    };
    std::vector<std::thread> helpers;
    for (int w = 1; w < workers; ++w)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
    return failed;
}
