#include "v4l2_io.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include <libv4l2.h>
#include <sys/mman.h>

namespace {

class SystemIo final : public V4l2Io {
public:
    int open(const char* path, int flags) override { return v4l2_open(path, flags); }
    int close(int fd) override { return v4l2_close(fd); }
    int ioctl(int fd, unsigned long request, void* arg) override { return v4l2_ioctl(fd, request, arg); }
    void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, std::int64_t offset) override
    {
        return v4l2_mmap(addr, length, prot, flags, fd, offset);
    }
    int munmap(void* addr, std::size_t length) override { return v4l2_munmap(addr, length); }
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }

    std::vector<std::string> devicePaths() override
    {
        std::vector<std::string> paths;
        std::error_code error;
        for (std::filesystem::directory_iterator it("/dev", error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.size() > 5 && name.compare(0, 5, "video") == 0
                && std::all_of(name.begin() + 5, name.end(), [](char c) { return std::isdigit((unsigned char)c); }))
                paths.push_back(it->path().string());
        }
        std::sort(paths.begin(), paths.end(), naturalLess);
        return paths;
    }
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::shared_ptr<V4l2Io> systemV4l2Io() { return std::make_shared<SystemIo>(); }

bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the runs by value: without leading zeros, the longer
            // run is the larger number; equal lengths compare digit by digit.
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            std::size_t si = i;
            std::size_t sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            const int order = a.compare(si, ei - si, b, sj, ej - sj);
            if (order != 0)
                return order < 0;
            // Same value: fewer leading zeros first, so the order is strict.
            if (ei - i != ej - j)
                return ei - i < ej - j;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return (unsigned char)a[i] < (unsigned char)b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}
