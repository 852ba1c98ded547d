// The benchmark's largest pair, 200 megapixels, made and written a row at a
// time: no picture of that size is ever held, so making it takes little
// more memory than one row, and the program's peak on it is its own.
#pragma once

#include <string>

namespace bench {

// 3:2, as a camera's frames; 17320 x 11547 is 199.99 million pixels.
inline constexpr int kHugeWidth = 17320;
inline constexpr int kHugeHeight = 11547;

// How far the right frame's scene lies to the left of the left frame's: a
// little depth, as a camera moved sideways between the shots sees it.
inline constexpr int kHugeShift = 6;

// Writes the pair as two JPEG files at quality 95, the way a camera saves
// them: a smooth scene of broad gradients and waves with a fine
// deterministic grain on top, so that the files are as large as a
// photograph's would be, the right one the same scene kHugeShift pixels to
// the left. Returns the two files' sizes in bytes through leftBytes and
// rightBytes. Throws BenchFailure when a file cannot be written.
void writeHugePair(const std::string& leftPath, const std::string& rightPath, long long& leftBytes,
    long long& rightBytes);

} // namespace bench
