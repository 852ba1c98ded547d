// libjpeg called directly, with none of our own code around it: the least
// that building a pair can cost on this machine, and a file's picture size
// read from its header alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct BareJpegWork {
    double cpuMs = 0; // this thread's CPU time for all of it
    int width = 0; // the left picture's, which the encoded one has too
    int height = 0;
    std::size_t encodedBytes = 0;
};

// What a pair needs done at the least, timed as this thread's CPU time: the
// left and the right file decoded to 4-byte BGRA rows, a few rows at a time
// into one reused buffer, and a picture of their size encoded from the left
// one's rows as they come (quality 100 with baseline forced, the
// floating-point DCT, the default 4:2:0, 4-byte BGRX input) into a
// destination that throws the bytes away. Throws BenchFailure when a file
// does not decode or the two differ in size.
BareJpegWork bareJpegPairWork(const std::vector<std::uint8_t>& left, const std::vector<std::uint8_t>& right);

// How many cores that work can be spread over: two decodes can run side by
// side and the encode beside them, so at most 2.
int bareJpegCores();

// bareJpegPairWork's CPU time spread over bareJpegCores(): the wall-clock
// time below which no program can build the pair here.
double floorMs(const BareJpegWork& work);

struct JpegHeaderSize {
    int width = 0;
    int height = 0;
};

// The picture size a JPEG file states, read from its header only: the
// check that suits a file too large to decode for it. Throws BenchFailure
// when the file cannot be opened or has no readable header.
JpegHeaderSize readJpegHeaderSize(const std::string& path);

} // namespace bench
