#include "file_io.h"

#include "compose/errors.h"
#include "picture_limits.h"
#include "temporary_files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

[[noreturn]] void throwCannotCreate(const std::string& path, int errorNumber)
{
    throw EOrvantaError("Cannot create file " + quoted(path) + ". " + systemErrorText(errorNumber));
}

[[noreturn]] void throwWriteError() { throw EOrvantaError("Stream write error"); }

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) { }
    ~FileHandle()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// The mode a new file gets: an existing target's own, else what the umask
// leaves of read and write for everyone.
mode_t modeForNewFile(const struct stat* existing)
{
    if (existing)
        return existing->st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::string systemErrorText(int errorNumber)
{
    std::string text = std::strerror(errorNumber);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'
               || text.back() == '.'))
        text.pop_back();
    return text;
}

namespace {

[[noreturn]] void throwCannotOpen(const std::string& path, const std::string& reason)
{
    throw EOrvantaError("Cannot open file " + quoted(path) + ". " + reason);
}

// Why a file that is not a regular file is not read: a named pipe would
// block until some other program writes to it, and a device such as
// /dev/zero never ends.
std::string notAFileReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return systemErrorText(EISDIR);
    if (S_ISFIFO(mode))
        return "It is a named pipe, not a regular file";
    if (S_ISCHR(mode))
        return "It is a character device, not a regular file";
    if (S_ISBLK(mode))
        return "It is a block device, not a regular file";
    if (S_ISSOCK(mode))
        return "It is a socket, not a regular file";
    return "It is not a regular file";
}

} // namespace

PictureFileReader::PictureFileReader(const std::string& path) : path_(path)
{
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0)
        throwCannotOpen(path, systemErrorText(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        throwCannotOpen(path, systemErrorText(errno));
    if (!S_ISREG(info.st_mode))
        throwCannotOpen(path, notAFileReason(info.st_mode));
    if (std::uint64_t(info.st_size) > kMaxPictureFileSize)
        throwCannotOpen(path, systemErrorText(EFBIG));
    size_ = std::uint64_t(info.st_size);
    fd_ = file.release();
}

PictureFileReader::~PictureFileReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::size_t PictureFileReader::nextBytes(std::uint8_t* buffer, std::size_t capacity)
{
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, capacity);
        if (n >= 0)
            return std::size_t(n);
        if (errno != EINTR)
            throw EOrvantaError("Cannot read file " + quoted(path_) + ". " + systemErrorText(errno));
    }
}

std::vector<std::uint8_t> PictureFileReader::head(std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    std::size_t used = 0;
    while (used < n) {
        const ssize_t got = ::pread(fd_, bytes.data() + used, n - used, off_t(used));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw EOrvantaError("Cannot read file " + quoted(path_) + ". " + systemErrorText(errno));
        if (got == 0)
            break;
        used += std::size_t(got);
    }
    bytes.resize(used);
    return bytes;
}

void PictureFileReader::rewind()
{
    if (::lseek(fd_, 0, SEEK_SET) < 0)
        throw EOrvantaError("Cannot read file " + quoted(path_) + ". " + systemErrorText(errno));
}

std::vector<std::uint8_t> PictureFileReader::readRest()
{
    // One piece of the file's size and a byte more, to meet its end at once.
    // A file that grows while it is read is read on, up to the largest size
    // a picture file can have.
    std::vector<std::uint8_t> bytes(std::size_t(size_) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > kMaxPictureFileSize)
                throwCannotOpen(path_, systemErrorText(EFBIG));
            bytes.resize(std::size_t(std::min<std::uint64_t>(used * 2, kMaxPictureFileSize + 1)));
        }
        const std::size_t n = nextBytes(bytes.data() + used, bytes.size() - used);
        if (n == 0)
            break;
        used += n;
    }
    bytes.resize(used);
    return bytes;
}

std::vector<std::uint8_t> readWholeFile(const std::string& path) { return PictureFileReader(path).readRest(); }

namespace {

// As many links as the kernel itself follows in one path.
constexpr int kMaxLinkHops = 40;

// The folder part of path with its final slash, or "" for a bare name.
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The text of the symbolic link at path, or false with errno set.
bool readLink(const std::string& path, std::string& text)
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (std::size_t(n) < buffer.size()) {
            text.assign(buffer.data(), std::size_t(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The name a chain of symbolic links from path ends at, existing or not, as
// the kernel would follow it on opening path for writing: a relative link is
// taken against the link's own folder. 0, or the error number that stops it
// (ELOOP for a chain too long or going round in a circle).
int followLinks(const std::string& path, std::string& end)
{
    std::string current = path;
    for (int hop = 0;; ++hop) {
        struct stat info {};
        // A name that cannot be looked at is where the chain ends; making the
        // temporary file beside it tells why it cannot be written.
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            end = current;
            return 0;
        }
        if (hop == kMaxLinkHops)
            return ELOOP;
        std::string text;
        if (!readLink(current, text))
            return errno;
        current = !text.empty() && text.front() == '/' ? text : folderOf(current) + text;
    }
}

// Puts the rename itself on the disk, once the new file is in place and the
// old one gone. A folder that cannot be opened for reading (one that may be
// written but not listed) cannot be flushed this way; its new entry is left
// to the filesystem's own writeback rather than failing a save that is done.
void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    int result = 0;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    // EINVAL (or ENOTSUP) is how some filesystems, network and FUSE ones among
    // them, say they do not flush folders at all: the rename is then as safe
    // as that filesystem makes any rename, and the save did all it could. Any
    // other error (EIO, ENOSPC) means the folder's new entry may be lost in a
    // crash, and the save must not be reported as done, even though the new
    // file is in place by now and the old one cannot be brought back.
    if (result != 0 && error != EINVAL && error != ENOTSUP)
        throwWriteError();
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path)
    : target_(path)
{
    // Write where the target really lives when it is a symbolic link: the
    // link stays a link, and the file it names gets the bytes, whether it
    // exists yet or not.
    struct stat linkInfo {};
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        } else if (const int error = followLinks(path, target_)) {
            throwCannotCreate(path, error);
        }
    }
    struct stat info {};
    const bool exists = ::stat(target_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode))
        throwCannotCreate(path, EISDIR);
    // A file that may not be written stays as it is, as it would if it were
    // opened for writing in place.
    if (exists && ::access(target_.c_str(), W_OK) != 0)
        throwCannotCreate(path, errno);

    const std::string folder = folderOf(target_);
    std::string pattern = folder + "." + target_.substr(folder.size()) + ".XXXXXX";
    {
        // Made and registered in one step, so that a signal's clean-up
        // either finds the file or runs before it exists.
        const TemporaryFilesLock lock = lockTemporaryFiles();
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ < 0)
            throwCannotCreate(path, errno);
        temporary_ = pattern;
        try {
            registerTemporaryFile(lock, temporary_);
        } catch (...) {
            ::close(fd_);
            fd_ = -1;
            ::unlink(temporary_.c_str());
            temporary_.clear();
            throw;
        }
    }
    if (::fchmod(fd_, modeForNewFile(exists ? &info : nullptr)) != 0) {
        const int error = errno;
        discard();
        throwCannotCreate(path, error);
    }
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        const TemporaryFilesLock lock = lockTemporaryFiles();
        ::unlink(temporary_.c_str());
        unregisterTemporaryFile(lock, temporary_);
        temporary_.clear();
    }
}

void AtomicFileWriter::write(const std::uint8_t* data, std::size_t size) { put(data, size, -1); }

void AtomicFileWriter::put(const std::uint8_t* data, std::size_t size, long long offset)
{
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, std::size_t(1) << 30);
        const ssize_t n = offset < 0 ? ::write(fd_, data, piece) : ::pwrite(fd_, data, piece, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            discard();
            throwWriteError();
        }
        data += n;
        size -= std::size_t(n);
        if (offset >= 0)
            offset += n;
    }
}

void AtomicFileWriter::reserveBytes(std::uint64_t size)
{
    if (size > std::uint64_t(std::numeric_limits<off_t>::max())) {
        discard();
        throwWriteError();
    }
    // The blocks are taken now, so that a full disk fails the save before
    // any row is encoded rather than somewhere in the middle of the file.
    int error = 0;
    do
        error = ::posix_fallocate(fd_, 0, off_t(size));
    while (error == EINTR);
    // Filesystems that cannot allocate ahead (some network and FUSE ones)
    // say so with EOPNOTSUPP or EINVAL: the file then only gets its size, and
    // a full disk shows when the rows are written.
    if (error == EOPNOTSUPP || error == EINVAL) {
        int result = 0;
        do
            result = ::ftruncate(fd_, off_t(size));
        while (result != 0 && errno == EINTR);
        error = result == 0 ? 0 : errno;
    }
    if (error != 0) {
        discard();
        throwWriteError();
    }
}

void AtomicFileWriter::writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size)
{
    if (offset > std::uint64_t(std::numeric_limits<off_t>::max())
        || size > std::uint64_t(std::numeric_limits<off_t>::max()) - offset) {
        discard();
        throwWriteError();
    }
    put(data, size, (long long)offset);
}

void AtomicFileWriter::commit()
{
    // The data go to the disk before the name does: renamed first, a crash
    // could leave the target's name on a file whose bytes were never written,
    // an empty file where the older picture was.
    int result = 0;
    do
        result = ::fsync(fd_);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        discard();
        throwWriteError();
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        discard();
        throwWriteError();
    }
    {
        // Renamed and unregistered in one step: once in place, the file is
        // never taken for a temporary one by a signal's clean-up.
        const TemporaryFilesLock lock = lockTemporaryFiles();
        const int renamed = ::rename(temporary_.c_str(), target_.c_str());
        const int error = errno;
        if (renamed != 0)
            ::unlink(temporary_.c_str());
        unregisterTemporaryFile(lock, temporary_);
        temporary_.clear();
        if (renamed != 0)
            throwCannotCreate(target_, error);
    }
    syncFolder(folderOf(target_));
}

struct BackgroundWriteback::State {
    explicit State(int descriptor) : fd(descriptor) { }
    const FileHandle fd; // the writer's file, its own descriptor: the writer may close its own meanwhile
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    std::thread thread;
};

BackgroundWriteback::BackgroundWriteback(AtomicFileWriter& file)
    : state_(std::make_unique<State>(file.fd_ < 0 ? -1 : ::fcntl(file.fd_, F_DUPFD_CLOEXEC, 0)))
{
    if (state_->fd.get() < 0)
        return; // no descriptor to spare: the commit's flush does it all
    State& s = *state_;
    s.thread = std::thread([&s] {
        // Often enough that the disk keeps up with a fast encoder, rarely
        // enough to cost nothing.
        constexpr auto kPeriod = std::chrono::milliseconds(20);
        std::unique_lock lock(s.mutex);
        while (!s.stop.wait_for(lock, kPeriod, [&] { return s.stopping; })) {
            lock.unlock();
            // Whatever it answers (a filesystem that cannot), the commit's
            // flush is what counts.
            (void)::sync_file_range(s.fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
            lock.lock();
        }
    });
}

BackgroundWriteback::~BackgroundWriteback()
{
    if (state_->thread.joinable()) {
        {
            std::lock_guard lock(state_->mutex);
            state_->stopping = true;
        }
        state_->stop.notify_one();
        state_->thread.join();
    }
}

void writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    AtomicFileWriter file(path);
    file.write(bytes);
    file.commit();
}
