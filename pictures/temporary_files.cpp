#include "temporary_files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <semaphore>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::string> paths;
};

// Never destroyed: the watcher thread may take the lock while the process
// runs its exit handlers after main has returned.
Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

constexpr int kCleanedSignals[] = { SIGINT, SIGTERM, SIGHUP };

// Written once by removeTemporaryFilesOnSignals before any handler is
// installed, read by the handlers.
int signalPipeWrite = -1;
pid_t installingProcess = 0;

// The handler may run on any thread, in the middle of anything, so it does
// nothing but pass the signal's number on through the pipe; all of the work
// happens on the watcher thread, where locks and memory may be used.
void onCleanedSignal(int sig)
{
    const int savedErrno = errno;
    if (::getpid() != installingProcess) {
        // A child between fork and exec still has our handler but not our
        // watcher; the pipe is the parent's. End it as the signal would.
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        errno = savedErrno;
        return;
    }
    const unsigned char number = static_cast<unsigned char>(sig);
    // The pipe does not block: with a full pipe a clean-up is already due.
    [[maybe_unused]] const ssize_t written = ::write(signalPipeWrite, &number, 1);
    errno = savedErrno;
}

[[noreturn]] void cleanUpAndEnd(int sig)
{
    Registry& r = registry();
    // Never released: no writer may make, rename or remove a temporary file
    // from here on.
    r.mutex.lock();
    for (const std::string& path : r.paths)
        ::unlink(path.c_str());
    ::signal(sig, SIG_DFL);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
    ::raise(sig);
    // The default action of these signals ends the process; this is only
    // reached if something outside changed that in the meantime.
    ::_exit(128 + sig);
}

// The signals whose handler is ours.
sigset_t handled;

void watch(int readEnd)
{
    for (;;) {
        unsigned char number = 0;
        const ssize_t n = ::read(readEnd, &number, 1);
        if (n == 1)
            cleanUpAndEnd(number);
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    // Not expected while the process lives (it holds the pipe's write end),
    // but a handler that writes to a pipe nobody reads would make the
    // signals do nothing at all: better they keep their default action.
    for (const int sig : kCleanedSignals)
        if (sigismember(&handled, sig) == 1)
            ::signal(sig, SIG_DFL);
}

} // namespace

void removeTemporaryFilesOnSignals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        registry(); // made now, not first on the watcher thread
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return; // without a pipe the signals keep their default action
        ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) | O_NONBLOCK);
        signalPipeWrite = ends[1];
        installingProcess = ::getpid();
        // A signal that comes before the watcher runs waits in the pipe.
        sigemptyset(&handled);
        for (const int sig : kCleanedSignals) {
            struct sigaction current {};
            if (::sigaction(sig, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
                continue;
            struct sigaction action {};
            action.sa_handler = onCleanedSignal;
            sigemptyset(&action.sa_mask);
            // Other threads' reads and writes carry on rather than fail with
            // EINTR while the watcher does its work.
            action.sa_flags = SA_RESTART;
            if (::sigaction(sig, &action, nullptr) == 0)
                sigaddset(&handled, sig);
        }
        try {
            // Waited for until it runs: a run that ends at once (a usage
            // error) must not exit while the thread is still being set up,
            // where the sanitizers' thread start is reported as a leak.
            static std::binary_semaphore started { 0 };
            std::thread([fd = ends[0]] {
                started.release();
                watch(fd);
            }).detach();
            started.acquire();
        } catch (const std::system_error&) {
            for (const int sig : kCleanedSignals)
                if (sigismember(&handled, sig) == 1)
                    ::signal(sig, SIG_DFL);
        }
    });
}

TemporaryFilesLock lockTemporaryFiles() { return TemporaryFilesLock(registry().mutex); }

namespace {

std::vector<std::string>& pathsUnder(const TemporaryFilesLock& held)
{
    Registry& r = registry();
    if (!held.owns_lock() || held.mutex() != &r.mutex)
        throw std::logic_error("the temporary files' registry is used without its lock");
    return r.paths;
}

} // namespace

void registerTemporaryFile(const TemporaryFilesLock& held, const std::string& path)
{
    pathsUnder(held).push_back(path);
}

void unregisterTemporaryFile(const TemporaryFilesLock& held, const std::string& path)
{
    std::vector<std::string>& paths = pathsUnder(held);
    const auto it = std::find(paths.begin(), paths.end(), path);
    if (it != paths.end())
        paths.erase(it);
}
