// Files on disk, below the codecs: reading a file whole or piece by piece
// with the checks every picture file gets, and writing a file so that a
// failed save leaves any older file of the same name as it was. The
// streaming encoders and decoder reach these through picture_rows.h.
#pragma once

#include "picture_rows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The system's description of an error number, without the blanks, line
// breaks and full stops some descriptions end in.
std::string systemErrorText(int errorNumber);

// The whole file. Throws EOrvantaError "Cannot open file "PATH". REASON" when
// it cannot be opened, is not a regular file (a named pipe, a device, a
// folder: never waited on, never read without end) or is larger than any
// picture file can be, or "Cannot read file ..." when reading it fails.
std::vector<std::uint8_t> readWholeFile(const std::string& path);

// A picture file opened with readWholeFile's checks and errors, to be read
// piece by piece (a decoder streaming it) or whole.
class PictureFileReader final : public ByteSource {
public:
    explicit PictureFileReader(const std::string& path);
    ~PictureFileReader() override;
    PictureFileReader(const PictureFileReader&) = delete;
    PictureFileReader& operator=(const PictureFileReader&) = delete;

    std::uint64_t size() const override { return size_; }
    // Throws "Cannot read file ..." when reading fails.
    std::size_t nextBytes(std::uint8_t* buffer, std::size_t capacity) override;
    // The first bytes, up to n, wherever reading stands.
    std::vector<std::uint8_t> head(std::size_t n);
    // Reading starts over from the first byte.
    void rewind();
    // What is left of the file, read on past its opened size when it grew,
    // up to the largest a picture file can be.
    std::vector<std::uint8_t> readRest();

private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Writes a file under a temporary name in the target's folder and puts it in
// place of the target only when every byte was written and flushed to the
// disk; until then an older file of that name stays as it was, and a writer
// that is not committed removes its temporary file. A target that is a
// symbolic link stays one: the file at the end of its chain of links is
// written, whether it exists yet or not. The temporary file is registered
// for removeTemporaryFilesOnSignals (temporary_files.h) while it exists.
class AtomicFileWriter {
public:
    // Throws "Cannot create file "PATH". REASON" when the file cannot be made
    // or given its mode (an existing target's own, else the umask's).
    explicit AtomicFileWriter(const std::string& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Throws "Stream write error" when the disk does not take every byte.
    void write(const std::uint8_t* data, std::size_t size);
    void write(const std::vector<std::uint8_t>& bytes) { write(bytes.data(), bytes.size()); }
    // For a file written out of order: gives the file its whole size at
    // once, taking the disk space then ("Stream write error" when the disk
    // has not got it), and writes size bytes at offset of it.
    void reserveBytes(std::uint64_t size);
    void writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size);
    // Flushes the file to the disk, puts it in place of the target and
    // flushes the folder, so that after a crash the target holds either the
    // old picture or the whole new one. Throws "Stream write error" when the
    // flush or closing fails and "Cannot create file "TARGET". REASON" when
    // the rename does; either way the older file is as it was and the
    // temporary file is gone. Also throws "Stream write error" when the
    // folder cannot be flushed for any reason other than the filesystem's not
    // flushing folders at all: the new file is then in place, but its name
    // may not survive a crash.
    void commit();

private:
    friend class BackgroundWriteback;
    void discard();
    // Every byte written, at offset or, when it is negative, where the
    // file stands.
    void put(const std::uint8_t* data, std::size_t size, long long offset);

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
};

// While it lives, has the disk write what an AtomicFileWriter has been given
// so far, every few milliseconds, from a thread of its own: a file made over
// a few hundred milliseconds is then mostly on the disk when it is
// committed, and the flush before the rename waits for the last part only.
// Only a start, never a wait, and nothing the commit relies on: the commit
// still flushes the whole file.
class BackgroundWriteback {
public:
    explicit BackgroundWriteback(AtomicFileWriter& file);
    ~BackgroundWriteback();
    BackgroundWriteback(const BackgroundWriteback&) = delete;
    BackgroundWriteback& operator=(const BackgroundWriteback&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// An AtomicFileWriter as the destination of an encoder that streams.
class FileByteSink final : public ByteSink, public PlacedByteSink {
public:
    explicit FileByteSink(AtomicFileWriter& file) : file_(file) { }
    void write(const std::uint8_t* data, std::size_t size) override { file_.write(data, size); }
    void reserveBytes(std::uint64_t size) override { file_.reserveBytes(size); }
    void writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        file_.writeAt(offset, data, size);
    }

private:
    AtomicFileWriter& file_;
};

// A whole file written through AtomicFileWriter.
void writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);
