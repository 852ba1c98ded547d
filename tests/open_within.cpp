// open-within BUDGET FILE: opens FILE as the window does, in a process that
// may map at most BUDGET bytes more than it maps when it starts, and prints
// "W x H", the error's message, or "<out of memory>". A program of its own,
// with no threads: in a process with several malloc arenas an allocation
// that fails in one is retried in another's reserved space, which the
// address-space limit does not see.
#include "pictures/picture_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::uint64_t mappedBytes()
{
    unsigned long long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return pages * std::uint64_t(::sysconf(_SC_PAGESIZE));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: open-within BUDGET FILE\n");
        return 2;
    }
    const std::uint64_t budget = std::strtoull(argv[1], nullptr, 10);
    const std::uint64_t mapped = mappedBytes();
    struct rlimit limit {};
    if (mapped == 0 || ::getrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
    limit.rlim_cur = mapped + budget;
    if (::setrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
    std::string outcome;
    try {
        const TBitmap picture = loadPictureFile(argv[2]);
        outcome = std::to_string(picture.width()) + " x " + std::to_string(picture.height());
    } catch (const std::bad_alloc&) {
        outcome = "<out of memory>";
    } catch (const std::exception& e) {
        outcome = e.what();
    }
    std::fputs(outcome.c_str(), stdout);
    return 0;
}
