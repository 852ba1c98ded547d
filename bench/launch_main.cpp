// orvanta-bench-launch REPORT PROGRAM [ARGS...]
//
// Runs PROGRAM to its end and writes "MILLISECONDS PEAK_KIB" to the file
// REPORT: the wall-clock time from before the process is made to after it is
// reaped, and its peak resident memory as the kernel counts it (ru_maxrss).
// Exits with the program's exit status, 128 + the signal that ended it, or
// 127 when it cannot be started.
//
// The benchmark starts the programs it measures memory of through this one
// rather than directly: the kernel's peak for a child starts at the resident
// size of the process it was started from, which for the benchmark, with its
// window and pictures, can be more than the child ever uses; from here it is
// about a megabyte. Plain C calls only, so that it stays that small.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

double millisecondsBetween(const timespec& a, const timespec& b)
{
    return double(b.tv_sec - a.tv_sec) * 1e3 + double(b.tv_nsec - a.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvanta-bench-launch REPORT PROGRAM [ARGS...]\n");
        return 127;
    }
    const char* report = argv[1];
    const char* program = argv[2];

    timespec t0 {}, t1 {};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, program, nullptr, nullptr, argv + 2, environ);
    if (spawnError != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(spawnError));
        return 127;
    }
    int status = 0;
    rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "waiting for %s: %s\n", program, std::strerror(errno));
            return 127;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);

    std::FILE* f = std::fopen(report, "w");
    if (!f || std::fprintf(f, "%.3f %ld\n", millisecondsBetween(t0, t1), long(usage.ru_maxrss)) < 0
        || std::fclose(f) != 0) {
        std::fprintf(stderr, "cannot write %s: %s\n", report, std::strerror(errno));
        return 127;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    std::fprintf(stderr, "%s was ended by signal %d\n", program, WTERMSIG(status));
    return 128 + WTERMSIG(status);
}
