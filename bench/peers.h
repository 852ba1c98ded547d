// Running the other programs that can do the benchmark's work.
#pragma once

#include <string>
#include <vector>

namespace bench {

// The full path of an executable named name in a folder of PATH, or empty.
std::string findOnPath(const char* name);

// Runs a program to its end with stdin from /dev/null and its output to
// logPath; returns the wall-clock time from before the process is made to
// after it was reaped. Throws BenchFailure unless it exits with status 0.
double runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& logPath);

struct MeasuredRun {
    double ms;
    double peakMb; // peak resident memory, in MB of 2^20 bytes
};

// runProgram through orvanta-bench-launch, which times the program itself and
// reads its peak resident memory when it ends; reportPath is where the
// launcher writes the two figures.
MeasuredRun runMeasured(const std::string& program, const std::vector<std::string>& args,
    const std::string& logPath, const std::string& reportPath);

} // namespace bench
