#include "picture_files.h"

#include "bmp_codec.h"
#include "compose/errors.h"
#include "jpeg_codec.h"
#include "picture_limits.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

std::vector<std::uint8_t> readWholeFile(const std::string& path)
{
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0)
        throwCannotOpen(path, systemErrorText(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        throwCannotOpen(path, systemErrorText(errno));
    if (!S_ISREG(info.st_mode))
        throwCannotOpen(path, notAFileReason(info.st_mode));
    if (std::uint64_t(info.st_size) > kMaxPictureFileSize)
        throwCannotOpen(path, systemErrorText(EFBIG));

    // One piece of the file's size and a byte more, to meet its end at once.
    // A file that grows while it is read is read on, up to the largest size
    // a picture file can have.
    std::vector<std::uint8_t> bytes(std::size_t(info.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > kMaxPictureFileSize)
                throwCannotOpen(path, systemErrorText(EFBIG));
            bytes.resize(std::size_t(std::min<std::uint64_t>(used * 2, kMaxPictureFileSize + 1)));
        }
        const ssize_t n = ::read(file.get(), bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EOrvantaError("Cannot read file " + quoted(path) + ". " + systemErrorText(errno));
        if (n == 0)
            break;
        used += std::size_t(n);
    }
    bytes.resize(used);
    return bytes;
}

TBitmap decodePicture(const std::uint8_t* data, std::size_t size)
{
    if (looksLikeJpeg(data, size))
        return decodeJpeg(data, size);
    if (looksLikeBmp(data, size))
        return decodeBmp(data, size);
    throw EPictureError(kNotAPicture);
}

TBitmap loadPictureFile(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(path);
    return decodePicture(bytes.data(), bytes.size());
}

std::string withExtension(const std::string& name, std::string_view upperExtension, std::string_view lowerExtension)
{
    const std::size_t cut = name.find_last_of("./\\:");
    std::string extension;
    if (cut != std::string::npos && name[cut] == '.')
        extension = name.substr(cut);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (extension == upperExtension)
        return name;
    return name + std::string(lowerExtension);
}

AtomicFileWriter::AtomicFileWriter(const std::string& path)
    : target_(path)
{
    // Write where the target really lives when it is a symbolic link.
    struct stat linkInfo {};
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
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

    const std::size_t slash = target_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = folder + "." + base + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0)
        throwCannotCreate(path, errno);
    temporary_ = pattern;
    ::fchmod(fd_, modeForNewFile(exists ? &info : nullptr));
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

void AtomicFileWriter::write(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, std::min<std::size_t>(size, std::size_t(1) << 30));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            discard();
            throwWriteError();
        }
        data += n;
        size -= std::size_t(n);
    }
}

void AtomicFileWriter::commit()
{
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        discard();
        throwWriteError();
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        discard();
        throwCannotCreate(target_, error);
    }
    temporary_.clear();
}

void writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    AtomicFileWriter file(path);
    file.write(bytes);
    file.commit();
}

void savePicture(const std::string& path, PictureEncoder encode, const TBitmap& picture)
{
    AtomicFileWriter file(path);
    file.write(encode(picture));
    file.commit();
}
