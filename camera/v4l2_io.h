// The calls a camera makes on a Video4Linux2 device node, behind one
// interface so that tests can put a made-up device in place of a real one.
// Each call behaves like the system call of its name: it returns -1 (mmap:
// MAP_FAILED) and sets errno when it fails.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class V4l2Io {
public:
    virtual ~V4l2Io() = default;

    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, std::int64_t offset) = 0;
    virtual int munmap(void* addr, std::size_t length) = 0;
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;

    // The video device nodes present now, in natural order: /dev/video0,
    // /dev/video1, ..., /dev/video10.
    virtual std::vector<std::string> devicePaths() = 0;
};

// The devices of this machine, through libv4l2, which converts the formats
// a program cannot read itself (Bayer patterns, vendor formats) to RGB24.
std::shared_ptr<V4l2Io> systemV4l2Io();

// Orders names as a person counts: runs of digits compare by their value, so
// "video2" comes before "video10".
bool naturalLess(const std::string& a, const std::string& b);
