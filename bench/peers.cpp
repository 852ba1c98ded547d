#include "peers.h"

#include "support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

namespace {

// The start of a program's log, without the line break at its end, for the
// message when it fails.
std::string readTextFile(const std::string& path)
{
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < 16384)
            text.append(buf, n);
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

std::string findOnPath(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = folders.find(':', start);
        const std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // An empty entry stands for the current folder.
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            return {};
        start = end + 1;
    }
}

double runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& logPath)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int spawnError = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0)
        throw BenchFailure("cannot start " + program + ": " + std::strerror(spawnError));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw BenchFailure("waiting for " + program + ": " + std::strerror(errno));
    }
    const double ms = millisecondsSince(t0);

    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                            : "signal " + std::to_string(WTERMSIG(status));
        std::string command = program;
        for (const std::string& a : args)
            command += " '" + a + "'";
        throw BenchFailure(command + " failed (" + how + "): " + readTextFile(logPath));
    }
    return ms;
}

MeasuredRun runMeasured(const std::string& program, const std::vector<std::string>& args,
    const std::string& logPath, const std::string& reportPath)
{
    // No figures from an earlier run may stand in for this one's.
    std::remove(reportPath.c_str());
    std::vector<std::string> launchArgs { reportPath, program };
    launchArgs.insert(launchArgs.end(), args.begin(), args.end());
    runProgram(ORVANTA_BENCH_LAUNCH, launchArgs, logPath);

    double ms = -1;
    long peakKib = -1;
    bool read = false;
    if (std::FILE* f = std::fopen(reportPath.c_str(), "rb")) {
        read = std::fscanf(f, "%lf %ld", &ms, &peakKib) == 2;
        std::fclose(f);
    }
    if (!read || ms < 0 || peakKib <= 0)
        throw BenchFailure("orvanta-bench-launch left no figures for " + program + " in " + reportPath);
    return { ms, double(peakKib) / 1024.0 };
}

} // namespace bench
